#include "system/run_lock.h"

#include <fcntl.h>
#include <io.h>

#include <string_view>
#include <vector>

#include "system/date_time.h"
#include "system/file_io.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/process.h"
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

UniqueHandle OpenLockFile(const std::string& path, bool create) {
  // Never through a link: one planted under the name is replaced instead.
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
  // A few attempts: each odd entry replaced costs one.
  for (int attempt = 0; attempt < 3; ++attempt) {
    UniqueHandle h = OpenLockFile(path_, true);
    int err = h ? 0 : LastErrno();
    if (err == ENOENT && attempt == 0) {
      // A missing Database folder is made, as start-up makes it.
      if (MakeFolder(ParentFolder(path_)).ok() ||
          FolderExists(ParentFolder(path_))) {
        continue;
      }
    }
    FileFacts facts;
    int n = -1;
    if (h) {
      n = ::_open_osfhandle(reinterpret_cast<intptr_t>(h.get()), _O_RDWR);
      if (n < 0) err = EMFILE;
    }
    if (n >= 0) {
      h.Release();
      fd_ = UniqueFd(n);
      err = FactsOfFd(fd_.get(), facts);
    }
    if (err != 0 || !facts.ordinary) {
      fd_.Close();
      // A link (a reparse point: the link itself goes, never what it leads
      // to) or an empty folder is replaced; an ordinary file never is.
      FileFacts entry;
      if (FactsOfEntry(path_, entry) == 0 && !entry.ordinary &&
          RemoveEntry(path_) == 0) {
        continue;
      }
      failure_ = err != 0 ? Failure::FromErrno(err, path_)
                          : Failure(kPathFileAccessError,
                                    path_ + " is not an ordinary file");
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
    std::string me =
        std::to_string(CurrentProcessId()) + "\n" + GeneralDate(Now()) + "\n";
    // Only the note about the holder depends on these writes; the lock holds
    // whatever they give. Closing the handle (or the end of the process)
    // gives the lock up.
    if (TruncateFd(fd_.get(), 0) == 0 && SeekFd(fd_.get(), 0) == 0) {
      WriteFd(fd_.get(), me.data(), me.size());
    }
    return Outcome::kTaken;
  }
  failure_ = Failure(kPathFileAccessError,
                     path_ + " keeps changing; no lock could be taken");
  return Outcome::kUnavailable;
}

}  // namespace mv
