#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/postgres_server.h"
#include "support/recording_window.h"
#include "support/sandbox.h"
#include "system/config.h"
#include "system/os_info.h"

namespace mv {
namespace {

// Start-up's lines on a sandbox installation made with `o`, which registers
// no ODBC driver: the customer record cannot be read. Every step reports its
// own failures and start-up goes on.
std::string Expected(const Sandbox& sb, const Sandbox::Options& o,
                     const std::string& type, const std::string& server_name,
                     const std::string& kind) {
  std::string folders, settings, ftp;
  if (!o.create_application_folder) {
    for (const char* f : {"Database", "Download", "Update", "Backup"}) {
      folders += "...Creating " + std::string(f) +
                 " path. (76-Path not found) " + sb.app() + "/" + f + "\n";
    }
    ftp =
        "*** InitFTPControl *** Could not change to download directory.(76-"
        "Path not found)\n";
  }
  if (!o.write_registry) {
    settings =
        "***LoadInstallSettings*** Problem with Database Server "
        "registry entry. (5-Invalid procedure call or argument) Registry "
        "file: " +
        sb.registry_file() + "\n";
  }
  return "[Directory Info] \nPATH             : " + sb.app() + "\n" + folders +
         " \n[INSTALL SETTINGS]\n" + settings + "DATABASE SERVER  : " +
         (o.write_registry ? o.db_server : "[Server]\\Merivane") +
         "\nDATABASE NAME    : " + (o.write_registry ? o.db_name : "") +
         "\nCOMPUTER NAME    : " + o.computer_name +
         "\nWINDOWS VERSION  : " + GetWindowsVersionName() +
         "\n \n[MODE SETTINGS]\nSQL DATABASE TYPE: " + type +
         "\nSERVER NAME      : " + server_name +
         "\nINSTALLATION TYPE: " + kind + "\n \n" + ftp +
         "[CUSTOMER FTP]\n-2147467259-The ODBC driver named in the connection "
         "string is not installed. [01000] [unixODBC][Driver Manager]Can't "
         "open lib 'SQL Server' : file not found\n***Error SQL DB*** Could not "
         "load customer information.\n";
}

TEST(StartUpTest, ServerAndClientMachines) {
  const std::tuple<Sandbox::Options, std::string, std::string, std::string>
      cases[] = {
          {{.computer_name = "srv01", .db_server = "SRV01\\SQLEXPRESS"},
           "SQLX ",
           "SRV01",
           "Server"},
          {{.computer_name = "TILL3"}, "MSDE ", "SRV01", "Client"},
          // A trailing backslash names no instance.
          {{.db_server = "SRV01\\"}, "MSDE ", "SRV01\\", "Client"},
          {{.computer_name = "", .db_server = "\\INST"}, "SQLX ", "", "Server"},
          // Start-up writes a registry file holding the installation folder.
          {{.write_registry = false}, "SQLX ", "[Server]", "Client"},
          {{.create_application_folder = false}, "MSDE ", "SRV01", "Server"},
      };
  for (const auto& [options, type, server_name, kind] : cases) {
    Sandbox sb(options);
    RecordingWindow window;
    Form form(window, sb.config());
    StartUp(form);
    EXPECT_EQ(Joined(window.lines),
              Expected(sb, options, type, server_name, kind));
  }
}

// The event log file starts afresh and holds the run as detail lines; the
// one time-stamped line is start-up's own failure. The run ends in Download.
TEST(StartUpTest, EventLogHoldsTheRunAsDetailLines) {
  Sandbox sb;
  WriteFile(sb.event_log(), "the previous run\r\n");
  RecordingWindow window;
  Form form(window, sb.config());
  StartUp(form);
  std::vector<std::string> file = ReadLines(sb.event_log(), "\r\n");
  ASSERT_EQ(file.size(), 17u);
  for (size_t i = 0; i < 15; ++i) EXPECT_EQ(file[i], "\t" + window.lines[i]);
  EXPECT_EQ(file[15], "\t*****ERROR::" + window.lines[15]);
  EXPECT_TRUE(file[16].ends_with("M\t*****ERROR::" + window.lines[16]));
  EXPECT_EQ(std::filesystem::current_path(), sb.app() + "/Download");
  EXPECT_FALSE(window.use_alternate_enabled);
}

// The database login from the configuration file: a role of the site's own
// with blanks, ";" and braces in its password, the built-in login disabled.
// A Warning line for a file all may read; the password is never shown.
void DatabaseLoginCases() {
  PostgresServer& pg = PostgresServer::Get();
  pg.CreateCustomerTable({}, {{"C1", "h1", "h2", "u", "ftp-pw", "5", {}}});
  pg.ExecOrFail(
      "CREATE ROLE site LOGIN PASSWORD 'p w;{x}}y' IN ROLE qorin;"
      "ALTER ROLE qorin NOLOGIN;",
      "postgres");
  const std::string login = "DatabaseUser=site\nDatabasePassword = p w;{x}}y\n";
  const std::tuple<std::string, mode_t, std::string> cases[] = {
      {login, 0640, "Customer Number  : C1"},
      {login, 0604, "every user of this machine may read it"},
      {"DatabaseUser=site\nDatabasePassword=p w;{x}y", 0600,
       "password authentication failed for user \"site\""},
      {"", 0600, "role \"qorin\" is not permitted to log in"},
      // Only the whole password is masked: the message stays readable.
      {"DatabaseUser=site\nDatabasePassword=pass;w}rd", 0600,
       "password authentication failed for user \"site\""},
  };
  for (const auto& [config, mode, shown] : cases) {
    Sandbox sb({.db_server = "127.0.0.1"});
    pg.UseIn(sb.env());
    WriteFile(sb.root() + "/mvupdate.conf", "[mvupdate]\n" + config);
    ::chmod((sb.root() + "/mvupdate.conf").c_str(), mode);
    sb.env().Set("MVUPDATE_CONFIG", sb.root() + "/mvupdate.conf");
    ReloadConfiguration();
    RecordingWindow window;
    Form form(window, sb.config());
    StartUp(form);
    for (const std::string& text :
         {ReadFile(sb.event_log()), Joined(window.history)}) {
      EXPECT_NE(text.find(shown), std::string::npos) << text;
      EXPECT_EQ(text.find("p w"), std::string::npos) << text;
      EXPECT_EQ(text.find("x}"), std::string::npos) << text;
    }
  }
  pg.ExecOrFail("ALTER ROLE qorin LOGIN; DROP ROLE site;", "postgres");
  ReloadConfiguration();
}

// The ODBC driver manager reads ODBCSYSINI once, at a process's first call,
// and the other cases point it at a folder without the driver: the cases
// run in a fresh process of this program of their own.
TEST(StartUpTest, DatabaseLoginFromTheConfigurationFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        DatabaseLoginCases();
        std::exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace mv
