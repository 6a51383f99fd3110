// A program run as a child process by a test, for tests where its exit
// status matters or where it must be killed or limited from outside. The
// child inherits the environment and the current directory; its standard
// input is /dev/null, its standard output and error are kept in files and
// read by Wait.
#ifndef MVUPDATE_TESTS_SUPPORT_CHILD_PROCESS_H_
#define MVUPDATE_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace mv {

class ChildProcess {
 public:
  struct Options {
    // When the tests run as root, the child runs as the user nobody, so
    // that file permissions hold for it.
    bool unprivileged = false;
  };

  explicit ChildProcess(const std::vector<std::string>& argv)
      : ChildProcess(argv, Options()) {}
  ChildProcess(const std::vector<std::string>& argv, const Options& options);
  ~ChildProcess();  // kills a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the end, at most `limit` (then kills the child). Gives the
  // exit status, or minus the signal that ended it.
  int Wait(std::chrono::seconds limit = std::chrono::seconds(120));
  // Ends the child at once (SIGKILL), as a crash or a power cut would.
  void Kill();

  pid_t pid() const { return pid_; }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  TempFolder io_;
  pid_t pid_ = -1;
  int status_ = -1;  // also when the child could not be started
  std::string out_, err_;
};

// How a program of the tests (a server, a tool, the utility) is started by
// SpawnProgram: its standard output and error go to `out` (its error to
// `err` when set); its standard input is `input` (a pipe's read end) or
// /dev/null; as `user` when we are root; with `death_signal` sent by the
// kernel when the thread that started it ends, however it ends.
struct SpawnOptions {
  std::string out = "/dev/null";
  std::string err = "";  // "": to `out`
  std::string cwd = "";  // "" keeps ours
  const char* user = nullptr;
  int input = -1;
  int death_signal = 0;
};
// Gives the program's pid (-1 when it cannot be started).
pid_t SpawnProgram(const std::vector<std::string>& argv,
                   const SpawnOptions& how);

// Polls `condition` every 10 ms until it holds (true) or `limit` passes.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(30));

// Gives the user nobody every file and folder below `folder`, so that an
// unprivileged child can use them.
void GiveToNobody(const std::string& folder);

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_CHILD_PROCESS_H_
