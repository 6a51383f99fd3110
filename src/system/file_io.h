// Files through descriptors, the same on every platform, for the layers
// above this one: opening, reading, writing, the facts of an open file,
// removing and renaming. The operations give 0 or an errno value (which
// Failure::FromErrno maps), so callers keep one way of reporting failures.
#ifndef MVUPDATE_SYSTEM_FILE_IO_H_
#define MVUPDATE_SYSTEM_FILE_IO_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "system/failure.h"
#include "system/unique_fd.h"

namespace mv {

enum class FileOpen {
  kRead,         // an existing file, for reading
  kReadNoWait,   // the same, without waiting for a FIFO's writer
  kReadWrite,    // an existing file, for both; never through a link
  kWriteNoWait,  // for writing, made when missing, not truncated; without
                 // waiting for a FIFO's reader; never through a link
  kCreateNew,    // a new file for both; an existing name or link fails
};

// Opens `native` (never inherited by programs this process starts).
int OpenFile(std::string_view native, FileOpen how, UniqueFd& fd);

// Opens a file for reading without waiting for a writer (FIFO) or a
// carrier (terminal); anything but an ordinary file is refused with 75,
// naming the file and what it is.
Result<UniqueFd> OpenOrdinaryFile(const std::string& native);

struct FileFacts {
  bool ordinary = false;
  bool folder = false;
  int64_t size = 0;
  bool readable_by_others = false;  // by users other than owner and group
  // Users other than the owner and the administrators (root) may change the
  // file, or replace the files of a folder.
  bool others_may_write = false;
  bool stream = false;   // a FIFO or a socket
  bool link = false;     // a symbolic link or another kind of link
  uint64_t links = 1;    // the names the file has
  int64_t modified = 0;  // last written, seconds since 1970 (UTC)
  uint64_t device = 0;   // with file_id: which file it is
  uint64_t file_id = 0;
  std::string_view kind;  // "a folder", "a FIFO", ... for messages
};
int FactsOfFd(int fd, FileFacts& facts);

// For the error about a file or folder (`native`) that others may change:
// who may change it without that ("its owner and root") and what to do
// about it ("let only its owner write it: chmod go-w"), in this platform's
// terms.
struct OthersMayWriteAdvice {
  std::string trusted;
  std::string remedy;
};
OthersMayWriteAdvice AdviceOnOthersWriting(std::string_view native);
// The facts of the file a path names (following links).
int FactsOfPath(std::string_view native, FileFacts& facts);
// The same for the entry itself: a link is described, not followed.
int FactsOfEntry(std::string_view native, FileFacts& facts);
// True when both paths name the same existing file.
bool SameFile(std::string_view a, std::string_view b);

// Reads up to `size` bytes into `data`; `got` is 0 at the end of the file.
int ReadFd(int fd, void* data, size_t size, size_t& got);
// The same at an offset, leaving the file position alone.
int ReadFdAt(int fd, void* data, size_t size, int64_t at, size_t& got);
// Writes all `size` bytes.
int WriteFd(int fd, const void* data, size_t size);
int TruncateFd(int fd, int64_t size);
int SeekFd(int fd, int64_t at);
// Sets the time of the last change (seconds since 1970, UTC).
int SetModifiedTime(int fd, int64_t unix_time);

int RemoveFile(std::string_view native);
// Removes whatever stands under the name: a file, a link (the link itself,
// not what it leads to), a FIFO, an empty folder.
int RemoveEntry(std::string_view native);
// Replaces `to` by `from` in one step.
int RenameFile(std::string_view from, std::string_view to);

// True when the stream is a terminal (a person watching).
bool IsTerminal(std::FILE* stream);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_FILE_IO_H_
