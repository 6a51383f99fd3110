#include "system/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/sandbox.h"

namespace mv {
namespace {

TEST(SettingsStoreTest, ReadsDefaultsUntilWritten) {
  TempFolder tmp;
  SettingsStore store(tmp.path());
  struct Case {
    const char* what;
    std::optional<std::string> file;
    std::string expected;
  } cases[] = {
      {"no file", std::nullopt, "0"},
      {"no section", "[Other]\nLastUpdateInstalled=5\n", "0"},
      {"no key", "[MVUpdate]\nSomething=5\n", "0"},
      {"value", "; c\n[MVUpdate]\nLastUpdateInstalled=42\n", "42"},
      {"other case and blanks", "[mvupdate]\r\n  lastupdateinstalled = 7 \r\n",
       "7"},
      {"line ends of CR CR LF", "[MVUpdate]\r\r\nLastUpdateInstalled=9\r\r\n",
       "9"},
      {"last of two wins",
       "[MVUpdate]\nLastUpdateInstalled=1\n"
       "LastUpdateInstalled=2\n",
       "2"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(tmp / "Qorin");
    if (c.file) WriteFile(tmp / "Qorin/settings.ini", *c.file);
    Result<std::string> v =
        store.GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "0");
    ASSERT_TRUE(v.ok()) << c.what;
    EXPECT_EQ(v.value(), c.expected) << c.what;
  }
}

// A write keeps what every other key reads, whatever its line ends.
TEST(SettingsStoreTest, SaveKeepsOtherValues) {
  TempFolder tmp;
  SettingsStore store(tmp.path());
  WriteFile(tmp / "Qorin/settings.ini",
            "[Other]\r\nA=1\r\r\nB= two \r\n[MVUpdate]\nLastUpdateInstalled=3");
  auto other = [&](const char* key) {
    return store.GetSetting("Qorin", "Other", key, "none").value();
  };
  EXPECT_EQ(other("A"), "1");
  ASSERT_TRUE(
      store.SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "4").ok());
  EXPECT_EQ(other("A"), "1");
  EXPECT_EQ(other("B"), "two");
  EXPECT_EQ(
      store.GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "").value(),
      "4");
}

TEST(SettingsStoreTest, SaveCreatesThenChangesOnlyItsLine) {
  TempFolder tmp;
  SettingsStore store(tmp / "config");
  ASSERT_TRUE(
      store.SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "6").ok());
  EXPECT_EQ(ReadFile(tmp / "config/Qorin/settings.ini"),
            "[MVUpdate]\nLastUpdateInstalled=6\n");
  WriteFile(tmp / "config/Qorin/settings.ini",
            "; site notes\n[Other]\nA=1\n\n[MVUpdate]\nLastUpdateInstalled=6\n"
            "\n[Third]\nB=2\n");
  ASSERT_TRUE(
      store.SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "-1").ok());
  ASSERT_TRUE(store.SaveSetting("Qorin", "Other", "C", "3").ok());
  EXPECT_EQ(ReadFile(tmp / "config/Qorin/settings.ini"),
            "; site notes\n[Other]\nA=1\nC=3\n\n[MVUpdate]\n"
            "LastUpdateInstalled=-1\n\n[Third]\nB=2\n");
}

TEST(SettingsStoreTest, MalformedFileIsReportedAndKept) {
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"binary junk", std::string("\x7f\x45\x4c\x46\0\0", 6)},
      {"key outside a section", "LastUpdateInstalled=3\n"},
      {"no equals sign", "[MVUpdate]\nLastUpdateInstalled\n"},
      {"broken header", "[MVUpdate\nLastUpdateInstalled=3\n"},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    SettingsStore store(tmp.path());
    WriteFile(tmp / "Qorin/settings.ini", c.text);
    EXPECT_FALSE(
        store.GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "0").ok())
        << c.what;
    EXPECT_FALSE(
        store.SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "1").ok())
        << c.what;
    EXPECT_EQ(ReadFile(tmp / "Qorin/settings.ini"), c.text) << c.what;
  }
}

TEST(SettingsStoreTest, UnwritableFolderFailsAndKeepsValue) {
  TempFolder tmp;
  SettingsStore store(tmp.path());
  ASSERT_TRUE(
      store.SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "4").ok());
  ::chmod((tmp / "Qorin").c_str(), 0500);
  Status st = [&] {
    ScopedUnprivileged unprivileged;
    return store.SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "5");
  }();
  ::chmod((tmp / "Qorin").c_str(), 0700);
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.failure().number(), kPermissionDenied);
  EXPECT_EQ(
      store.GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "0").value(),
      "4");
}

TEST(SettingsStoreTest, DefaultFolder) {
  ScopedEnv env;
  env.Set("XDG_CONFIG_HOME", "/cfg");
  env.Set("HOME", "/home/till");
  EXPECT_EQ(SettingsStore::DefaultFolder(), "/cfg");
  env.Set("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(SettingsStore::DefaultFolder(), "/home/till/.config");
  env.Set("XDG_CONFIG_HOME", "relative/ignored");
  EXPECT_EQ(SettingsStore::DefaultFolder(), "/home/till/.config");
  env.Set("HOME", std::nullopt);
  // Falls back to the password entry's home folder.
  EXPECT_NE(SettingsStore::DefaultFolder(), "");
}

TEST(SettingsStoreTest, NoFolderGivesDefaultsAndRefusesWrites) {
  SettingsStore store("");
  EXPECT_EQ(
      store.GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "0").value(),
      "0");
  EXPECT_FALSE(
      store.SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "1").ok());
}

}  // namespace
}  // namespace mv
