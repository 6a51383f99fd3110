// The Comm operations against a real FTP server.
#include "transport/comm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/ftp_server.h"
#include "transport/ftp_component.h"
#include "transport/ftp_test_support.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

// Names in the folder, temporary files included.
std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class CommSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(site.ok()) << site.error();
    site.Reset();
  }
  bool Login() {
    return Connect(form(), site.host(), site.user(), site.password());
  }
  Form& form() { return *f.form; }

  FtpServer& site = FtpServer::Shared();
  CommFixture f;
};

// One session of an update run: the files go both ways, and Comm writes
// its trace to the event log only, the password left out.
TEST_F(CommSessionTest, SessionWritesTheEventLogOnly) {
  site.Put("Merivane/123/MVControl.dat", "[CUSTOMER]\r\n");
  WriteFile(f.Download("Status 2601.txt"), "STATUS=OK\r\n");
  int16_t code = -1;
  EXPECT_TRUE(Login());
  EXPECT_TRUE(ChangeDirectory(form(), "Merivane"));
  EXPECT_TRUE(ChangeDirectory(form(), "123"));
  EXPECT_TRUE(GetFile(form(), "MVControl.dat", "MVControl.dat", code));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(PutFile(form(), "Status 2601.txt", "Status 2601.txt", code));
  Disconnect(form());
  EXPECT_EQ(ReadFile(f.Download("MVControl.dat")), "[CUSTOMER]\r\n");
  EXPECT_EQ(site.Get("Merivane/123/Status 2601.txt"), "STATUS=OK\r\n");
  EXPECT_EQ(site.Commands().back(), "QUIT");
  EXPECT_EQ(f.LogLines(),
            (std::vector<std::string>{
                "S ::Connect::", "D IP Address:" + site.host(),
                "D Username  :merivane", "S ::ChangeDirectory::",
                "S ::ChangeDirectory::", "S ::GetFile::", "S ::PutFile::",
                "S ::Disconnect::", "D ::Disconnect::Disconnecting...3"}));
  EXPECT_TRUE(f.window.lines.empty());
  // The last transfer's progress was shown, then hidden.
  EXPECT_EQ(f.window.progress_total, 11);
  EXPECT_FALSE(f.window.progress_visible);
  EXPECT_EQ(ReadFile(f.sb.event_log()).find(site.password()),
            std::string::npos);
}

// A failed operation gives False, the code and one Error line "code-text"
// in the list box and, as a detail line, in the event log file.
TEST_F(CommSessionTest, FailuresTellWhatHappened) {
  std::string refused = "127.0.0.1:" + std::to_string(RefusingPort());
  site.Put("Merivane/Update/MVUpdate.dat", "x");
  struct Case {
    const char* what;
    bool login;
    std::function<bool(Form&, int16_t&)> run;
    int16_t code;
    std::string line;
  } cases[] = {
      {"connection refused", false,
       [&](Form& fm, int16_t&) { return Connect(fm, refused, "u", "p"); },
       kFtpCannotConnect,
       "1005-Could not connect to the FTP site " + refused +
           " (connection refused or site unreachable)."},
      {"wrong password", false,
       [&](Form& fm, int16_t&) {
         return Connect(fm, site.host(), site.user(), "not it");
       },
       kFtpLoginRefused,
       "1006-The FTP site refused the login of user \"merivane\" (wrong user "
       "name or password)."},
      {"address with a path", false,
       [&](Form& fm, int16_t&) {
         return Connect(fm, site.host() + "/x@y", "u", "p");
       },
       kFtpBadAddress,
       "1012-\"" + site.host() + "/x@y\" is not a valid FTP site address."},
      {"missing folder", true,
       [](Form& fm, int16_t&) { return ChangeDirectory(fm, "Merivane\\Nope"); },
       kFtpFolderNotFound,
       "1007-Folder \"Merivane/Nope\" not found on the FTP site."},
      {"missing file", true,
       [](Form& fm, int16_t& code) {
         return GetFile(fm, "MVControl.dat", "Merivane\\MVControl.dat", code);
       },
       kFtpFileNotFound,
       "1008-File \"Merivane/MVControl.dat\" not found on the FTP site."},
      {"upload of a missing local file", true,
       [](Form& fm, int16_t& code) {
         return PutFile(fm, "Status 1.txt", "Status 1.txt", code);
       },
       53, "53-File not found: cannot read the local file \"Status 1.txt\""},
      {"download into a missing local folder", true,
       [](Form& fm, int16_t& code) {
         return GetFile(fm, "Nope\\MVUpdate.dat",
                        "Merivane\\Update\\MVUpdate.dat", code);
       },
       76,
       "76-Path not found: cannot write the local file "
       "\"Nope\\MVUpdate.dat\""},
      {"download without login", false,
       [](Form& fm, int16_t& code) {
         return GetFile(fm, "MVUpdate.dat", "MVUpdate.dat", code);
       },
       kFtpNotConnected, "1001-Not connected to an FTP site."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommFixture fresh;
    // Failing at once means well within the limit of a wait.
    fresh.sb.env().Set("MVUPDATE_FTP_TIMEOUT", "10");
    if (c.login) {
      ASSERT_TRUE(
          Connect(*fresh.form, site.host(), site.user(), site.password()));
    }
    int16_t code = -1;
    Stopwatch watch;
    EXPECT_FALSE(c.run(*fresh.form, code));
    EXPECT_LT(watch.Seconds(), 5.0);
    EXPECT_EQ(fresh.form->comm.TransferError, c.code);
    if (code != -1) {
      EXPECT_EQ(code, c.code);
    }
    EXPECT_EQ(fresh.window.lines, std::vector<std::string>{c.line});
    EXPECT_EQ(fresh.LogLines().back(), "D *****ERROR::" + c.line);
    // Nothing is left behind, not even a temporary file.
    EXPECT_TRUE(fs::is_empty(fresh.sb.app() + "/Download"));
  }
}

TEST_F(CommSessionTest, FailedRequestsKeepTheSession) {
  site.Put("Merivane/a.txt", "a");
  ASSERT_TRUE(Login());
  ASSERT_TRUE(ChangeDirectory(form(), "Merivane"));
  int16_t code = -1;
  EXPECT_FALSE(ChangeDirectory(form(), "Nope"));
  EXPECT_FALSE(GetFile(form(), "b.txt", "b.txt", code));
  // The failed change left the remote directory where it was.
  EXPECT_TRUE(GetFile(form(), "a.txt", "a.txt", code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(f.Download("a.txt")), "a");
  EXPECT_EQ(site.Count("USER"), 1);
}

TEST_F(CommSessionTest, DownloadIntoUnwritableFolderFails) {
  site.Put("a.txt", "a");
  ASSERT_TRUE(Login());
  fs::create_directories(f.Download("locked"));
  fs::permissions(f.Download("locked"),
                  fs::perms::owner_read | fs::perms::owner_exec |
                      fs::perms::group_read | fs::perms::others_read |
                      fs::perms::others_exec);
  int16_t code = -1;
  {
    ScopedUnprivileged nobody;
    EXPECT_FALSE(GetFile(form(), "locked\\a.txt", "a.txt", code));
  }
  EXPECT_EQ(code, 70);
  EXPECT_EQ(f.window.lines,
            std::vector<std::string>{"70-Permission denied: cannot write "
                                     "the local file \"locked\\a.txt\""});
  EXPECT_TRUE(fs::is_empty(f.Download("locked")));
}

TEST_F(CommSessionTest, NamesWithBlanks) {
  site.Put("Update Files/My Patch 1.zip", "zip data");
  WriteFile(f.Download("Status 2601 1.txt"), "status");
  ASSERT_TRUE(Login());
  ASSERT_TRUE(ChangeDirectory(form(), "Update Files"));
  int16_t code = -1;
  EXPECT_TRUE(GetFile(form(), "My Patch 1.zip", "My Patch 1.zip", code));
  EXPECT_TRUE(PutFile(form(), "Status 2601 1.txt", "Status 2601 1.txt", code));
  EXPECT_EQ(ReadFile(f.Download("My Patch 1.zip")), "zip data");
  EXPECT_EQ(site.Get("Update Files/Status 2601 1.txt"), "status");
}

// A transfer that breaks off fails within the stall limit and leaves the
// local file as it was; the session goes on afterwards.
TEST_F(CommSessionTest, BrokenTransfersLeaveNothingHalfDone) {
  std::string big(1 << 20, 'd');
  // More than the socket buffers hold, so that an upload really stalls.
  std::string huge(48 << 20, 'u');
  site.Put("big.bin", big);
  site.Put("small.txt", "small");
  WriteFile(f.Download("huge.bin"), huge);
  struct Case {
    const char* what;
    FtpServer::Fault fault;
    bool upload;
    int16_t code;
  } cases[] = {
      {"download stalls", FtpServer::Fault::kStall, false, kFtpStalled},
      {"download dropped", FtpServer::Fault::kDrop, false, kFtpConnectionLost},
      {"upload stalls", FtpServer::Fault::kStall, true, kFtpStalled},
      {"upload dropped", FtpServer::Fault::kDrop, true, kFtpConnectionLost},
  };
  ASSERT_TRUE(Login());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(f.Download("big.bin"), "earlier");
    f.window.lines.clear();
    site.SetFault(c.fault);
    int16_t code = -1;
    Stopwatch watch;
    bool ok = c.upload ? PutFile(form(), "huge.bin", "huge.bin", code)
                       : GetFile(form(), "big.bin", "big.bin", code);
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, c.code);
    EXPECT_LT(watch.Seconds(), 5.0);
    ASSERT_EQ(f.window.lines.size(), 1u);
    EXPECT_EQ(f.window.lines[0].rfind(std::to_string(c.code) + "-", 0), 0u)
        << f.window.lines[0];
    EXPECT_EQ(ReadFile(f.Download("big.bin")), "earlier");
    EXPECT_EQ(FolderEntries(f.sb.app() + "/Download"),
              (std::vector<std::string>{"big.bin", "huge.bin"}));

    site.SetFault(FtpServer::Fault::kNone);
    EXPECT_TRUE(GetFile(form(), "small.txt", "small.txt", code));
    fs::remove(f.Download("small.txt"));
  }
}

TEST_F(CommSessionTest, SessionSurvivesARestartedServer) {
  site.Put("a.txt", "a");
  ASSERT_TRUE(Login());
  ASSERT_TRUE(site.Kill());
  int16_t code = -1;
  Stopwatch watch;
  EXPECT_FALSE(GetFile(form(), "a.txt", "a.txt", code));
  EXPECT_LT(watch.Seconds(), 3.0);
  EXPECT_TRUE(code == kFtpConnectionLost || code == kFtpCannotConnect) << code;

  ASSERT_TRUE(site.Restart());
  site.ClearCommands();
  EXPECT_TRUE(GetFile(form(), "a.txt", "a.txt", code));
  EXPECT_EQ(site.Count("USER"), 1);
}

TEST_F(CommSessionTest, SilentSiteTimesOutWithoutBusyWaiting) {
  SilentServer silent;
  ASSERT_TRUE(silent.ok());
  f.sb.env().Set("MVUPDATE_FTP_TIMEOUT", "1.5");
  Stopwatch watch;
  EXPECT_FALSE(Connect(form(), silent.host(), "u", "p"));
  EXPECT_GE(watch.Seconds(), 1.4);
  EXPECT_LT(watch.Seconds(), 3.0);
  EXPECT_LT(watch.CpuSeconds(), 0.15);
  EXPECT_EQ(form().comm.TransferError, kFtpTimedOut);
  EXPECT_EQ(f.window.lines,
            std::vector<std::string>{
                "1002-The FTP site did not answer within 1.5 seconds."});
  EXPECT_NE(form().ftpTransfer->State(), kFtpConnected);
}

}  // namespace
}  // namespace mv
