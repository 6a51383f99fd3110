#include "system/windows/win32.h"

#include <io.h>

#include <cerrno>

namespace mv {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  auto size = static_cast<int>(utf8.size());
  // Names in control files written by older programs are in the ANSI code
  // page; valid UTF-8 is taken as UTF-8, as the rest of the program does.
  UINT page = CP_UTF8;
  int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                size, nullptr, 0);
  if (n == 0) {
    page = CP_ACP;
    n = ::MultiByteToWideChar(CP_ACP, 0, utf8.data(), size, nullptr, 0);
  }
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(page, 0, utf8.data(), size, out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  auto size = static_cast<int>(wide.size());
  int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0,
                                nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr,
                        nullptr);
  return out;
}

int ErrnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    // A missing folder on the way is ENOENT, as on POSIX: FromErrno tells
    // a missing file (53) from a missing folder (76) by looking.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    default:
      return EIO;
  }
}

int LastErrno() { return ErrnoFromWin32(::GetLastError()); }

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool IsReparsePoint(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  // Asked of the entry itself, not of what it leads to.
  UniqueHandle h(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  return h &&
         ::GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &tag,
                                        sizeof tag) &&
         ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
          tag.ReparseTag != 0);
}

}  // namespace mv
