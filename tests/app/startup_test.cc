#include "app/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/form.h"
#include "support/recording_window.h"
#include "support/sandbox.h"
#include "system/os_info.h"

namespace mv {
namespace {

using Lines = std::vector<std::string>;

// The first three blocks of start-up for a sandbox installation.
Lines SettingsBlocks(const Sandbox& sb, const std::string& server,
                     const std::string& computer, const std::string& type,
                     const std::string& server_name, const std::string& kind) {
  return {"[Directory Info] ",
          "PATH             : " + sb.app(),
          " ",
          "[INSTALL SETTINGS]",
          "DATABASE SERVER  : " + server,
          "DATABASE NAME    : Quillmere",
          "COMPUTER NAME    : " + computer,
          "WINDOWS VERSION  : " + GetWindowsVersionName(),
          " ",
          "[MODE SETTINGS]",
          "SQL DATABASE TYPE: " + type,
          "SERVER NAME      : " + server_name,
          "INSTALLATION TYPE: " + kind,
          " "};
}

TEST(StartUpTest, ServerAndClientMachines) {
  struct Case {
    std::string db_server, computer, type, server_name, kind;
  } cases[] = {
      {"SRV01\\SQLEXPRESS", "srv01", "SQLX ", "SRV01", "Server"},
      {"SRV01", "TILL3", "MSDE ", "SRV01", "Client"},
      // A trailing backslash names no instance.
      {"SRV01\\", "SRV01", "MSDE ", "SRV01\\", "Client"},
      {"\\INST", "", "SQLX ", "", "Server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.db_server);
    Sandbox sb({.computer_name = c.computer, .db_server = c.db_server});
    RecordingWindow window;
    Form form(window, sb.config());
    StartUp(form);
    window.lines.resize(14);
    EXPECT_EQ(window.lines, SettingsBlocks(sb, c.db_server, c.computer, c.type,
                                           c.server_name, c.kind));
    EXPECT_EQ(std::filesystem::current_path(), sb.app() + "/Download");
  }
}

// Without a registered ODBC driver (the sandbox registers none) the
// customer record cannot be read: start-up ends with that failure, its one
// time-stamped line in an event log that otherwise holds detail lines.
TEST(StartUpTest, EventLogHoldsTheRunAsDetailLines) {
  Sandbox sb;
  WriteFile(sb.event_log(), "the previous run\r\n");
  RecordingWindow window;
  Form form(window, sb.config());
  StartUp(form);
  const std::string no_driver =
      "-2147467259-[01000] [unixODBC][Driver Manager]Can't open lib 'SQL "
      "Server' : file not found";
  const std::string no_customer =
      "***Error SQL DB*** Could not load customer information.";
  Lines expected =
      SettingsBlocks(sb, "SRV01", "SRV01", "MSDE ", "SRV01", "Server");
  expected.insert(expected.end(), {"[CUSTOMER FTP]", no_driver, no_customer});
  EXPECT_EQ(window.lines, expected);
  Lines file = ReadCrLfLines(sb.event_log());
  ASSERT_EQ(file.size(), expected.size());
  expected[15] = "*****ERROR::" + no_driver;
  expected[16] = "M\t*****ERROR::" + no_customer;  // after the time stamp
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(file[i], "\t" + expected[i]);
  EXPECT_NE(file[16].find(expected[16]), std::string::npos) << file[16];
  EXPECT_EQ(form.settings.LastError, no_driver);
  EXPECT_FALSE(window.use_alternate_enabled);
}

TEST(StartUpTest, MissingRegistryValueLeavesDefaultServer) {
  Sandbox sb({.write_registry = false});
  WriteFile(sb.registry_file(),
            "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
            "\"InstallPath\"=\"" +
                sb.install() + "\"\r\n");
  RecordingWindow window;
  Form form(window, sb.config());
  StartUp(form);
  Lines expected = SettingsBlocks(sb, "[Server]\\Merivane", "SRV01", "SQLX ",
                                  "[Server]", "Client");
  expected[5] = "DATABASE NAME    : ";
  expected.insert(expected.begin() + 4,
                  "***LoadInstallSettings*** Problem with Database Server "
                  "registry entry. (5-Invalid procedure call or argument)");
  window.lines.resize(15);
  EXPECT_EQ(window.lines, expected);
}

TEST(StartUpTest, MissingApplicationFolderReportsEachWorkFolder) {
  Sandbox sb({.create_application_folder = false});
  RecordingWindow window;
  Form form(window, sb.config());
  StartUp(form);
  EXPECT_EQ(window.lines.at(2),
            "...Creating Database path. (76-Path not found)");
  EXPECT_EQ(window.lines.at(5), "...Creating Backup path. (76-Path not found)");
  // Start-up goes on to the end.
  EXPECT_EQ(window.lines.back(),
            "***Error SQL DB*** Could not load customer information.");
}

}  // namespace
}  // namespace mv
