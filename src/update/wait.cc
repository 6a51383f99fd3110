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

void PumpFor(EventPump& pump, std::chrono::milliseconds length) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline = Clock::now() + length;
  for (Clock::time_point now = Clock::now(); now < deadline;
       now = Clock::now()) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    pump.WaitForEvents(std::min(left, kPollBound));
  }
}

void WaitSeconds(EventPump& pump, RunLog& log, float seconds) {
  log.Info("SECONDS: " + ShortestText(seconds));
  if (!(seconds > 0)) return;
  log.Message("Timer Enabled for wait period. ");
  PumpFor(pump, WaitLength(seconds));
  log.Message("Timer Disabled for wait period. ");
}

}  // namespace mv
