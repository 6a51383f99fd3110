#include "support/ftp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace mv {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";
constexpr auto kStartLimit = std::chrono::seconds(20);

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& path, std::string_view contents) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

// Reads one line from `fd` within `limit`; empty on time-out or end.
std::string ReadLine(int fd, std::chrono::milliseconds limit) {
  std::string line;
  auto end = std::chrono::steady_clock::now() + limit;
  while (line.empty() || line.back() != '\n') {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return "";
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) return "";
    line.push_back(c);
  }
  return line;
}

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

int ListeningSocket(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

std::string FirstWord(const std::string& command) {
  return command.substr(0, command.find(' '));
}

}  // namespace

FtpServer::FtpServer(Options options) : options_(std::move(options)) {
  std::string pattern = (fs::temp_directory_path() / "mvftp-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    error_ = "cannot create a temporary folder";
    return;
  }
  folder_ = pattern;
  root_ = folder_ + "/root";
  state_ = folder_ + "/state";
  fs::create_directories(root_);
  fs::create_directories(state_);
  Launch(0);
}

FtpServer::~FtpServer() {
  EndProcess(SIGTERM);
  std::error_code ec;
  if (!folder_.empty()) fs::remove_all(folder_, ec);
}

FtpServer& FtpServer::Shared() {
  static FtpServer* server = [] {
    auto* s = new FtpServer();
    // Stopped at exit; a program that dies leaves no server behind either
    // (the child is killed with its parent).
    std::atexit([] { delete server; });
    return s;
  }();
  return *server;
}

bool FtpServer::Launch(int port) {
  std::string script = MVUPDATE_FTP_SERVER_SCRIPT;
  std::string port_text = std::to_string(port);
  std::string err_path = state_ + "/server.err";
  std::vector<std::string> args = {
      kPython,   script,   "--port",      port_text,    "--root",
      root_,     "--user", options_.user, "--password", options_.password,
      "--state", state_};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return false;
  }
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(out[0]);
    ::close(out[1]);
    error_ = "fork failed";
    return false;
  }
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    // pyftpdlib needs a current directory that outlives the test's folders.
    if (::chdir(folder_.c_str()) != 0) ::_exit(127);
    ::dup2(out[1], STDOUT_FILENO);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (err >= 0) ::dup2(err, STDERR_FILENO);
    ::execv(kPython, argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  pid_ = pid;
  std::string line = ReadLine(
      out[0],
      std::chrono::duration_cast<std::chrono::milliseconds>(kStartLimit));
  ::close(out[0]);
  if (line.rfind("PORT ", 0) != 0) {
    EndProcess(SIGKILL);
    error_ = "the FTP server did not start: " + ReadAll(err_path);
    return false;
  }
  port_ = std::atoi(line.c_str() + 5);
  auto end = std::chrono::steady_clock::now() + kStartLimit;
  while (!Accepts(port_)) {
    if (std::chrono::steady_clock::now() > end) {
      EndProcess(SIGKILL);
      error_ = "the FTP server does not accept connections";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  error_.clear();
  return true;
}

bool FtpServer::EndProcess(int signal) {
  if (pid_ <= 0) return false;
  ::kill(pid_, signal);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return true;
}

std::string FtpServer::host() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string FtpServer::Path(std::string_view relative) const {
  return root_ + "/" + std::string(relative);
}

void FtpServer::Put(std::string_view relative,
                    std::string_view contents) const {
  std::string path = Path(relative);
  fs::create_directories(fs::path(path).parent_path());
  WriteAll(path, contents);
}

void FtpServer::MakeFolder(std::string_view relative) const {
  fs::create_directories(Path(relative));
}

std::string FtpServer::Get(std::string_view relative) const {
  return ReadAll(Path(relative));
}

bool FtpServer::Exists(std::string_view relative) const {
  std::error_code ec;
  return fs::exists(Path(relative), ec);
}

std::vector<std::string> FtpServer::Commands() const {
  std::vector<std::string> commands;
  std::istringstream in(ReadAll(state_ + "/commands.log"));
  std::string line;
  while (std::getline(in, line)) commands.push_back(line);
  return commands;
}

int FtpServer::Count(std::string_view verb) const {
  int n = 0;
  for (const std::string& c : Commands()) n += FirstWord(c) == verb;
  return n;
}

std::vector<std::string> FtpServer::Arguments(std::string_view verb) const {
  std::vector<std::string> args;
  for (const std::string& c : Commands()) {
    if (FirstWord(c) != verb) continue;
    size_t space = c.find(' ');
    args.push_back(space == std::string::npos ? "" : c.substr(space + 1));
  }
  return args;
}

void FtpServer::ClearCommands() const {
  WriteAll(state_ + "/commands.log", "");
}

void FtpServer::SetFault(Fault fault, int64_t after_bytes) const {
  std::string text;
  if (fault == Fault::kStall) text = "stall " + std::to_string(after_bytes);
  if (fault == Fault::kDrop) text = "drop " + std::to_string(after_bytes);
  WriteAll(state_ + "/fault", text);
}

bool FtpServer::Stop() { return EndProcess(SIGTERM); }

bool FtpServer::Kill() { return EndProcess(SIGKILL); }

bool FtpServer::Restart() {
  if (running()) return true;
  return Launch(port_);
}

void FtpServer::Reset() {
  SetFault(Fault::kNone);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root_, ec)) {
    fs::remove_all(entry.path(), ec);
  }
  if (!running()) Restart();
  ClearCommands();
}

SilentServer::SilentServer() { fd_ = ListeningSocket(&port_); }

SilentServer::~SilentServer() {
  if (fd_ >= 0) ::close(fd_);
}

std::string SilentServer::host() const {
  return "127.0.0.1:" + std::to_string(port_);
}

int RefusingPort() {
  int port = 0;
  int fd = ListeningSocket(&port);
  if (fd >= 0) ::close(fd);
  return port;
}

}  // namespace mv
