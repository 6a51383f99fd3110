// Tables whose answers are the same on Linux and Windows: the version names
// of the original platform's query (Windows's own record on Windows) and
// the wildcard and temporary-name rules of the file operations.
#include <gtest/gtest.h>

#include "system/files.h"
#include "system/os_info.h"
#include "system/unicode.h"

namespace mv {
namespace {

TEST(SharedTablesTest, WindowsVersionNames) {
  struct Case {
    WindowsVersionInfo info;
    const char* name;
  };
  const Case cases[] = {
      {{1, 4, 0}, "Windows 95"},
      {{1, 4, 90}, "Windows Me"},
      {{2, 5, 1}, "Windows XP"},
      {{2, 6, 1}, "Windows 7/Server 2008 R2"},
      {{2, 6, 3}, "Windows 8.1/Server 2012 R2"},
      {{2, 10, 0, 19045}, "Windows 10"},
      {{2, 10, 0, 22631}, "Windows 11"},
      {{2, 10, 0, 14393, true}, "Windows Server 2016"},
      {{2, 10, 0, 17763, true}, "Windows Server 2019"},
      {{2, 10, 0, 20348, true}, "Windows Server 2022"},
      {{2, 10, 0, 26100, true}, "Windows Server 2025"},
      {{2, 11, 0}, "Windows NT"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowsVersionName(c.info), c.name) << c.info.build;
  }
  EXPECT_EQ(WindowsVersionName(std::nullopt),
            "Unable to identify your version of Windows.");
}

TEST(SharedTablesTest, NamesAndText) {
  EXPECT_TRUE(WildcardMatch("*.*", "README"));
  EXPECT_TRUE(WildcardMatch("mv?.DLL", "mv1.dll"));
  EXPECT_FALSE(WildcardMatch("*.exe", "a.exe.bak"));
  EXPECT_EQ(TempFileOwner(".a.mvtmp-42-0a1b"), 42);
  EXPECT_EQ(TempFileOwner(".a.mvpartial"), std::nullopt);
  // UTF-16 and back; an unpaired surrogate becomes U+FFFD.
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("caf\xc3\xa9 \xe2\x82\xac")),
            "caf\xc3\xa9 \xe2\x82\xac");
  EXPECT_EQ(Utf16ToUtf8(u"a\xd800"), "a\xef\xbf\xbd");
}

}  // namespace
}  // namespace mv
