#include "system/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
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

#include "system/paths.h"
#include "system/unique_fd.h"

namespace mv {

namespace {

bool MatchFrom(std::string_view p, std::string_view n) {
  // Iterative glob with one back-tracking point for the last "*".
  size_t pi = 0, ni = 0, star = std::string_view::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (pi < p.size() &&
               (p[pi] == '?' ||
                std::tolower(static_cast<unsigned char>(p[pi])) ==
                    std::tolower(static_cast<unsigned char>(n[ni])))) {
      ++pi;
      ++ni;
    } else if (star != std::string_view::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

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

// Opens a file for reading without waiting for a writer (FIFO) or a
// carrier (terminal); gives the failure for anything but an ordinary file.
Result<UniqueFd> OpenOrdinaryFile(const std::string& path) {
  UniqueFd fd(
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return ErrnoFailure(path);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return ErrnoFailure(path);
  if (!S_ISREG(st.st_mode)) return NotOrdinary(path, st.st_mode);
  return fd;
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

// The process id of a temporary file name of this utility, or nothing.
std::optional<pid_t> TempFileOwner(std::string_view name) {
  if (name.size() < 2 || name[0] != '.') return std::nullopt;
  auto digits = [](std::string_view text) {
    return !text.empty() && text.size() < 10 &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  auto hex = [](std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
  };
  std::string_view pid, rest;
  if (name.starts_with(".mvunzip-")) {
    std::string_view tail = name.substr(9);
    size_t dash = tail.find('-');
    if (dash == std::string_view::npos || !digits(tail.substr(dash + 1))) {
      return std::nullopt;
    }
    pid = tail.substr(0, dash);
  } else {
    for (std::string_view mark : {".mvtmp-", ".part-"}) {
      size_t at = name.rfind(mark);
      if (at == std::string_view::npos || at == 0) continue;
      std::string_view tail = name.substr(at + mark.size());
      size_t dash = tail.find('-');
      pid = tail.substr(0, dash);
      rest = dash == std::string_view::npos ? "" : tail.substr(dash + 1);
      bool ok =
          mark == ".part-" ? digits(rest) : (dash == tail.npos || hex(rest));
      if (!ok) pid = {};
      break;
    }
  }
  if (!digits(pid)) return std::nullopt;
  return static_cast<pid_t>(std::stol(std::string(pid)));
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
    std::optional<pid_t> owner = TempFileOwner(name);
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
  // The name stays within the 255 bytes a file name may have.
  std::string prefix = "." + std::string(base.substr(0, 200)) + ".mvtmp-" +
                       std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6];
    if (::getrandom(random, sizeof random, 0) != sizeof random) {
      return ErrnoFailure(prefix);
    }
    name = prefix;
    for (unsigned char b : random) {
      name.push_back("0123456789abcdef"[b >> 4]);
      name.push_back("0123456789abcdef"[b & 15]);
    }
    UniqueFd fd(::openat(dir_fd, name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         mode & 0777));
    if (fd) return fd;
    if (errno != EEXIST) return ErrnoFailure(name);
  }
  return Failure(kFileAlreadyExists);
}

size_t RemoveLeftoverTempFiles(std::string_view folder, bool recursive) {
  if (folder.find('\0') != std::string_view::npos) return 0;
  std::string path(folder);
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd < 0 ? 0 : RemoveLeftoversIn(fd, recursive, 0);
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  return MatchFrom(pattern, name);
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

Status CheckUsablePath(std::string_view native) {
  if (native.find('\0') != std::string_view::npos) return Failure(kBadFileName);
  return CheckShareReachable(native);
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
                Sha256* digest) {
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
  return ReplaceFile(to, src.st_mode & 07777, [&](int out) -> Status {
    std::vector<char> buf(1 << 16);
    for (;;) {
      ssize_t n = ::read(in.get(), buf.data(), buf.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrnoFailure(from);
      }
      if (n == 0) return Status::Ok();
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

Result<std::string> ReadWholeFile(std::string_view native) {
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

}  // namespace mv
