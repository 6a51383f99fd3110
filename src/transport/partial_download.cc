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

int OpenPartialFile(const std::string& temp_path, const std::string& info_path,
                    const PartialInfo& now, UniqueFd* file, int64_t* offset) {
  std::optional<PartialInfo> before = ReadPartialInfo(info_path);
  bool resume = now.Known() && before && *before == now;
  FileFacts st;
  // Only a partial file of our own is continued: an ordinary file with no
  // other name. Anything else under the name (a link, a file linked from
  // elsewhere) is removed, never followed or truncated, and the download
  // starts in a new file.
  if (resume) {
    resume = OpenFile(temp_path, FileOpen::kReadWrite, *file) == 0 &&
             FactsOfFd(file->get(), st) == 0 && st.ordinary && st.links == 1;
  }
  int err = 0;
  if (!resume) {
    file->Close();
    RemoveFile(temp_path);
    err = OpenFile(temp_path, FileOpen::kCreateNew, *file);
  }
  *offset = 0;
  if (err == 0) err = FactsOfFd(file->get(), st);
  if (err != 0) return err;
  if (resume && st.size <= now.size) {
    *offset = st.size;
  } else if (st.size != 0) {
    // Only a partial file longer than the remote one is cut: ext4 writes
    // out a file truncated to nothing when it is closed, which would halve
    // the speed of every fresh download.
    if (err = TruncateFd(file->get(), 0); err != 0) return err;
  }
  if (err = SeekFd(file->get(), *offset); err != 0) return err;
  if (*offset == 0 && !WriteFileAtomically(info_path, now.Serialize()).ok()) {
    return EIO;
  }
  return 0;
}

}  // namespace mv
