#include "support/tls_site.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <utility>

#include "support/child_process.h"

namespace mv {

namespace {

std::string Launcher() { return MVUPDATE_SOURCE_DIR "/scripts/lib/sites.py"; }

// Runs the launcher with `args`; its standard output until EOF or the
// first line, into `line`. Gives the child's pid.
pid_t Spawn(const std::vector<std::string>& args, int* input,
            std::string* line) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return -1;
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent || ::dup2(in[0], 0) < 0 || ::dup2(out[1], 1) < 0)
      ::_exit(127);
    std::vector<char*> argv;
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv("/usr/bin/python3", argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') line->push_back(c);
  ::close(out[0]);
  *input = in[1];
  return pid;
}

const std::string& CertFolder() {
  static TempFolder* folder = [] {
    auto* f = new TempFolder();
    int input = -1;
    std::string line;
    pid_t pid =
        Spawn({"python3", Launcher(), "certs", f->path()}, &input, &line);
    ::close(input);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    return f;
  }();
  return folder->path();
}

}  // namespace

std::string TlsSite::Unavailable(Kind kind) {
  if (kind == Kind::kFtp && ::geteuid() != 0) {
    return "ProFTPD needs root: the FTP over TLS tests run as root only";
  }
  return "";
}

std::string TlsSite::CaFile() { return CertFolder() + "/ca.pem"; }

TlsSite::TlsSite(const Options& options) : kind_(options.kind) {
  std::filesystem::create_directories(folder_ / "root");
  Start(options);
}

TlsSite::~TlsSite() { Stop(); }

void TlsSite::Start(const Options& options) {
  tls_ = options.tls;
  std::vector<std::string> args = {"python3",
                                   Launcher(),
                                   kind_ == Kind::kFtp ? "proftpd" : "nginx",
                                   folder_ / "server",
                                   folder_ / "root",
                                   user,
                                   password,
                                   "--cert",
                                   CertFolder() + "/" + options.cert};
  if (!tls_) args.push_back("--plain");
  if (port_ > 0) args.insert(args.end(), {"--port", std::to_string(port_)});
  if (options.rate > 0) {
    args.insert(args.end(), {"--rate", std::to_string(options.rate)});
  }
  std::string line;
  pid_ = Spawn(args, &input_, &line);
  if (line.rfind("port=", 0) == 0) port_ = std::atoi(line.c_str() + 5);
  if (port_ == 0) error_ = "the site did not start: see " + folder_.path();
}

void TlsSite::Stop() {
  if (input_ >= 0) ::close(std::exchange(input_, -1));
  if (pid_ > 0) ::waitpid(std::exchange(pid_, -1), nullptr, 0);
}

void TlsSite::Restart(const Options& options) {
  Stop();
  Start(options);
}

std::string TlsSite::url() const {
  return (tls_ ? "https://" : "http://") + host() + "/";
}

std::string TlsSite::Path(const std::string& relative) const {
  return folder_ / ("root/" + relative);
}

void TlsSite::Put(const std::string& relative,
                  const std::string& contents) const {
  WriteFile(Path(relative), contents);
  if (::geteuid() == 0) GiveToNobody(folder_ / "root");
}

std::vector<std::string> TlsSite::Log() const {
  std::istringstream in(
      ReadFile(folder_ / (kind_ == Kind::kFtp ? "server/commands.log"
                                              : "server/access.log")));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace mv
