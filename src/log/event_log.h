// The event log file: appends time-stamped and detail lines to a text file,
// opening and closing it for every line so that it can be read while the
// utility runs. It never reports a failure; a line it cannot write is lost.
#ifndef MVUPDATE_LOG_EVENT_LOG_H_
#define MVUPDATE_LOG_EVENT_LOG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "system/text_file.h"

namespace mv {

class clsQorinEventLogTCP {
 public:
  // `install_path` is the installation folder (GetInstallPath); the default
  // file is <install_path>/database/MVEvents.log.
  explicit clsQorinEventLogTCP(std::string_view install_path);

  const std::string& strFile() const { return strFile_; }
  void strFile(std::string pstr) { strFile_ = std::move(pstr); }
  bool blnClearFile() const { return blnClearFile_; }
  void blnClearFile(bool pbln) { blnClearFile_ = pbln; }

  // Opens strFile for appending, with the two recoveries: a missing folder
  // is created (LogFolder, one level) and the open tried again; a file that
  // is already open in this process moves the log to "MVEvents <n>.log".
  Result<TextFile> getFileNumber();

  // A line holding the date and time, a tab and the text.
  void WriteStats(std::string_view pstrErr);
  // A line holding a tab and the text.
  void WriteStatsDetail(std::string_view pstrErr);

  const std::string& LogFolder() const { return LogFolder_; }
  int16_t RolloverCount() const { return RolloverCount_; }

 private:
  void Write(std::string_view line);

  std::string LogFolder_;
  std::string strFile_;
  int16_t RolloverCount_ = 0;
  bool blnClearFile_ = false;
};

}  // namespace mv

#endif  // MVUPDATE_LOG_EVENT_LOG_H_
