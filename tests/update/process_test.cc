#include "system/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/sandbox.h"
#include "update/string_helpers.h"

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

TEST(ParseWholeNumberTest, StoredNumbers) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;  // nothing: failure
    int number;
  } cases[] = {
      {"0", 0, 0},
      {"42", 42, 0},
      {" -7 ", -7, 0},
      {"+3", 3, 0},
      {"2.5", 2, 0},
      {"3.5", 4, 0},
      {"2.51", 3, 0},
      {"-2.5", -2, 0},
      {".5", 0, 0},
      {"2147483647", 2147483647, 0},
      {"-2147483648", INT32_MIN, 0},
      {"2147483648", {}, kOverflow},
      {"99999999999999999999", {}, kOverflow},
      {"", {}, kTypeMismatch},
      {"abc", {}, kTypeMismatch},
      {"12abc", {}, kTypeMismatch},
      {"-", {}, kTypeMismatch},
  };
  for (const Case& c : cases) {
    Result<int32_t> r = ParseWholeNumber(c.text);
    ASSERT_EQ(r.ok(), c.value.has_value()) << c.text;
    if (c.value) {
      EXPECT_EQ(r.value(), *c.value) << c.text;
    } else {
      EXPECT_EQ(r.failure().number(), c.number) << c.text;
    }
  }
}

}  // namespace
}  // namespace mv
