// Starting a program without a shell, and the wait that follows it.
#include "system/process.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "app/form.h"
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
  for (int i = 0; i < 100 && ReapFinishedPrograms() > 0; ++i) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_EQ(ReapFinishedPrograms(), 0u);
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

TEST(WaitSecondsTest, LinesLengthAndIdleProcessor) {
  const std::string on = "Timer Enabled for wait period. ";
  const std::string off = "Timer Disabled for wait period. ";
  struct Case {
    float seconds;
    int16_t verbosity;
    std::vector<std::string> lines;
    int64_t min_ms;
  } cases[] = {
      {-2.5, 3, {"SECONDS: -2.5"}, 0},
      {NAN, 3, {"SECONDS: nan"}, 0},
      // Rounds to no milliseconds at all: a wait that ends at once.
      {0.0004f, 3, {"SECONDS: 0.0004", on, off}, 0},
      {0.3f, 3, {"SECONDS: 0.3", on, off}, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    Sandbox sb;
    RecordingWindow window;
    Form form(window, sb.config());
    form.settings.VerbosityLevel = c.verbosity;
    Clock::time_point start = Clock::now();
    double cpu = CpuSeconds();
    WaitSeconds(form, c.seconds);
    int64_t ms =
        std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(window.lines, c.lines);
    EXPECT_GE(ms, c.min_ms);
    EXPECT_LT(ms, c.min_ms + 100);
    EXPECT_LT(CpuSeconds() - cpu, 0.1);  // the wait never spins
    EXPECT_LE(window.waits, c.min_ms / 20);
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

}  // namespace
}  // namespace mv
