#include "system/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>

#include "system/files.h"
#include "system/paths.h"

namespace mv {

namespace {

// Files open for writing in this process, by device and inode. One thread
// only, so no lock.
std::set<std::pair<dev_t, ino_t>>& OpenFiles() {
  static std::set<std::pair<dev_t, ino_t>> files;
  return files;
}

}  // namespace

Result<TextFile> TextFile::Open(std::string_view native, Mode mode) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s.failure();
  std::string path = ResolveCase(native);
  // Open without truncating first: a file already open here must be refused
  // before its contents are touched. Without waiting: a FIFO under the name
  // must not hold the run (it is refused below). Without following a link:
  // one planted under the name would get the lines, written with this
  // account's rights, wherever it leads.
  UniqueFd fd(::open(
      path.c_str(),
      O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW,
      0666));
  if (!fd && errno == ELOOP) {
    return Failure(kPathFileAccessError, path + " is a symbolic link");
  }
  if (!fd) return Failure::FromErrno(errno, path);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return Failure::FromErrno(errno, path);
  if (!S_ISREG(st.st_mode)) {
    return Failure(kPathFileAccessError, path + " is not an ordinary file");
  }
  if (OpenFiles().count({st.st_dev, st.st_ino}) != 0) {
    return Failure(kFileAlreadyOpen);
  }
  if (mode == Mode::kOutput && ::ftruncate(fd.get(), 0) != 0) {
    return Failure::FromErrno(errno, path);
  }
  if (mode == Mode::kAppend && ::lseek(fd.get(), 0, SEEK_END) < 0) {
    return Failure::FromErrno(errno, path);
  }
  OpenFiles().insert({st.st_dev, st.st_ino});
  return TextFile(std::move(fd), st.st_dev, st.st_ino, path);
}

TextFile::TextFile(UniqueFd fd, dev_t dev, ino_t ino, std::string path)
    : fd_(std::move(fd)), dev_(dev), ino_(ino), path_(std::move(path)) {}

TextFile::TextFile(TextFile&& other) noexcept
    : fd_(std::move(other.fd_)),
      dev_(other.dev_),
      ino_(other.ino_),
      path_(std::move(other.path_)) {}

TextFile& TextFile::operator=(TextFile&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::move(other.fd_);
    dev_ = other.dev_;
    ino_ = other.ino_;
    path_ = std::move(other.path_);
  }
  return *this;
}

TextFile::~TextFile() { Release(); }

void TextFile::Release() {
  if (fd_) {
    OpenFiles().erase({dev_, ino_});
    fd_.Close();
  }
}

Status TextFile::WriteLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd_.get(), p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failure::FromErrno(errno, path_);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return Status::Ok();
}

Status TextFile::Close() {
  if (!fd_) return Status::Ok();
  OpenFiles().erase({dev_, ino_});
  if (fd_.Close() != 0) return Failure::FromErrno(errno, path_);
  return Status::Ok();
}

}  // namespace mv
