#include "log/run_log.h"

#include <string>

namespace mv {

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

void RunLog::WriteToFile(const LevelInfo& info, std::string_view text,
                         bool detail) const {
  if (event_log_ == nullptr) return;
  std::string line = std::string(info.prefix) + std::string(text);
  if (detail) {
    event_log_->WriteStatsDetail(line);
  } else {
    event_log_->WriteStats(line);
  }
}

void RunLog::LogMessage(int32_t level, std::string_view text,
                        LineOptions options) {
  LevelInfo info = DescribeLevel(level);
  if (options.message_box && list_) list_->ShowMessageBox(text, info.caption);
  bool passes = verbosity_ >= info.gate;
  if (level == kLevelError) {
    ++error_lines_;
    if (first_error_.empty()) first_error_ = std::string(text);
  }
  if (options.write_log && passes) WriteToFile(info, text, options.detail);
  // The list line does not depend on the event log: a line that cannot be
  // written to the file is still shown.
  if (passes) Show(text);
}

void RunLog::Show(std::string_view text) {
  if (list_) list_->AddLine(text);
}

void RunLog::ReplaceLast(std::string_view text) {
  if (list_) list_->ReplaceLastLine(text);
}

void RunLog::Clear() {
  if (!list_) return;
  list_->ClearLines();
  if (!heading_.empty()) list_->AddLine(heading_);
}

void RunLog::Trace(int32_t level, std::string_view text, bool detail) const {
  LevelInfo info = DescribeLevel(level);
  if (verbosity_ >= info.gate) WriteToFile(info, text, detail);
}

}  // namespace mv
