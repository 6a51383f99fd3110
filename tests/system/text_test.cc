// Text helpers: display decoding, string helpers and date forms.
#include <gtest/gtest.h>

#include "system/date_time.h"
#include "system/display_text.h"
#include "update/string_helpers.h"

namespace mv {
namespace {

TEST(DisplayTextTest, KeepsUtf8AndReadsOtherBytesAsWindows1252) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},  // UTF-8 kept
      {"caf\xe9"
       "",
       "caf\xc3\xa9"},  // 1252 e-acute
      {"\x80 \x93quoted\x94", "\xe2\x82\xac \xe2\x80\x9cquoted\xe2\x80\x9d"},
      {"\xc3", "\xc3\x83"},                              // truncated sequence
      {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xe2\x82\xac"},  // surrogate: not UTF-8
      {"\xef\xbb\xbf"
       "BOM",
       "\xef\xbb\xbf"
       "BOM"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToDisplayUtf8(c.in), c.out) << c.in;
}

TEST(StringHelpersTest, FindLastNeverSeesTheLastCharacter) {
  struct Case {
    const char* text;
    const char* search;
    int32_t pos;
  } cases[] = {
      {"SRV\\INST", "\\", 4},
      {"Bin\\", "\\", 0},
      {"a\\b\\", "\\", 2},
      {"SRV01\\", "\\", 0},
      {"", "\\", -1},
      {"ab", "abc", -1},
      {"abab", "ab", 1},
      {"xabab", "ab", 2},
      {"C:\\Drop\\*.dll D:\\Bin", "\\", 17},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindLast(c.text, c.search), c.pos) << c.text;
  }
}

TEST(StringHelpersTest, StripCharacter) {
  EXPECT_EQ(StripCharacter("DOWNLOAD\tPatch.zip\t", "\t"), "DOWNLOADPatch.zip");
  EXPECT_EQ(StripCharacter("\t\t", "\t"), "");
  EXPECT_EQ(StripCharacter("none", "\t"), "none");
  // Several characters: only the first of each occurrence goes.
  EXPECT_EQ(StripCharacter("aXYb", "XY"), "aYb");
}

TEST(StringHelpersTest, TrimUpperMid) {
  EXPECT_EQ(TrimBlanks("  a b \t "), "a b \t");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(ToUpperAscii("download \xe9"), "DOWNLOAD \xe9");
  EXPECT_EQ(MidFrom("DOWNLOAD x", 10), "x");
  EXPECT_EQ(MidFrom("DOWNLOAD", 10), "");
}

TEST(StringHelpersTest, ParseWholeNumber) {
  struct Case {
    const char* text;
    int32_t value;  // when `failure` is 0
    int failure;
  } cases[] = {
      {"5", 5, 0},
      {" 12 ", 12, 0},
      {"-3", -3, 0},
      {"+4", 4, 0},
      {"2.5", 2, 0},  // a half goes to the even neighbour
      {"3.5", 4, 0},
      {"-2.5", -2, 0},
      {"7.50", 8, 0},
      {"1e3", 1000, 0},
      {"2147483647", 2147483647, 0},
      {"-2147483648", INT32_MIN, 0},
      {"2147483648", 0, kOverflow},
      {"-2147483649", 0, kOverflow},
      {"", 0, kTypeMismatch},
      {"abc", 0, kTypeMismatch},
      {"12abc", 0, kTypeMismatch},
      {"0x10", 0, kTypeMismatch},
      {"inf", 0, kTypeMismatch},
      {"nan", 0, kTypeMismatch},
      {"1,000", 0, kTypeMismatch},
      {"1 2", 0, kTypeMismatch},
      {"\t5", 0, kTypeMismatch},
      {".5", 0, 0},
      {"-", 0, kTypeMismatch},
      {"99999999999999999999", 0, kOverflow},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Result<int32_t> r = ParseWholeNumber(c.text);
    if (c.failure == 0) {
      ASSERT_TRUE(r.ok()) << r.failure().Text();
      EXPECT_EQ(r.value(), c.value);
    } else {
      ASSERT_FALSE(r.ok()) << r.value();
      EXPECT_EQ(r.failure().number(), c.failure);
    }
  }
}

TEST(DateTimeTest, Forms) {
  DateTime morning{2026, 12, 5, 4, 14, 29};
  DateTime afternoon{2016, 3, 7, 14, 5, 9};
  DateTime midnight{2026, 1, 1, 0, 0, 0};
  DateTime noon{2026, 1, 1, 12, 0, 0};
  EXPECT_EQ(GeneralDate(morning), "12/5/2026 4:14:29 AM");
  EXPECT_EQ(GeneralDate(afternoon), "3/7/2016 2:05:09 PM");
  EXPECT_EQ(GeneralDate(midnight), "1/1/2026 12:00:00 AM");
  EXPECT_EQ(GeneralDate(noon), "1/1/2026 12:00:00 PM");
  EXPECT_EQ(FormatMmDdYyyy(afternoon), "03/07/2016 14:05:09");
  EXPECT_EQ(FormatMmDdYyyy(DateTime()), "12/30/1899 00:00:00");
  EXPECT_EQ(FormatStampDigits(DateTime{2026, 12, 5, 14, 25, 9}),
            "261205142509");
}

}  // namespace
}  // namespace mv
