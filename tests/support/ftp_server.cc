#include "support/ftp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "support/child_process.h"
#include "support/sandbox.h"

namespace mv {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(port);
  bool ok =
      fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

int ListeningSocket(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return fd;
}

}  // namespace

FtpServer::FtpServer(Options options) : options_(std::move(options)) {
  fs::create_directories(root_);
  fs::create_directories(state_);
  Launch(0);
}

FtpServer::~FtpServer() { EndProcess(SIGTERM); }

FtpServer& FtpServer::Shared() {
  static FtpServer* server = [] {
    auto* s = new FtpServer();
    std::atexit([] { delete server; });
    return s;
  }();
  return *server;
}

// Starts the script, whose "PORT <n>" once it listens goes to state/port.
// pyftpdlib needs a current directory that outlives the test's folders; the
// kernel kills the server with the test program.
bool FtpServer::Launch(int port) {
  std::string out = state_ + "/port";
  fs::remove(out);
  pid_ = SpawnProgram(
      {kPython, MVUPDATE_FTP_SERVER_SCRIPT, "--port", std::to_string(port),
       "--root", root_, "--user", options_.user, "--password",
       options_.password, "--state", state_},
      {.out = out, .cwd = folder_.path(), .death_signal = SIGKILL});
  auto listening = [&] {
    std::string line = ReadFile(out);
    if (line.starts_with("PORT ")) port_ = std::atoi(line.c_str() + 5);
    return port_ > 0 && Accepts(port_);
  };
  auto ended = [&] { return ::waitpid(pid_, nullptr, WNOHANG) != 0; };
  bool up = pid_ > 0 &&
            WaitUntil([&] { return listening() || ended(); },
                      std::chrono::seconds(20)) &&
            listening();
  if (!up) {
    EndProcess(SIGKILL);
    error_ = "the FTP server did not start: " + ReadFile(out);
    return false;
  }
  error_.clear();
  return true;
}

bool FtpServer::EndProcess(int signal) {
  if (pid_ <= 0) return false;
  ::kill(pid_, signal);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
  return true;
}

void FtpServer::Put(std::string_view relative,
                    std::string_view contents) const {
  std::string path = Path(relative);
  fs::create_directories(fs::path(path).parent_path());
  WriteFile(path, std::string(contents));
}

std::string FtpServer::Get(std::string_view relative) const {
  return ReadFile(Path(relative));
}

bool FtpServer::Exists(std::string_view relative) const {
  std::error_code ec;
  return fs::exists(Path(relative), ec);
}

std::vector<std::string> FtpServer::Commands() const {
  return ReadLines(state_ + "/commands.log");
}

int FtpServer::Count(std::string_view verb) const {
  return static_cast<int>(Arguments(verb).size());
}

std::vector<std::string> FtpServer::Arguments(std::string_view verb) const {
  std::vector<std::string> args;
  for (const std::string& c : Commands()) {
    size_t space = c.find(' ');
    if (c.substr(0, space) != verb) continue;
    args.push_back(space == std::string::npos ? "" : c.substr(space + 1));
  }
  return args;
}

void FtpServer::ClearCommands() const {
  WriteFile(state_ + "/commands.log", "");
}

void FtpServer::SetFault(Fault fault, int64_t after_bytes, bool once) const {
  const char* kinds[] = {"", "stall ", "drop ", "cut "};
  std::string text = kinds[static_cast<int>(fault)];
  if (fault != Fault::kNone) text += std::to_string(after_bytes);
  if (once) text += " once";
  WriteFile(state_ + "/fault", text);
}

bool FtpServer::Stop() { return EndProcess(SIGTERM); }

bool FtpServer::Kill() { return EndProcess(SIGKILL); }

bool FtpServer::Restart() { return running() || Launch(port_); }

void FtpServer::Reset() {
  SetFault(Fault::kNone);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root_, ec)) {
    fs::remove_all(entry.path(), ec);
  }
  if (!running()) Restart();
  ClearCommands();
}

SilentServer::SilentServer(std::vector<std::string> replies) {
  fd_ = ListeningSocket(&port_);
  if (fd_ < 0 || replies.empty()) return;
  answering_ = std::thread([fd = fd_, replies = std::move(replies)] {
    for (;;) {
      int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;  // the listening socket was shut down
      std::string received;
      for (size_t next = 0; next < replies.size(); ++next) {
        std::string line = replies[next] + "\r\n";
        if (::send(c, line.data(), line.size(), MSG_NOSIGNAL) < 0) break;
        if (next + 1 == replies.size()) break;
        char buf[512];
        while (received.find('\n') == std::string::npos) {
          ssize_t n = ::recv(c, buf, sizeof buf, 0);
          if (n <= 0) break;
          received.append(buf, static_cast<size_t>(n));
        }
        received.erase(0, received.find('\n') + 1);
      }
      ::close(c);
    }
  });
}

SilentServer::~SilentServer() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
  if (answering_.joinable()) answering_.join();
  if (fd_ >= 0) ::close(fd_);
}

int RefusingPort() {
  int port = 0;
  int fd = ListeningSocket(&port);
  if (fd >= 0) ::close(fd);
  return port;
}

}  // namespace mv
