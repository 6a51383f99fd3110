// Download benchmark of the site session: a 1 GiB file from a loopback site
// through GetFile, against the curl command line tool fetching the same
// file in the same run; then the CPU used while Connect waits on a site
// that never answers.
//
// Usage: ftp_bench [MODE] [size in MiB, default 1024] [rounds, default 2]
//
//   plain    pyftpdlib; GetFile against curl
//   digest   the same, GetFile computing the SHA-256 of the file as it
//            writes it, against curl followed by sha256sum
//   tls      ProFTPD with TLS (needs root), against curl --ssl-reqd
//   https    nginx over HTTPS, against curl
//   resume   pyftpdlib stalling at 90 %: the bytes a second GetFile makes
//            the site send, and its time against a whole curl download
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/form.h"
#include "bench_window.h"
#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/tls_site.h"
#include "system/window.h"
#include "transport/ftp_session.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

double Cpu(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double SelfCpu() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return Cpu(u);
}

long SelfPeakKiB() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double Now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Figures {
  double seconds = 0;
  double cpu = 0;
  long peak_kib = 0;
  bool ok = false;
};

void MakeFile(const std::string& path, int64_t bytes) {
  std::vector<char> block(1 << 20);
  uint64_t x = 88172645463325252ull;
  for (char& c : block) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x);
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  for (int64_t left = bytes; left > 0;) {
    size_t n = static_cast<size_t>(
        std::min<int64_t>(left, static_cast<int64_t>(block.size())));
    if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) std::abort();
    left -= static_cast<int64_t>(n);
  }
  ::close(fd);
}

// Where the file is and how each side reaches it.
struct Site {
  std::string address;  // what Connect takes
  std::string user, password;
  std::string curl_url;  // the file, for curl
  std::vector<std::string> curl_options;
};

// Runs a program to its end, its output dropped; its figures.
Figures RunProgram(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  double start = Now();
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, 1) < 0) ::_exit(127);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage u;
  ::wait4(pid, &status, 0, &u);
  Figures f;
  f.seconds = Now() - start;
  f.cpu = Cpu(u);
  f.peak_kib = u.ru_maxrss;
  f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return f;
}

Figures RunCurl(const Site& site, const std::string& out, bool digest) {
  std::vector<std::string> argv = {
      "curl", "-s", "-o", out, "-u", site.user + ":" + site.password};
  argv.insert(argv.end(), site.curl_options.begin(), site.curl_options.end());
  argv.push_back(site.curl_url);
  Figures f = RunProgram(argv);
  if (digest) {
    Figures sum = RunProgram({"sha256sum", out});
    f.seconds += sum.seconds;
    f.cpu += sum.cpu;
    f.ok = f.ok && sum.ok;
  }
  return f;
}

Figures RunGetFile(Form& form, const Site& site, bool digest) {
  Figures f;
  if (!form.session.Connect(site.address, site.user, site.password)) {
    return f;
  }
  double start = Now();
  double cpu = SelfCpu();
  std::string sha256;
  f.ok = form.session.GetFile("big.bin", "big.bin", digest ? &sha256 : nullptr);
  f.ok = f.ok && (!digest || sha256.size() == 64);
  f.seconds = Now() - start;
  f.cpu = SelfCpu() - cpu;
  f.peak_kib = SelfPeakKiB();
  form.session.Disconnect();
  return f;
}

void Print(const char* who, const Figures& f, int64_t bytes) {
  std::printf(
      "  %-8s %s  %6.2f s  %7.1f MiB/s  cpu %5.2f s  peak RSS %6.1f MiB\n", who,
      f.ok ? "ok  " : "FAIL", f.seconds,
      static_cast<double>(bytes) / (1 << 20) / f.seconds, f.cpu,
      static_cast<double>(f.peak_kib) / 1024);
}

int Main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "plain";
  int64_t mib = argc > 2 ? std::atoll(argv[2]) : 1024;
  int rounds = argc > 3 ? std::atoi(argv[3]) : 2;
  int64_t bytes = mib << 20;
  bool digest = mode == "digest";

  std::string work =
      (fs::temp_directory_path() / ("mvbench-" + std::to_string(::getpid())))
          .string();
  fs::create_directories(work + "/Application/Download");
  FtpServer ftp(FtpServer::Options{"bench", "bench"});
  if (!ftp.ok()) {
    std::fprintf(stderr, "ftp_bench: %s\n", ftp.error().c_str());
    return 1;
  }
  std::unique_ptr<TlsSite> tls;
  Site site{
      ftp.host(), "bench", "bench", "ftp://" + ftp.host() + "/big.bin", {}};
  std::string file = ftp.Path("big.bin");
  ::setenv("MVUPDATE_FTP_TLS", "off", 1);
  if (mode == "tls" || mode == "https") {
    bool web = mode == "https";
    tls = std::make_unique<TlsSite>(TlsSite::Options{
        .kind = web ? TlsSite::Kind::kHttps : TlsSite::Kind::kFtp});
    if (!tls->ok()) {
      std::fprintf(stderr, "ftp_bench: %s\n", tls->error().c_str());
      return 1;
    }
    site = {web ? tls->url() : tls->host(),
            tls->user,
            tls->password,
            (web ? tls->url() : "ftp://" + tls->host() + "/") + "big.bin",
            {"--cacert", TlsSite::CaFile()}};
    if (!web) site.curl_options.push_back("--ssl-reqd");
    file = tls->Path("big.bin");
    ::setenv("MVUPDATE_FTP_TLS", "require", 1);
    ::setenv("MVUPDATE_FTP_CA_FILE", TlsSite::CaFile().c_str(), 1);
  }
  std::printf("writing a %lld MiB file for the site...\n",
              static_cast<long long>(mib));
  MakeFile(file, bytes);
  if (tls && ::geteuid() == 0) GiveToNobody(tls->Path(""));

  BenchWindow window(true);
  Form form(window);
  form.settings.application_path = work + "/Application";
  // current directory: <work>/Application/Download
  InitFTPControl(form.session, form.settings, form.log, form.env,
                 form.deployment.site);
  std::string ours = work + "/Application/Download/big.bin";
  std::string theirs = work + "/curl-big.bin";

  if (mode == "resume") {
    // The options are read once, when the form is made: change its record.
    form.deployment.site.retries = 0;
    form.deployment.site.stall_seconds = 1;
    form.session.set_options(form.deployment.site);
    ftp.SetFault(FtpServer::Fault::kStall, bytes / 10 * 9, true);
    Figures cut = RunGetFile(form, site, false);
    ftp.ClearCommands();
    Figures rest = RunGetFile(form, site, false);
    Figures whole = RunCurl(site, theirs, false);
    int64_t offset = 0;
    for (const std::string& a : ftp.Arguments("REST")) {
      offset = std::max<int64_t>(offset, std::atoll(a.c_str()));
    }
    std::printf(
        "cut at 90 %%: first attempt %s; the second sent %.1f %% of the file "
        "(REST %lld) in %.2f s, a whole curl download %.2f s\n",
        cut.ok ? "did not fail (?)" : "failed",
        100.0 * static_cast<double>(bytes - offset) /
            static_cast<double>(bytes),
        static_cast<long long>(offset), rest.seconds, whole.seconds);
    fs::remove_all(work);
    return rest.ok ? 0 : 1;
  }

  std::printf("%s download of %lld MiB over loopback, %d rounds:\n",
              mode.c_str(), static_cast<long long>(mib), rounds);
  Figures best_curl, best_ours;
  for (int round = 0; round < rounds; ++round) {
    Figures c = RunCurl(site, theirs, digest);
    Print(digest ? "curl+sum" : "curl", c, bytes);
    fs::remove(theirs);
    Figures o = RunGetFile(form, site, digest);
    Print("GetFile", o, bytes);
    if (!fs::exists(ours) ||
        fs::file_size(ours) != static_cast<uintmax_t>(bytes)) {
      o.ok = false;
    }
    fs::remove(ours);
    if (round == 0 || c.seconds < best_curl.seconds) best_curl = c;
    if (round == 0 || o.seconds < best_ours.seconds) best_ours = o;
  }
  std::printf(
      "best of each: throughput ratio GetFile/curl %.2f, CPU "
      "GetFile %.2f s vs curl %.2f s, peak RSS GetFile %.1f MiB vs "
      "curl %.1f MiB\n",
      best_curl.seconds / best_ours.seconds, best_ours.cpu, best_curl.cpu,
      static_cast<double>(best_ours.peak_kib) / 1024,
      static_cast<double>(best_curl.peak_kib) / 1024);
  if (mode != "plain") {
    fs::remove_all(work);
    return 0;
  }

  SilentServer silent;
  form.deployment.site.timeout_seconds = 10;
  form.session.set_options(form.deployment.site);
  double start = Now();
  double cpu = SelfCpu();
  bool connected = form.session.Connect(silent.host(), "u", "p");
  double wall = Now() - start;
  double used = SelfCpu() - cpu;
  std::printf(
      "waiting on a silent site: %s after %.2f s, cpu %.3f s = %.2f %% "
      "of a core\n",
      connected ? "connected (?)" : "gave up", wall, used, 100 * used / wall);
  fs::remove_all(work);
  return 0;
}

}  // namespace
}  // namespace mv

int main(int argc, char** argv) { return mv::Main(argc, argv); }
