#include "system/files.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "system/file_io.h"
#include "system/paths.h"
#include "system/windows/win32.h"

namespace mv {

namespace {

Failure ErrnoFailure(int err, const std::string& native) {
  return Failure::FromErrno(err, native);
}

std::string FolderOf(const std::string& native) {
  std::string folder = ParentFolder(native);
  return folder.empty() ? "." : folder;
}

// Entries of a folder with their attributes; "." and ".." left out.
struct Entry {
  std::string name;
  DWORD attributes;
};
int ReadFolder(const std::string& folder, std::vector<Entry>& out) {
  WIN32_FIND_DATAW data;
  std::wstring pattern = Widen(folder.empty() ? "." : folder) + L"\\*";
  HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return LastErrno();
  do {
    std::string name = Narrow(data.cFileName);
    if (name != "." && name != "..") {
      out.push_back({std::move(name), data.dwFileAttributes});
    }
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return 0;
}

bool Runs(int64_t pid) {
  UniqueHandle h(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
  if (!h) return ::GetLastError() == ERROR_ACCESS_DENIED;
  return ::WaitForSingleObject(h.get(), 0) == WAIT_TIMEOUT;
}

size_t RemoveLeftoversIn(const std::string& folder, bool recursive, int depth) {
  std::vector<Entry> entries;
  if (ReadFolder(folder, entries) != 0) return 0;
  size_t removed = 0;
  for (const Entry& e : entries) {
    std::string path = JoinName(folder, e.name);
    if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // Junctions and links to folders are not followed.
      if (recursive && depth < 64 &&
          !(e.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        removed += RemoveLeftoversIn(path, recursive, depth + 1);
      }
      continue;
    }
    std::optional<int64_t> owner = TempFileOwner(e.name);
    if (owner && !Runs(*owner) && RemoveFile(path) == 0) ++removed;
  }
  return removed;
}

// Writes through `fill` into a temporary file beside `target`, flushes it
// and moves it over the target in one step; the temporary file is removed
// on any failure.
template <typename Fill>
Status ReplaceFile(const std::string& target, Fill fill) {
  Result<Folder> dir = Folder::Open(FolderOf(target));
  if (!dir.ok()) return dir.failure();
  std::string base = BaseName(target), temp;
  Result<UniqueFd> fd = dir.value().CreateTempFile(base, 0666, temp);
  if (!fd.ok()) return fd.failure();
  UniqueFd& out = fd.value();
  Status st = fill(out.get());
  if (st.ok() && !::FlushFileBuffers(HandleOf(out.get()))) {
    st = ErrnoFailure(LastErrno(), target);
  }
  if (st.ok() && out.Close() != 0) st = ErrnoFailure(errno, target);
  out.Close();
  if (int err = st.ok() ? dir.value().Rename(temp, base) : 0; err != 0) {
    st = ErrnoFailure(err, target);
  }
  if (!st.ok()) dir.value().Remove(temp);
  return st;
}

// Copies the rest of `in` to `out` (when given), feeding `digest`.
Status Pour(int in, const std::string& from, int out, const std::string& to,
            Sha256* digest, int64_t max_bytes = 0) {
  std::vector<char> buf(1 << 16);
  int64_t copied = 0;  // a file that grows while copied is caught too
  for (;;) {
    size_t n = 0;
    if (int err = ReadFd(in, buf.data(), buf.size(), n); err != 0) {
      return ErrnoFailure(err, from);
    }
    if (n == 0) return Status::Ok();
    copied += static_cast<int64_t>(n);
    if (max_bytes > 0 && copied > max_bytes) return TooLarge(from, max_bytes);
    if (digest) digest->Update(buf.data(), n);
    if (out < 0) continue;
    if (int err = WriteFd(out, buf.data(), n); err != 0) {
      return ErrnoFailure(err, to);
    }
  }
}

// The file a link leads to, for writes that keep the link.
std::string FinalPath(const std::string& native) {
  std::wstring wide = Widen(native);
  if (!IsReparsePoint(wide)) return native;
  UniqueHandle h(::CreateFileW(
      wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return native;
  wchar_t buf[MAX_PATH * 4];
  DWORD n = ::GetFinalPathNameByHandleW(h.get(), buf, MAX_PATH * 4,
                                        FILE_NAME_NORMALIZED);
  if (n == 0 || n >= MAX_PATH * 4) return native;
  return Narrow(std::wstring_view(buf, n));
}

}  // namespace

Status CheckShareReachable(std::string_view native) {
  std::string share = UncShareFolder(native);
  if (share.empty()) return Status::Ok();
  DWORD attributes = ::GetFileAttributesW(Widen(share).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Failure(kPathFileAccessError);
  }
  return Status::Ok();
}

Status MakeFolder(std::string_view native) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s;
  std::string path(native);
  if (!::CreateDirectoryW(Widen(path).c_str(), nullptr)) {
    return ErrnoFailure(LastErrno(), path);
  }
  return Status::Ok();
}

Status ChangeFolder(std::string_view native) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s;
  std::string path(native);
  if (path.empty()) return Failure(kPathNotFound);
  if (!::SetCurrentDirectoryW(Widen(path).c_str())) {
    int err = LastErrno();
    return err == ENOENT ? Failure(kPathNotFound) : ErrnoFailure(err, path);
  }
  return Status::Ok();
}

std::string CurrentFolder() {
  DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring buf(n, L'\0');
  n = ::GetCurrentDirectoryW(n, buf.data());
  buf.resize(n);
  return Narrow(buf);
}

Result<Folder> Folder::Open(const std::string& native) {
  DWORD attributes = ::GetFileAttributesW(Widen(native).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return ErrnoFailure(LastErrno(), native);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return ErrnoFailure(ENOTDIR, native);
  }
  Folder folder;
  folder.path_ = native;
  return folder;
}

Result<bool> Folder::OpenChild(const std::string& name, bool make, bool& made,
                               Folder& child) const {
  std::string path = JoinName(path_, name);
  std::wstring wide = Widen(path);
  made = false;
  if (make) {
    if (::CreateDirectoryW(wide.c_str(), nullptr)) {
      made = true;
    } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      return ErrnoFailure(LastErrno(), path);
    }
  }
  DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return ErrnoFailure(LastErrno(), path);
  }
  // A junction or symbolic link would take what is written elsewhere.
  if (IsReparsePoint(wide)) return false;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return ErrnoFailure(ENOTDIR, path);
  }
  child.path_ = std::move(path);
  return true;
}

Result<UniqueFd> Folder::CreateTempFile(std::string_view base, uint32_t,
                                        std::string& name) const {
  return CreateUniquelyNamed(
      base, name, [&](const std::string& n, UniqueFd& fd) {
        return OpenFile(JoinName(path_, n), FileOpen::kCreateNew, fd);
      });
}

int Folder::Rename(const std::string& from, const std::string& to) const {
  return RenameFile(JoinName(path_, from), JoinName(path_, to));
}

void Folder::Remove(const std::string& name) const {
  RemoveFile(JoinName(path_, name));
}

void Folder::Close() { path_.clear(); }

size_t RemoveLeftoverTempFiles(std::string_view folder, bool recursive) {
  if (folder.find('\0') != std::string_view::npos) return 0;
  return RemoveLeftoversIn(std::string(folder), recursive, 0);
}

Status CopyFile(std::string_view from_native, std::string_view to_native,
                Sha256* digest, int64_t max_bytes) {
  if (Status s = CheckUsablePath(from_native); !s.ok()) return s;
  if (Status s = CheckUsablePath(to_native); !s.ok()) return s;
  std::string from(from_native), to(to_native);
  Result<UniqueFd> opened = OpenOrdinaryFile(from);
  if (!opened.ok()) return opened.failure();
  int in = opened.value().get();
  FileFacts target;
  if (FactsOfPath(to, target) == 0) {
    if (SameFile(from, to)) {
      // The same file: copying would truncate it; it is only read.
      return digest ? Pour(in, from, -1, to, digest) : Status::Ok();
    }
    if (target.folder) return Failure(kPathFileAccessError);
  }
  FileFacts source;
  if (int err = FactsOfFd(in, source); err != 0) return ErrnoFailure(err, from);
  if (max_bytes > 0 && source.size > max_bytes) {
    return TooLarge(from, max_bytes);
  }
  return ReplaceFile(
      to, [&](int out) { return Pour(in, from, out, to, digest, max_bytes); });
}

Result<std::vector<std::string>> ListFiles(std::string_view pattern_native) {
  if (Status s = CheckUsablePath(pattern_native); !s.ok()) {
    return s.failure();
  }
  std::string folder = ParentFolder(pattern_native);
  std::string pattern = BaseName(pattern_native);
  std::vector<Entry> entries;
  if (int err = ReadFolder(folder, entries); err != 0) {
    return err == ENOENT || err == ENOTDIR ? Failure(kPathNotFound)
                                           : ErrnoFailure(err, folder);
  }
  std::vector<std::string> names;
  for (Entry& e : entries) {
    if (e.name.empty() || e.name[0] == '.') continue;
    if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (WildcardMatch(pattern, e.name)) names.push_back(std::move(e.name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

Status DeleteFiles(std::string_view pattern_native) {
  Result<std::vector<std::string>> names = ListFiles(pattern_native);
  if (!names.ok()) return names.failure();
  if (names.value().empty()) return Failure(kFileNotFound);
  std::string folder = FolderOf(std::string(pattern_native));
  for (const std::string& name : names.value()) {
    std::string full = JoinName(folder, name);
    if (int err = RemoveFile(full); err != 0) return ErrnoFailure(err, full);
  }
  return Status::Ok();
}

Status WriteFileAtomically(std::string_view native, std::string_view contents,
                           AtLink at_link) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s;
  std::string target(native);
  if (at_link == AtLink::kWriteThrough) target = FinalPath(target);
  DWORD attributes = ::GetFileAttributesW(Widen(target).c_str());
  // A read-only file is left as it is, as the original platform leaves it.
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY)) {
    return Failure(kPermissionDenied);
  }
  return ReplaceFile(target, [&](int fd) -> Status {
    if (int err = WriteFd(fd, contents.data(), contents.size()); err != 0) {
      return ErrnoFailure(err, target);
    }
    return Status::Ok();
  });
}

Result<std::string> ReadWholeFile(std::string_view native, int64_t max_bytes) {
  if (Status s = CheckUsablePath(native); !s.ok()) return s.failure();
  std::string path(native);
  Result<UniqueFd> opened = OpenOrdinaryFile(path);
  if (!opened.ok()) return opened.failure();
  std::string out;
  std::vector<char> buf(1 << 16);
  for (;;) {
    size_t n = 0;
    if (int err = ReadFd(opened.value().get(), buf.data(), buf.size(), n);
        err != 0) {
      return ErrnoFailure(err, path);
    }
    if (n == 0) return out;
    out.append(buf.data(), n);
    if (max_bytes > 0 && std::ssize(out) > max_bytes) {
      return TooLarge(path, max_bytes);
    }
  }
}

bool FolderExists(std::string_view native) {
  if (native.find('\0') != std::string_view::npos) return false;
  DWORD attributes = ::GetFileAttributesW(Widen(native).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(std::string_view native) {
  if (native.find('\0') != std::string_view::npos) return false;
  return ::GetFileAttributesW(Widen(native).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListFolder(const std::string& native) {
  std::vector<Entry> entries;
  ReadFolder(native, entries);
  std::vector<std::string> names;
  for (Entry& e : entries) names.push_back(std::move(e.name));
  return names;
}

std::optional<uint64_t> FreeBytes(const std::string& native) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExW(Widen(native).c_str(), &available, nullptr,
                             nullptr)) {
    return std::nullopt;
  }
  return available.QuadPart;
}

std::optional<uint64_t> FileSizeLimit() { return std::nullopt; }

}  // namespace mv
