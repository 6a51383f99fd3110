// Update System end to end: a vendor FTP site (pyftpdlib), the suite
// database (PostgreSQL), a server and a client installation.
#include "transport/update_run.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "app/commands.h"
#include "app/form.h"
#include "app/startup.h"
#include "support/child_process.h"
#include "support/fault_env.h"
#include "support/ftp_server.h"
#include "support/postgres_server.h"
#include "support/recording_window.h"
#include "support/tls_site.h"
#include "system/last_update.h"
#include "system/paths.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

using SitePath = std::function<std::string(const std::string&)>;

class UpdateRunTest : public ::testing::Test {
 protected:
  UpdateRunTest() : site_(FtpServer::Shared()), pg_(PostgresServer::Get()) {
    EXPECT_TRUE(site_.ok()) << site_.error();
    PublishSite();
  }

  // The vendor site: the customer's folder and the update folder.
  void PublishSite() {
    site_.Reset();
    Publish([&](const std::string& rel) { return site_.Path(rel); });
  }
  void Publish(const SitePath& path) {
    path_ = path;
    WriteFile(path("Merivane/C1001/MVControl.dat"),
              "customer control file\r\n");
    WriteFile(path("Merivane/Update/Patch1.zip"),
              MakeZip({{"Bin/core.txt", "core 1"}, {"readme.txt", "one"}}));
    WriteFile(path("Merivane/Update/Patch2.zip"),
              MakeZip({{"Bin/core.txt", "core 2"}}));
    WriteFile(path("Merivane/Update/setup.sh"),
              "#!/bin/sh\necho \"set up\" > \"$1\"\n");
    // Lines before the first section and blocks for the other flavour are
    // passed over.
    WriteFile(path("Merivane/Update/MVUpdate.dat"),
              "LASTUPDATE=2\r\nUSERCOMMENT=before any section\r\n"
              "[UPDATE 1]\r\n" +
                  Digest("Patch1.zip") + "\r\n" + Digest("setup.sh") +
                  "\r\nUSERCOMMENT=Update one\r\nDOWNLOAD Patch1.zip\r\n"
                  "UNZIP Patch1.zip *.*\r\n{SERVER}\r\nDOWNLOAD setup.sh\r\n"
                  "RUN setup.sh marker1.txt\r\n[UPDATE 2]\r\n" +
                  Digest("Patch2.zip") +
                  "\r\nDOWNLOAD Patch2.zip\r\nUNZIP Patch2.zip *.*\r\n"
                  "{CLIENT}\r\nUSERCOMMENT=Client two\r\n");
    vendor_.Sign(path("Merivane/Update/MVUpdate.dat"));
  }

  // The SHA256 line of a published file, as the control file holds it.
  std::string Digest(const std::string& name) const {
    return "SHA256 " + Sha256Of(ReadFile(path_("Merivane/Update/" + name))) +
           " " + name;
  }

  // A sandbox installation whose database holds the customer's row.
  std::unique_ptr<Sandbox> Installation(const std::string& computer) {
    auto sb =
        std::make_unique<Sandbox>(Sandbox::Options{computer, "127.0.0.1"});
    pg_.UseIn(sb->env());
    sb->env().Set("MVUPDATE_RUN_WAIT_SECONDS", "0.2");
    sb->env().Set("MVUPDATE_FTP_RETRIES", "0");
    sb->env().Set("MVUPDATE_FTP_TLS", "off");  // pyftpdlib offers none
    // The installation pins the vendor's key.
    std::ofstream(sb->registry_file(), std::ios::app)
        << "\"UpdatePublicKeys\"=\"" << vendor_.public_key() << "\"\r\n";
    pg_.CreateCustomerTable({},
                            {{"C1001", site_.host(), site_.host(), site_.user(),
                              site_.password(), "0", std::nullopt}});
    return sb;
  }

  // Starts the utility on `sb`, runs `arrange`, and presses Update System.
  Lines Run(Sandbox& sb, bool alternate = false,
            const std::function<void()>& arrange = nullptr) {
    window_ = std::make_unique<RecordingWindow>();
    FormConfig config = sb.config();
    config.env = &env_;
    form_ = std::make_unique<Form>(*window_, config);
    StartUp(*form_);
    if (arrange) arrange();
    window_->use_alternate = alternate;
    FormCommands(*form_).UpdateSystem();
    return window_->lines;
  }

  FtpServer& site_;
  PostgresServer& pg_;
  MinisignKey vendor_;
  SitePath path_;
  FaultEnv env_;  // the disk as a row of a table makes it; outlives the form
  std::unique_ptr<RecordingWindow> window_;
  std::unique_ptr<Form> form_;
};

TEST_F(UpdateRunTest, ServerThenClient) {
  std::unique_ptr<Sandbox> server = Installation("127.0.0.1");
  const std::string app = server->app(), dest = "DESTINATION      : ";
  // clang-format off
  const Lines expected = {
      "-----  MERIVANE SERVER UPDATE  -----.", " ", "Connect To FTP Site: ",
      "Connected.", "The session with the FTP site is not encrypted.", " ",
      "Changing directory on FTPSite to C1001",
      "Getting MVControl.dat from FTPSite ", "Got MVControl.dat",
      "Copied to Update folder.", " ", "Processing customer's control file.",
      "Processing of customer's control file complete.",
      "Getting update control file.", "got MVUpdate.dat",
      "copied to folder (" + app + "/Update/MVUpdate.dat).",
      "got MVUpdate.dat.minisig", "Getting of update control file complete.",
      "The update control file is signed with a pinned key.",
      "Checking for a new update.",
      "   A new update is available.", " ", "Processing update control file.",
      "   Installing update 1...", "COMMAND: " + Digest("Patch1.zip"),
      "COMMAND: " + Digest("setup.sh"), "COMMAND: USERCOMMENT=Update one",
      "   Update one", "COMMAND: DOWNLOAD Patch1.zip",
      "COMMAND: UNZIP Patch1.zip *.*", dest + app + "/Download",
      "ZIPFILE          : Patch1.zip", "FILESPEC         : *.*",
      "   2 of 2: readme.txt",
      "COMMAND: DOWNLOAD setup.sh", "COMMAND: RUN setup.sh marker1.txt",
      "   Update 1 installed.", "   Installing update 2...",
      "COMMAND: " + Digest("Patch2.zip"), "COMMAND: DOWNLOAD Patch2.zip",
      "COMMAND: UNZIP Patch2.zip *.*", dest + app + "/Download",
      "ZIPFILE          : Patch2.zip", "FILESPEC         : *.*",
      "   Update 2 installed.", "Processing of update control file complete.",
      "[CUSTOMER FTP]", " ", "Update complete..", " "};
  // clang-format on
  EXPECT_EQ(Run(*server), expected);
  EXPECT_EQ(window_->outcome,
            "Update System finished: updates 1 to 2 installed");
  EXPECT_EQ(form_->error_lines(), 0);
  EXPECT_EQ(ReadLastUpdateInstalled(form_->settings_store).value(), 2);
  EXPECT_EQ(ReadFile(app + "/Download/marker1.txt"), "set up\n");
  // One login, the status report in the customer's folder, then QUIT.
  EXPECT_EQ(site_.Count("USER"), 1);
  EXPECT_EQ(site_.Commands().back(), "QUIT");
  std::vector<std::string> stor = site_.Arguments("STOR");
  ASSERT_EQ(stor.size(), 1u);
  std::string report = fs::path(stor[0]).filename().string();
  EXPECT_TRUE(std::regex_match(report, std::regex("Status \\d{12}\\.txt")));
  const std::string stamp = "\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\r\n";
  EXPECT_TRUE(std::regex_match(
      site_.Get("Merivane/C1001/" + report),
      std::regex("CustomerNumber=C1001\r\nDatabaseServer=127\\.0\\.0\\.1\r\n"
                 "LocalComputerName=127\\.0\\.0\\.1\r\nLastUpdateInstalled=2"
                 "\r\nLastUpdateInstalledOn=" +
                 stamp + "LastCommunication=" + stamp + "\r\n")));
  // A second run finds nothing new.
  EXPECT_EQ(std::ranges::count(Run(*server),
                               "Merivane Server version is up-to-date.."),
            1);
  EXPECT_EQ(window_->outcome,
            "Update System finished: no new update to install");

  // A client takes the updates from the server's share, never from the site.
  std::unique_ptr<Sandbox> client = Installation("TILL3");
  const std::string capp = client->app(),
                    share = client->unc_root() + "/127.0.0.1/MVUpdate";
  fs::create_directories(client->unc_root() + "/127.0.0.1");
  fs::create_directory_symlink(app + "/Update", share);
  site_.ClearCommands();
  // clang-format off
  EXPECT_EQ(Run(*client), (Lines{
      "-----  MERIVANE CLIENT UPDATE  -----.", " ",
      "Getting update control file.", "Copy to client from server.",
      "Server: " + share + "/MVUpdate.dat",
      "Client: " + capp + "/Update/MVUpdate.dat", "got MVUpdate.dat.minisig",
      "Getting of update control file complete.",
      "The update control file is signed with a pinned key.",
      "Checking for a new update.",
      "   A new update is available.", " ", "Processing update control file.",
      "   Installing update 1...", "COMMAND: " + Digest("Patch1.zip"),
      "COMMAND: " + Digest("setup.sh"), "COMMAND: USERCOMMENT=Update one",
      "   Update one", "COMMAND: DOWNLOAD Patch1.zip",
      "COMMAND: UNZIP Patch1.zip *.*", dest + capp + "/Update",
      "ZIPFILE          : Patch1.zip", "FILESPEC         : *.*",
      "   Update 1 installed.", "   Installing update 2...", "COMMAND: " + Digest("Patch2.zip"),
      "COMMAND: DOWNLOAD Patch2.zip", "COMMAND: UNZIP Patch2.zip *.*",
      dest + capp + "/Update",
      "ZIPFILE          : Patch2.zip", "FILESPEC         : *.*",
      "   1 of 1: Bin/core.txt", "COMMAND: USERCOMMENT=Client two", "   Update 2 installed.",
      "Processing of update control file complete.", "Update complete..",
      " "}));
  // clang-format on
  EXPECT_EQ(form_->error_lines(), 0);
  EXPECT_EQ(ReadLastUpdateInstalled(form_->settings_store).value(), 2);
  EXPECT_EQ(ReadFile(capp + "/Update/Bin/core.txt"), "core 2");
  EXPECT_TRUE(site_.Commands().empty());
}

// The same updates from a web site over HTTPS, HTTP/1.1 and HTTP/2: the
// server installs them and leaves its report in the customer's folder (its
// clients take them from its share, as from any server).
TEST_F(UpdateRunTest, FromAWebSite) {
  for (bool http2 : {false, true}) {
    TlsSite web({.kind = TlsSite::Kind::kHttps, .http2 = http2});
    ASSERT_TRUE(web.ok()) << web.error();
    Publish([&](const std::string& rel) { return web.Path(rel); });
    std::unique_ptr<Sandbox> server = Installation("127.0.0.1");
    server->env().Set("MVUPDATE_FTP_CA_FILE", TlsSite::CaFile());
    pg_.CreateCustomerTable({}, {{"C1001", web.url(), web.url(), web.user,
                                  web.password, "0", std::nullopt}});
    Lines lines = Run(*server);
    for (const char* line :
         {"The session with the FTP site is encrypted (TLS).",
          "   Update 2 installed.", "Update complete.."}) {
      EXPECT_NE(std::ranges::find(lines, line), lines.end()) << line;
    }
    EXPECT_EQ(form_->error_lines(), 0);
    EXPECT_EQ(ReadFile(server->app() + "/Download/marker1.txt"), "set up\n");
    // MVControl.dat and the report.
    EXPECT_EQ(
        std::distance(fs::directory_iterator(web.Path("Merivane/C1001")), {}),
        2);
  }
}

// What the vendor's tool publishes is installed; the site's older signed
// pair put back afterwards (a stale mirror, a replay) is refused.
TEST_F(UpdateRunTest, PublishedByTheVendorToolThenRolledBack) {
  const std::string old = site_.Get("Merivane/Update/MVUpdate.dat"),
                    old_signature =
                        site_.Get("Merivane/Update/MVUpdate.dat.minisig");
  TempFolder files;
  WriteFile(files / "Note3.txt", "three");
  ChildProcess tool({"env", "MVUPDATE_VENDOR_USER=" + site_.user(),
                     "MVUPDATE_VENDOR_PASSWORD=" + site_.password(),
                     MVUPDATE_VENDOR, "publish", "ftp://" + site_.host(),
                     "--secret-key", vendor_.secret_key_file(), "--comment",
                     "Three", "--valid-days", "7", files / "Note3.txt"});
  ASSERT_EQ(tool.Wait(), 0) << tool.err();
  std::unique_ptr<Sandbox> server = Installation("127.0.0.1");
  Lines lines = Run(*server);
  EXPECT_NE(std::ranges::find(lines, "   Update 3 installed."), lines.end());
  EXPECT_EQ(form_->error_lines(), 0);
  EXPECT_EQ(ReadFile(server->app() + "/Download/Note3.txt"), "three");

  site_.Put("Merivane/Update/MVUpdate.dat", old);
  site_.Put("Merivane/Update/MVUpdate.dat.minisig", old_signature);
  lines = Run(*server);
  EXPECT_NE(std::ranges::find(
                lines,
                "!!! The update control file is older than one already seen: "
                "update 2 announced, 3 seen; the site may be stale or "
                "tampered with. Nothing was installed."),
            lines.end());
  EXPECT_EQ(form_->error_lines(), 2);  // the refusal, the outcome line
  EXPECT_EQ(ReadLastUpdateInstalled(form_->settings_store).value(), 3);
}

// Other runs: the lines shown in this order, the Error lines, the stored
// number and the site's folder that got the status report.
TEST_F(UpdateRunTest, OtherRunsAndFaults) {
  const std::string host = site_.host(), tail = "Update complete..",
                    failed =
                        "!!! Failed trying to connect to the Merivane "
                        "Update Server !!!.";
  // clang-format off
  std::tuple<std::string, bool, std::function<void()>, Lines, int, int,
             std::string> cases[] = {
      // The alternate site keeps the customer's file in Merivane/Update too.
      {"127.0.0.1", true, [&] {
         fs::rename(site_.Path("Merivane/C1001/MVControl.dat"),
                    site_.Path("Merivane/Update/MVControl.dat")); },
       {"CONNECT TO SITE    : ", "Connecting to Merivane ftp site...(" + host +
        ")", "changed to Merivane ", "changed to Update ",
        "..........: got MVUpdate.dat", "   Update 2 installed.", tail},
       0, 2, "Update"},
      {"127.0.0.1", false, [&] { site_.Stop(); },
       {"Connect To FTP Site: ", "!!! Failed to connect to " + host, " ",
        failed, tail, " "}, 3, 0, ""},
      // "..\Update" then starts from Merivane, which did not change.
      {"127.0.0.1", false,
       [&] { fs::remove_all(site_.Path("Merivane/C1001")); },
       {"Changing directory on FTPSite to C1001",
        "!!! Could not change directories (C1001).",
        "!!! Could not change directories (..\\Update).", tail},
       5, 0, ""},
      {"127.0.0.1", false,
       [&] { fs::remove(site_.Path("Merivane/Update/MVUpdate.dat")); },
       {"!!! Could not get file (MVUpdate.dat).",
        "Getting of update control file complete.", tail}, 2, 0, "C1001"},
      // The settings store moves on and says so after each update's line;
      // the report goes up all the same, with what this machine knows.
      {"127.0.0.1", false, [&] { pg_.Stop(); },
       {"   Update 1 installed.", "!!! Update 1 is installed on this machine "
        "but could not be recorded in the suite database (Quillmere on "
        "127.0.0.1): -2147467259-*", "   Update 2 installed.",
        "!!! Update 2 is installed*", "!!! The customer row could not be "
        "checked against update 2, installed here (*", "[CUSTOMER FTP]", tail},
       3, 2, "C1001"},
      // A database that refuses the update: the same, and the report names
      // the update stored here, not the row's.
      {"127.0.0.1", false, [&] { pg_.ExecOrFail(
         "REVOKE UPDATE ON qorin.UpdateCustomerInfo FROM qorin"); },
       {"   Update 1 installed.", "!!! Update 1 is installed on this machine "
        "but could not be recorded in the suite database (Quillmere on "
        "127.0.0.1): -2147467259-\\[42501] *permission denied*The next run "
        "records it.", "   Update 2 installed.", "!!! The customer row still "
        "says update 0, but update 2 is installed here; it could not be "
        "brought up to date (*", tail}, 2, 2, "C1001"},
      // A primary site that cannot be reached hands over to the alternate.
      {"127.0.0.1", false, [&] {
         form_->customer.site_address1 = "127.0.0.1:1";
         fs::rename(site_.Path("Merivane/C1001/MVControl.dat"),
                    site_.Path("Merivane/Update/MVControl.dat")); },
       {"!!! Failed to connect to 127.0.0.1:1", "!!! Primary FTP site not "
        "reachable; trying the alternate FTP site.", "CONNECT TO SITE    : ",
        "Connected.", "   Update 2 installed.", tail}, 0, 2, "Update"},
      // A clock that stands still: the time stored here, the row's date and
      // the report's name and dates are all its time, to the second.
      {"127.0.0.1", false, [&] { env_.now = 1804428309; },
       {"   Update 1 installed.", "   Update 2 installed.", tail}, 0, 2,
       "C1001"},
      // The report goes to the folder of the number without its blanks.
      {"127.0.0.1", false, [&] { form_->customer.customer_number += "  "; },
       {"   Update 2 installed.", tail}, 0, 2, "C1001"},
      // A control file that does not verify installs nothing.
      {"127.0.0.1", false, [&] {
         fs::remove(site_.Path("Merivane/Update/MVUpdate.dat.minisig")); },
       {"!!! The update control file was not used: it has no signature file "
        "(MVUpdate.dat.minisig). Nothing was installed.", tail}, 1, 0,
       "C1001"},
      // Control and signature files too large for what they are, from the
      // site and from the share: nothing of them is used.
      {"127.0.0.1", false, [&] {
         site_.Put("Merivane/Update/MVUpdate.dat",
                   std::string((1 << 20) + 1, 'x')); },
       {"1014-File \"Merivane/Update/MVUpdate.dat\" is larger than 1 MiB; a "
        "file that large is refused here.",
        "!!! Could not get file (MVUpdate.dat).", tail}, 2, 0, "C1001"},
      {"127.0.0.1", false, [&] {
         site_.Put("Merivane/Update/MVUpdate.dat.minisig",
                   std::string(20000, 's')); },
       {"1014-File \"Merivane/Update/MVUpdate.dat.minisig\" is larger than "
        "16 KiB; a file that large is refused here.",
        "!!! The update control file was not used: it has no signature file "
        "(MVUpdate.dat.minisig). Nothing was installed.", tail}, 2, 0,
       "C1001"},
      {"TILL3", false, [&] {
         WriteFile(NativePath("\\\\127.0.0.1\\MVUpdate\\MVUpdate.dat"),
                   std::string((2 << 20), 'x')); },
       {"Copy to client from server.", "6-*/MVUpdate/MVUpdate.dat is larger "
        "than 1 MiB; a file that large is refused",
        "Getting of update control file complete.", " "}, 1, 0, ""},
      // The Update folder does not take the update control file: nothing is
      // installed.
      {"127.0.0.1", false, [&] { env_.refuse = "Update/MVUpdate.dat"; },
       {"got MVUpdate.dat", "70-Permission denied",
        "Getting of update control file complete.", tail}, 1, 0, "C1001"},
      // A status report that cannot be written is not uploaded: one line
      // says so, none about a missing file.
      {"127.0.0.1", false, [&] { env_.refuse = ".txt"; },
       {"   Update 2 installed.", "!!! The status report could not be "
        "written (70-Permission denied); it was not sent to the FTP site.",
        tail}, 1, 2, ""},
      // A disk too full for the event log stops nothing; standard error
      // says so once.
      {"127.0.0.1", false, [&] { env_.full = "MVUpEvents.log"; },
       {"   Update 1 installed.", "   Update 2 installed.", tail}, 0, 2,
       "C1001"},
      // A client whose server does not share its Update folder.
      {"TILL3", false, [] {},
       {"Copy to client from server.", "!!! Could not copy file from server, "
        "make sure the Update folder is shared as MVUpdate.",
        "Getting of update control file complete.", " "}, 1, 0, ""},
  };
  // clang-format on
  for (const auto& [computer, alternate, arrange, shown, errors, stored,
                    report] : cases) {
    PublishSite();
    std::unique_ptr<Sandbox> sb = Installation(computer);
    testing::internal::CaptureStderr();
    Lines lines = Run(*sb, alternate, arrange);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::regex lost("event log not written: 61-Disk full");
    EXPECT_EQ(std::distance(std::sregex_iterator(err.begin(), err.end(), lost),
                            std::sregex_iterator()),
              env_.full.empty() ? 0 : 1)
        << err;
    auto at = lines.begin();
    for (const std::string& l : shown) {  // "*" stands for any text
      at = std::find_if(at, lines.end(), [&](const std::string& x) {
        return x == l || fnmatch(l.c_str(), x.c_str(), 0) == 0;
      });
      ASSERT_NE(at, lines.end()) << "missing in order: " << l << "\n"
                                 << Joined(lines);
    }
    // A failed run ends its lines with its outcome, one Error line more.
    EXPECT_EQ(form_->error_lines(), errors + (errors > 0)) << shown[1];
    EXPECT_EQ(lines.back() == window_->outcome, errors > 0) << shown[1];
    EXPECT_EQ(window_->outcome.ends_with(
                  "update 2 was not installed; the next run tries it again"),
              stored == 1);
    EXPECT_EQ(window_->outcome.ends_with(
                  "update 2 is installed here but could not be recorded in "
                  "the suite database; the next run records it"),
              shown[1].starts_with("!!! Update 1 is installed"))
        << window_->outcome;
    EXPECT_EQ(ReadLastUpdateInstalled(form_->settings_store).value(), stored);
    EXPECT_EQ(window_->beeps, std::count(lines.begin(), lines.end(), failed));
    std::vector<std::string> stor = site_.Arguments("STOR");
    ASSERT_EQ(stor.size(), report.empty() ? 0u : 1u);
    if (!report.empty()) {
      // The report names the update stored here and when it was installed,
      // whatever the database could take.
      std::optional<DateTime> on =
          ReadLastUpdateInstalledOn(form_->settings_store);
      const std::string name = fs::path(stor[0]).filename().string();
      Lines text =
          ReadLines(site_.Path("Merivane/" + report + "/" + name), "\r\n");
      text.resize(6);
      if (env_.now) {
        const DateTime at = LocalDateTime(*env_.now);
        EXPECT_EQ(on, at);
        EXPECT_EQ(name, "Status " + FormatStampDigits(at) + ".txt");
        EXPECT_EQ(text[5], "LastCommunication=" + FormatMmDdYyyy(at));
      }
      text.resize(5);
      EXPECT_EQ(text, (Lines{"CustomerNumber=C1001", "DatabaseServer=127.0.0.1",
                             "LocalComputerName=127.0.0.1",
                             "LastUpdateInstalled=" + std::to_string(stored),
                             "LastUpdateInstalledOn=" +
                                 (on ? FormatMmDdYyyy(*on) : "unknown")}));
    }
    site_.Restart();
    pg_.Start();
    env_.refuse.clear();
    env_.now.reset();
    env_.full.clear();
  }
}

// Stop between two commands of a section, and in the middle of a download:
// the update is not recorded, a cut-off download keeps its partial file, the
// status report still goes up, and the list ends with what happened.
TEST_F(UpdateRunTest, StopBetweenCommandsAndDuringATransfer) {
  const std::string partial = "/Download/.Patch1.zip.mvpartial";
  // clang-format off
  const std::tuple<std::function<void()>, std::string, bool> cases[] = {
      {[&] { window_->stop_when = [w = window_.get()] {
         return std::count(w->history.begin(), w->history.end(),
                           "COMMAND: UNZIP Patch1.zip *.*") > 0; }; },
       "COMMAND: UNZIP Patch1.zip *.*", false},
      {[&] {
         WriteFile(site_.Path("Merivane/Update/Patch1.zip"),
                   std::string(1 << 20, 'x'));
         site_.SetFault(FtpServer::Fault::kStall);
         window_->stop_when = [w = window_.get(), pressed = false]() mutable {
           return pressed = pressed || w->progress_total == 1 << 20; }; },
       "1017-Stopped at the request of the person at the window.", true},
  };
  // clang-format on
  for (const auto& [arrange, before, cut_off] : cases) {
    PublishSite();
    std::unique_ptr<Sandbox> sb = Installation("127.0.0.1");
    Lines lines = Run(*sb, false, arrange);
    const Lines shown = {
        before,
        "!!! Stopped at the request of the person at the window: update 1 was "
        "not installed; the next run installs it from the start.",
        "Update complete.."};
    auto at = lines.begin();
    for (const std::string& l : shown) {
      at = std::find(at, lines.end(), l);
      ASSERT_NE(at, lines.end()) << "missing in order: " << l << "\n"
                                 << Joined(lines);
    }
    EXPECT_TRUE(
        window_->outcome.starts_with("Update System stopped at your request"));
    EXPECT_TRUE(window_->outcome.ends_with(
        "update 1 was not installed; the next run tries it again"));
    EXPECT_EQ(lines.back(), window_->outcome);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "COMMAND: RUN setup.sh "
                         "marker1.txt"),
              0);
    EXPECT_EQ(ReadLastUpdateInstalled(form_->settings_store).value(), 0);
    EXPECT_EQ(fs::exists(sb->app() + partial), cut_off);
    EXPECT_EQ(site_.Arguments("STOR").size(), 1u);
    site_.Restart();
  }
}

}  // namespace
}  // namespace mv
