// Update System end to end: a vendor FTP site (pyftpdlib), the suite
// database (PostgreSQL through ODBC), a server installation that updates
// from the site and a client installation that updates from the server's
// share.
#include "transport/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>

#include "app/form.h"
#include "app/startup.h"
#include "support/ftp_server.h"
#include "support/postgres_server.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const char kControlFile[] =
    "LASTUPDATE=2\r\n"
    "[UPDATE 1]\r\n"
    "USERCOMMENT=Update one\r\n"
    "DOWNLOAD Patch1.zip\r\n"
    "UNZIP Patch1.zip *.*\r\n"
    "{SERVER}\r\n"
    "DOWNLOAD setup.sh\r\n"
    "RUN setup.sh marker1.txt\r\n"
    "[UPDATE 2]\r\n"
    "DOWNLOAD Patch2.zip\r\n"
    "UNZIP Patch2.zip *.*\r\n";

class UpdateRunTest : public ::testing::Test {
 protected:
  UpdateRunTest() : site_(FtpServer::Shared()), pg_(PostgresServer::Get()) {
    EXPECT_TRUE(site_.ok()) << site_.error();
    site_.Reset();
  }

  // The vendor site: the primary layout, or everything in Merivane/Update
  // for the alternate site.
  void PublishSite(bool alternate = false) {
    std::string customer = alternate ? "Merivane/Update/" : "Merivane/C1001/";
    site_.Put(customer + "MVControl.dat", "customer control file\r\n");
    site_.Put("Merivane/Update/MVUpdate.dat", kControlFile);
    site_.Put("Merivane/Update/Patch1.zip",
              MakeZip({{"Bin/core.txt", "core 1"}, {"readme.txt", "one"}}));
    site_.Put("Merivane/Update/Patch2.zip",
              MakeZip({{"Bin/core.txt", "core 2"}}));
    site_.Put("Merivane/Update/setup.sh",
              "#!/bin/sh\necho \"set up\" > \"$1\"\n");
  }

  // A sandbox installation whose database is the test server, holding the
  // customer's row.
  std::unique_ptr<Sandbox> Installation(const std::string& computer) {
    Sandbox::Options o;
    o.computer_name = computer;
    o.db_server = "127.0.0.1";
    auto sb = std::make_unique<Sandbox>(o);
    pg_.UseIn(sb->env());
    sb->env().Set("MVUPDATE_RUN_WAIT_SECONDS", "0.2");
    sb->env().Set("MVUPDATE_FTP_TIMEOUT", "5");
    pg_.CreateCustomerTable({},
                            {{"C1001", site_.host(), site_.host(), site_.user(),
                              site_.password(), "0", std::nullopt}});
    return sb;
  }

  // Starts the utility on `sb`, runs `arrange`, and presses Update System.
  Lines Run(Sandbox& sb, bool alternate = false,
            const std::function<void()>& arrange = nullptr) {
    window_ = std::make_unique<RecordingWindow>();
    form_ = std::make_unique<Form>(*window_, sb.config());
    StartUp(*form_);
    if (arrange) arrange();
    window_->use_alternate = alternate;
    UpdateSystemClick(*form_);
    return window_->lines;
  }

  std::string Stored(Sandbox& sb) {
    return SettingsStore(sb.config_home())
        .GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "none")
        .value();
  }

  FtpServer& site_;
  PostgresServer& pg_;
  std::unique_ptr<RecordingWindow> window_;
  std::unique_ptr<Form> form_;
};

TEST_F(UpdateRunTest, ServerThenClient) {
  PublishSite();
  std::unique_ptr<Sandbox> server = Installation("127.0.0.1");
  const std::string app = server->app();
  Lines lines = Run(*server);
  const Lines expected = {"-----  MERIVANE SERVER UPDATE  -----.",
                          " ",
                          "Connect To FTP Site: ",
                          "Connected.",
                          " ",
                          "Changing directory on FTPSite to C1001",
                          "Getting MVControl.dat from FTPSite ",
                          "Got MVControl.dat",
                          "Copied to Update folder.",
                          " ",
                          "Processing customer's control file.",
                          "Processing of customer's control file complete.",
                          "Getting update control file.",
                          "got MVUpdate.dat",
                          "copied to folder (" + app + "/Update/MVUpdate.dat).",
                          "Getting of update control file complete.",
                          "Checking for a new update.",
                          "   A new update is available.",
                          " ",
                          "Processing update control file.",
                          "   Installing update 1...",
                          "COMMAND: USERCOMMENT=Update one",
                          "   Update one",
                          "COMMAND: DOWNLOAD Patch1.zip",
                          "COMMAND: UNZIP Patch1.zip *.*",
                          "DESTINATION      : " + app + "/Download",
                          "ZIPFILE          : Patch1.zip",
                          "FILESPEC         : *.*",
                          "COMMAND: DOWNLOAD setup.sh",
                          "COMMAND: RUN setup.sh marker1.txt",
                          "   Update 1 installed.",
                          "   Installing update 2...",
                          "COMMAND: DOWNLOAD Patch2.zip",
                          "COMMAND: UNZIP Patch2.zip *.*",
                          "DESTINATION      : " + app + "/Download",
                          "ZIPFILE          : Patch2.zip",
                          "   Update 2 installed.",
                          "Processing of update control file complete.",
                          "[CUSTOMER FTP]",
                          " ",
                          "Update complete..",
                          " "};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(form_->error_lines, 0);
  EXPECT_EQ(window_->busy_changes, (std::vector<bool>{true, false}));

  EXPECT_EQ(Stored(*server), "2");
  EXPECT_EQ(ReadFile(app + "/Download/marker1.txt"), "set up\n");
  // One login, the status report in the customer's folder, then QUIT.
  EXPECT_EQ(site_.Count("USER"), 1);
  EXPECT_EQ(site_.Commands().back(), "QUIT");
  std::vector<std::string> stor = site_.Arguments("STOR");
  ASSERT_EQ(stor.size(), 1u);
  std::string report_name = fs::path(stor[0]).filename().string();
  EXPECT_TRUE(std::regex_match(report_name, std::regex("Status \\d{12}\\.txt")))
      << report_name;
  std::string report = site_.Get("Merivane/C1001/" + report_name);
  EXPECT_TRUE(std::regex_match(
      report,
      std::regex(
          "CustomerNumber=C1001\r\nDatabaseServer=127\\.0\\.0\\.1\r\n"
          "LocalComputerName=127\\.0\\.0\\.1\r\nLastUpdateInstalled=2\r\n"
          "LastUpdateInstalledOn=\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\r\n"
          "LastCommunication=\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\r\n"
          "\r\n")))
      << report;

  // A second run finds nothing new.
  lines = Run(*server);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Merivane Server version is up-to-date.."),
            lines.end());

  // A client takes the update from the server's share, never from the
  // site.
  std::unique_ptr<Sandbox> client = Installation("TILL3");
  fs::create_directories(client->unc_root() + "/127.0.0.1");
  fs::create_directory_symlink(app + "/Update",
                               client->unc_root() + "/127.0.0.1/MVUpdate");
  site_.ClearCommands();
  lines = Run(*client);
  EXPECT_EQ(lines[lines.size() - 2], "Update complete..");
  EXPECT_EQ(form_->error_lines, 0);
  EXPECT_EQ(Stored(*client), "2");
  EXPECT_EQ(ReadFile(client->app() + "/Update/Bin/core.txt"), "core 2");
  EXPECT_TRUE(site_.Commands().empty());
}

TEST_F(UpdateRunTest, AlternateSite) {
  PublishSite(/*alternate=*/true);
  std::unique_ptr<Sandbox> server = Installation("127.0.0.1");
  Lines lines = Run(*server, /*alternate=*/true);
  const Lines head = {
      "-----  MERIVANE SERVER UPDATE  -----",
      "CLEAR FOLDER       : " + server->app() + "/Download/*.*",
      " ",
      "CONNECT TO SITE    : ",
      "Connecting to Merivane ftp site...(" + site_.host() + ")",
      "Connected.",
      " ",
      "Getting MVControl.dat from FTPSite ",
      "changed to Merivane ",
      "changed to Update ",
      "Got MVControl.dat",
      "Copied to Update folder.",
      " ",
      "Processing customer's control file.",
      "Processing of customer's control file complete.",
      "..........: got MVUpdate.dat",
      "..........: copied to folder (" + server->app() +
          "/Update/MVUpdate.dat).",
      " ",
      "Checking for a new update."};
  ASSERT_GE(lines.size(), head.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + head.size()), head);
  EXPECT_EQ(lines[lines.size() - 2], "Update complete..");
  EXPECT_EQ(Stored(*server), "2");
  // The report goes into Merivane/Update.
  std::vector<std::string> stor = site_.Arguments("STOR");
  ASSERT_EQ(stor.size(), 1u);
  EXPECT_TRUE(
      site_.Exists("Merivane/Update/" + fs::path(stor[0]).filename().string()));
}

// Faults of a server run: each ends with its Error lines, the completion
// line where the run reaches it, and a count of Error lines; the status
// report goes up wherever the site can still take it.
TEST_F(UpdateRunTest, ServerFaults) {
  struct Case {
    const char* what;
    std::function<void(FtpServer&, PostgresServer&)> arrange;
    Lines must_show;
    std::string stored;
    bool beep;
    bool reported;  // the status report went up
  } cases[] = {
      {"site down",
       [](FtpServer& site, PostgresServer&) { site.Stop(); },
       {"Connect To FTP Site: ", "!!! Failed to connect to " + site_.host(),
        " ", "!!! Failed trying to connect to the Merivane Update Server !!!.",
        "Update complete..", " "},
       "none",
       true,
       false},
      {"missing customer folder",
       [](FtpServer& site, PostgresServer&) {
         fs::remove_all(site.Path("Merivane/C1001"));
       },
       // "..\Update" then starts from Merivane, which did not change.
       {"Changing directory on FTPSite to C1001",
        "!!! Could not change directories (C1001).",
        "!!! Could not change directories (..\\Update).", "Update complete.."},
       "none",
       false,
       false},
      {"missing MVUpdate.dat",
       [](FtpServer& site, PostgresServer&) {
         fs::remove(site.Path("Merivane/Update/MVUpdate.dat"));
       },
       {"!!! Could not get file (MVUpdate.dat).",
        "Getting of update control file complete.", "Update complete.."},
       "none",
       false,
       true},
      // The settings store moves on; the report goes up all the same.
      {"database down while recording",
       [](FtpServer&, PostgresServer& pg) { pg.Stop(); },
       {"   Update 2 installed.", "[CUSTOMER FTP]", "Update complete.."},
       "2",
       false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    site_.Reset();
    PublishSite();
    std::unique_ptr<Sandbox> server = Installation("127.0.0.1");
    Lines lines = Run(*server, false, [&] { c.arrange(site_, pg_); });
    auto at = lines.begin();
    for (const std::string& l : c.must_show) {
      at = std::find(at, lines.end(), l);
      ASSERT_NE(at, lines.end()) << "missing in order: " << l;
    }
    EXPECT_GT(form_->error_lines, 0);
    EXPECT_EQ(Stored(*server), c.stored);
    EXPECT_EQ(window_->beeps, c.beep ? 1 : 0);
    EXPECT_EQ(site_.Arguments("STOR").size(), c.reported ? 1u : 0u);
    site_.Restart();
    pg_.Start();
  }
}

TEST_F(UpdateRunTest, ClientWithoutTheShare) {
  std::unique_ptr<Sandbox> client = Installation("TILL3");
  Lines lines = Run(*client);
  const std::string capp = client->app();
  EXPECT_EQ(
      lines,
      (Lines{
          "-----  MERIVANE CLIENT UPDATE  -----.", " ",
          "Getting update control file.", "Copy to client from server.",
          "Server: " + client->unc_root() + "/127.0.0.1/MVUpdate/MVUpdate.dat",
          "Client: " + capp + "/Update/MVUpdate.dat",
          "!!! Could not copy file from server, make sure the Update "
          "folder is shared as MVUpdate.",
          "Getting of update control file complete.", " "}));
  EXPECT_EQ(form_->error_lines, 1);
}

}  // namespace
}  // namespace mv
