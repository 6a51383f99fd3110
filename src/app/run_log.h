// The run log: every line the utility reports goes to the list box and, with
// a level prefix, to the event log file.
#ifndef MVUPDATE_APP_RUN_LOG_H_
#define MVUPDATE_APP_RUN_LOG_H_

#include <cstdint>
#include <string_view>

namespace mv {

class Form;
struct CommLog;

enum LogLevel : int32_t {
  kLevelError = 0,
  kLevelWarning = 1,
  kLevelInformation = 2,
  kLevelMessage = 3,
};

struct LevelInfo {
  std::string_view caption;  // message box title
  std::string_view prefix;   // event log file prefix
  int16_t gate;              // lowest VerbosityLevel that lets it through
};

// Levels other than 0, 1 and 2 are treated as 3.
LevelInfo DescribeLevel(int32_t level);

// Shows a message box when asked (whatever the gate says); writes prefix +
// text to the event log file when WriteLog and the gate allow (a detail line
// when Detail); appends the text to the list box when the gate allows.
void LogMessage(Form& form, int32_t level, std::string_view text, bool WriteLog,
                bool ShowMessageBox, bool Detail);

// The Comm module's twin: the event log file only, never a box or a list
// line.
void CommLogMessage(const CommLog& log, int32_t level, std::string_view text,
                    bool WriteLog, bool ShowMessageBox, bool Detail);

// LogMessage at level Information with WriteLog and Detail, no box: the
// flags most lines of the utility use.
inline void LogInfo(Form& form, std::string_view text) {
  LogMessage(form, kLevelInformation, text, true, false, true);
}
// The same at level Error.
inline void LogError(Form& form, std::string_view text) {
  LogMessage(form, kLevelError, text, true, false, true);
}

}  // namespace mv

#endif  // MVUPDATE_APP_RUN_LOG_H_
