#include "system/text_file.h"

#include <set>
#include <utility>

#include "system/file_io.h"
#include "system/files.h"
#include "system/paths.h"

namespace mv {

namespace {

// Files open for writing in this process, by device and inode. One thread
// only, so no lock.
std::set<std::pair<uint64_t, uint64_t>>& OpenFiles() {
  static std::set<std::pair<uint64_t, uint64_t>> files;
  return files;
}

}  // namespace

Result<TextFile> TextFile::Open(Env& env, std::string_view native, Mode mode) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s.failure();
  std::string path = ResolveCase(native);
  // Open without truncating first: a file already open here must be refused
  // before its contents are touched. Without waiting: a FIFO under the name
  // must not hold the run (it is refused below). Without following a link:
  // one planted under the name would get the lines, written with this
  // account's rights, wherever it leads.
  UniqueFd fd;
  FileFacts st;
  int err = env.OpenFile(path, FileOpen::kWriteNoWait, fd);
  if (err == ELOOP) {
    return Failure(kPathFileAccessError, path + " is a symbolic link");
  }
  if (err == 0) err = env.FactsOfFd(fd.get(), st);
  if (err != 0) return Failure::FromErrno(err, path);
  if (!st.ordinary) {
    return Failure(kPathFileAccessError, path + " is not an ordinary file");
  }
  if (OpenFiles().count({st.device, st.file_id}) != 0) {
    return Failure(kFileAlreadyOpen);
  }
  if (mode == Mode::kOutput) err = env.TruncateFd(fd.get(), 0);
  if (mode == Mode::kAppend) err = SeekFd(fd.get(), st.size);
  if (err != 0) return Failure::FromErrno(err, path);
  OpenFiles().insert({st.device, st.file_id});
  return TextFile(env, std::move(fd), st.device, st.file_id, path);
}

TextFile::TextFile(Env& env, UniqueFd fd, uint64_t dev, uint64_t ino,
                   std::string path)
    : env_(&env),
      fd_(std::move(fd)),
      dev_(dev),
      ino_(ino),
      path_(std::move(path)) {}

TextFile::TextFile(TextFile&& other) noexcept
    : env_(other.env_),
      fd_(std::move(other.fd_)),
      dev_(other.dev_),
      ino_(other.ino_),
      path_(std::move(other.path_)) {}

TextFile& TextFile::operator=(TextFile&& other) noexcept {
  if (this != &other) {
    Release();
    env_ = other.env_;
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
  if (int err = env_->WriteFd(fd_.get(), line.data(), line.size()); err != 0) {
    return Failure::FromErrno(err, path_);
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
