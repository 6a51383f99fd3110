// The wait of the Comm operations and their state, with a scripted
// component or none at all.
#include <gtest/gtest.h>

#include <functional>

#include "support/fake_ftp_component.h"
#include "transport/comm.h"
#include "transport/ftp_component.h"
#include "transport/ftp_test_support.h"

namespace mv {
namespace {

struct FakeFixture : CommFixture {
  FakeFixture()
      : CommFixture([](Form& fm) { FakeFtpComponent::Install(fm); }),
        fake(static_cast<FakeFtpComponent*>(form->ftpTransfer.get())) {}
  FakeFtpComponent* fake;
};

TEST(CommWaitTest, MethodWithoutDoneTimesOutAndIsAborted) {
  struct Case {
    const char* what;
    FtpMethod method;
    std::function<bool(Form&)> run;
  } cases[] = {
      {"connect", kFtpMethodConnect,
       [](Form& fm) { return Connect(fm, "site", "u", "p"); }},
      {"change directory", kFtpMethodChangeDirectory,
       [](Form& fm) { return ChangeDirectory(fm, "Merivane"); }},
      {"disconnect", kFtpMethodDisconnect,
       [](Form& fm) {
         Disconnect(fm);
         return fm.comm.TransferError == 0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFixture f;
    f.sb.env().Set("MVUPDATE_FTP_TIMEOUT", "0.3");
    if (c.method != kFtpMethodConnect) {
      ASSERT_TRUE(Connect(*f.form, "site", "u", "p"));
    }
    f.fake->Hang(c.method);
    Stopwatch watch;
    // Success from an earlier Done must not make a time-out a success.
    EXPECT_FALSE(c.run(*f.form));
    EXPECT_GE(watch.Seconds(), 0.3);
    EXPECT_LT(watch.Seconds(), 1.5);
    EXPECT_LT(watch.CpuSeconds(), 0.1);
    EXPECT_EQ(f.fake->aborts, 1);
    EXPECT_EQ(f.form->comm.TransferError, kFtpTimedOut);
    EXPECT_EQ(f.window.lines,
              std::vector<std::string>{
                  "1002-The FTP site did not answer within 0.3 seconds."});
  }
}

TEST(CommWaitTest, ResultComesFromTheOperationsOwnDone) {
  FakeFixture f;
  f.fake->files["Merivane/a.txt"] = "a";
  ASSERT_TRUE(Connect(*f.form, "site", "u", "p"));
  // Connected already: a further Connect leaves the component alone.
  EXPECT_TRUE(Connect(*f.form, "other", "v", "q"));
  // A Done that arrives while nothing waits is recorded and logged...
  ftpTransfer_Done(*f.form, kFtpMethodGetFile, kFtpConnectionLost, "lost");
  EXPECT_EQ(f.form->comm.TransferError, kFtpConnectionLost);
  EXPECT_EQ(f.window.lines, std::vector<std::string>{"1010-lost"});
  EXPECT_EQ(f.LogLines().back(), "D *****ERROR::1010-lost");
  // ...and the next operation's result is its own.
  EXPECT_TRUE(ChangeDirectory(*f.form, "Merivane"));
  int16_t code = -1;
  f.fake->Answer(kFtpMethodGetFile, kFtpStalled, "stalled");
  EXPECT_FALSE(GetFile(*f.form, "a.txt", "a.txt", code));
  EXPECT_EQ(code, kFtpStalled);
  EXPECT_TRUE(GetFile(*f.form, "a.txt", "a.txt", code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(f.fake->Log(), (std::vector<std::string>{
                               "Connect site u", "ChangeDirectory Merivane",
                               "GetFile a.txt a.txt", "GetFile a.txt a.txt"}));
}

TEST(CommWaitTest, MissingComponentFailsAtOnce) {
  CommFixture f([](Form& fm) {
    fm.make_ftp_component = [] { return std::unique_ptr<FtpComponent>(); };
  });
  EXPECT_EQ(f.form->ftpTransfer, nullptr);
  Stopwatch watch;
  int16_t code = -1;
  EXPECT_FALSE(Connect(*f.form, "site", "u", "p"));
  EXPECT_FALSE(ChangeDirectory(*f.form, "Merivane"));
  EXPECT_FALSE(GetFile(*f.form, "a", "a", code));
  EXPECT_EQ(code, kObjectNotSet);
  EXPECT_FALSE(PutFile(*f.form, "a", "a", code));
  Disconnect(*f.form);
  EXPECT_LT(watch.Seconds(), 0.5);
  std::string missing = "91-Object variable or With block variable not set";
  EXPECT_EQ(f.LogLines(),
            (std::vector<std::string>{
                "S ::Connect::", "D IP Address:site", "D Username  :u",
                "D *****ERROR::::Connect::" + missing, "S ::ChangeDirectory::",
                "D *****ERROR::::ChangeDirectory::" + missing,
                "S ::GetFile::", "D *****ERROR::::GetFile::" + missing,
                "S ::PutFile::", "D *****ERROR::::PutFile::" + missing,
                "S ::Disconnect::",
                "D ***Warning::::Disconnect::Can't disconnect because it's "
                "not connected."}));
}

TEST(CommWaitTest, InitFtpControlReportsWhatFailed) {
  Sandbox sb;
  std::filesystem::remove_all(sb.app());
  RecordingWindow window;
  Form form(window, sb.config());
  form.settings.ApplicationPath = sb.app();
  form.make_ftp_component = [] { return std::unique_ptr<FtpComponent>(); };
  InitFTPControl(form);
  EXPECT_EQ(window.lines,
            (std::vector<std::string>{
                "*** InitFTPControl *** Could not initialize the FTP Control. "
                "(429-ActiveX component can't create object)",
                "*** InitFTPControl *** Could not change to download "
                "directory.(76-Path not found)"}));
}

TEST(CommWaitTest, TimeOutIsStrictlyLater) {
  FakeFixture f;
  using std::chrono::seconds;
  auto now = std::chrono::steady_clock::now();
  struct Case {
    std::chrono::steady_clock::duration ago;
    double limit;
    bool timed_out;
  } cases[] = {
      {seconds(5), 4, true},
      {seconds(5), 6, false},
      // A start in the future (negative elapsed time) is no time-out.
      {-seconds(5), 0, false},
  };
  for (const Case& c : cases) {
    f.form->comm.TransferStartTime = now - c.ago;
    EXPECT_EQ(TimeOut(*f.form, c.limit), c.timed_out) << c.limit;
  }
}

}  // namespace
}  // namespace mv
