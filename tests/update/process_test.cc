// Starting a program without a shell, and the wait that follows it.
#include "system/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "app/form.h"
#include "support/child_process.h"
#include "support/recording_window.h"
#include "support/sandbox.h"
#include "update/wait.h"

namespace mv {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(SplitCommandLineTest, QuotesAndBackslashes) {
  using V = std::vector<std::string>;
  struct Case {
    const char* line;
    V args;
  } cases[] = {
      {"  tool\\bin\\run.sh   a  b ", V{"tool\\bin\\run.sh", "a", "b"}},
      {"\"My Tools\\s.sh\" \"two words\"", V{"My Tools\\s.sh", "two words"}},
      {"p a\\\\\"b c\"", V{"p", "a\\b c"}},
      {"p C:\\dir\\ next", V{"p", "C:\\dir\\", "next"}},
      {"p \"say \"\"hi\"\"\"", V{"p", "say \"hi\""}},
      {"", V{}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
  }
}

TEST(StartProgramTest, RunsDetachedAndIsReaped) {
  TempFolder tmp;
  WriteFile(tmp / "mark.sh", "#!/bin/sh\necho \"$1\" > \"$2\"\n");
  // Not executable: the "#!" line names the interpreter.
  Result<pid_t> pid =
      StartProgram(tmp / "mark.sh" + " \"hello there\" " + tmp / "out.txt");
  ASSERT_TRUE(pid.ok()) << pid.failure().Text();
  EXPECT_TRUE(WaitUntil([] { return ReapFinishedPrograms() == 0; }));
  EXPECT_EQ(ReadFile(tmp / "out.txt"), "hello there\n");

  WriteFile(tmp / "data.bin",
            "\x7f"
            "ELFjunk");
  struct Case {
    std::string line;
    int number;
  } cases[] = {
      {tmp / "missing.exe", kFileNotFound},
      {"no-such-program-anywhere", kFileNotFound},
      {tmp / "data.bin", kPermissionDenied},
      {"", kInvalidArgument},
  };
  for (const Case& c : cases) {
    Result<pid_t> r = StartProgram(c.line);
    EXPECT_EQ(r.ok() ? 0 : r.failure().number(), c.number) << c.line;
  }
}

// A window on which, when busy, an event arrives every few milliseconds, so
// that every wait for events ends early.
class BusyWindow : public RecordingWindow {
 public:
  void WaitForEvents(milliseconds bound) override {
    if (!busy) return RecordingWindow::WaitForEvents(bound);
    ++waits;
    std::this_thread::sleep_for(std::min(bound, milliseconds(7)));
  }
  bool busy = false;
};

// The wait's length, lines (every level shown) and processor use.
TEST(WaitSecondsTest, LinesLengthAndIdleProcessor) {
  const std::string on = "Timer Enabled for wait period. ";
  const std::string off = "Timer Disabled for wait period. ";
  struct Case {
    float seconds;
    std::vector<std::string> lines;
    int64_t min_ms;
    bool busy = false;
  } cases[] = {
      {-2.5, {"SECONDS: -2.5"}, 0},
      {NAN, {"SECONDS: nan"}, 0},
      // Rounds to no milliseconds at all: a wait that ends at once.
      {0.0004f, {"SECONDS: 0.0004", on, off}, 0},
      {0.3f, {"SECONDS: 0.3", on, off}, 300},
      // Events during the wait do not shorten it, and are served all along.
      {0.25f, {"SECONDS: 0.25", on, off}, 250, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    Sandbox sb;
    BusyWindow window;
    window.busy = c.busy;
    Form form(window, sb.config());
    form.settings.VerbosityLevel = 3;
    Clock::time_point start = Clock::now();
    std::clock_t cpu = std::clock();
    WaitSeconds(form, c.seconds);
    int64_t ms =
        std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(window.lines, c.lines);
    EXPECT_GE(ms, c.min_ms);
    EXPECT_LT(ms, c.min_ms + 100);
    if (c.busy) {
      EXPECT_GT(window.waits, 10);
    } else {
      EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10);  // never spins
      EXPECT_LE(window.waits, c.min_ms / 20);
    }
  }
}

}  // namespace
}  // namespace mv
