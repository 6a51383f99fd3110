#include "update/wait.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <thread>

#include "app/form.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A window on which an event arrives every few milliseconds, so that every
// wait for events ends early.
class BusyWindow : public RecordingWindow {
 public:
  void WaitForEvents(milliseconds bound) override {
    ++waits;
    std::this_thread::sleep_for(std::min(bound, milliseconds(7)));
  }
};

double CpuSeconds() {
  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

TEST(WaitSecondsTest, LinesAndLength) {
  const std::string on = "Timer Enabled for wait period. ";
  const std::string off = "Timer Disabled for wait period. ";
  struct Case {
    float seconds;
    int16_t verbosity;
    std::vector<std::string> lines;
    int64_t min_ms, max_ms;
  } cases[] = {
      {0, 3, {"SECONDS: 0"}, 0, 50},
      {-0.0f, 3, {"SECONDS: 0"}, 0, 50},
      {-2.5, 3, {"SECONDS: -2.5"}, 0, 50},
      {-10, 3, {"SECONDS: -10"}, 0, 50},
      {NAN, 3, {"SECONDS: nan"}, 0, 50},
      // Rounds to no milliseconds at all: a wait that ends at once.
      {0.0004f, 3, {"SECONDS: 0.0004", on, off}, 0, 50},
      {0.3f, 3, {"SECONDS: 0.3", on, off}, 300, 400},
      // The timer lines are Message lines, dropped at the usual verbosity.
      {0.3f, 2, {"SECONDS: 0.3"}, 300, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    Sandbox sb;
    RecordingWindow window;
    Form form(window, sb.config());
    form.settings.VerbosityLevel = c.verbosity;
    Clock::time_point start = Clock::now();
    WaitSeconds(form, c.seconds);
    int64_t ms =
        std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(window.lines, c.lines);
    EXPECT_GE(ms, c.min_ms);
    EXPECT_LT(ms, c.max_ms);
    if (c.max_ms <= 50) {
      EXPECT_EQ(window.waits, 0);
    }
  }
}

TEST(WaitSecondsTest, EventsDuringTheWaitDoNotShortenIt) {
  Sandbox sb;
  BusyWindow window;
  Form form(window, sb.config());
  Clock::time_point start = Clock::now();
  WaitSeconds(form, 0.25f);
  auto ms = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  EXPECT_GE(ms.count(), 250);
  EXPECT_LT(ms.count(), 350);
  EXPECT_GT(window.waits, 10);  // the window was served all along
}

TEST(WaitSecondsTest, LeavesTheProcessorIdle) {
  Sandbox sb;
  RecordingWindow window;
  Form form(window, sb.config());
  double cpu = CpuSeconds();
  WaitSeconds(form, 0.4f);
  EXPECT_LT(CpuSeconds() - cpu, 0.1);
  EXPECT_LE(window.waits, 20);
}

}  // namespace
}  // namespace mv
