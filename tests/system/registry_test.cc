// The registry file, its start-up queries, and the per-user settings store.
#include "system/registry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/sandbox.h"
#include "system/registry_queries.h"
#include "system/settings_store.h"

namespace mv {
namespace {

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin";
const std::string kHead =
    "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n";

TEST(RegistryImageTest, ParsesAndSerializes) {
  Result<RegistryImage> image = RegistryImage::Parse(
      kHead + "\"Raw\"=hex:01,ff,\\\r\n  10\r\n\"NoNul\"=hex(1):41,42\r\n",
      "t");
  ASSERT_TRUE(image.ok()) << image.failure().Text();
  const RegistryKey* key =
      image.value().FindKey("hkey_local_machine\\software\\qorin");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->values.size(), 2u);
  EXPECT_EQ(key->values[0].data, "\x01\xff\x10");
  EXPECT_EQ(key->values[1].data, "AB");

  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
      "\"DBServerName\"=\"SRV\\\\INST \\\"x\\\"\"\r\n"
      "\"Count\"=dword:0000002a\r\n\"Multi\"=hex(7):41,00,00\r\n";
  image = RegistryImage::Parse(text, "t");
  EXPECT_EQ(image.value().FindKey(kKey)->values[0].data,
            std::string("SRV\\INST \"x\"\0", 13));
  EXPECT_EQ(image.value().Serialize(), text);
}

// A file that cannot be parsed is reported with its line and never
// overwritten.
TEST(RegistryTest, MalformedFileIsReportedAndKept) {
  for (const std::string& text : {
           std::string("REGEDIT4\r\n\0\x01\x02", 13),
           std::string("Windows Registry Editor Version 5.00\r\n"),
           std::string("REGEDIT4\r\n\"a\"=\"b\"\r\n"),
           std::string("REGEDIT4\r\n[K]\r\n\"a\"=\"b\r\n"),
           std::string("REGEDIT4\r\n[K]\r\n\"a\"=dword:2a\r\n"),
           std::string("REGEDIT4\r\n[-K]\r\n"),
       }) {
    TempFolder tmp;
    WriteFile(tmp / "bad.reg", text);
    Registry reg(tmp / "bad.reg");
    Result<std::string> server = RegistryQueries(reg).GetDBServerName();
    ASSERT_FALSE(server.ok()) << text;
    EXPECT_EQ(server.failure().number(), kPathFileAccessError) << text;
    EXPECT_NE(server.failure().description().find("bad.reg line"),
              std::string::npos);
    EXPECT_FALSE(reg.CreateKey(kKey).ok());
    EXPECT_FALSE(reg.SetValue(kKey, {"InstallPath", kRegSz, "/x"}).ok());
    EXPECT_EQ(ReadFile(tmp / "bad.reg"), text);
  }
}

TEST(RegistryQueriesTest, InstallPathServerAndDatabase) {
  const std::string long255(255, 'x');
  const std::string long256(256, 'x');
  auto values = [&](const std::string& server, const std::string& db) {
    return kHead + "\"DBServerName\"=\"" + server +
           "\"\r\n\"DatabaseName\"=\"" + db + "\"\r\n";
  };
  struct Case {
    const char* what;
    std::optional<std::string> file;  // nothing: no registry file
    std::string install;
    std::optional<std::string> server;  // nothing: the query fails
    std::string database;
  } cases[] = {
      // The first query creates the key, which then lacks DBServerName.
      {"no file", std::nullopt, "/default", std::nullopt, ""},
      {"all values",
       kHead + "\"installpath\"=\"D:\\\\Apps\"\r\n\"DBServerName\"=\"S\\\\I\""
               "\r\n\"DatabaseName\"=\"Quillmere\"\r\n",
       "D:\\Apps", "S\\I", "Quillmere"},
      {"blank install path and database",
       kHead + "\"InstallPath\"=\"   \"\r\n\"DatabaseName\"=\"  \"\r\n",
       "/default", std::nullopt, ""},
      {"install path with leading blanks",
       kHead + "\"InstallPath\"=\"  /srv/m\"\r\n", "/srv/m", std::nullopt, ""},
      {"values that fill the buffer", values(long255, long255), "/default",
       long255, long255},
      {"values over the buffer read as missing", values(long256, long256),
       "/default", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder tmp;
    ScopedEnv env;
    env.Set("MVUPDATE_DEFAULT_INSTALL_PATH", "/default");
    if (c.file) WriteFile(tmp / "r.reg", *c.file);
    Registry reg(tmp / "r.reg");
    RegistryQueries q(reg);
    EXPECT_EQ(q.GetInstallPath(), c.install);
    Result<std::string> server = q.GetDBServerName();
    EXPECT_EQ(server.ok() ? server.value() : server.failure().Text(),
              c.server.value_or("5-Invalid procedure call or argument"));
    EXPECT_EQ(q.GetDatabaseName(), c.database);
  }
}

TEST(RegistryQueriesTest, FirstCallCreatesKeyAndWritesInstallPathBack) {
  TempFolder tmp;
  ScopedEnv env;
  env.Set("MVUPDATE_DEFAULT_INSTALL_PATH", "/opt/merivane");
  Registry reg(tmp / "r.reg");
  RegistryQueries q(reg);
  EXPECT_EQ(q.GetInstallPath(), "/opt/merivane");
  EXPECT_EQ(ReadFile(tmp / "r.reg"),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Qorin]\r\n"
            "\"InstallPath\"=\"/opt/merivane\"\r\n");
  // The folder is cached: a changed file does not change it during the run.
  WriteFile(tmp / "r.reg", kHead + "\"InstallPath\"=\"/elsewhere\"\r\n");
  EXPECT_EQ(q.GetInstallPath(), "/opt/merivane");

  // An unchanged value leaves the file and its comments alone.
  const std::string text =
      "REGEDIT4\n; kept\n" + kHead.substr(10) + "\"InstallPath\"=\"/srv/m\"\n";
  WriteFile(tmp / "s.reg", text);
  Registry kept(tmp / "s.reg");
  EXPECT_EQ(RegistryQueries(kept).GetInstallPath(), "/srv/m");
  EXPECT_EQ(ReadFile(tmp / "s.reg"), text);
}

TEST(RegistryQueriesTest, UncreatableKeyGivesAdvice) {
  TempFolder tmp;
  Registry reg(tmp / "no-such-folder/r.reg");
  RegistryQueries q(reg);
  EXPECT_EQ(q.WriteInstallPath("/x"),
            "You will need to create a registry key under "
            "LOCAL_MACHINE\\SOFTWARE\\Qorin before saving these settings.");
  // Without the key both names are empty, and the server query succeeds.
  EXPECT_EQ(q.GetDBServerName().value(), "");
  EXPECT_EQ(q.GetDatabaseName(), "");
}

std::string Get(SettingsStore& store, const char* section = "MVUpdate",
                const char* key = "LastUpdateInstalled") {
  Result<std::string> v = store.GetSetting("Qorin", section, key, "none");
  return v.ok() ? v.value() : v.failure().Text();
}

Status Save(SettingsStore& store, const char* value,
            const char* section = "MVUpdate") {
  return store.SaveSetting("Qorin", section, "LastUpdateInstalled", value);
}

TEST(SettingsStoreTest, Reads) {
  TempFolder tmp;
  SettingsStore store(tmp.path());
  struct Case {
    std::optional<std::string> file;
    std::string expected;
  } cases[] = {
      {std::nullopt, "none"},
      {"[Other]\nLastUpdateInstalled=5\n", "none"},
      {"[mvupdate]\r\n  lastupdateinstalled = 7 \r\n", "7"},
      {"[MVUpdate]\r\r\nLastUpdateInstalled=9\r\r\n", "9"},
      {"[MVUpdate]\nLastUpdateInstalled=1\nLastUpdateInstalled=2\n", "2"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(tmp / "Qorin");
    if (c.file) WriteFile(tmp / "Qorin/settings.ini", *c.file);
    EXPECT_EQ(Get(store), c.expected) << c.file.value_or("no file");
  }
  SettingsStore nowhere("");
  EXPECT_EQ(Get(nowhere), "none");
}

// A write changes its own line only and keeps what every other key reads,
// whatever the line ends.
TEST(SettingsStoreTest, SaveChangesOnlyItsLine) {
  TempFolder tmp;
  SettingsStore store(tmp / "config");
  WriteFile(tmp / "config/Qorin/settings.ini",
            "; notes\n[Other]\nA=1\n\n[MVUpdate]\nLastUpdateInstalled=6\n"
            "\n[Third]\nB=2\n");
  ASSERT_TRUE(Save(store, "-1").ok());
  ASSERT_TRUE(Save(store, "3", "Other").ok());
  EXPECT_EQ(ReadFile(tmp / "config/Qorin/settings.ini"),
            "; notes\n[Other]\nA=1\nLastUpdateInstalled=3\n\n[MVUpdate]\n"
            "LastUpdateInstalled=-1\n\n[Third]\nB=2\n");

  WriteFile(tmp / "config/Qorin/settings.ini",
            "[Other]\r\nA=1\r\r\nB= two \r\n[MVUpdate]\nLastUpdateInstalled=3");
  ASSERT_TRUE(Save(store, "4").ok());
  EXPECT_EQ(Get(store, "Other", "A"), "1");
  EXPECT_EQ(Get(store, "Other", "B"), "two");
  EXPECT_EQ(Get(store), "4");
  SettingsStore nowhere("");
  EXPECT_FALSE(Save(nowhere, "1").ok());
}

TEST(SettingsStoreTest, MalformedFileIsReportedAndKept) {
  for (const std::string& text : {
           std::string("\x7f\x45\x4c\x46\0\0", 6),
           std::string("LastUpdateInstalled=3\n"),
           std::string("[MVUpdate\nLastUpdateInstalled=3\n"),
       }) {
    TempFolder tmp;
    SettingsStore store(tmp.path());
    WriteFile(tmp / "Qorin/settings.ini", text);
    EXPECT_EQ(Get(store).rfind("75-", 0), 0u) << text;
    EXPECT_FALSE(Save(store, "1").ok()) << text;
    EXPECT_EQ(ReadFile(tmp / "Qorin/settings.ini"), text);
  }
}

}  // namespace
}  // namespace mv
