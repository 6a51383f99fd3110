#include "app/run_log.h"

#include "app/form.h"
#include "log/event_log.h"
#include "transport/comm.h"

namespace mv {

namespace {

void WriteToFile(clsQorinEventLogTCP* event_log, const LevelInfo& info,
                 std::string_view text, bool detail) {
  if (event_log == nullptr) return;
  std::string line = std::string(info.prefix) + std::string(text);
  if (detail) {
    event_log->WriteStatsDetail(line);
  } else {
    event_log->WriteStats(line);
  }
}

}  // namespace

LevelInfo DescribeLevel(int32_t level) {
  switch (level) {
    case kLevelError:
      return {"Merivane Error", "*****ERROR::", INT16_MIN};
    case kLevelWarning:
      return {"Merivane Warning", "***Warning::", 1};
    case kLevelInformation:
      return {"Merivane Information", "", 2};
    default:
      return {"Merivane Message", "", 3};
  }
}

void LogMessage(Form& form, int32_t level, std::string_view text, bool WriteLog,
                bool ShowMessageBox, bool Detail) {
  LevelInfo info = DescribeLevel(level);
  if (ShowMessageBox) form.window.ShowMessageBox(text, info.caption);
  bool passes = form.settings.VerbosityLevel >= info.gate;
  if (level == kLevelError) ++form.error_lines;
  if (WriteLog && passes) {
    WriteToFile(form.settings.EventLog.get(), info, text, Detail);
  }
  // The list line does not depend on the event log: a line that cannot be
  // written to the file is still shown.
  if (passes) form.window.AddLine(text);
}

void CommLogMessage(const CommLog& log, int32_t level, std::string_view text,
                    bool WriteLog, bool /*ShowMessageBox*/, bool Detail) {
  LevelInfo info = DescribeLevel(level);
  if (WriteLog && log.verbosity >= info.gate) {
    WriteToFile(log.event_log, info, text, Detail);
  }
}

}  // namespace mv
