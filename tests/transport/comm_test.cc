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

// One session of an update run: the files go both ways, names with blanks
// included, and Comm writes its trace to the event log only.
TEST_F(CommSessionTest, SessionWritesTheEventLogOnly) {
  site.Put("Merivane/Update Files/My Patch 1.zip", "zip data");
  WriteFile(f.Download("Status 2601 1.txt"), "STATUS=OK\r\n");
  int16_t code = -1;
  EXPECT_TRUE(Login());
  EXPECT_TRUE(ChangeDirectory(form(), "Merivane"));
  EXPECT_TRUE(ChangeDirectory(form(), "Update Files"));
  EXPECT_TRUE(GetFile(form(), "My Patch 1.zip", "My Patch 1.zip", code));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(PutFile(form(), "Status 2601 1.txt", "Status 2601 1.txt", code));
  Disconnect(form());
  EXPECT_EQ(ReadFile(f.Download("My Patch 1.zip")), "zip data");
  EXPECT_EQ(site.Get("Merivane/Update Files/Status 2601 1.txt"),
            "STATUS=OK\r\n");
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
}

// A failed operation gives False, the code and one Error line "code-text"
// in the list box and, as a detail line, in the event log file.
TEST_F(CommSessionTest, FailuresTellWhatHappened) {
  std::string refused = "127.0.0.1:" + std::to_string(RefusingPort());
  SilentServer silent;
  ASSERT_TRUE(silent.ok());
  site.Put("Merivane/Update/MVUpdate.dat", "x");
  struct Case {
    const char* what;
    bool login;
    std::function<bool(Form&, int16_t&)> run;
    int16_t code;
    std::string line;
    const char* timeout = "10";  // seconds an answer may take
  } cases[] = {
      {"connection refused", false,
       [&](Form& fm, int16_t&) { return Connect(fm, refused, "u", "p"); },
       kFtpCannotConnect,
       "1005-Could not connect to the FTP site " + refused +
           " (connection refused or site unreachable)."},
      {"silent site", false,
       [&](Form& fm, int16_t&) { return Connect(fm, silent.host(), "u", "p"); },
       kFtpTimedOut, "1002-The FTP site did not answer within 1.5 seconds.",
       "1.5"},
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
      {"download into a folder that cannot be written", true,
       [](Form& fm, int16_t& code) {
         fs::permissions(fm.settings.ApplicationPath + "/Download",
                         fs::perms::owner_write | fs::perms::group_write |
                             fs::perms::others_write,
                         fs::perm_options::remove);
         ScopedUnprivileged nobody;
         return GetFile(fm, "MVUpdate.dat", "Merivane\\Update\\MVUpdate.dat",
                        code);
       },
       70,
       "70-Permission denied: cannot write the local file \"MVUpdate.dat\""},
      {"download without login", false,
       [](Form& fm, int16_t& code) {
         return GetFile(fm, "MVUpdate.dat", "MVUpdate.dat", code);
       },
       kFtpNotConnected, "1001-Not connected to an FTP site."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommFixture fresh;
    fresh.sb.env().Set("MVUPDATE_FTP_TIMEOUT", c.timeout);
    // The event log stays writable for the case that runs as nobody.
    fs::permissions(fresh.sb.event_log(), fs::perms::all);
    if (c.login) {
      ASSERT_TRUE(
          Connect(*fresh.form, site.host(), site.user(), site.password()));
    }
    int16_t code = -1;
    Stopwatch watch;
    EXPECT_FALSE(c.run(*fresh.form, code));
    // Within the limit of a wait, and without busy waiting.
    EXPECT_LT(watch.Seconds(), 5.0);
    EXPECT_LT(watch.CpuSeconds(), 0.15);
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

// A transfer that fails or breaks off does so within the stall limit and
// leaves the local file as it was; the session goes on afterwards, in the
// same remote folder.
TEST_F(CommSessionTest, FailedTransfersLeaveNothingHalfDone) {
  std::string big(1 << 20, 'd');
  // More than the socket buffers hold, so that an upload really stalls.
  std::string huge(48 << 20, 'u');
  site.Put("Merivane/big.bin", big);
  site.Put("Merivane/small.txt", "small");
  WriteFile(f.Download("huge.bin"), huge);
  struct Case {
    const char* what;
    FtpServer::Fault fault;
    bool upload;
    int16_t code;
    const char* remote = "big.bin";  // of a download
  } cases[] = {
      {"missing file", FtpServer::Fault::kNone, false, kFtpFileNotFound,
       "nope.bin"},
      {"download stalls", FtpServer::Fault::kStall, false, kFtpStalled},
      {"download dropped", FtpServer::Fault::kDrop, false, kFtpConnectionLost},
      {"upload stalls", FtpServer::Fault::kStall, true, kFtpStalled},
      {"upload dropped", FtpServer::Fault::kDrop, true, kFtpConnectionLost},
  };
  ASSERT_TRUE(Login());
  ASSERT_TRUE(ChangeDirectory(form(), "Merivane"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(f.Download("big.bin"), "earlier");
    f.window.lines.clear();
    site.SetFault(c.fault);
    int16_t code = -1;
    Stopwatch watch;
    bool ok = c.upload ? PutFile(form(), "huge.bin", "huge.bin", code)
                       : GetFile(form(), "big.bin", c.remote, code);
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

}  // namespace
}  // namespace mv
