// File system operations the utility needs, on native paths (see paths.h),
// with failures from the catalogue of failure.h.
#ifndef MVUPDATE_SYSTEM_FILES_H_
#define MVUPDATE_SYSTEM_FILES_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/crypto.h"
#include "system/failure.h"
#include "system/unique_fd.h"

namespace mv {

// Matches a file name against a pattern with "*" and "?", ignoring case as
// the original file system does. "*.*" matches every name, also one without
// a dot.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// A path below the UNC root whose server or share folder is missing or
// unreadable fails with 75, as an unshared folder does; other paths pass.
Status CheckShareReachable(std::string_view native);

// Every operation below checks its paths first: a NUL byte (which the system
// calls would silently cut the path at) gives 52 (Bad file name or number),
// then CheckShareReachable.
Status CheckUsablePath(std::string_view native);

// Makes a new file that is to replace `base`, for Folder::CreateTempFile:
// tries fresh names ".<base>.mvtmp-<pid>-<12 random hex digits>" (within the
// 255 bytes a file name may have) with `create`, which makes the file
// exclusively and gives 0 or an errno value, until one is free.
Result<UniqueFd> CreateUniquelyNamed(
    std::string_view base, std::string& name,
    const std::function<int(const std::string& name, UniqueFd& fd)>& create);

// Creates one folder level; the parent must exist. An existing entry gives
// 58 (File already exists).
Status MakeFolder(std::string_view native);

// Makes `native` the process's current directory.
Status ChangeFolder(std::string_view native);

// The process's current directory.
std::string CurrentFolder();

// A folder held open while files are written into it, reached one level at
// a time without following links, so that nothing written through it lands
// outside it (UNZIP's folders).
class Folder {
 public:
  Folder() = default;
  // Opens `native` itself (links on its way are the caller's choice).
  static Result<Folder> Open(const std::string& native);
  // Makes the sub-folder `name` when `make` is set and it is missing
  // (`made` says whether it was made), then opens it as `child`. Gives
  // false when `name` is a symbolic link or another kind of link.
  Result<bool> OpenChild(const std::string& name, bool make, bool& made,
                         Folder& child) const;
  // Makes a new, empty file here that is to replace `base`, named
  // ".<base>.mvtmp-<pid>-<random>" and stored in `name`. It is created
  // exclusively and never through a link, so no link or file planted under
  // any name is followed or truncated, and the name cannot be predicted.
  // `mode` holds the permission bits where the platform has them.
  Result<UniqueFd> CreateTempFile(std::string_view base, uint32_t mode,
                                  std::string& name) const;
  // Renames `from` over `to`, both in this folder; 0 or an errno value.
  int Rename(const std::string& from, const std::string& to) const;
  void Remove(const std::string& name) const;

  explicit operator bool() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  void Close();

 private:
  UniqueFd fd_;  // the open folder where the platform opens folders
  std::string path_;
};

// The names in a folder (every kind of entry, without "." and ".."); none
// when it cannot be read.
std::vector<std::string> ListFolder(const std::string& native);
// The bytes this user may still write to the file system of `native`.
std::optional<uint64_t> FreeBytes(const std::string& native);
// The largest file this process may write, when it is limited.
std::optional<uint64_t> FileSizeLimit();

// The process id in a temporary file name of this utility (the names
// CreateTempFile makes and those of earlier versions), or nothing.
std::optional<int64_t> TempFileOwner(std::string_view name);

// Removes the temporary files that processes of this utility which no
// longer run left in `folder` (and its sub-folders when `recursive`; links
// to folders are not followed): the names CreateTempFile makes and those of
// earlier versions (".<name>.mvtmp-<pid>", ".mvunzip-<pid>-<n>",
// ".<name>.part-<pid>-<n>"). A download's partial file, kept for resuming
// (".<name>.mvpartial", ".<name>.mvpartial-info"), stays. Gives the number
// removed.
size_t RemoveLeftoverTempFiles(std::string_view folder, bool recursive);

// A download's partial file in a folder (".<name>.mvpartial", beside its
// note ".<name>.mvpartial-info"): the name of the file it becomes, and how
// long ago it was last written.
struct PartialDownload {
  std::string folder;
  std::string name;
  int64_t idle_seconds = 0;
};

class Env;

// The partial downloads of `folder` (none when it cannot be read), aged by
// `env`'s clock.
std::vector<PartialDownload> ListPartialDownloads(Env& env,
                                                  std::string_view folder);

// Removes a partial download and its note.
Status RemovePartialDownload(Env& env, const PartialDownload& partial);

// Copies a file, replacing the target. The copy is written under a temporary
// name in the target's folder and renamed when complete, so a failed copy
// never leaves a partial target; the source's permission bits are kept.
// Copying a file onto itself leaves it untouched. The bytes copied are fed
// to `digest` when one is given. A symbolic link at the target is replaced
// by the copy; what it leads to is left alone. Only an ordinary file is
// copied; anything else (a FIFO, a device) is refused with 75. With
// `max_bytes`, a source larger than that is refused with 6 (TooLarge) and
// nothing is kept: the bytes are counted as they are copied.
Status CopyFile(std::string_view from_native, std::string_view to_native,
                Sha256* digest = nullptr, int64_t max_bytes = 0);

// Ordinary files (not folders, not hidden "." names) of the folder part of
// `pattern_native` whose names match its last part; names only, in name
// order. A missing folder gives 76.
Result<std::vector<std::string>> ListFiles(std::string_view pattern_native);

// Deletes every ordinary file that matches the last part of the pattern.
// No matching file gives 53.
Status DeleteFiles(std::string_view pattern_native);

// What a write does with a symbolic link at the name it writes.
enum class AtLink {
  // The link is replaced by the file; what it led to stays as it was. For
  // work files, where a link can only have been planted.
  kReplace,
  // The file the link leads to is replaced (in its own folder) and the link
  // stays. For the configuration files an administrator may keep elsewhere.
  kWriteThrough,
};

// Writes `contents` to a temporary file in the folder of `native`, flushes it
// and renames it over `native`. An existing file that may not be written
// (no write permission for this user, or none for anybody) is not replaced:
// 70 (Permission denied).
Status WriteFileAtomically(std::string_view native, std::string_view contents,
                           AtLink at_link = AtLink::kReplace);

// Reads a whole ordinary file. The file is opened without waiting (a FIFO
// with no writer would hold the reader for ever) and anything but an
// ordinary file is refused with 75, naming the file and what it is. With
// `max_bytes`, a larger file is refused with 6 (TooLarge) before it is
// read whole.
Result<std::string> ReadWholeFile(std::string_view native,
                                  int64_t max_bytes = 0);

// 6, "<native> is larger than <max_bytes>; ...": a file refused for its
// size. Sizes are said in MiB or KiB when they are whole ones.
Failure TooLarge(std::string_view native, int64_t max_bytes);
// "1 MiB", "16 KiB", "100 bytes".
std::string SizeText(int64_t bytes);

// True when `native` names an existing folder.
bool FolderExists(std::string_view native);
// True when `native` names an existing entry of any kind.
bool PathExists(std::string_view native);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_FILES_H_
