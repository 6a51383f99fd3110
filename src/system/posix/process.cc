#include "system/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "system/files.h"
#include "system/paths.h"
#include "system/unique_fd.h"

extern char** environ;

namespace mv {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<pid_t>& Started() {
  static std::vector<pid_t> pids;
  return pids;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file to run for a program name, or "" when none is found.
std::string FindProgram(const std::string& name) {
  std::string native = ResolvePath(name);
  if (native.find('/') != std::string::npos) return native;
  if (IsRegularFile(native)) return "./" + native;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/bin:/bin";
  while (!dirs.empty()) {
    size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    dirs = colon == std::string_view::npos ? "" : dirs.substr(colon + 1);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + native;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return "";
}

// For a script that lacks execute permission: the interpreter and its
// optional argument from its "#!" line.
std::vector<std::string> ShebangOf(const std::string& file) {
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  char head[512];
  ssize_t n = fd ? ::read(fd.get(), head, sizeof head) : -1;
  if (n < 2 || head[0] != '#' || head[1] != '!') return {};
  std::string text(head, static_cast<size_t>(n));
  std::string line = text.substr(2, text.find('\n') - 2);
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  size_t end = pos;
  while (end < line.size() && !IsBlank(line[end]) && line[end] != '\r') ++end;
  if (end == pos) return {};
  words.push_back(line.substr(pos, end - pos));
  // The kernel passes the rest of the line as one argument.
  std::string rest = line.substr(end);
  size_t b = rest.find_first_not_of(" \t");
  size_t e = rest.find_last_not_of(" \t\r");
  if (b != std::string::npos) words.push_back(rest.substr(b, e - b + 1));
  return words;
}

class SpawnActions {
 public:
  SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ::posix_spawnattr_init(&attr_); }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attr_); }
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

Failure SpawnFailure(int err, const std::string& file) {
  switch (err) {
    case ENOENT:
      return Failure(kFileNotFound);
    case ENOEXEC:
      return Failure(kInvalidArgument);
    default:
      return Failure::FromErrno(err, file);
  }
}

}  // namespace

Result<ProcessId> StartProgram(std::string_view command_line) {
  Result<std::vector<std::string>> split = ProgramArguments(command_line);
  if (!split.ok()) return split.failure();
  std::vector<std::string>& args = split.value();
  std::string file = FindProgram(args[0]);
  if (file.empty()) return Failure(kFileNotFound);
  if (Status s = CheckUsablePath(file); !s.ok()) return s.failure();
  args[0] = file;
  if (IsRegularFile(file) && ::access(file.c_str(), X_OK) != 0) {
    std::vector<std::string> interpreter = ShebangOf(file);
    if (interpreter.empty()) return Failure(kPermissionDenied);
    args.insert(args.begin(), interpreter.begin(), interpreter.end());
  }

  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  SpawnActions actions;
  ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY,
                                     0);
  ::posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY,
                                     0);
  ::posix_spawn_file_actions_adddup2(actions.get(), 1, 2);
  // Only the three standard streams reach the program: descriptors a
  // library opened without close-on-exec (the FTP site's control
  // connection, a database socket) would let it talk to them as this user.
  ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  SpawnAttributes attr;
  ::posix_spawnattr_setflags(attr.get(), POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int err = ::posix_spawn(&pid, argv[0], actions.get(), attr.get(), argv.data(),
                          environ);
  if (err != 0) return SpawnFailure(err, argv[0]);
  Started().push_back(pid);
  return pid;
}

ProcessId CurrentProcessId() { return ::getpid(); }

void KeepFromChildPrograms(uint64_t socket) {
  int fd = static_cast<int>(socket);
  int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

size_t ReapFinishedPrograms() {
  std::vector<pid_t>& pids = Started();
  for (auto it = pids.begin(); it != pids.end();) {
    int status;
    pid_t r = ::waitpid(*it, &status, WNOHANG);
    if (r == *it || (r < 0 && errno == ECHILD)) {
      it = pids.erase(it);
    } else {
      ++it;
    }
  }
  return pids.size();
}

}  // namespace mv
