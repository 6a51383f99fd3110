#include "system/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/sandbox.h"

namespace mv {
namespace {

TEST(SplitCommandLineTest, QuotesAndBackslashes) {
  using V = std::vector<std::string>;
  struct Case {
    const char* line;
    V args;
  } cases[] = {
      {"Setup7.exe /quiet", V{"Setup7.exe", "/quiet"}},
      {"  tool\\bin\\run.sh   a  b ", V{"tool\\bin\\run.sh", "a", "b"}},
      {"\"My Tools\\setup.sh\" \"two words\" x",
       V{"My Tools\\setup.sh", "two words", "x"}},
      {"p a\\\\\"b c\"", V{"p", "a\\b c"}},
      {"p a\\\"b", V{"p", "a\"b"}},
      {"p C:\\dir\\ next", V{"p", "C:\\dir\\", "next"}},
      {"p \"\"", V{"p", ""}},
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
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(ReapFinishedPrograms(), 0u);
  EXPECT_EQ(ReadFile(tmp / "out.txt"), "hello there\n");
}

TEST(StartProgramTest, Failures) {
  TempFolder tmp;
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
      {std::string("a\0b", 3), kBadFileName},
  };
  for (const Case& c : cases) {
    Result<pid_t> r = StartProgram(c.line);
    ASSERT_FALSE(r.ok()) << c.line;
    EXPECT_EQ(r.failure().number(), c.number) << c.line;
  }
}

}  // namespace
}  // namespace mv
