// Faults during Update System on a server installation, over the real FTP
// site and database, with mvupdate-cli as a child that can be killed or
// limited. A RUN of signal.sh leaves a marker, and the test strikes then.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/postgres_server.h"
#include "support/sandbox.h"
#include "system/last_update.h"
#include "system/settings_store.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

using namespace std::string_literals;

constexpr char kSignal[] = "DOWNLOAD signal.sh\r\nRUN signal.sh caught\r\n";
const std::string kPasswordInUrl = "pa%20ss%3Aw%40rd%2F1";

class FaultTest : public testing::Test {
 protected:
  // An empty site, and a server installation whose row names it (update 0).
  FaultTest() {
    EXPECT_TRUE(site_.ok()) << site_.error();
    site_.Reset();
    pg_.UseIn(sb_.env());
    fs::copy_file(pg_.odbc_folder() + "/odbcinst.ini",  // for runs as nobody
                  sb_.odbc_folder() + "/odbcinst.ini");
    sb_.env().Set("ODBCSYSINI", sb_.odbc_folder());
    sb_.env().Set("MVUPDATE_RUN_WAIT_SECONDS", "3");
    sb_.env().Set("MVUPDATE_FTP_RETRIES", "0");  // a dead site stays dead
    pg_.CreateCustomerTable({},
                            {{"C1001", site_.host(), site_.host(), site_.user(),
                              site_.password(), "0", std::nullopt}});
    site_.Put("Merivane/C1001/MVControl.dat", "customer control file\r\n");
  }

  // Update 1 unzips Patch1.zip, update 2 Patch2.zip with core 2 and `more`;
  // `start` and `end` of update 2 may catch the run.
  void Publish(const std::string& start = "", const std::string& end = "",
               std::map<std::string, std::string> more = {}) {
    site_.Put("Merivane/Update/MVUpdate.dat",
              "LASTUPDATE=2\r\n[UPDATE 1]\r\nDOWNLOAD Patch1.zip\r\nUNZIP "
              "Patch1.zip *.*\r\n[UPDATE 2]\r\n" +
                  start + "DOWNLOAD Patch2.zip\r\nUNZIP Patch2.zip *.*\r\n" +
                  end);
    site_.Put("Merivane/Update/signal.sh", "#!/bin/sh\n: > \"$1\"\n");
    site_.Put("Merivane/Update/Patch1.zip",
              MakeZip({{"Bin/core.txt", "core 1"}, {"readme.txt", "one"}}));
    more["Bin/core.txt"] = "core 2";
    site_.Put("Merivane/Update/Patch2.zip", MakeZip(more));
  }

  std::string Download() const { return sb_.app() + "/Download"; }
  std::string Update() const { return sb_.app() + "/Update"; }
  bool Shows(const std::string& line) const {
    return out_.find("\n" + line + "\n") != std::string::npos;
  }
  // Waits until the run reaches its RUN of signal.sh.
  bool Caught() const {
    return WaitUntil([&] { return fs::exists(Download() + "/caught"); });
  }

  // Runs `command`, which `strike` may disturb: it ends with `status`, logs
  // an Error line starting with `error`, leaves no file under a temporary
  // name but the part of a download kept for the next attempt, and has
  // recorded `recorded` ("stored/row"). No password, as written
  // or in a URL, is in its output, in a file of the installation or the site,
  // or in the commands the site received (PASS aside).
  void Run(int status, const std::string& error, const std::string& recorded,
           const std::function<void(ChildProcess&)>& strike = {},
           const ChildProcess::Options& options = {},
           const std::string& command = "update") {
    ChildProcess cli({MVUPDATE_CLI, command}, options);
    if (strike) strike(cli);
    EXPECT_EQ(cli.Wait(), status) << cli.out();
    out_ = cli.out();
    err_ = cli.err();
    std::string all = cli.out() + "\n" + cli.err();  // and the event log
    for (const std::string& folder : {sb_.root(), site_.root()}) {
      for (const auto& e : fs::recursive_directory_iterator(folder)) {
        std::string name = e.path().filename().string();
        EXPECT_TRUE(name[0] != '.' || name.ends_with(".mvpartial") ||
                    name.ends_with(".mvpartial-info"))
            << e.path();
        if (e.is_regular_file()) all += "\n" + ReadFile(e.path());
      }
    }
    EXPECT_TRUE(error.empty() ||
                all.find("*****ERROR::" + error) != std::string::npos)
        << error << out_;
    for (const std::string& c : site_.Commands()) {
      if (!c.starts_with("PASS")) all += "\n" + c;
    }
    for (const std::string& secret :
         {site_.password(), kPasswordInUrl, "wzq"s, "refused-pw-7"s}) {
      EXPECT_EQ(all.find(secret), std::string::npos) << secret;
    }
    SettingsStore store(sb_.config_home());
    EXPECT_EQ(
        std::to_string(ReadLastUpdateInstalled(store).value()) + "/" +
            pg_.ExecOrFail("SELECT UpdateInstalled FROM UpdateCustomerInfo"),
        recorded + "\n");
  }

  // The next run, with the site back, installs what is missing, going on
  // with a download that broke off when `resumed`.
  void NextRun(bool update1_again, bool resumed = false) {
    ASSERT_TRUE(site_.running() || site_.Restart());
    site_.SetFault(FtpServer::Fault::kNone);
    site_.ClearCommands();
    Run(0, "", "2/2");
    EXPECT_EQ(Shows("   Installing update 1..."), update1_again) << out_;
    std::vector<std::string> rest = site_.Arguments("REST");
    EXPECT_EQ(std::ranges::count(rest, "0") < std::ssize(rest), resumed);
  }

  FtpServer& site_ = FtpServer::Shared();
  PostgresServer& pg_ = PostgresServer::Get();
  Sandbox sb_{{.computer_name = "127.0.0.1", .db_server = "127.0.0.1"}};
  std::string out_;  // standard output of the last run
  std::string err_;  // and its standard error
};

// The site dies during a download: the update is not recorded, and the next
// run goes on with the download where it broke off. Then the site dies
// during the upload of the report.
TEST_F(FaultTest, SiteKilledDuringTransfers) {
  std::string random(1 << 20, '\0');  // does not shrink in the archive
  for (std::mt19937 gen(7); char& c : random) c = static_cast<char>(gen());
  Publish("", "", {{"Data/random.bin", random}});
  site_.SetFault(FtpServer::Fault::kStall, 200 * 1024);
  auto kill_site = [&](int transfers, const char* verb) {
    ASSERT_TRUE(WaitUntil([&] { return site_.Count(verb) == transfers; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(site_.Kill());
  };
  Run(1, "Download to Server: Failed. ", "1/1", [&](ChildProcess&) {
    kill_site(4, "RETR");  // after both control files and Patch1.zip
  });
  EXPECT_FALSE(fs::exists(Download() + "/Patch2.zip") ||
               fs::exists(Update() + "/Patch2.zip") ||
               fs::exists(Download() + "/Data"));
  EXPECT_TRUE(
      Shows("!!! Update 2 was not installed because a command "
            "failed; the next run tries it again."));
  NextRun(false, true);
  EXPECT_EQ(ReadFile(Download() + "/Data/random.bin"), random);

  Publish("", kSignal);
  Run(0, "", "1/2", {}, {}, "reset");
  site_.ClearCommands();
  Run(1, "1010-The connection to the FTP site was lost.", "2/2",
      [&](ChildProcess&) {
        ASSERT_TRUE(Caught());
        site_.SetFault(FtpServer::Fault::kStall, 1);  // one byte
        kill_site(site_.Count("STOR") + 1, "STOR");
      });
  std::string report = Download() + "/" + site_.Arguments("STOR").back();
  EXPECT_EQ(ReadLines(report, "\r\n").size(), 7u);
}

// The utility is killed between two updates, leaving temporary files as a
// kill while writing does; the next run removes them and installs update 2
// only, while the database stops: update 2 is stored, the row keeps update 1.
// The run after that repairs the row once; a row ahead is never lowered.
TEST_F(FaultTest, KilledAndDatabaseStoppedBetweenUpdates) {
  Publish(kSignal);
  pid_t killed = 0;
  Run(-SIGKILL, "", "1/1", [&](ChildProcess& cli) {
    ASSERT_TRUE(Caught());
    cli.Kill();
    killed = cli.pid();
  });
  fs::remove(Download() + "/caught");
  for (const char* name : {"/.Patch2.zip.mvtmp-", "/Bin/.core.txt.mvtmp-",
                           "/../Update/.MVUpdate.dat.mvtmp-"}) {
    WriteFile(Download() + name + std::to_string(killed) + "-0a1b2c", "left");
  }
  Run(1,
      "!!! Update 2 is installed on this machine but could not be recorded "
      "in the suite database (Quillmere on 127.0.0.1): -2147467259-The "
      "database server cannot be reached; check its name in the registry and "
      "that it is running. [08001] connection to server",
      "2/1", [&](ChildProcess& cli) {
        ASSERT_TRUE(Caught());
        pg_.Stop();
        cli.Wait();
        pg_.Start();
      });
  EXPECT_FALSE(Shows("   Installing update 1...")) << out_;
  EXPECT_EQ(ReadFile(Download() + "/Bin/core.txt"), "core 2");
  EXPECT_TRUE(
      err_.ends_with("update 2 is installed here but could not be "
                     "recorded in the suite database; the next run "
                     "records it\n"))
      << err_;
  // The report names update 2 and the time it was installed here.
  std::string installed_on = FormatMmDdYyyy(
      *ReadLastUpdateInstalledOn(SettingsStore(sb_.config_home())));
  Lines report =
      ReadLines(Download() + "/" + site_.Arguments("STOR").back(), "\r\n");
  EXPECT_EQ(report[3] + " " + report[4],
            "LastUpdateInstalled=2 LastUpdateInstalledOn=" + installed_on);
  const std::string repair =
      "!!! Repaired the customer row left behind: it said update 1, but "
      "update 2 is installed here.";
  ::sleep(1);  // the repair's own time would differ
  Run(0, "", "2/2");
  EXPECT_TRUE(Shows(repair)) << out_;
  EXPECT_EQ(pg_.ExecOrFail("SELECT to_char(LastUpdatedDate, 'MM/DD/YYYY "
                           "HH24:MI:SS') FROM UpdateCustomerInfo"),
            installed_on + "\n");
  pg_.ExecOrFail("UPDATE UpdateCustomerInfo SET UpdateInstalled = 5");
  Run(0, "", "2/5");
  EXPECT_FALSE(Shows(repair)) << out_;
}

// The utility stopped (SIGTERM) or killed during a download: the next run
// goes on with it where it broke off.
TEST_F(FaultTest, UtilityStoppedDuringDownload) {
  std::string random(4 << 20, '\0');
  for (std::mt19937 gen(9); char& c : random) c = static_cast<char>(gen());
  Publish("", "", {{"Data/random.bin", random}});
  for (int signal : {SIGTERM, SIGKILL}) {
    site_.SetFault(FtpServer::Fault::kStall, 1 << 20);
    std::string part = Download() + "/.Patch2.zip.mvpartial";
    Run(-signal, "", signal == SIGTERM ? "1/1" : "1/2", [&](ChildProcess& cli) {
      ASSERT_TRUE(WaitUntil([&] {
        return fs::exists(part) && fs::file_size(part) >= (1 << 20);
      }));
      ::kill(cli.pid(), signal);
    });
    NextRun(false, true);
    EXPECT_EQ(ReadFile(Download() + "/Data/random.bin"), random);
    Run(0, "", "1/2", {}, {}, "reset");
  }
}

// Two runs at once: the second finds the first working and does nothing;
// the event log keeps the first run's lines. (A lock held by a run that
// was killed stops nobody: KilledAndDatabaseStoppedBetweenUpdates runs
// again right after killing one.)
TEST_F(FaultTest, OneRunAtATime) {
  Publish(kSignal);
  ChildProcess first({MVUPDATE_CLI, "update"});
  ASSERT_TRUE(Caught());
  Run(1,
      "!!! Another run of the update utility is working on this "
      "installation (process " +
          std::to_string(first.pid()),
      "1/1");
  EXPECT_EQ(first.Wait(), 0) << first.out();
  std::string log = ReadFile(sb_.event_log());
  EXPECT_NE(log.find("COMMAND: RUN signal.sh caught"), std::string::npos);
  EXPECT_NE(log.find("*****ERROR::!!! Another run"), std::string::npos);
  const std::string lock = sb_.install() + "/Database/MVUpdate.lock";
  EXPECT_TRUE(fs::exists(lock));
  // A lock file left by another account, which this one may not open,
  // stops the command; it never runs without the lock.
  GiveToNobody(sb_.root());
  ASSERT_EQ(::chown(lock.c_str(), 0, 0), 0);
  Run(1, "!!! The run lock " + lock + " cannot be taken (70-Permission denied)",
      "2/2", {}, {.unprivileged = true});
  EXPECT_FALSE(Shows("Processing update control file.")) << out_;
}

// Besides the runs above (whole updates, Reset Last Update), a refused
// login: the password was sent and is there to leak.
TEST_F(FaultTest, NoPasswordInARefusedLogin) {
  Publish();
  pg_.ExecOrFail("UPDATE UpdateCustomerInfo SET Password = 'refused-pw-7'");
  Run(1, "1006-", "0/0");
  EXPECT_GE(site_.Count("PASS"), 1);
}

// A configuration that cannot be used as written, and a login that would
// smuggle FTP commands in, stop Update System before anything reaches the
// site: exit status 1, no USER line, no file deleted.
TEST_F(FaultTest, UnsafeConfigurationOrLogin) {
  Publish();
  const std::string conf = sb_.root() + "/mvupdate.conf";
  const std::string tls = "***Configuration*** FTP_TLS=";
  struct Case {
    std::string text;  // of the configuration file
    mode_t mode;
    std::string password;  // of the customer row
    std::string error;
  } cases[] = {
      {"[mvupdate]\nFTP_TLS=required\n", 0644, "", tls + "required is none"},
      {"[mvupdate]\nFTP_TLS=yes\n", 0644, "", tls + "yes is none"},
      {"[mvupdate]\nFTP_TLS=1\n", 0644, "", tls + "1 is none"},
      {"[mvupdate]\nFTP_TLS=\"require\"\n", 0644, "", tls},
      {"[mvupdate]\nFTP_TLS=require ; TLS!\n", 0644, "", tls},
      {"[mvupdate]\nFTP_TLS require\n", 0644, "", "***Configuration*** 75-"},
      {"FTP_TLS=require\n", 0644, "", "***Configuration*** 75-"},
      {"[mvupdate]\nFTP_TSL=require\n", 0644, "",
       "***Configuration*** " + conf + " line 2: unknown key"},
      {"[mvupdate]\nFTP_TLS=require\n", 0664, "",
       "***Configuration*** " + conf + " may be changed"},
      {"[mvupdate]\nFTP_TLS=require\n", 0646, "",
       "***Configuration*** " + conf + " may be changed"},
      {"", 0644, "pw\r\nDELE Merivane/C1001/MVControl.dat",
       "!!! The customer record's Password holds a line break"},
  };
  for (const Case& c : cases) {
    WriteFile(conf, c.text);
    ::chmod(conf.c_str(), c.mode);
    sb_.env().Set("MVUPDATE_CONFIG", conf);
    if (!c.password.empty()) {
      pg_.ExecOrFail("UPDATE UpdateCustomerInfo SET Password = E'" +
                     c.password + "'");
    }
    site_.ClearCommands();
    Run(1, c.error, "0/0");
    EXPECT_EQ(site_.Count("USER"), 0) << c.error;
    EXPECT_EQ(site_.Count("DELE"), 0) << c.error;
  }
}

}  // namespace
}  // namespace mv
