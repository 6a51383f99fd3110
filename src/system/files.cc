#include "system/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>
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

std::string TempNameFor(const std::string& target) {
  std::string folder = ParentFolder(target);
  std::string base = BaseName(target);
  return (folder.empty() ? "" : (folder == "/" ? "/" : folder + "/")) + "." +
         base + ".mvtmp-" + std::to_string(::getpid());
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

// Writes through `fill` into a temporary file beside `target`, then renames
// it over the target. The temporary file is removed on any failure.
template <typename Fill>
Status ReplaceFile(const std::string& target, mode_t mode, Fill fill) {
  std::string temp = TempNameFor(target);
  UniqueFd fd(
      ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  if (!fd) return ErrnoFailure(target);
  Status st = fill(fd.get());
  if (st.ok() && ::fchmod(fd.get(), mode) != 0) st = ErrnoFailure(target);
  if (st.ok() && ::fsync(fd.get()) != 0) st = ErrnoFailure(target);
  if (st.ok() && fd.Close() != 0) st = ErrnoFailure(target);
  if (st.ok() && ::rename(temp.c_str(), target.c_str()) != 0) {
    st = ErrnoFailure(target);
  }
  if (!st.ok()) ::unlink(temp.c_str());
  return st;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  return MatchFrom(pattern, name);
}

bool HasWildcards(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
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
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return ErrnoFailure(from);
  struct stat src;
  if (::fstat(in.get(), &src) != 0) return ErrnoFailure(from);
  if (S_ISDIR(src.st_mode)) return Failure(kPathFileAccessError);
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

Status WriteFileAtomically(std::string_view native, std::string_view contents) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s;
  std::string target = ResolveCase(native);
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
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return ErrnoFailure(path);
  struct stat st;
  if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return Failure(kPathFileAccessError);
  }
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
