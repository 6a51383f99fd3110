#include "system/progress.h"

#include <cstdio>

namespace mv {

namespace {

using Seconds = std::chrono::duration<double>;

}  // namespace

std::string ByteText(int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string DurationText(int64_t seconds) {
  seconds = std::max<int64_t>(seconds, 0);
  if (seconds < 60) return std::to_string(seconds) + " s";
  if (seconds < 3600) {
    std::string text = std::to_string(seconds / 60) + " min";
    if (seconds % 60 != 0) text += " " + std::to_string(seconds % 60) + " s";
    return text;
  }
  std::string text = std::to_string(seconds / 3600) + " h";
  if (seconds % 3600 / 60 != 0) {
    text += " " + std::to_string(seconds % 3600 / 60) + " min";
  }
  return text;
}

void ProgressMeter::Start(std::string name, Clock::time_point now) {
  name_ = std::move(name);
  start_ = last_change_ = now;
  done_ = 0;
  total_ = -1;
  noted_ = false;
}

void ProgressMeter::Note(int64_t done, int64_t total, Clock::time_point now) {
  if (!noted_ || done != done_) last_change_ = now;
  noted_ = true;
  done_ = done;
  total_ = total;
}

std::string ProgressMeter::Text(Clock::time_point now) const {
  const auto still = now - last_change_;
  const bool stalled = still >= std::chrono::seconds(kStallSeconds);
  // Before the first count the name says enough, until the wait is long.
  if (!noted_ && !stalled) return name_;
  std::string text = name_.empty() ? "" : name_ + ": ";
  text += ByteText(done_);
  if (total_ >= 0) text += " of " + ByteText(total_);
  if (stalled) return text + ", " + WaitingText(waiting_for_, still);
  const double elapsed = Seconds(last_change_ - start_).count();
  if (elapsed < 1 || done_ <= 0) return text;
  const double rate = static_cast<double>(done_) / elapsed;
  text += ", " + ByteText(static_cast<int64_t>(rate)) + "/s";
  if (total_ > done_) {
    text += ", " +
            DurationText(static_cast<int64_t>(
                static_cast<double>(total_ - done_) / rate + 0.5)) +
            " left";
  }
  return text;
}

std::string WaitingText(std::string_view what,
                        std::chrono::steady_clock::duration waited) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(waited).count();
  if (seconds < 1) return "";
  return "waiting for " + std::string(what) + " (" + DurationText(seconds) +
         ")";
}

}  // namespace mv
