// Download benchmark of the FTP session: a 1 GiB file from a loopback
// pyftpdlib server through GetFile, against the curl command line tool
// fetching the same file in the same run; then the CPU used while Connect
// waits on a site that never answers.
//
// Usage: ftp_bench [size in MiB, default 1024] [rounds, default 2]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/form.h"
#include "support/ftp_server.h"
#include "system/window.h"
#include "transport/ftp_session.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

class QuietWindow : public Window {
 public:
  void AddLine(std::string_view text) override {
    std::printf("  | %.*s\n", static_cast<int>(text.size()), text.data());
  }
  void ClearLines() override {}
  void ReplaceLastLine(std::string_view) override {}
  void ShowMessageBox(std::string_view, std::string_view) override {}
  void SetBusy(bool) override {}
  void Beep() override {}
  bool UseAlternateTicked() const override { return false; }
  bool UpdateFromFtpTicked() const override { return false; }
  void SetUseAlternateEnabled(bool) override {}
  void ShowProgress(int64_t, int64_t) override { ++progress_calls; }
  void DoEvents() override {}
  void WaitForEvents(std::chrono::milliseconds) override {}
  int64_t progress_calls = 0;
};

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

Figures RunCurl(const FtpServer& site, const std::string& out) {
  std::string url = "ftp://" + site.user() + ":" + site.password() + "@" +
                    site.host() + "/big.bin";
  double start = Now();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execlp("curl", "curl", "-s", "-o", out.c_str(), url.c_str(),
             static_cast<char*>(nullptr));
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

Figures RunGetFile(Form& form, const FtpServer& site) {
  Figures f;
  if (!form.session.Connect(site.host(), site.user(), site.password())) {
    return f;
  }
  double start = Now();
  double cpu = SelfCpu();
  f.ok = form.session.GetFile("big.bin", "big.bin");
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
  int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
  int64_t bytes = mib << 20;

  FtpServer site(FtpServer::Options{"bench", "bench"});
  if (!site.ok()) {
    std::fprintf(stderr, "ftp_bench: %s\n", site.error().c_str());
    return 1;
  }
  std::string work =
      (fs::temp_directory_path() / ("mvbench-" + std::to_string(::getpid())))
          .string();
  fs::create_directories(work + "/Application/Download");
  std::printf("writing a %lld MiB file for the server...\n",
              static_cast<long long>(mib));
  MakeFile(site.Path("big.bin"), bytes);

  QuietWindow window;
  Form form(window);
  form.settings.application_path = work + "/Application";
  // current directory: <work>/Application/Download
  InitFTPControl(form.session, form.settings, form.log);
  std::string ours = work + "/Application/Download/big.bin";
  std::string theirs = work + "/curl-big.bin";

  std::printf("download of %lld MiB over loopback, %d rounds:\n",
              static_cast<long long>(mib), rounds);
  Figures best_curl, best_ours;
  for (int round = 0; round < rounds; ++round) {
    Figures c = RunCurl(site, theirs);
    Print("curl", c, bytes);
    fs::remove(theirs);
    Figures o = RunGetFile(form, site);
    Print("GetFile", o, bytes);
    if (fs::file_size(ours) != static_cast<uintmax_t>(bytes)) o.ok = false;
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

  SilentServer silent;
  ::setenv("MVUPDATE_FTP_TIMEOUT", "10", 1);
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
