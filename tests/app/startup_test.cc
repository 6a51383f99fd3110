#include "app/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/form.h"
#include "support/recording_window.h"
#include "support/sandbox.h"
#include "system/os_info.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

// The first three blocks of start-up for a sandbox installation.
std::vector<std::string> SettingsBlocks(const Sandbox& sb,
                                        const std::string& server,
                                        const std::string& computer,
                                        const std::string& server_name,
                                        const std::string& type,
                                        const std::string& kind) {
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

// What the customer record step reports when no ODBC driver is registered
// (the sandbox registers none).
constexpr char kNoDriver[] =
    "-2147467259-[01000] [unixODBC][Driver Manager]Can't open lib 'SQL "
    "Server' : file not found";

std::vector<std::string> Tail(const std::vector<std::string>& v, size_t n) {
  return std::vector<std::string>(
      v.end() - static_cast<long>(std::min(n, v.size())), v.end());
}

std::vector<std::string> Head(const std::vector<std::string>& v, size_t n) {
  return std::vector<std::string>(
      v.begin(), v.begin() + static_cast<long>(std::min(n, v.size())));
}

TEST(StartUpTest, ServerAndClientMachines) {
  struct Case {
    const char* what;
    std::string db_server;
    std::string computer;
    std::string type;
    std::string server_name;
    std::string kind;
    int32_t installation_type;
  } cases[] = {
      {"named instance on the server", "SRV01\\SQLEXPRESS", "srv01", "SQLX ",
       "SRV01", "Server", 0},
      {"default instance on a till", "SRV01", "TILL3", "MSDE ", "SRV01",
       "Client", 1},
      {"trailing backslash is not an instance", "SRV01\\", "SRV01", "MSDE ",
       "SRV01\\", "Client", 1},
      {"blanks around the server", " SRV01 ", "SRV01", "MSDE ", " SRV01 ",
       "Server", 0},
      {"leading backslash", "\\INST", "", "SQLX ", "", "Server", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox::Options o;
    o.db_server = c.db_server;
    o.computer_name = c.computer;
    Sandbox sb(o);
    RecordingWindow window;
    Form form(window, sb.config());
    StartUp(form);
    EXPECT_EQ(Head(window.lines, 14),
              SettingsBlocks(sb, c.db_server, c.computer, c.server_name, c.type,
                             c.kind));
    EXPECT_EQ(form.settings.InstallationType, c.installation_type);
    EXPECT_EQ(form.settings.ConnectionString,
              "driver={SQL Server};server=" + c.db_server +
                  ";uid=qorin;pwd=wzq;database=Quillmere");
    for (const char* f : {"Database", "Download", "Update", "Backup"}) {
      EXPECT_TRUE(fs::is_directory(sb.app() + "/" + f)) << f;
    }
    EXPECT_EQ(fs::current_path(), sb.app() + "/Download");
    // The FTP component exists and logged nothing.
    EXPECT_NE(form.ftpTransfer, nullptr);
    for (const std::string& line : window.lines) {
      EXPECT_EQ(line.find("InitFTPControl"), std::string::npos) << line;
    }
  }
}

TEST(StartUpTest, EventLogHoldsTheRunAsDetailLines) {
  Sandbox sb;
  WriteFile(sb.event_log(), "the previous run\r\n");
  RecordingWindow window;
  Form form(window, sb.config());
  StartUp(form);
  std::vector<std::string> file = ReadCrLfLines(sb.event_log());
  ASSERT_GE(file.size(), 14u);
  std::vector<std::string> expected =
      SettingsBlocks(sb, "SRV01", "SRV01", "SRV01", "MSDE ", "Server");
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(file[i], "\t" + expected[i]);
  }
  // Without a registered ODBC driver the customer record cannot be read;
  // its failure is the one time-stamped line.
  ASSERT_GE(file.size(), 3u);
  EXPECT_EQ(file[file.size() - 3], "\t[CUSTOMER FTP]");
  EXPECT_EQ(file[file.size() - 2], "\t*****ERROR::" + std::string(kNoDriver));
  EXPECT_NE(file.back().find(
                "M\t*****ERROR::***Error SQL DB*** Could not load customer "
                "information."),
            std::string::npos)
      << file.back();
  EXPECT_EQ(Tail(window.lines, 3),
            (std::vector<std::string>{
                "[CUSTOMER FTP]", kNoDriver,
                "***Error SQL DB*** Could not load customer information."}));
  EXPECT_EQ(form.settings.LastError, kNoDriver);
  EXPECT_FALSE(window.use_alternate_enabled);
}

TEST(StartUpTest, MissingRegistryValueLeavesDefaultServer) {
  Sandbox::Options o;
  o.write_registry = false;
  Sandbox sb(o);
  WriteFile(sb.registry_file(),
            "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
            "\"InstallPath\"=\"" +
                sb.install() + "\"\r\n");
  RecordingWindow window;
  Form form(window, sb.config());
  StartUp(form);
  std::vector<std::string> expected = SettingsBlocks(
      sb, "[Server]\\Merivane", "SRV01", "[Server]", "SQLX ", "Client");
  expected[5] = "DATABASE NAME    : ";
  expected.insert(expected.begin() + 4,
                  "***LoadInstallSettings*** Problem with Database Server "
                  "registry entry. (5-Invalid procedure call or argument)");
  EXPECT_EQ(Head(window.lines, 15), expected);
  EXPECT_EQ(form.settings.InstallationType, 1);
}

TEST(StartUpTest, MissingApplicationFolderReportsEachWorkFolder) {
  Sandbox::Options o;
  o.create_application_folder = false;
  Sandbox sb(o);
  RecordingWindow window;
  Form form(window, sb.config());
  StartUp(form);
  std::vector<std::string> expected = {
      "[Directory Info] ",
      "PATH             : " + sb.app(),
      "...Creating Database path. (76-Path not found)",
      "...Creating Download path. (76-Path not found)",
      "...Creating Update path. (76-Path not found)",
      "...Creating Backup path. (76-Path not found)",
      " ",
      "[INSTALL SETTINGS]"};
  EXPECT_EQ(Head(window.lines, 8), expected);
  // Start-up goes on to the end.
  EXPECT_EQ(Tail(window.lines, 3),
            (std::vector<std::string>{
                "[CUSTOMER FTP]", kNoDriver,
                "***Error SQL DB*** Could not load customer information."}));
}

}  // namespace
}  // namespace mv
