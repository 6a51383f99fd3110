// The partial file of a download that broke off, kept beside its target
// as ".<name>.mvpartial", with what it records about the remote file it is
// a part of in ".<name>.mvpartial-info"; a later attempt continues it only
// when all of that still holds.
#ifndef MVUPDATE_TRANSPORT_PARTIAL_DOWNLOAD_H_
#define MVUPDATE_TRANSPORT_PARTIAL_DOWNLOAD_H_

#include <cstdint>
#include <optional>
#include <string>

#include "system/env.h"
#include "system/unique_fd.h"

namespace mv {

struct PartialInfo {
  std::string source;  // host and remote path
  int64_t size = -1;
  int64_t time = -1;

  std::string Serialize() const {
    return source + "\n" + std::to_string(size) + "\n" + std::to_string(time) +
           "\n";
  }
  bool Known() const { return size >= 0 && time >= 0; }
  bool operator==(const PartialInfo&) const = default;
};

std::optional<PartialInfo> ReadPartialInfo(const std::string& path);

// Opens the partial file `temp_path` for a download of the remote file
// `now` describes: the part kept from before when `info_path` records the
// same file (its length in `offset`), else a new empty file whose info is
// written. The file is positioned at `offset`. Gives errno on a failure.
int OpenPartialFile(Env& env, const std::string& temp_path,
                    const std::string& info_path, const PartialInfo& now,
                    UniqueFd* file, int64_t* offset);

// Puts a complete download in place: closes `file` and renames `temp_path`
// over `target_path`, then removes the note at `info_path`. When that
// fails, an earlier file at the target stays as it was and the partial
// file and its note are removed (what failed here would fail again).
// Gives errno on a failure.
int PutDownloadInPlace(Env& env, UniqueFd& file, const std::string& temp_path,
                       const std::string& info_path,
                       const std::string& target_path);

// Removes a partial file and its note.
void DropPartialFile(Env& env, const std::string& temp_path,
                     const std::string& info_path);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_PARTIAL_DOWNLOAD_H_
