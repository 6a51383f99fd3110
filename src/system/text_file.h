// Text files opened the way the suite's routines open them: for appending or
// writing, registered in a process-wide table so that opening a file that is
// already open for writing in this process fails with 55 (File already open),
// as on the original platform. The event log relies on this for roll-over.
#ifndef MVUPDATE_SYSTEM_TEXT_FILE_H_
#define MVUPDATE_SYSTEM_TEXT_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "system/env.h"
#include "system/failure.h"
#include "system/unique_fd.h"

namespace mv {

class TextFile {
 public:
  enum class Mode { kAppend, kOutput };

  // Opens (creating when missing) a native path; the file is opened and
  // written through `env`, which must outlive it.
  static Result<TextFile> Open(Env& env, std::string_view native, Mode mode);

  TextFile(TextFile&& other) noexcept;
  TextFile& operator=(TextFile&& other) noexcept;
  ~TextFile();

  // Writes `text` followed by CR LF.
  Status WriteLine(std::string_view text);
  // Closes the file; reports a failure of the final write-back.
  Status Close();

 private:
  TextFile(Env& env, UniqueFd fd, uint64_t dev, uint64_t ino, std::string path);
  void Release();

  Env* env_;
  UniqueFd fd_;
  uint64_t dev_ = 0;  // the file system and file number of the open file
  uint64_t ino_ = 0;
  std::string path_;
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_TEXT_FILE_H_
