// Faults during Update System on a server installation, over the real FTP
// site and database, with mvupdate-cli as a child process (so that its exit
// status counts and it can be killed or limited). Each fault gives an Error
// line, exit status 1, no half-written file under a final name, and a stored
// update number from which the next run carries on correctly. A step of the
// run is caught by a RUN of the site's signal.sh, which leaves a marker file;
// the utility then waits (MVUPDATE_RUN_WAIT_SECONDS) while the test strikes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/postgres_server.h"
#include "support/sandbox.h"
#include "system/settings_store.h"

namespace mv {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

std::string RandomBytes(size_t n) {
  std::mt19937 gen(7);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

// Where a run is caught: a RUN of signal.sh at the start or at the end of
// update 2.
enum Hook { kNone, kStartOfUpdate2, kEndOfUpdate2 };

std::string ControlFile(Hook hook) {
  // Each run starts with an empty Download folder.
  auto at = [hook](Hook h) {
    return std::string(
        hook == h ? "DOWNLOAD signal.sh\r\nRUN signal.sh caught\r\n" : "");
  };
  return "LASTUPDATE=2\r\n"
         "[UPDATE 1]\r\n"
         "DOWNLOAD Patch1.zip\r\n"
         "UNZIP Patch1.zip *.*\r\n"
         "[UPDATE 2]\r\n" +
         at(kStartOfUpdate2) +
         "DOWNLOAD Patch2.zip\r\n"
         "UNZIP Patch2.zip *.*\r\n" +
         at(kEndOfUpdate2);
}

class FaultTest : public ::testing::Test {
 protected:
  FaultTest() : site_(FtpServer::Shared()), pg_(PostgresServer::Get()) {
    EXPECT_TRUE(site_.ok()) << site_.error();
    site_.Reset();
    Sandbox::Options o;
    o.computer_name = "127.0.0.1";
    o.db_server = "127.0.0.1";
    sb_ = std::make_unique<Sandbox>(o);
    pg_.UseIn(sb_->env());
    // The driver registration in a folder every user can read, for the
    // runs as nobody.
    fs::copy_file(pg_.odbc_folder() + "/odbcinst.ini",
                  sb_->odbc_folder() + "/odbcinst.ini");
    sb_->env().Set("ODBCSYSINI", sb_->odbc_folder());
    sb_->env().Set("MVUPDATE_RUN_WAIT_SECONDS", "3");
    sb_->env().Set("MVUPDATE_FTP_TIMEOUT", "5");
    sb_->env().Set("MVUPDATE_FTP_STALL_SECONDS", "30");
    pg_.CreateCustomerTable({},
                            {{"C1001", site_.host(), site_.host(), site_.user(),
                              site_.password(), "0", std::nullopt}});
  }

  void Publish(Hook hook, const Files& patch2 = {{"Bin/core.txt", "core 2"}}) {
    site_.Put("Merivane/C1001/MVControl.dat", "customer control file\r\n");
    site_.Put("Merivane/Update/MVUpdate.dat", ControlFile(hook));
    site_.Put("Merivane/Update/signal.sh", "#!/bin/sh\n: > \"$1\"\n");
    site_.Put("Merivane/Update/Patch1.zip",
              MakeZip({{"Bin/core.txt", "core 1"}, {"readme.txt", "one"}}));
    site_.Put("Merivane/Update/Patch2.zip", MakeZip(patch2));
  }

  std::string Download() const { return sb_->app() + "/Download"; }
  std::string Update() const { return sb_->app() + "/Update"; }

  // Waits until the run reaches its RUN of signal.sh.
  bool Caught() const {
    return WaitUntil([&] { return fs::exists(Download() + "/caught"); });
  }

  // The update recorded in the settings store and in the customer's row, as
  // "stored/row".
  std::string Recorded() {
    std::string row =
        pg_.ExecOrFail("SELECT UpdateInstalled FROM qorin.UpdateCustomerInfo");
    while (!row.empty() && row.back() == '\n') row.pop_back();
    return SettingsStore(sb_->config_home())
               .GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "none")
               .value() +
           "/" + row;
  }

  // Whether the event log holds an Error line with `text`.
  bool HasError(const std::string& text) const {
    for (const std::string& line : ReadCrLfLines(sb_->event_log())) {
      size_t at = line.find("*****ERROR::");
      if (at != std::string::npos && line.substr(at + 12) == text) return true;
    }
    return false;
  }

  // Files left under a temporary name anywhere in the installation.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(sb_->install())) {
      if (e.path().filename().string()[0] == '.') {
        found.push_back(e.path().string());
      }
    }
    return found;
  }

  int RunUpdate(ChildProcess::Options o = {}) {
    ChildProcess cli({MVUPDATE_CLI, "update"}, o);
    int status = cli.Wait();
    out_ = cli.out();
    return status;
  }

  bool Shows(const std::string& line) const {
    return out_.find("\n" + line + "\n") != std::string::npos;
  }

  FtpServer& site_;
  PostgresServer& pg_;
  std::unique_ptr<Sandbox> sb_;
  std::string out_;  // standard output of the last run
};

// The FTP site dies while Patch2.zip comes down: the download fails, no
// part of it is left under its name, the section is still recorded (its
// commands failed) and Reset Last Update makes the next run redo it.
TEST_F(FaultTest, SiteKilledDuringDownload) {
  Publish(kNone, {{"Data/random.bin", RandomBytes(1 << 20)}});
  site_.SetFault(FtpServer::Fault::kStall, 200 * 1024);
  ChildProcess cli({MVUPDATE_CLI, "update"});
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<std::string> retr = site_.Arguments("RETR");
    return std::find(retr.begin(), retr.end(), "Patch2.zip") != retr.end();
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(site_.Kill());
  EXPECT_EQ(cli.Wait(), 1);
  out_ = cli.out();
  EXPECT_TRUE(HasError("Download to Server: Failed. ")) << out_;
  EXPECT_TRUE(Shows("Update complete..")) << out_;
  EXPECT_FALSE(fs::exists(Download() + "/Patch2.zip"));
  EXPECT_FALSE(fs::exists(Update() + "/Patch2.zip"));
  EXPECT_FALSE(fs::exists(Download() + "/Data"));
  EXPECT_EQ(Leftovers(), std::vector<std::string>());
  EXPECT_EQ(Recorded(), "2/2");

  // Reset Last Update, then the next run installs update 2 whole.
  ASSERT_TRUE(site_.Restart());
  site_.SetFault(FtpServer::Fault::kNone);
  ChildProcess reset({MVUPDATE_CLI, "reset"});
  EXPECT_EQ(reset.Wait(), 0) << reset.out();
  EXPECT_EQ(RunUpdate(), 0) << out_;
  EXPECT_FALSE(Shows("   Installing update 1...")) << out_;
  EXPECT_EQ(ReadFile(Download() + "/Data/random.bin"), RandomBytes(1 << 20));
  EXPECT_EQ(Recorded(), "2/2");
}

// The site dies while the status report goes up: every update is recorded,
// the report stays whole in the Download folder.
TEST_F(FaultTest, SiteKilledDuringUpload) {
  Publish(kEndOfUpdate2);
  ChildProcess cli({MVUPDATE_CLI, "update"});
  ASSERT_TRUE(Caught());
  // From now on the site takes one byte of an upload and then stalls.
  site_.SetFault(FtpServer::Fault::kStall, 1);
  ASSERT_TRUE(WaitUntil([&] { return site_.Count("STOR") == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(site_.Kill());
  EXPECT_EQ(cli.Wait(), 1);
  out_ = cli.out();
  EXPECT_TRUE(Shows("Could not put file in folder (C1001).")) << out_;
  EXPECT_TRUE(HasError("1010-The connection to the FTP site was lost."))
      << out_;
  EXPECT_EQ(Recorded(), "2/2");
  std::vector<std::string> reports;
  for (const auto& e : fs::directory_iterator(Download())) {
    std::string name = e.path().filename().string();
    if (name.rfind("Status ", 0) == 0) reports.push_back(e.path().string());
  }
  ASSERT_EQ(reports.size(), 1u);
  std::vector<std::string> lines = ReadCrLfLines(reports[0]);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[3], "LastUpdateInstalled=2");
  EXPECT_EQ(Leftovers(), std::vector<std::string>());
}

// The utility itself is killed between two updates: update 1 stays
// recorded, and the next run installs update 2 only.
TEST_F(FaultTest, UtilityKilledBetweenUpdates) {
  Publish(kStartOfUpdate2);
  {
    ChildProcess cli({MVUPDATE_CLI, "update"});
    ASSERT_TRUE(Caught());
    cli.Kill();
    EXPECT_EQ(cli.Wait(), -SIGKILL);
  }
  EXPECT_EQ(Recorded(), "1/1");
  EXPECT_EQ(Leftovers(), std::vector<std::string>());

  sb_->env().Set("MVUPDATE_RUN_WAIT_SECONDS", "0");
  EXPECT_EQ(RunUpdate(), 0) << out_;
  EXPECT_FALSE(Shows("   Installing update 1...")) << out_;
  EXPECT_TRUE(Shows("   Update 2 installed.")) << out_;
  EXPECT_EQ(ReadFile(Download() + "/Bin/core.txt"), "core 2");
  EXPECT_EQ(Recorded(), "2/2");
}

// The disk fills while update 2 is extracted: the entry that does not fit
// is not left behind, in part or whole, and the section is recorded.
TEST_F(FaultTest, DiskFullWhileExtracting) {
  Publish(kNone, {{"Bin/core.txt", "core 2"},
                  {"Data/big.dat", std::string(1 << 20, 'x')}});
  ChildProcess::Options o;
  o.file_size_limit = 256 * 1024;
  EXPECT_EQ(RunUpdate(o), 1) << out_;
  EXPECT_TRUE(HasError(" 6")) << out_;  // kArchiveWriteFailed
  EXPECT_TRUE(HasError("Command failed. ")) << out_;
  EXPECT_EQ(ReadFile(Download() + "/Bin/core.txt"), "core 2");
  EXPECT_FALSE(fs::exists(Download() + "/Data/big.dat"));
  EXPECT_EQ(Leftovers(), std::vector<std::string>());
  EXPECT_EQ(Recorded(), "2/2");
}

// The Update folder cannot be written: the control files cannot be passed
// on to the clients, so nothing is installed and nothing recorded; the next
// run, with the folder writable again, installs everything.
TEST_F(FaultTest, UnwritableUpdateFolder) {
  Publish(kNone);
  fs::create_directories(Update());
  GiveToNobody(sb_->root());
  ASSERT_EQ(::chmod(Update().c_str(), 0555), 0);
  ChildProcess::Options o;
  o.unprivileged = true;
  EXPECT_EQ(RunUpdate(o), 1) << out_;
  EXPECT_TRUE(HasError("70-Permission denied")) << out_;
  EXPECT_FALSE(Shows("   Installing update 1...")) << out_;
  EXPECT_TRUE(fs::is_empty(Update()));
  EXPECT_EQ(Recorded(), "none/0");

  ASSERT_EQ(::chmod(Update().c_str(), 0755), 0);
  sb_->env().Set("MVUPDATE_RUN_WAIT_SECONDS", "0");
  EXPECT_EQ(RunUpdate(o), 0) << out_;
  EXPECT_EQ(Recorded(), "2/2");
  EXPECT_EQ(ReadFile(Update() + "/Patch2.zip"),
            site_.Get("Merivane/Update/Patch2.zip"));
}

// The settings file is read-only: update 1 cannot be recorded, so the loop
// ends there and the stored number stays; the next run installs both.
TEST_F(FaultTest, ReadOnlySettingsFile) {
  Publish(kNone);
  std::string file = SettingsStore(sb_->config_home()).FileFor("Qorin");
  WriteFile(file, "[MVUpdate]\nLastUpdateInstalled=0\n");
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  EXPECT_EQ(RunUpdate(), 1) << out_;
  EXPECT_TRUE(HasError("70-Permission denied")) << out_;
  EXPECT_FALSE(Shows("   Update 1 installed.")) << out_;
  EXPECT_FALSE(Shows("   Installing update 2...")) << out_;
  EXPECT_EQ(ReadFile(file), "[MVUpdate]\nLastUpdateInstalled=0\n");
  EXPECT_EQ(Recorded(), "0/0");
  EXPECT_EQ(Leftovers(), std::vector<std::string>());

  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  EXPECT_EQ(RunUpdate(), 0) << out_;
  EXPECT_TRUE(Shows("   Update 1 installed.")) << out_;
  EXPECT_EQ(Recorded(), "2/2");
}

// "pa ss:w@rd/1" as a URL carries it.
std::string PercentEncoded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out += '%';
      out += "0123456789ABCDEF"[c >> 4];
      out += "0123456789ABCDEF"[c & 15];
    }
  }
  return out;
}

// No password leaves the utility, after runs that succeed and runs that
// fail: its output, every file of the installation (event log, status
// report, settings, work folders) and what the FTP site received (commands
// but PASS, uploaded files) are searched for the FTP and the database
// password, as written and as a URL would carry them.
TEST_F(FaultTest, NoPasswordInAnythingWritten) {
  site_.Put("Merivane/C1001/MVControl.dat", "customer control file\r\n");
  site_.Put("Merivane/Update/MVUpdate.dat",
            "LASTUPDATE=1\r\n[UPDATE 1]\r\nDOWNLOAD readme.txt\r\n"
            "FTPGET missing.txt\r\nFTPPUT readme.txt\r\n");
  site_.Put("Merivane/Update/readme.txt", "read me\r\n");
  std::vector<std::string> secrets;
  for (const std::string& secret : {site_.password(), std::string("wzq")}) {
    secrets.push_back(secret);
    secrets.push_back(PercentEncoded(secret));
  }
  int places = 0;
  auto scan = [&](const std::string& where, const std::string& text) {
    ++places;
    for (const std::string& secret : secrets) {
      if (text.find(secret) != std::string::npos) {
        ADD_FAILURE() << where << " holds the secret '" << secret << "'";
      }
    }
  };
  auto scan_folder = [&](const std::string& folder) {
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
      if (e.is_regular_file()) scan(e.path().string(), ReadFile(e.path()));
    }
  };
  struct Case {
    const char* what;
    std::string password;  // of the customer's row
    std::string database;
    const char* command;
  } cases[] = {
      {"a whole update", site_.password(), "Quillmere", "update"},
      {"a refused login", site_.password() + "x", "Quillmere", "update"},
      {"an unknown database", site_.password(), "Nowhere", "update"},
      {"Reset Last Update", site_.password(), "Quillmere", "reset"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox::Options o;
    o.computer_name = o.db_server = "127.0.0.1";
    o.db_name = c.database;
    Sandbox sb(o);
    pg_.UseIn(sb.env());
    sb.env().Set("MVUPDATE_RUN_WAIT_SECONDS", "0");
    // Without the customer's row the default sites are used: kept on this
    // machine.
    std::string nowhere = "127.0.0.1:" + std::to_string(RefusingPort());
    sb.env().Set("MVUPDATE_DEFAULT_FTP_PRIMARY", nowhere);
    sb.env().Set("MVUPDATE_DEFAULT_FTP_ALTERNATE", nowhere);
    pg_.CreateCustomerTable(
        {}, {{"C1001", site_.host(), site_.host(), site_.user(), c.password,
              "0", std::nullopt}});
    site_.ClearCommands();
    ChildProcess cli({MVUPDATE_CLI, c.command});
    int status = cli.Wait();
    // 0 or 1 (Error lines); anything else is a crash or a sanitizer report.
    EXPECT_TRUE(status == 0 || status == 1) << status << "\n" << cli.err();
    scan("standard output", cli.out());
    scan("standard error", cli.err());
    scan_folder(sb.root());
    scan_folder(site_.root());
    for (const std::string& command : site_.Commands()) {
      if (command.rfind("PASS", 0) != 0) scan("FTP command", command);
    }
    // The scan saw the run's traces, and the secret was there to leak.
    EXPECT_TRUE(fs::exists(sb.event_log()));
    if (c.database == "Quillmere" && c.command == std::string("update")) {
      EXPECT_GE(site_.Count("PASS"), 1);
    }
  }
  EXPECT_GT(places, 20);
}

}  // namespace
}  // namespace mv
