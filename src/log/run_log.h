// The run log: every line the utility reports goes to the list box and, with
// a level prefix, to the event log file, as far as the verbosity gate lets
// it through. The layers above write through a RunLog and never see the
// window behind it.
#ifndef MVUPDATE_LOG_RUN_LOG_H_
#define MVUPDATE_LOG_RUN_LOG_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "log/event_log.h"
#include "system/window.h"

namespace mv {

enum LogLevel : int32_t {
  kLevelError = 0,
  kLevelWarning = 1,
  kLevelInformation = 2,
  kLevelMessage = 3,
};

struct LevelInfo {
  std::string_view caption;  // message box title
  std::string_view prefix;   // event log file prefix
  int16_t gate;              // lowest verbosity that lets it through
};

// Levels other than 0, 1 and 2 are treated as 3.
LevelInfo DescribeLevel(int32_t level);

// How one line is written.
struct LineOptions {
  bool write_log = true;     // also to the event log file
  bool message_box = false;  // also in a message box, whatever the gate says
  bool detail = true;  // a detail line (tab, text), not a time-stamped one
};
// A time-stamped line of the event log file, listed too.
inline constexpr LineOptions kStampedLine{true, false, false};

class RunLog;

// Lines logged on a worker thread wait here until the window's thread logs
// them for real: the list and the event log belong to that thread.
class LineQueue {
 public:
  enum class Kind { kMessage, kShow, kReplaceLast };
  void Push(Kind kind, int32_t level, std::string_view text,
            LineOptions options = {});
  // Logs the waiting lines into `log`, in the order they came.
  void MoveTo(RunLog& log);

 private:
  struct Entry {
    Kind kind;
    int32_t level;
    std::string text;
    LineOptions options;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

class RunLog {
 public:
  // `list` may be null: lines then go to the event log file only.
  explicit RunLog(ListBox* list = nullptr) : list_(list) {}

  void set_event_log(EventLog* event_log) { event_log_ = event_log; }
  // Hands every line to `queue` instead (a log used on a worker thread).
  void set_queue(LineQueue* queue) { queue_ = queue; }
  EventLog* event_log() const { return event_log_; }
  void set_verbosity(int16_t verbosity) { verbosity_ = verbosity; }
  int16_t verbosity() const { return verbosity_; }

  // Shows a message box when asked (whatever the gate says); writes prefix +
  // text to the event log file when asked and the gate allows; lists the
  // text when the gate allows.
  void LogMessage(int32_t level, std::string_view text,
                  LineOptions options = {});
  void Info(std::string_view text) { LogMessage(kLevelInformation, text); }
  void Warning(std::string_view text) { LogMessage(kLevelWarning, text); }
  void Error(std::string_view text) { LogMessage(kLevelError, text); }
  void Message(std::string_view text) { LogMessage(kLevelMessage, text); }

  // The list box alone: a line shown whatever the gate and never written to
  // the file, the last line overwritten, the box emptied (but for the
  // heading).
  void Show(std::string_view text);
  void ReplaceLast(std::string_view text);
  void Clear();
  // A list line that says how far a step has come ("   3 of 120:
  // Bin/Core.dll"): it takes the place of the step's previous such line
  // when no other line came between.
  void ShowStep(std::string_view text);
  // A line that every Clear() leaves at the top of the list ("" for none),
  // so that a problem that outlives the command which met it stays in view.
  void set_heading(std::string text) { heading_ = std::move(text); }

  // A trace line of the FTP session: the event log file only, never a box
  // or a list line.
  void Trace(int32_t level, std::string_view text, bool detail) const;

  // Error-level lines logged so far; the console program's exit status
  // comes from it.
  int error_lines() const { return error_lines_; }
  // The text of the first Error line since ForgetFirstError(): what the note
  // at the end of a command names as its cause.
  const std::string& first_error() const { return first_error_; }
  void ForgetFirstError() { first_error_.clear(); }

 private:
  void WriteToFile(const LevelInfo& info, std::string_view text,
                   bool detail) const;

  ListBox* list_;
  EventLog* event_log_ = nullptr;
  LineQueue* queue_ = nullptr;
  bool step_last_ = false;  // the list's last line is a ShowStep line
  int16_t verbosity_ = 2;
  int error_lines_ = 0;
  std::string first_error_;
  std::string heading_;
};

}  // namespace mv

#endif  // MVUPDATE_LOG_RUN_LOG_H_
