#include "system/run_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "system/date_time.h"
#include "system/paths.h"
#include "system/process.h"
#include "system/text.h"

namespace mv {

namespace {

// A write lock on the whole file. Open-file-description locks belong to the
// open file, not to the process.
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

// Removes what stands at the lock's name when it is not an ordinary file: a
// link (the link itself, never what it leads to; dangling or not), a FIFO, a
// socket, a device node, an empty folder. An ordinary file is never removed,
// since another run may hold it. True when something was removed.
bool ReplaceOddEntry(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return false;
  if (S_ISDIR(st.st_mode)) return ::rmdir(path.c_str()) == 0;
  return ::unlink(path.c_str()) == 0;
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
  // A few attempts: each odd entry replaced, or a file swapped under us,
  // costs one.
  for (int attempt = 0; attempt < 3; ++attempt) {
    fd_ = OpenLockFile(path_);
    int err = fd_ ? 0 : errno;
    if (err == ENOENT && attempt == 0) {
      // A missing Database folder is made, as start-up makes it.
      if (::mkdir(ParentFolder(path_).c_str(), 0777) == 0 || errno == EEXIST) {
        continue;
      }
    }
    struct stat st = {};
    if (fd_ && ::fstat(fd_.get(), &st) != 0) err = errno;
    if (err != 0 || !S_ISREG(st.st_mode)) {
      fd_.Close();
      if (ReplaceOddEntry(path_)) continue;
      failure_ = err != 0 ? Failure::FromErrno(err, path_)
                          : Failure(kPathFileAccessError,
                                    path_ + " is not an ordinary file");
      return Outcome::kUnavailable;
    }
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd_.get(), F_OFD_SETLK, &lock) != 0) {
      err = errno;
      if (err == EAGAIN || err == EACCES) {
        holder_ = ReadHolder(fd_.get());
        fd_.Close();
        return Outcome::kHeld;
      }
      failure_ = Failure::FromErrno(err, path_);
      fd_.Close();
      return Outcome::kUnavailable;
    }
    // The name may have been given to another file between the open and the
    // lock (a run that replaced an odd entry): a lock on a file nobody can
    // find any more is no lock.
    struct stat named;
    if (::stat(path_.c_str(), &named) != 0 || named.st_dev != st.st_dev ||
        named.st_ino != st.st_ino) {
      fd_.Close();
      continue;
    }
    std::string me =
        std::to_string(CurrentProcessId()) + "\n" + GeneralDate(Now()) + "\n";
    // Only the note about the holder depends on these writes; the lock holds
    // whatever they give.
    if (::ftruncate(fd_.get(), 0) == 0) {
      [[maybe_unused]] ssize_t n = ::pwrite(fd_.get(), me.data(), me.size(), 0);
    }
    return Outcome::kTaken;
  }
  failure_ = Failure(kPathFileAccessError,
                     path_ + " keeps changing; no lock could be taken");
  return Outcome::kUnavailable;
}

}  // namespace mv
