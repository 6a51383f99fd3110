#include "system/run_lock.h"

#include <fcntl.h>
#include <io.h>

#include <string_view>
#include <vector>

#include "system/date_time.h"
#include "system/file_io.h"
#include "system/text.h"
#include "system/windows/win32.h"

namespace mv {

namespace {

// The lock covers one byte far beyond the file's end: a locked range may
// not be read by others, and the holder's note at the start must be.
constexpr DWORD kLockOffsetHigh = 0x40000000;

bool Lock(HANDLE h) {
  OVERLAPPED at = {};
  at.OffsetHigh = kLockOffsetHigh;
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                      1, 0, &at);
}

void Unlock(HANDLE h) {
  OVERLAPPED at = {};
  at.OffsetHigh = kLockOffsetHigh;
  ::UnlockFileEx(h, 0, 1, 0, &at);
}

UniqueHandle OpenLockFile(const std::string& path, bool create) {
  return UniqueHandle(::CreateFileW(
      Widen(path).c_str(), GENERIC_READ | (create ? GENERIC_WRITE : 0),
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      create ? OPEN_ALWAYS : OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::string ReadHolder(int fd) {
  char buf[256];
  size_t n = 0;
  if (ReadFdAt(fd, buf, sizeof buf - 1, 0, n) != 0 || n == 0) {
    return "process unknown";
  }
  std::vector<std::string_view> lines = SplitLines(std::string_view(buf, n));
  std::string text = "process " + std::string(lines.empty() ? "?" : lines[0]);
  if (lines.size() > 1) text += ", started " + std::string(lines[1]);
  return text;
}

}  // namespace

RunLock::Outcome RunLock::Acquire() {
  UniqueHandle h = OpenLockFile(path_, true);
  if (!h) {
    failure_ = Failure::FromErrno(LastErrno(), path_);
    return Outcome::kUnavailable;
  }
  int n = ::_open_osfhandle(reinterpret_cast<intptr_t>(h.get()), _O_RDWR);
  if (n < 0) {
    failure_ = Failure::FromErrno(EMFILE, path_);
    return Outcome::kUnavailable;
  }
  h.Release();
  fd_ = UniqueFd(n);
  FileFacts facts;
  if (FactsOfFd(fd_.get(), facts) != 0 || !facts.ordinary) {
    failure_ = Failure(kPathFileAccessError, "not an ordinary file");
    fd_.Close();
    return Outcome::kUnavailable;
  }
  if (!Lock(HandleOf(fd_.get()))) {
    DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
      holder_ = ReadHolder(fd_.get());
      fd_.Close();
      return Outcome::kHeld;
    }
    failure_ = Failure::FromErrno(ErrnoFromWin32(error), path_);
    fd_.Close();
    return Outcome::kUnavailable;
  }
  std::string me = std::to_string(::GetCurrentProcessId()) + "\n" +
                   GeneralDate(Now()) + "\n";
  // Only the note about the holder depends on these writes; the lock holds
  // whatever they give. Closing the handle (or the end of the process)
  // gives the lock up.
  if (TruncateFd(fd_.get(), 0) == 0 && SeekFd(fd_.get(), 0) == 0) {
    WriteFd(fd_.get(), me.data(), me.size());
  }
  return Outcome::kTaken;
}

bool RunLock::HeldByOther() const {
  // Windows cannot ask about a lock without trying it: the lock is taken
  // for that moment and given back at once.
  UniqueHandle h = OpenLockFile(path_, false);
  if (!h) return false;
  if (!Lock(h.get())) return ::GetLastError() == ERROR_LOCK_VIOLATION;
  Unlock(h.get());
  return false;
}

}  // namespace mv
