#include "transport/partial_download.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "system/file_io.h"
#include "system/files.h"
#include "system/text.h"

namespace mv {

std::optional<PartialInfo> ReadPartialInfo(const std::string& path) {
  Result<std::string> text = ReadWholeFile(path);
  if (!text.ok()) return std::nullopt;
  std::vector<std::string_view> lines = SplitLines(text.value());
  if (lines.size() != 3) return std::nullopt;
  PartialInfo info;
  info.source = lines[0];
  char* end = nullptr;
  std::string size(lines[1]), time(lines[2]);
  info.size = std::strtoll(size.c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  info.time = std::strtoll(time.c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return info;
}

int OpenPartialFile(Env& env, const std::string& temp_path,
                    const std::string& info_path, const PartialInfo& now,
                    UniqueFd* file, int64_t* offset) {
  std::optional<PartialInfo> before = ReadPartialInfo(info_path);
  bool resume = now.Known() && before && *before == now;
  FileFacts st;
  // Only a partial file of our own is continued: an ordinary file with no
  // other name. Anything else under the name (a link, a file linked from
  // elsewhere) is removed, never followed or truncated, and the download
  // starts in a new file.
  if (resume) {
    resume = env.OpenFile(temp_path, FileOpen::kReadWrite, *file) == 0 &&
             env.FactsOfFd(file->get(), st) == 0 && st.ordinary &&
             st.links == 1;
  }
  int err = 0;
  if (!resume) {
    file->Close();
    env.RemoveFile(temp_path);
    err = env.OpenFile(temp_path, FileOpen::kCreateNew, *file);
  }
  *offset = 0;
  if (err == 0) err = env.FactsOfFd(file->get(), st);
  if (err != 0) return err;
  if (resume && st.size <= now.size) {
    *offset = st.size;
  } else if (st.size != 0) {
    // Only a partial file longer than the remote one is cut: ext4 writes
    // out a file truncated to nothing when it is closed, which would halve
    // the speed of every fresh download.
    if (err = env.TruncateFd(file->get(), 0); err != 0) return err;
  }
  if (err = SeekFd(file->get(), *offset); err != 0) return err;
  if (*offset == 0 &&
      !env.WriteFileAtomically(info_path, now.Serialize(), AtLink::kReplace)
           .ok()) {
    return EIO;
  }
  return 0;
}

int PutDownloadInPlace(Env& env, UniqueFd& file, const std::string& temp_path,
                       const std::string& info_path,
                       const std::string& target_path) {
  int err = file.Close() != 0 ? errno : 0;
  if (err == 0) err = env.RenameFile(temp_path, target_path);
  if (err == 0) {
    env.RemoveFile(info_path);
    return 0;
  }
  DropPartialFile(env, temp_path, info_path);
  return err;
}

void DropPartialFile(Env& env, const std::string& temp_path,
                     const std::string& info_path) {
  env.RemoveFile(temp_path);
  env.RemoveFile(info_path);
}

}  // namespace mv
