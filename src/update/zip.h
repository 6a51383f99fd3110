// The archive services of the UNZIP and ZIP commands: extract the entries of
// a zip archive that match a file pattern into a folder, and build an
// archive from the files that match one.
//
// Names come from control files: "\" or "/" separators, relative names
// resolved against the process's current directory, case ignored for files
// and folders that already exist.
//
// Options (fixed; every call works the same way):
//
// Extraction
//   - Existing files are replaced. Each file is written under a temporary
//     name in its folder and renamed over the target when it is complete and
//     its checksum is right, so a damaged entry never replaces a good file.
//   - Entry paths are kept below the destination folder; missing folders
//     (the destination included) are made, folder entries become folders.
//     "\" in an entry name separates folders as "/" does.
//   - An entry is refused (kArchiveEntryUnsafe) when its name is absolute
//     ("/x", "C:\x", "C:x"), holds a ".." component or is empty, when it
//     is a symbolic link, or when one of its folders in the destination is a
//     symbolic link (folders are opened one by one without following
//     links); the other entries are still extracted.
//   - Matching entries whose sizes together exceed the destination's free
//     space, or one larger than the process may write (RLIMIT_FSIZE), make
//     the whole extraction fail (kArchiveWriteFailed, with a line saying
//     why) before anything is written; an entry that holds more data than
//     its stated size is damaged.
//   - Entry names are UTF-8 when they are valid UTF-8; other names are read
//     as code page 437 (what zip tools write without the UTF-8 flag) and
//     extracted under their UTF-8 form, with a line that reports it.
//   - Files keep the permission bits and time stamp stored in the archive.
//
// Archiving
//   - Files that match the file pattern are taken from the folder
//     that the pattern names (the current directory when it names none) and
//     from all of its sub-folders. Entries are named by their path relative to
//     the current directory with "/" separators; folders get no entries of
//     their own, so empty folders are not stored. Hidden (dot) files are taken
//     like any other. Symbolic links to files are stored as the file they
//     name; links to folders are not followed. The archive never holds
//     itself.
//   - Entries are deflated at level kZipCompressionLevel.
//   - The archive is written under a temporary name and renamed when
//     complete: a failed zip leaves no archive behind. A file that cannot be
//     read is left out (kArchiveSourceUnreadable, with a line naming it).
//
// File patterns (both directions)
//   - Several patterns separated by blanks; "*" and "?" wildcards; letters
//     match without regard to case. "*.*" matches every name. A pattern,
//     archive name or destination holding a NUL byte names nothing.
//   - Extraction matches a pattern against the whole entry name, where "*"
//     also spans folders ("*.dll" matches "Bin/Core.dll").
//   - Archiving matches the last part of a pattern against file names in the
//     pattern's folder and below it ("Data\*.txt").
#ifndef MVUPDATE_UPDATE_ZIP_H_
#define MVUPDATE_UPDATE_ZIP_H_

#include <cstdint>
#include <functional>
#include <string_view>

#include "log/run_log.h"
#include "system/env.h"

namespace mv {

inline constexpr int kZipCompressionLevel = 5;

// Result codes of UnZipFiles and ZipFiles. When several problems occur in
// one call, the code of the first is the result; each entry or file that
// caused one is named on its own "!!! " line.
enum ArchiveResult : int16_t {
  kArchiveOk = 0,
  // The archive to extract does not exist (or no archive name was given).
  kArchiveNotFound = 1,
  // The archive exists but cannot be opened (permissions, a folder).
  kArchiveUnreadable = 2,
  // The archive is not a zip archive or its directory is damaged; nothing
  // is extracted.
  kArchiveCorrupt = 3,
  // An entry cannot be read back intact (checksum error, truncated or
  // invalid data, unsupported compression or encryption); it is skipped.
  kArchiveEntryDamaged = 4,
  // An entry would be written outside the destination (also through a
  // link), or is a link; it is skipped.
  kArchiveEntryUnsafe = 5,
  // A folder or file cannot be made at the destination, the entries do not
  // fit there (nothing is extracted), or the archive cannot be written.
  kArchiveWriteFailed = 6,
  // No entry, or no file, matches the file pattern; for ZipFiles no
  // archive is made.
  kArchiveNothingMatched = 7,
  // A file to be archived cannot be read; it is left out.
  kArchiveSourceUnreadable = 8,
};

// Called as a file is extracted or archived: file `item` of `items` (from
// 1), `done` of its `total` bytes. Runs on the thread doing the work.
using ArchiveProgress = std::function<void(
    std::string_view name, int item, int items, int64_t done, int64_t total)>;

// Extracts the entries of `zip_file` that match `file_spec` into the folder
// `destination`. Logs the three value lines and, for a result other than 0,
// the result code alone on an Error line (a Warning line for 7: nothing to
// extract is not a failure). Gives the result code. Files are written, and
// free space and size limits learnt, through `env`.
int16_t UnZipFiles(Env& env, RunLog& log, std::string_view zip_file,
                   std::string_view destination, std::string_view file_spec,
                   const ArchiveProgress& progress = {});

// Deletes `archive` (wildcards honoured) and builds it anew from the files
// that match `file_spec`. Logs the two value lines, a Warning when there was
// nothing to delete, and "!!! Could not zip: " with the code for a result
// other than 0 (at Warning level for 7). Gives the result code.
int16_t ZipFiles(RunLog& log, std::string_view archive,
                 std::string_view file_spec,
                 const ArchiveProgress& progress = {});

}  // namespace mv

#endif  // MVUPDATE_UPDATE_ZIP_H_
