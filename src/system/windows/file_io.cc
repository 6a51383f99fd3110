#include "system/file_io.h"

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <algorithm>
#include <cerrno>

#include "system/windows/win32.h"

namespace mv {

namespace {

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a handle for the facts of a file or folder (its attributes and its
// access list; no access to its data).
UniqueHandle OpenForFacts(std::string_view native, bool follow) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (!follow) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  return UniqueHandle(
      ::CreateFileW(Widen(native).c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                    kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
}

// Users that may change anything anyway: the file's owner, the system, the
// administrators, the installer service, and "creator owner" (which stands
// for the owner of what is made below a folder).
bool Trusted(PSID sid, PSID owner) {
  if (owner != nullptr && ::EqualSid(sid, owner)) return true;
  if (::IsWellKnownSid(sid, WinLocalSystemSid) ||
      ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
      ::IsWellKnownSid(sid, WinCreatorOwnerSid)) {
    return true;
  }
  LPWSTR text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return false;
  bool installer = std::wstring_view(text) ==
                   L"S-1-5-80-956008885-3418522649-1831038044-1850803288-"
                   L"2556790080";
  ::LocalFree(text);
  return installer;
}

// Whether the access list lets a user who is not trusted change the file,
// or replace the files of a folder: an entry that allows writing it,
// deleting or renaming it, or changing its access list or owner, to
// anybody else. Adding new files to a folder does not count (Windows lets
// every user add files below %ProgramData%): a folder counts only when
// others may delete what is in it, as a Linux folder with the sticky bit.
// Entries that deny are not weighed, so the answer errs towards "yes"; an
// access list that cannot be read, or none at all (everybody may do
// everything), is a "yes".
bool OthersMayWrite(HANDLE h, bool folder) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (::GetSecurityInfo(h, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &owner, nullptr, &dacl, nullptr,
                        &sd) != ERROR_SUCCESS) {
    return true;
  }
  const DWORD changes =
      DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL |
      (folder ? FILE_DELETE_CHILD
              : FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE);
  bool others = dacl == nullptr;
  for (DWORD i = 0; !others && i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(dacl, i, &entry)) {
      others = true;
      break;
    }
    auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // not for this one
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & changes) == 0) continue;
    others = !Trusted(reinterpret_cast<PSID>(&allowed->SidStart), owner);
  }
  ::LocalFree(sd);
  return others;
}

int Describe(HANDLE h, FileFacts& facts) {
  facts = FileFacts();
  DWORD type = ::GetFileType(h);
  if (type == FILE_TYPE_PIPE) {
    facts.stream = true;
    facts.kind = "a FIFO";
    return 0;
  }
  if (type == FILE_TYPE_CHAR) {
    facts.kind = "a character device";
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return LastErrno();
  facts.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.ordinary = !facts.folder && !facts.link;
  facts.size = static_cast<int64_t>(
      (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  facts.links = info.nNumberOfLinks;
  // FILETIME counts 100 ns steps since 1601.
  uint64_t written =
      (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime;
  facts.modified = static_cast<int64_t>(written / 10000000) - 11644473600LL;
  facts.device = info.dwVolumeSerialNumber;
  facts.file_id =
      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  facts.others_may_write = OthersMayWrite(h, facts.folder);
  facts.kind = facts.folder ? "a folder"
               : facts.link ? "a link"
                            : "an ordinary file";
  return 0;
}

// The descriptor's position, to restore after a positioned read.
int64_t Position(HANDLE h) {
  LARGE_INTEGER zero{}, at{};
  ::SetFilePointerEx(h, zero, &at, FILE_CURRENT);
  return at.QuadPart;
}

int SetPosition(HANDLE h, int64_t at) {
  LARGE_INTEGER to{};
  to.QuadPart = at;
  return ::SetFilePointerEx(h, to, nullptr, FILE_BEGIN) ? 0 : LastErrno();
}

}  // namespace

int OpenFile(std::string_view native, FileOpen how, UniqueFd& fd) {
  DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
  DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS;
  int crt = _O_RDONLY;
  switch (how) {
    case FileOpen::kRead:
    case FileOpen::kReadNoWait:
      break;
    case FileOpen::kReadWrite:
      access |= GENERIC_WRITE;
      flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
      crt = _O_RDWR;
      break;
    case FileOpen::kWriteNoWait:
      access = GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
      crt = _O_WRONLY;
      break;
    case FileOpen::kCreateNew:
      access |= GENERIC_WRITE;
      disposition = CREATE_NEW;
      flags = FILE_ATTRIBUTE_NORMAL;
      crt = _O_RDWR;
      break;
  }
  // The handle is not inheritable: no security attributes say so.
  UniqueHandle h(::CreateFileW(Widen(native).c_str(), access, kShareAll,
                               nullptr, disposition, flags, nullptr));
  if (!h) return LastErrno();
  if (how == FileOpen::kReadWrite || how == FileOpen::kWriteNoWait) {
    FileFacts facts;
    if (Describe(h.get(), facts) == 0 && facts.link) return ELOOP;
  }
  int n = ::_open_osfhandle(reinterpret_cast<intptr_t>(h.get()), crt);
  if (n < 0) return EMFILE;
  h.Release();  // the descriptor owns the handle now
  fd = UniqueFd(n);
  return 0;
}

Result<UniqueFd> OpenOrdinaryFile(const std::string& native) {
  UniqueFd fd;
  FileFacts facts;
  int err = OpenFile(native, FileOpen::kReadNoWait, fd);
  if (err == 0) err = FactsOfFd(fd.get(), facts);
  if (err != 0) return Failure::FromErrno(err, native);
  if (!facts.ordinary) {
    return Failure(kPathFileAccessError,
                   std::string(DescribeFailure(kPathFileAccessError)) + " (" +
                       native + " is " + std::string(facts.kind) +
                       ", not an ordinary file)");
  }
  return fd;
}

int FactsOfFd(int fd, FileFacts& facts) {
  HANDLE h = HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE) return EBADF;
  return Describe(h, facts);
}

int FactsOfPath(std::string_view native, FileFacts& facts) {
  UniqueHandle h = OpenForFacts(native, true);
  return h ? Describe(h.get(), facts) : LastErrno();
}

int FactsOfEntry(std::string_view native, FileFacts& facts) {
  UniqueHandle h = OpenForFacts(native, false);
  return h ? Describe(h.get(), facts) : LastErrno();
}

bool SameFile(std::string_view a, std::string_view b) {
  FileFacts fa, fb;
  return FactsOfPath(a, fa) == 0 && FactsOfPath(b, fb) == 0 &&
         fa.device == fb.device && fa.file_id == fb.file_id;
}

int ReadFd(int fd, void* data, size_t size, size_t& got) {
  DWORD n = 0;
  auto want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  if (!::ReadFile(HandleOf(fd), data, want, &n, nullptr)) {
    // A pipe whose writer has gone is at its end.
    if (::GetLastError() == ERROR_BROKEN_PIPE)
      n = 0;
    else
      return LastErrno();
  }
  got = n;
  return 0;
}

int ReadFdAt(int fd, void* data, size_t size, int64_t at, size_t& got) {
  HANDLE h = HandleOf(fd);
  int64_t was = Position(h);
  if (int err = SetPosition(h, at); err != 0) return err;
  int err = ReadFd(fd, data, size, got);
  SetPosition(h, was);
  return err;
}

int WriteFd(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD n = 0;
    auto want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!::WriteFile(HandleOf(fd), p, want, &n, nullptr)) return LastErrno();
    p += n;
    size -= n;
  }
  return 0;
}

int TruncateFd(int fd, int64_t size) {
  HANDLE h = HandleOf(fd);
  int64_t was = Position(h);
  int err = SetPosition(h, size);
  if (err == 0 && !::SetEndOfFile(h)) err = LastErrno();
  SetPosition(h, was);
  return err;
}

int SeekFd(int fd, int64_t at) { return SetPosition(HandleOf(fd), at); }

int SetModifiedTime(int fd, int64_t unix_time) {
  // FILETIME counts 100 ns steps since 1601.
  uint64_t ticks = static_cast<uint64_t>(unix_time + 11644473600LL) * 10000000;
  FILETIME t{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  return ::SetFileTime(HandleOf(fd), nullptr, nullptr, &t) ? 0 : LastErrno();
}

int RemoveFile(std::string_view native) {
  return ::DeleteFileW(Widen(native).c_str()) ? 0 : LastErrno();
}

int RemoveEntry(std::string_view native) {
  std::wstring wide = Widen(native);
  if (::DeleteFileW(wide.c_str())) return 0;
  // A folder, or a link to one (removed itself, not what it leads to).
  return ::RemoveDirectoryW(wide.c_str()) ? 0 : LastErrno();
}

int RenameFile(std::string_view from, std::string_view to) {
  return ::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : LastErrno();
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

OthersMayWriteAdvice AdviceOnOthersWriting(std::string_view native) {
  // Appended piece by piece: a literal + std::string makes g++ 12 at -O3
  // report a false -Wrestrict (GCC bug 105329).
  std::string quoted = "\"";
  quoted += native;
  quoted += '"';
  std::string remedy =
      "remove the entries of its access list that let other users write or "
      "delete it: icacls ";
  remedy += quoted;
  remedy += " lists them, icacls ";
  remedy += quoted;
  remedy += " /inheritance:d /remove:g <user or group> removes one";
  return {"its owner, SYSTEM and the administrators", remedy};
}

}  // namespace mv
