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

void LineQueue::Push(Kind kind, int32_t level, std::string_view text,
                     LineOptions options) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({kind, level, std::string(text), options});
}

void LineQueue::MoveTo(RunLog& log) {
  std::vector<Entry> entries;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entries.swap(entries_);
  }
  for (const Entry& e : entries) {
    switch (e.kind) {
      case Kind::kMessage:
        log.LogMessage(e.level, e.text, e.options);
        break;
      case Kind::kShow:
        log.Show(e.text);
        break;
      case Kind::kReplaceLast:
        log.ReplaceLast(e.text);
        break;
    }
  }
}

namespace {

LineMark MarkFor(int32_t level) {
  switch (level) {
    case kLevelError:
      return LineMark::kError;
    case kLevelWarning:
      return LineMark::kWarning;
    default:
      return LineMark::kNone;
  }
}

}  // namespace

void RunLog::LogMessage(int32_t level, std::string_view text,
                        LineOptions options) {
  if (queue_) {
    step_last_ = false;
    return queue_->Push(LineQueue::Kind::kMessage, level, text, options);
  }
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
  if (!passes) return;
  step_last_ = false;
  if (list_) list_->AddMarkedLine(text, MarkFor(level));
}

void RunLog::Show(std::string_view text) {
  step_last_ = false;
  if (queue_) return queue_->Push(LineQueue::Kind::kShow, 0, text);
  if (list_) list_->AddLine(text);
}

void RunLog::ReplaceLast(std::string_view text) {
  step_last_ = false;
  if (queue_) return queue_->Push(LineQueue::Kind::kReplaceLast, 0, text);
  if (list_) list_->ReplaceLastLine(text);
}

void RunLog::ShowStep(std::string_view text) {
  const bool replace = step_last_;
  replace ? ReplaceLast(text) : Show(text);
  step_last_ = true;
}

void RunLog::Clear() {
  step_last_ = false;
  if (!list_) return;
  list_->ClearLines();
  if (!heading_.empty()) list_->AddMarkedLine(heading_, LineMark::kError);
}

void RunLog::Trace(int32_t level, std::string_view text, bool detail) const {
  LevelInfo info = DescribeLevel(level);
  if (verbosity_ >= info.gate) WriteToFile(info, text, detail);
}

}  // namespace mv
