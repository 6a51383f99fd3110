#include "system/registry.h"

#include <gtest/gtest.h>

#include "support/sandbox.h"
#include "system/registry_queries.h"

namespace mv {
namespace {

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin";

TEST(RegistryImageTest, ParsesValuesOfEveryForm) {
  Result<RegistryImage> image = RegistryImage::Parse(
      "REGEDIT4\r\n\r\n; comment\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
      "\"DBServerName\"=\"SRV01\\\\SQLEXPRESS\"\r\n"
      "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
      "\"Count\"=dword:0000002a\r\n"
      "\"Raw\"=hex:01,ff,\\\r\n  10\r\n"
      "\"NoNul\"=hex(1):41,42\r\n"
      "@=\"default\"\n",
      "test.reg");
  ASSERT_TRUE(image.ok()) << image.failure().Text();
  const RegistryKey* key =
      image.value().FindKey("hkey_local_machine\\software\\qorin");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->values.size(), 6u);
  EXPECT_EQ(key->values[0].data, std::string("SRV01\\SQLEXPRESS\0", 17));
  EXPECT_EQ(key->values[1].data, std::string("say \"hi\"\0", 9));
  EXPECT_EQ(key->values[2].type, kRegDword);
  EXPECT_EQ(key->values[2].data, std::string("\x2a\0\0\0", 4));
  EXPECT_EQ(key->values[3].data, "\x01\xff\x10");
  EXPECT_EQ(key->values[4].type, kRegSz);
  EXPECT_EQ(key->values[4].data, "AB");
  EXPECT_EQ(key->values[5].name, "");
}

TEST(RegistryImageTest, SerializeRoundTrips) {
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
      "\"InstallPath\"=\"/opt/merivane\"\r\n"
      "\"DBServerName\"=\"SRV\\\\INST \\\"x\\\"\"\r\n"
      "\"Count\"=dword:0000002a\r\n"
      "\"Raw\"=hex:00,01\r\n"
      "\"Multi\"=hex(7):41,00,00\r\n";
  Result<RegistryImage> image = RegistryImage::Parse(text, "t");
  ASSERT_TRUE(image.ok()) << image.failure().Text();
  EXPECT_EQ(image.value().Serialize(), text);
}

TEST(RegistryImageTest, RejectsMalformedText) {
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"binary junk", std::string("REGEDIT4\r\n\0\x01\x02", 13)},
      {"missing header", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"},
      {"other header", "Windows Registry Editor Version 5.00\r\n"},
      {"value outside a key", "REGEDIT4\r\n\"a\"=\"b\"\r\n"},
      {"unterminated string", "REGEDIT4\r\n[K]\r\n\"a\"=\"b\r\n"},
      {"bad escape", "REGEDIT4\r\n[K]\r\n\"a\"=\"b\\n\"\r\n"},
      {"text after the string", "REGEDIT4\r\n[K]\r\n\"a\"=\"b\" x\r\n"},
      {"short dword", "REGEDIT4\r\n[K]\r\n\"a\"=dword:2a\r\n"},
      {"bad hex", "REGEDIT4\r\n[K]\r\n\"a\"=hex:0g\r\n"},
      {"unclosed key", "REGEDIT4\r\n[K\r\n"},
      {"key deletion", "REGEDIT4\r\n[-K]\r\n"},
      {"missing =", "REGEDIT4\r\n[K]\r\n\"a\" \"b\"\r\n"},
  };
  for (const Case& c : cases) {
    Result<RegistryImage> image = RegistryImage::Parse(c.text, "bad.reg");
    ASSERT_FALSE(image.ok()) << c.what;
    EXPECT_EQ(image.failure().number(), kPathFileAccessError) << c.what;
    EXPECT_NE(image.failure().description().find("bad.reg line"),
              std::string::npos)
        << c.what;
  }
}

TEST(RegistryTest, MalformedFileIsNeverOverwritten) {
  TempFolder tmp;
  const std::string junk = "REGEDIT4\r\n[K\r\n";
  WriteFile(tmp / "r.reg", junk);
  Registry reg(tmp / "r.reg");
  EXPECT_FALSE(reg.KeyExists(kKey).ok());
  EXPECT_FALSE(reg.CreateKey(kKey).ok());
  EXPECT_FALSE(reg.SetValue(kKey, {"InstallPath", kRegSz, "/x"}).ok());
  RegistryQueries q(reg);
  ScopedEnv env;
  env.Set("MVUPDATE_DEFAULT_INSTALL_PATH", "/opt/merivane");
  EXPECT_EQ(q.GetInstallPath(), "/opt/merivane");
  Result<std::string> server = q.GetDBServerName();
  ASSERT_FALSE(server.ok());
  EXPECT_NE(server.failure().description().find("line 2"), std::string::npos);
  EXPECT_EQ(ReadFile(tmp / "r.reg"), junk);
}

// The queries of start-up over registry files of different shapes.
TEST(RegistryQueriesTest, InstallPathServerAndDatabase) {
  const std::string long255(255, 'x');
  const std::string long256(256, 'x');
  struct Case {
    const char* what;
    std::optional<std::string> file;  // nothing: no registry file
    std::string install;
    std::optional<std::string> server;  // nothing: the query fails
    std::string database;
  } cases[] = {
      // The first query creates the key, which then lacks DBServerName.
      {"no file", std::nullopt, "/default", std::nullopt, ""},
      {"empty key", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n",
       "/default", std::nullopt, ""},
      {"all values",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
       "\"installpath\"=\"D:\\\\Apps\\\\Suite\"\r\n"
       "\"DBServerName\"=\"SRV01\\\\SQLEXPRESS\"\r\n"
       "\"DatabaseName\"=\"Quillmere\"\r\n",
       "D:\\Apps\\Suite", "SRV01\\SQLEXPRESS", "Quillmere"},
      {"key named in other case",
       "REGEDIT4\r\n[hkey_local_machine\\Software\\QORIN]\r\n"
       "\"DBServerName\"=\"S\"\r\n",
       "/default", "S", ""},
      {"blank install path and database",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
       "\"InstallPath\"=\"   \"\r\n\"DatabaseName\"=\"  \"\r\n",
       "/default", std::nullopt, ""},
      {"install path with leading blanks",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
       "\"InstallPath\"=\"  /srv/m\"\r\n",
       "/srv/m", std::nullopt, ""},
      {"values that fill the buffer",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
       "\"DBServerName\"=\"" +
           long255 + "\"\r\n\"DatabaseName\"=\"" + long255 + "\"\r\n",
       "/default", long255, long255},
      {"values over the buffer read as missing",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
       "\"DBServerName\"=\"" +
           long256 + "\"\r\n\"DatabaseName\"=\"" + long256 + "\"\r\n",
       "/default", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    ScopedEnv env;
    env.Set("MVUPDATE_DEFAULT_INSTALL_PATH", "/default");
    if (c.file) WriteFile(tmp / "r.reg", *c.file);
    Registry reg(tmp / "r.reg");
    RegistryQueries q(reg);
    EXPECT_EQ(q.GetInstallPath(), c.install) << c.what;
    Result<std::string> server = q.GetDBServerName();
    ASSERT_EQ(server.ok(), c.server.has_value()) << c.what;
    if (c.server) {
      EXPECT_EQ(server.value(), *c.server) << c.what;
    } else {
      EXPECT_EQ(server.failure().number(), kInvalidArgument) << c.what;
    }
    EXPECT_EQ(q.GetDatabaseName(), c.database) << c.what;
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
  // The key now exists without DBServerName: the server query fails.
  EXPECT_FALSE(q.GetDBServerName().ok());
  // The folder is cached: a changed file does not change it during the run.
  WriteFile(tmp / "r.reg",
            "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
            "\"InstallPath\"=\"/elsewhere\"\r\n");
  EXPECT_EQ(q.GetInstallPath(), "/opt/merivane");
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

TEST(RegistryQueriesTest, UnchangedValueLeavesFileAlone) {
  TempFolder tmp;
  const std::string text =
      "REGEDIT4\n\n; kept comment\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\n"
      "\"InstallPath\"=\"/srv/m\"\n";
  WriteFile(tmp / "r.reg", text);
  Registry reg(tmp / "r.reg");
  RegistryQueries q(reg);
  EXPECT_EQ(q.GetInstallPath(), "/srv/m");
  EXPECT_EQ(ReadFile(tmp / "r.reg"), text);
}

TEST(QueryIntoBufferTest, BlankFilledAndUntouchedWhenTooLong) {
  EXPECT_EQ(QueryIntoBuffer(std::string("ab\0", 3), 5),
            std::string("ab\0  ", 5));
  EXPECT_EQ(QueryIntoBuffer("abcdef", 5), "     ");
  EXPECT_EQ(QueryIntoBuffer("abcde", 5), "abcde");
}

}  // namespace
}  // namespace mv
