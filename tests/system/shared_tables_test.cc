// Tables whose answers are the same on Linux and Windows: the version names
// of the original platform's query (Windows's own record on Windows), the
// wildcard and temporary-name rules of the file operations, suite paths
// made native, and the install time read beside its update number.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "system/files.h"
#include "system/last_update.h"
#include "system/os_info.h"
#include "system/paths.h"
#include "system/process.h"
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

// As written on Linux; on Windows every "/" reads "\", so that no path
// mixes the two (an install path from the registry joined with "/Application"
// was one).
TEST(SharedTablesTest, SuitePathsMadeNative) {
  struct Case {
    const char* unc_root;
    const char* folder;
    const char* tail;
    const char* joined;
    const char* parent;  // ParentFolder of `joined`
    const char* share;   // UncShareFolder of `joined`
  };
  const Case cases[] = {
      {"/unc", "/opt/Merivane", "\\Application", "/opt/Merivane/Application",
       "/opt/Merivane", ""},
      {"/unc", "C:/Merivane/", "\\Download\\*.*", "C:/Merivane/Download/*.*",
       "C:/Merivane/Download", ""},
      {"/unc/", "", "\\\\SERVER\\MVUpdate\\Update\\a.zip",
       "/unc/SERVER/MVUpdate/Update/a.zip", "/unc/SERVER/MVUpdate/Update",
       "/unc/SERVER/MVUpdate"},
      // A root of "/" leaves UNC paths as written.
      {"/", "", "\\\\SERVER\\MVUpdate\\a.zip", "//SERVER/MVUpdate/a.zip",
       "//SERVER/MVUpdate", "//SERVER/MVUpdate"},
  };
  auto native = [](std::string path) {
    std::replace(path.begin(), path.end(), '/', kSeparator);
    return path;
  };
  const char* saved = std::getenv("MVUPDATE_UNC_ROOT");
  std::string before = saved ? saved : "";
  for (const Case& c : cases) {
    SetEnvironmentValue("MVUPDATE_UNC_ROOT", native(c.unc_root));
    std::string joined = JoinPath(native(c.folder), c.tail);
    EXPECT_EQ(joined, native(c.joined)) << c.tail;
    EXPECT_EQ(ParentFolder(joined), native(c.parent)) << c.tail;
    EXPECT_EQ(UncShareFolder(joined), native(c.share)) << c.tail;
  }
  SetEnvironmentValue("MVUPDATE_UNC_ROOT", before);
}

// The time an update was installed counts only beside the number it was
// written for: the states a write stopped between two values leaves (the
// registry sets one value at a time), or a number another program changed.
TEST(SharedTablesTest, InstallTimeBesideItsNumber) {
  struct Case {
    const char* number;
    const char* time;
    const char* time_for;
    bool known;
  };
  const Case cases[] = {
      {"5", "12/07/2026 08:09:10", "5", true},
      {"4", "12/03/2026 01:02:03", "", false},  // the tag cleared first
      {"5", "12/03/2026 01:02:03", "", false},  // then the number set
      {"5", "12/07/2026 08:09:10", "", false},  // and the time
      {"6", "12/07/2026 08:09:10", "5", false},
      {"5", "12/07/2026 08:09:10", "x", false},
  };
  // The file store's folder; the registry's key on Windows.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("mvstore-" + std::to_string(CurrentProcessId()));
  std::filesystem::create_directories(folder);
  SettingsStore store(folder.string());
  for (const Case& c : cases) {
    for (auto [key, value] : {std::pair{"LastUpdateInstalled", c.number},
                              {"LastUpdateInstalledOn", c.time},
                              {"LastUpdateInstalledOnFor", c.time_for}}) {
      ASSERT_TRUE(store.SaveSetting("Qorin", "MVUpdate", key, value).ok());
    }
    EXPECT_EQ(ReadLastUpdateInstalledOn(store).has_value(), c.known)
        << c.number << " " << c.time << " for " << c.time_for;
  }
  const DateTime on{2026, 12, 8, 9, 10, 11};
  ASSERT_TRUE(StoreLastUpdateInstalled(store, 7, on).ok());
  EXPECT_EQ(ReadLastUpdateInstalledOn(store), on);
  EXPECT_EQ(
      store.GetSetting("Qorin", "MVUpdate", "LastUpdateInstalledOnFor", "")
          .value(),
      "7");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace mv
