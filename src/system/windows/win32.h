// What the Windows implementations share: text at the Win32 boundary
// (UTF-8 inside the program, UTF-16 outside), Win32 errors as errno values,
// and handles owned the RAII way. Only system/windows/ includes it.
#ifndef MVUPDATE_SYSTEM_WINDOWS_WIN32_H_
#define MVUPDATE_SYSTEM_WINDOWS_WIN32_H_

#include <windows.h>
// The program's own names, not the ANSI/Unicode switches of <windows.h>.
#undef CopyFile

#include <string>
#include <string_view>
#include <utility>

namespace mv {

// UTF-16 of UTF-8 text. Bytes that are not valid UTF-8 are read in the
// system's ANSI code page, as names written by older programs are.
std::wstring Widen(std::string_view utf8);
// UTF-8 of UTF-16 text (an unpaired surrogate becomes U+FFFD).
std::string Narrow(std::wstring_view wide);

// The errno value closest to a Win32 error, for Failure::FromErrno.
int ErrnoFromWin32(DWORD error);
// The same for GetLastError().
int LastErrno();

// The Win32 handle behind a C run-time descriptor.
HANDLE HandleOf(int fd);

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  UniqueHandle(UniqueHandle&& o) noexcept
      : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) {
      Close();
      h_ = std::exchange(o.h_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Close(); }
  explicit operator bool() const {
    return h_ != INVALID_HANDLE_VALUE && h_ != nullptr;
  }
  HANDLE get() const { return h_; }
  // Gives the handle up without closing it.
  HANDLE Release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
  void Close() {
    if (*this) ::CloseHandle(std::exchange(h_, INVALID_HANDLE_VALUE));
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A registry key, closed when it goes.
class UniqueKey {
 public:
  UniqueKey() = default;
  UniqueKey(UniqueKey&& o) noexcept : k_(std::exchange(o.k_, nullptr)) {}
  UniqueKey& operator=(UniqueKey&&) = delete;
  UniqueKey(const UniqueKey&) = delete;
  ~UniqueKey() {
    if (k_ != nullptr) ::RegCloseKey(k_);
  }
  HKEY get() const { return k_; }
  HKEY* out() { return &k_; }

 private:
  HKEY k_ = nullptr;
};

// True when `path` names a reparse point (a junction, a symbolic link).
bool IsReparsePoint(const std::wstring& path);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_WINDOWS_WIN32_H_
