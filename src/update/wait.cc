#include "update/wait.h"

#include <charconv>
#include <cmath>
#include <string>

namespace mv {

namespace {

// How long one wait for window events may last before the deadline is looked
// at again; events end it earlier.
constexpr std::chrono::milliseconds kPollBound(100);

// The shortest decimal text that reads back as `value`, without an exponent
// ("10", "0.3", "0.0004").
std::string ShortestText(float value) {
  if (value == 0) value = 0;  // no "-0"
  char buf[64];
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

// The request in whole milliseconds, a half to the even neighbour (the
// default rounding mode), at most kLongestWait.
std::chrono::milliseconds WaitLength(float seconds) {
  double ms = std::nearbyint(static_cast<double>(seconds) * 1000.0);
  if (!(ms < static_cast<double>(kLongestWait.count()))) return kLongestWait;
  return std::chrono::milliseconds(static_cast<int64_t>(ms));
}

}  // namespace

void PumpFor(EventPump& pump, std::chrono::milliseconds length,
             const std::function<void(std::chrono::milliseconds)>& tick) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + length;
  for (Clock::time_point now = Clock::now(); now < deadline;
       now = Clock::now()) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    if (tick) tick(left);
    pump.WaitForEvents(std::min(left, kPollBound));
  }
}

void WaitSeconds(EventPump& pump, RunLog& log, float seconds) {
  log.Info("SECONDS: " + ShortestText(seconds));
  if (!(seconds > 0)) return;
  log.Message("Timer Enabled for wait period. ");
  const std::string what = "waiting " + ShortestText(seconds) + " s after RUN";
  // The program has been started: ending its wait early leaves nothing
  // half done, and the run stops before its next command.
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + WaitLength(seconds);
  for (Clock::time_point now = Clock::now();
       now < deadline && !pump.StopRequested(); now = Clock::now()) {
    auto left = std::chrono::ceil<std::chrono::seconds>(deadline - now);
    pump.ShowActivity(what + " (" + DurationText(left.count()) + " left)");
    pump.WaitForEvents(
        std::min(std::chrono::ceil<std::chrono::milliseconds>(deadline - now),
                 kPollBound));
  }
  pump.ShowActivity("");
  log.Message("Timer Disabled for wait period. ");
}

void FileProgress::Report(std::string_view name, int item, int items,
                          int64_t done, int64_t total) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = name;
    item_ = item;
    items_ = items;
    done_ = done;
    total_ = total;
  }
  // Each file gets its line, but a step through thousands of small files
  // lists at most one every few hundredths of a second, and the last.
  auto now = std::chrono::steady_clock::now();
  if (!list_files_ || item == listed_item_) return;
  if (item != items && now - last_line_ < std::chrono::milliseconds(50)) {
    return;
  }
  listed_item_ = item;
  last_line_ = now;
  worker_log_.ShowStep("   " + std::to_string(item) + " of " +
                       std::to_string(items) + ": " + std::string(name));
}

void FileProgress::Show(Window& window) {
  std::string name;
  int item, items;
  int64_t done, total;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (item_ == 0) return;
    name = name_;
    item = item_;
    items = items_;
    done = done_;
    total = total_;
  }
  if (item != shown_item_) {
    shown_item_ = item;
    meter_.Start(name);
  }
  meter_.Note(done, total);
  window.ShowProgress(done, total);
  // A step that counts no bytes (a copy) names the file alone.
  const bool counted = total >= 0 || done > 0;
  window.ShowActivity(verb_ + " " + std::to_string(item) + " of " +
                      std::to_string(items) + ": " +
                      (counted ? meter_.Text() : name));
}

}  // namespace mv
