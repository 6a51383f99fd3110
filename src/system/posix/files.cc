#include "system/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "system/file_io.h"
#include "system/paths.h"
#include "system/unique_fd.h"

namespace mv {

// Makes a new, empty file in the folder `dir_fd` that is to replace `base`
// there (see Folder::CreateTempFile).
Result<UniqueFd> CreateTempFile(int dir_fd, std::string_view base, mode_t mode,
                                std::string& name);

namespace {

Failure ErrnoFailure(const std::string& native) {
  return Failure::FromErrno(errno, native);
}

// Splits a native pattern into its folder ("." for none) and last part.
std::pair<std::string, std::string> SplitPattern(std::string_view pattern) {
  std::string folder = ParentFolder(pattern);
  return {folder.empty() ? "." : folder, BaseName(pattern)};
}

Status WriteAll(int fd, const char* data, size_t size,
                const std::string& native) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoFailure(native);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return Status::Ok();
}

// The folder of a native path, for opening it.
std::string FolderOf(const std::string& native) {
  std::string folder = ParentFolder(native);
  return folder.empty() ? "." : folder;
}

// Writes through `fill` into a temporary file beside `target`, then renames
// it over the target. Both happen in the folder opened once, so a folder
// swapped for a link on the way cannot send them elsewhere. The temporary
// file is removed on any failure.
template <typename Fill>
Status ReplaceFile(const std::string& target, mode_t mode, Fill fill) {
  UniqueFd dir(
      ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return ErrnoFailure(target);
  std::string base = BaseName(target), temp;
  Result<UniqueFd> fd = CreateTempFile(dir.get(), base, mode, temp);
  if (!fd.ok()) return fd.failure();
  UniqueFd& out = fd.value();
  Status st = fill(out.get());
  if (st.ok() && ::fchmod(out.get(), mode) != 0) st = ErrnoFailure(target);
  if (st.ok() && ::fsync(out.get()) != 0) st = ErrnoFailure(target);
  if (st.ok() && out.Close() != 0) st = ErrnoFailure(target);
  if (st.ok() &&
      ::renameat(dir.get(), temp.c_str(), dir.get(), base.c_str()) != 0) {
    st = ErrnoFailure(target);
  }
  if (!st.ok()) ::unlinkat(dir.get(), temp.c_str(), 0);
  return st;
}

// The file that `native` names once every symbolic link on the way is
// followed (at most 40, as the kernel allows); the last one need not exist.
Result<std::string> FollowLinks(std::string native) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(native.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      return native;
    }
    std::vector<char> buf(PATH_MAX);
    ssize_t n = ::readlink(native.c_str(), buf.data(), buf.size());
    if (n < 0) return ErrnoFailure(native);
    std::string to(buf.data(), static_cast<size_t>(n));
    if (to.empty() || to[0] != '/') {
      std::string folder = ParentFolder(native);
      if (!folder.empty()) to = (folder == "/" ? "/" : folder + "/") + to;
    }
    native = std::move(to);
  }
  return Failure::FromErrno(ELOOP, native);
}

bool Runs(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

size_t RemoveLeftoversIn(int dir_fd, bool recursive, int depth) {
  DIR* raw = ::fdopendir(dir_fd);
  if (raw == nullptr) {
    ::close(dir_fd);
    return 0;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> dir(raw, ::closedir);
  size_t removed = 0;
  std::vector<std::string> folders;
  while (dirent* e = ::readdir(dir.get())) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) !=
          0) {
        continue;
      }
      type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
    }
    if (type == DT_DIR) {
      if (recursive && depth < 64) folders.emplace_back(name);
      continue;
    }
    std::optional<int64_t> owner = TempFileOwner(name);
    if (owner && !Runs(*owner) &&
        ::unlinkat(::dirfd(dir.get()), e->d_name, 0) == 0) {
      ++removed;
    }
  }
  for (const std::string& name : folders) {
    int sub = ::openat(::dirfd(dir.get()), name.c_str(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub >= 0) removed += RemoveLeftoversIn(sub, recursive, depth + 1);
  }
  return removed;
}

}  // namespace

Result<UniqueFd> CreateTempFile(int dir_fd, std::string_view base, mode_t mode,
                                std::string& name) {
  return CreateUniquelyNamed(
      base, name, [&](const std::string& n, UniqueFd& fd) {
        fd = UniqueFd(::openat(
            dir_fd, n.c_str(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777));
        return fd ? 0 : errno;
      });
}

size_t RemoveLeftoverTempFiles(std::string_view folder, bool recursive) {
  if (folder.find('\0') != std::string_view::npos) return 0;
  std::string path(folder);
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd < 0 ? 0 : RemoveLeftoversIn(fd, recursive, 0);
}

Status CheckShareReachable(std::string_view native) {
  std::string share = UncShareFolder(native);
  if (share.empty()) return Status::Ok();
  std::string resolved = ResolveCase(share);
  struct stat st;
  if (::stat(resolved.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      ::access(resolved.c_str(), R_OK | X_OK) != 0) {
    return Failure(kPathFileAccessError);
  }
  return Status::Ok();
}

Status MakeFolder(std::string_view native) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s;
  std::string path = ResolveCase(native);
  if (::mkdir(path.c_str(), 0777) != 0) return ErrnoFailure(path);
  return Status::Ok();
}

Status ChangeFolder(std::string_view native) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s;
  std::string path = ResolveCase(native);
  if (path.empty()) return Failure(kPathNotFound);
  if (::chdir(path.c_str()) != 0) {
    return errno == ENOENT ? Failure(kPathNotFound) : ErrnoFailure(path);
  }
  return Status::Ok();
}

std::string CurrentFolder() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return "";
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

namespace {

// Feeds the rest of an open file to `digest`.
Status ReadInto(int fd, const std::string& path, Sha256& digest) {
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failure::FromErrno(errno, path);
    if (n == 0) return Status::Ok();
    digest.Update(buf.data(), static_cast<size_t>(n));
  }
}

}  // namespace

Status CopyFile(std::string_view from_native, std::string_view to_native,
                Sha256* digest, int64_t max_bytes) {
  if (Status s = CheckUsablePath(from_native); !s.ok()) return s;
  if (Status s = CheckUsablePath(to_native); !s.ok()) return s;
  std::string from = ResolveCase(from_native);
  std::string to = ResolveCase(to_native);
  Result<UniqueFd> opened = OpenOrdinaryFile(from);
  if (!opened.ok()) return opened.failure();
  UniqueFd& in = opened.value();
  struct stat src;
  if (::fstat(in.get(), &src) != 0) return ErrnoFailure(from);
  struct stat dst;
  if (::stat(to.c_str(), &dst) == 0) {
    if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
      // The same file: copying would truncate it; it is only read.
      return digest ? ReadInto(in.get(), from, *digest) : Status::Ok();
    }
    if (S_ISDIR(dst.st_mode)) return Failure(kPathFileAccessError);
  }
  if (max_bytes > 0 && src.st_size > max_bytes) {
    return TooLarge(from, max_bytes);
  }
  return ReplaceFile(to, src.st_mode & 07777, [&](int out) -> Status {
    std::vector<char> buf(1 << 16);
    int64_t copied = 0;  // a file that grows while copied is caught too
    for (;;) {
      ssize_t n = ::read(in.get(), buf.data(), buf.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrnoFailure(from);
      }
      if (n == 0) return Status::Ok();
      copied += n;
      if (max_bytes > 0 && copied > max_bytes) {
        return TooLarge(from, max_bytes);
      }
      if (digest) digest->Update(buf.data(), static_cast<size_t>(n));
      if (Status s = WriteAll(out, buf.data(), static_cast<size_t>(n), to);
          !s.ok()) {
        return s;
      }
    }
  });
}

Result<std::vector<std::string>> ListFiles(std::string_view pattern_native) {
  if (Status s = CheckUsablePath(pattern_native); !s.ok()) {
    return s.failure();
  }
  auto [folder, pattern] = SplitPattern(pattern_native);
  folder = ResolveCase(folder);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()),
                                          ::closedir);
  if (!dir) {
    return errno == ENOENT ? Failure(kPathNotFound) : ErrnoFailure(folder);
  }
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir.get())) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (!WildcardMatch(pattern, name)) continue;
    struct stat st;
    std::string full = folder + "/" + name;
    if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

Status DeleteFiles(std::string_view pattern_native) {
  Result<std::vector<std::string>> names = ListFiles(pattern_native);
  if (!names.ok()) return names.failure();
  if (names.value().empty()) return Failure(kFileNotFound);
  std::string folder = ResolveCase(SplitPattern(pattern_native).first);
  for (const std::string& name : names.value()) {
    std::string full = folder + "/" + name;
    if (::unlink(full.c_str()) != 0) return ErrnoFailure(full);
  }
  return Status::Ok();
}

Status WriteFileAtomically(std::string_view native, std::string_view contents,
                           AtLink at_link) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s;
  std::string target = ResolveCase(native);
  if (at_link == AtLink::kWriteThrough) {
    Result<std::string> final_target = FollowLinks(target);
    if (!final_target.ok()) return final_target.failure();
    target = final_target.value();
  }
  mode_t mode = 0644;
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
    // The rename would replace a file that may not be written, even one
    // made read-only for everybody; such a file is left as it is, as the
    // original platform leaves a read-only file.
    if ((mode & 0222) == 0 ||
        ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
      return Failure(kPermissionDenied);
    }
  }
  return ReplaceFile(target, mode, [&](int fd) {
    return WriteAll(fd, contents.data(), contents.size(), target);
  });
}

Result<std::string> ReadWholeFile(std::string_view native, int64_t max_bytes) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s.failure();
  std::string path = ResolveCase(native);
  Result<UniqueFd> opened = OpenOrdinaryFile(path);
  if (!opened.ok()) return opened.failure();
  UniqueFd& fd = opened.value();
  std::string out;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoFailure(path);
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
    if (max_bytes > 0 && std::ssize(out) > max_bytes) {
      return TooLarge(path, max_bytes);
    }
  }
  return out;
}

bool FolderExists(std::string_view native) {
  if (native.find('\0') != std::string_view::npos) return false;
  struct stat st;
  std::string path = ResolveCase(native);
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(std::string_view native) {
  if (native.find('\0') != std::string_view::npos) return false;
  struct stat st;
  std::string path = ResolveCase(native);
  return ::lstat(path.c_str(), &st) == 0;
}

Result<Folder> Folder::Open(const std::string& native) {
  Folder folder;
  folder.fd_ =
      UniqueFd(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.fd_) return ErrnoFailure(native);
  folder.path_ = native;
  return folder;
}

Result<bool> Folder::OpenChild(const std::string& name, bool make, bool& made,
                               Folder& child) const {
  std::string path = path_ + "/" + name;
  made = false;
  if (make) {
    if (::mkdirat(fd_.get(), name.c_str(), 0777) == 0) {
      made = true;
    } else if (errno != EEXIST) {
      return ErrnoFailure(path);
    }
  }
  UniqueFd next(::openat(fd_.get(), name.c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!next) {
    int err = errno;
    struct stat st;
    if (::fstatat(fd_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      return false;
    }
    return Failure::FromErrno(err == ELOOP ? ENOTDIR : err, path);
  }
  child.fd_ = std::move(next);
  child.path_ = std::move(path);
  return true;
}

Result<UniqueFd> Folder::CreateTempFile(std::string_view base, uint32_t mode,
                                        std::string& name) const {
  return mv::CreateTempFile(fd_.get(), base, static_cast<mode_t>(mode), name);
}

int Folder::Rename(const std::string& from, const std::string& to) const {
  return ::renameat(fd_.get(), from.c_str(), fd_.get(), to.c_str()) == 0
             ? 0
             : errno;
}

void Folder::Remove(const std::string& name) const {
  ::unlinkat(fd_.get(), name.c_str(), 0);
}

void Folder::Close() {
  fd_.Close();
  path_.clear();
}

std::vector<std::string> ListFolder(const std::string& native) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(native.c_str()),
                                          ::closedir);
  while (dirent* e = dir ? ::readdir(dir.get()) : nullptr) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(std::move(n));
  }
  return names;
}

std::optional<uint64_t> FreeBytes(const std::string& native) {
  struct statvfs fs;
  if (::statvfs(native.c_str(), &fs) != 0) return std::nullopt;
  return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

std::optional<uint64_t> FileSizeLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 ||
      limit.rlim_cur == RLIM_INFINITY) {
    return std::nullopt;
  }
  return static_cast<uint64_t>(limit.rlim_cur);
}

}  // namespace mv
