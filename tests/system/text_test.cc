// Text helpers: display decoding, string helpers, date forms, system names.
#include <gtest/gtest.h>

#include "support/sandbox.h"
#include "system/date_time.h"
#include "system/display_text.h"
#include "system/os_info.h"
#include "update/string_helpers.h"

namespace mv {
namespace {

TEST(DisplayTextTest, KeepsUtf8AndReadsOtherBytesAsWindows1252) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"\x80 \x93q\x94", "\xe2\x82\xac \xe2\x80\x9cq\xe2\x80\x9d"},
      {"\xc3", "\xc3\x83"},                              // truncated sequence
      {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xe2\x82\xac"},  // surrogate: not UTF-8
  };
  for (const Case& c : cases) EXPECT_EQ(ToDisplayUtf8(c.in), c.out) << c.in;
}

TEST(StringHelpersTest, ParseWholeNumber) {
  struct Case {
    const char* text;
    int32_t value;  // when `failure` is 0
    int failure;
  } cases[] = {
      {" 12 ", 12, 0},
      {"2.5", 2, 0},  // a half goes to the even neighbour
      {"-3.5", -4, 0},
      {"1e3", 1000, 0},
      {".5", 0, 0},
      {"-2147483648", INT32_MIN, 0},
      {"2147483648", 0, kOverflow},
      {"12abc", 0, kTypeMismatch},
      {"0x10", 0, kTypeMismatch},
      {"1 2", 0, kTypeMismatch},
      {"\t5", 0, kTypeMismatch},
  };
  for (const Case& c : cases) {
    Result<int32_t> r = ParseWholeNumber(c.text);
    EXPECT_EQ(r.ok() ? r.value() : -r.failure().number(),
              c.failure ? -c.failure : c.value)
        << c.text;
  }
}

TEST(DateTimeTest, Forms) {
  EXPECT_EQ(GeneralDate({2016, 3, 7, 14, 5, 9}), "3/7/2016 2:05:09 PM");
  EXPECT_EQ(GeneralDate({2026, 1, 1, 0, 0, 0}), "1/1/2026 12:00:00 AM");
  EXPECT_EQ(GeneralDate({2026, 1, 1, 12, 0, 0}), "1/1/2026 12:00:00 PM");
  EXPECT_EQ(FormatMmDdYyyy({2016, 3, 7, 14, 5, 9}), "03/07/2016 14:05:09");
  EXPECT_EQ(FormatMmDdYyyy(DateTime()), "12/30/1899 00:00:00");
  EXPECT_EQ(FormatStampDigits({2026, 12, 5, 14, 25, 9}), "261205142509");
}

TEST(OsInfoTest, SystemAndComputerName) {
  TempFolder tmp;
  WriteFile(tmp / "os", "NAME=D\nPRETTY_NAME='Single \\'quoted\\''\n");
  EXPECT_EQ(GetWindowsVersionName(tmp / "os"), "Single 'quoted'");
  // Without the file the kernel names the system.
  EXPECT_EQ(GetWindowsVersionName(tmp / "missing").rfind("Linux ", 0), 0u);
  ScopedEnv env;
  env.Set("MVUPDATE_COMPUTERNAME", std::string(50, 'n'));
  EXPECT_EQ(GetLocalComputerName(), std::string(50, 'n'));
  env.Set("MVUPDATE_COMPUTERNAME", std::string(51, 'n'));
  EXPECT_EQ(GetLocalComputerName(), "");  // does not fit the 51-byte buffer
}

}  // namespace
}  // namespace mv
