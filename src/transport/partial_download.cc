#include "transport/partial_download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

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
  struct stat st;
  // Only a partial file of our own is continued: an ordinary file with no
  // other name. Anything else under the name (a link, a file linked from
  // elsewhere) is removed, never followed or truncated, and the download
  // starts in a new file.
  if (resume) {
    *file =
        UniqueFd(::open(temp_path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    resume = *file && ::fstat(file->get(), &st) == 0 && S_ISREG(st.st_mode) &&
             st.st_nlink == 1;
  }
  if (!resume) {
    file->Close();
    ::unlink(temp_path.c_str());
    *file = UniqueFd(::open(temp_path.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                            0666));
  }
  *offset = 0;
  if (!*file || ::fstat(file->get(), &st) != 0) return errno;
  if (resume && st.st_size <= now.size) {
    *offset = st.st_size;
  } else if (st.st_size != 0 && ::ftruncate(file->get(), 0) != 0) {
    // Only a partial file longer than the remote one is cut: ext4 writes
    // out a file truncated to nothing when it is closed, which would halve
    // the speed of every fresh download.
    return errno;
  }
  if (::lseek(file->get(), *offset, SEEK_SET) < 0) return errno;
  if (*offset == 0 && !WriteFileAtomically(info_path, now.Serialize()).ok()) {
    return EIO;
  }
  return 0;
}

}  // namespace mv
