// One run at a time per installation: an advisory lock on a file of the
// installation, held by a command from its start to its end. The kernel
// drops the lock when its holder ends, however it ends, so a lock left by a
// killed process is no lock. The file holds the holder's process id and
// start time, for the message of the run that finds it taken.
#ifndef MVUPDATE_SYSTEM_RUN_LOCK_H_
#define MVUPDATE_SYSTEM_RUN_LOCK_H_

#include <string>

#include "system/failure.h"
#include "system/unique_fd.h"

namespace mv {

class RunLock {
 public:
  enum class Outcome {
    kTaken,
    kHeld,         // another process holds it: see holder()
    kUnavailable,  // the file cannot be used: see failure()
  };

  explicit RunLock(std::string path) : path_(std::move(path)) {}
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock without waiting. It never fails open: a link or anything
  // but an ordinary file at the path is replaced (a missing folder made),
  // and a file that cannot be opened (another account's) is kUnavailable.
  Outcome Acquire();
  // Gives the lock up (also when the object goes).
  void Release() { fd_.Close(); }

  // "process 1234, started 12/7/2026 3:04:05 AM" after kHeld.
  const std::string& holder() const { return holder_; }
  const Failure& failure() const { return failure_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  UniqueFd fd_;
  std::string holder_;
  Failure failure_{0};
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_RUN_LOCK_H_
