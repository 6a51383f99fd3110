#include "support/tls_site.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

#include "support/child_process.h"

namespace mv {

namespace {

std::string Launcher() { return MVUPDATE_SOURCE_DIR "/scripts/lib/sites.py"; }

const std::string& CertFolder() {
  static TempFolder* folder = [] {
    auto* f = new TempFolder();
    pid_t pid = SpawnProgram({"python3", Launcher(), "certs", f->path()}, {});
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    return f;
  }();
  return folder->path();
}

}  // namespace

std::string TlsSite::Unavailable(Kind kind) {
  return kind == Kind::kFtp && ::geteuid() != 0
             ? "ProFTPD needs root: the FTP over TLS tests run as root only"
             : "";
}

std::string TlsSite::CaFile() { return CertFolder() + "/ca.pem"; }

TlsSite::TlsSite(const Options& options) : kind_(options.kind) {
  std::filesystem::create_directories(folder_ / "root");
  Start(options);
}

TlsSite::~TlsSite() { Stop(); }

void TlsSite::Start(const Options& options) {
  tls_ = options.tls;
  const char* server = kind_ == Kind::kFtp ? "proftpd" : "nginx";
  std::vector<std::string> args = {
      "python3",          Launcher(),       server,
      folder_ / "server", folder_ / "root", user,
      password,           "--cert",         CertFolder() + "/" + options.cert};
  if (!tls_) args.push_back("--plain");
  if (options.http2) args.push_back("--http2");
  if (port_ > 0) args.insert(args.end(), {"--port", std::to_string(port_)});
  if (options.rate > 0)
    args.insert(args.end(), {"--rate", std::to_string(options.rate)});
  // The launcher stops the site when its standard input closes.
  int in[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return;
  std::string out = folder_ / "launcher.out";
  std::filesystem::remove(out);
  pid_ =
      SpawnProgram(args, {.out = out, .input = in[0], .death_signal = SIGTERM});
  ::close(in[0]);
  input_ = in[1];
  int port = 0;
  WaitUntil([&] {
    std::string text = ReadFile(out);
    if (text.rfind("port=", 0) == 0) port = std::atoi(text.c_str() + 5);
    return port > 0 || ::waitpid(pid_, nullptr, WNOHANG) != 0;
  });
  if (port == 0) error_ = "the site did not start: see " + folder_.path();
  if (port > 0) port_ = port;
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
  return ReadLines(folder_ / (kind_ == Kind::kFtp ? "server/commands.log"
                                                  : "server/access.log"));
}

}  // namespace mv
