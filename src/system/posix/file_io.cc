#include "system/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace mv {

namespace {

// What a file that is not an ordinary one is, for failure texts.
std::string_view KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "not an ordinary file";
}

Failure NotOrdinary(const std::string& native, mode_t mode) {
  return Failure(kPathFileAccessError,
                 std::string(DescribeFailure(kPathFileAccessError)) + " (" +
                     native + " is " + std::string(KindOf(mode)) +
                     ", not an ordinary file)");
}

}  // namespace

Result<UniqueFd> OpenOrdinaryFile(const std::string& path) {
  UniqueFd fd(
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return Failure::FromErrno(errno, path);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return Failure::FromErrno(errno, path);
  if (!S_ISREG(st.st_mode)) return NotOrdinary(path, st.st_mode);
  return fd;
}

int OpenFile(std::string_view native, FileOpen how, UniqueFd& fd) {
  std::string path(native);
  int flags = O_CLOEXEC;
  switch (how) {
    case FileOpen::kRead:
      flags |= O_RDONLY;
      break;
    case FileOpen::kReadNoWait:
      flags |= O_RDONLY | O_NONBLOCK | O_NOCTTY;
      break;
    case FileOpen::kReadWrite:
      flags |= O_RDWR | O_NOFOLLOW;
      break;
    case FileOpen::kWriteNoWait:
      flags |= O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
      break;
    case FileOpen::kCreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
  }
  fd = UniqueFd(::open(path.c_str(), flags, 0666));
  return fd ? 0 : errno;
}

namespace {

void Describe(const struct stat& st, FileFacts& facts) {
  facts.ordinary = S_ISREG(st.st_mode);
  facts.folder = S_ISDIR(st.st_mode);
  facts.size = st.st_size;
  facts.readable_by_others = (st.st_mode & S_IROTH) != 0;
  // Its group or everybody may write it; a folder with the sticky bit lets
  // nobody replace another's file.
  facts.others_may_write =
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
      !(S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0);
  facts.link = S_ISLNK(st.st_mode);
  facts.stream = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
  facts.modified = static_cast<int64_t>(st.st_mtime);
  facts.device = st.st_dev;
  facts.file_id = st.st_ino;
  facts.links = st.st_nlink;
  facts.kind = facts.ordinary ? "an ordinary file" : KindOf(st.st_mode);
}

}  // namespace

int FactsOfFd(int fd, FileFacts& facts) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  Describe(st, facts);
  return 0;
}

int FactsOfPath(std::string_view native, FileFacts& facts) {
  struct stat st;
  if (::stat(std::string(native).c_str(), &st) != 0) return errno;
  Describe(st, facts);
  return 0;
}

int FactsOfEntry(std::string_view native, FileFacts& facts) {
  struct stat st;
  if (::lstat(std::string(native).c_str(), &st) != 0) return errno;
  Describe(st, facts);
  return 0;
}

bool SameFile(std::string_view a, std::string_view b) {
  struct stat sa, sb;
  return ::stat(std::string(a).c_str(), &sa) == 0 &&
         ::stat(std::string(b).c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

int ReadFd(int fd, void* data, size_t size, size_t& got) {
  for (;;) {
    ssize_t n = ::read(fd, data, size);
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int ReadFdAt(int fd, void* data, size_t size, int64_t at, size_t& got) {
  for (;;) {
    ssize_t n = ::pread(fd, data, size, at);
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int WriteFd(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int TruncateFd(int fd, int64_t size) {
  return ::ftruncate(fd, size) == 0 ? 0 : errno;
}

int SeekFd(int fd, int64_t at) {
  return ::lseek(fd, at, SEEK_SET) < 0 ? errno : 0;
}

int SetModifiedTime(int fd, int64_t unix_time) {
  struct timespec times[2] = {{0, UTIME_OMIT}, {unix_time, 0}};
  return ::futimens(fd, times) == 0 ? 0 : errno;
}

int RemoveFile(std::string_view native) {
  return ::unlink(std::string(native).c_str()) == 0 ? 0 : errno;
}

int RemoveEntry(std::string_view native) {
  std::string path(native);
  if (::unlink(path.c_str()) == 0) return 0;
  if (errno != EISDIR) return errno;
  return ::rmdir(path.c_str()) == 0 ? 0 : errno;
}

int RenameFile(std::string_view from, std::string_view to) {
  return ::rename(std::string(from).c_str(), std::string(to).c_str()) == 0
             ? 0
             : errno;
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

OthersMayWriteAdvice AdviceOnOthersWriting(std::string_view) {
  return {"its owner and root", "let only its owner write it: chmod go-w"};
}

}  // namespace mv
