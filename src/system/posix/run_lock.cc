#include "system/run_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "system/date_time.h"
#include "system/text.h"

namespace mv {

namespace {

// A write lock on the whole file. Open-file-description locks belong to the
// open file, not to the process, and F_OFD_GETLK can ask about them without
// taking them.
struct flock WholeFile(short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return lock;
}

UniqueFd OpenLockFile(const std::string& path) {
  return UniqueFd(::open(path.c_str(),
                         O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                         0644));
}

std::string ReadHolder(int fd) {
  char buf[256];
  ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  if (n <= 0) return "process unknown";
  std::vector<std::string_view> lines =
      SplitLines(std::string_view(buf, static_cast<size_t>(n)));
  std::string text = "process " + std::string(lines.empty() ? "?" : lines[0]);
  if (lines.size() > 1) text += ", started " + std::string(lines[1]);
  return text;
}

}  // namespace

RunLock::Outcome RunLock::Acquire() {
  fd_ = OpenLockFile(path_);
  struct stat st;
  if (!fd_ || ::fstat(fd_.get(), &st) != 0) {
    failure_ = Failure::FromErrno(errno, path_);
    fd_.Close();
    return Outcome::kUnavailable;
  }
  if (!S_ISREG(st.st_mode)) {
    failure_ = Failure(kPathFileAccessError, "not an ordinary file");
    fd_.Close();
    return Outcome::kUnavailable;
  }
  struct flock lock = WholeFile(F_WRLCK);
  if (::fcntl(fd_.get(), F_OFD_SETLK, &lock) != 0) {
    int err = errno;
    if (err == EAGAIN || err == EACCES) {
      holder_ = ReadHolder(fd_.get());
      fd_.Close();
      return Outcome::kHeld;
    }
    failure_ = Failure::FromErrno(err, path_);
    fd_.Close();
    return Outcome::kUnavailable;
  }
  std::string me =
      std::to_string(::getpid()) + "\n" + GeneralDate(Now()) + "\n";
  // Only the note about the holder depends on these writes; the lock holds
  // whatever they give.
  if (::ftruncate(fd_.get(), 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(fd_.get(), me.data(), me.size(), 0);
  }
  return Outcome::kTaken;
}

bool RunLock::HeldByOther() const {
  UniqueFd fd(
      ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return false;
  struct flock lock = WholeFile(F_WRLCK);
  if (::fcntl(fd.get(), F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace mv
