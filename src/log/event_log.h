// The event log file: appends time-stamped and detail lines to a text file,
// opening and closing it for every line so that it can be read while the
// utility runs. It never follows a link at its name. It reports no failure
// to its caller, so that a log it cannot write never stops a command: a line
// it cannot write is lost, and the first such loss (a full disk, a file that
// is no ordinary file, a folder it may not write) is said once on standard
// error.
#ifndef MVUPDATE_LOG_EVENT_LOG_H_
#define MVUPDATE_LOG_EVENT_LOG_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "system/env.h"
#include "system/text_file.h"

namespace mv {

class EventLog {
 public:
  // `install_path` is the installation folder (GetInstallPath); the default
  // file is <install_path>/database/MVEvents.log. The file is opened and
  // written through `env`, which must outlive the log.
  EventLog(Env& env, std::string_view install_path);

  const std::string& file() const { return file_; }
  void set_file(std::string file) { file_ = std::move(file); }
  // When set, the next line written first removes the file, so that a run
  // starts it afresh.
  bool clear_file() const { return clear_file_; }
  void set_clear_file(bool clear) { clear_file_ = clear; }

  // Opens file() for appending, with the two recoveries: a missing folder
  // is created (log_folder(), one level) and the open tried again; a file
  // that is already open in this process moves the log to
  // "MVEvents <n>.log".
  Result<TextFile> OpenFile();

  // A line holding the date and time, a tab and the text.
  void WriteStats(std::string_view text);
  // A line holding a tab and the text.
  void WriteStatsDetail(std::string_view text);

  const std::string& log_folder() const { return log_folder_; }
  int16_t rollover_count() const { return rollover_count_; }

 private:
  void Write(std::string_view line);
  // Says on standard error, the first time only, that lines are lost.
  void ReportLoss(const Failure& failure);

  Env& env_;
  std::string log_folder_;
  std::string file_;
  int16_t rollover_count_ = 0;
  bool clear_file_ = false;
  bool loss_reported_ = false;
};

}  // namespace mv

#endif  // MVUPDATE_LOG_EVENT_LOG_H_
