#include "support/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

namespace mv {

namespace {

constexpr uid_t kNobody = 65534;

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const Options& options)
    : pid_(SpawnProgram(argv,
                        {.out = io_ / "out",
                         .err = io_ / "err",
                         .user = options.unprivileged ? "nobody" : nullptr})) {}

ChildProcess::~ChildProcess() {
  Kill();
  Wait();
}

int ChildProcess::Wait(std::chrono::seconds limit) {
  if (pid_ > 0) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    int raw = 0;
    pid_t r;
    while ((r = ::waitpid(pid_, &raw, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (r == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &raw, 0);
    }
    pid_ = -1;
    status_ = WIFEXITED(raw)     ? WEXITSTATUS(raw)
              : WIFSIGNALED(raw) ? -WTERMSIG(raw)
                                 : -1;
    out_ = ReadFile(io_ / "out");
    err_ = ReadFile(io_ / "err");
  }
  return status_;
}

pid_t SpawnProgram(const std::vector<std::string>& argv,
                   const SpawnOptions& how) {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  passwd* pw = how.user && ::geteuid() == 0 ? ::getpwnam(how.user) : nullptr;
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  // From here on in the child: only async-signal-safe calls.
  const int flags = O_WRONLY | O_CREAT | O_APPEND;
  int out = ::open(how.out.c_str(), flags, 0644);
  int err = how.err.empty() ? out : ::open(how.err.c_str(), flags, 0644);
  int in = how.input >= 0 ? how.input : ::open("/dev/null", O_RDONLY);
  if (out < 0 || err < 0 || in < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
      ::dup2(err, 2) < 0 ||
      (!how.cwd.empty() && ::chdir(how.cwd.c_str()) != 0) ||
      (pw && (::setgroups(0, nullptr) != 0 || ::setgid(pw->pw_gid) != 0 ||
              ::setuid(pw->pw_uid) != 0))) {
    ::_exit(127);
  }
  // After the change of user, which clears the death signal.
  if (how.death_signal != 0 &&
      (::prctl(PR_SET_PDEATHSIG, how.death_signal) != 0 ||
       ::getppid() != parent)) {
    ::_exit(127);
  }
  ::execvp(args[0], args.data());
  ::_exit(127);
}

void ChildProcess::Kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
}

bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void GiveToNobody(const std::string& folder) {
  if (::geteuid() != 0) return;
  namespace fs = std::filesystem;
  std::error_code ec;
  ::lchown(folder.c_str(), kNobody, kNobody);
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    ::lchown(it->path().c_str(), kNobody, kNobody);
  }
}

}  // namespace mv
