// The libcurl component on its own, against a real FTP server: when Done
// arrives, what a new login starts from, and how remote paths resolve.
#include "transport/curl_ftp_component.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/ftp_server.h"
#include "support/sandbox.h"
#include "transport/ftp_test_support.h"

namespace mv {
namespace {

struct Done {
  int32_t method;
  int16_t code;
  std::string text;
};

// A component whose notifications are collected.
class CurlComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(site.ok()) << site.error();
    site.Reset();
    env.Set("MVUPDATE_FTP_TIMEOUT", "2");
    env.Set("MVUPDATE_FTP_STALL_SECONDS", "30");
    ASSERT_TRUE(component);
    component->SetDoneHandler(
        [this](int32_t method, int16_t code, std::string_view text) {
          dones.push_back(Done{method, code, std::string(text)});
        });
  }
  // Pumps until a Done arrives or `limit` passes.
  std::optional<Done> Wait(double limit = 5) {
    Stopwatch watch;
    size_t seen = dones.size();
    while (dones.size() == seen && watch.Seconds() < limit) {
      component->Pump(std::chrono::milliseconds(50));
    }
    return dones.size() == seen ? std::nullopt : std::optional(dones.back());
  }
  void Login() {
    component->Connect(site.host(), site.user(), site.password());
    std::optional<Done> d = Wait();
    ASSERT_TRUE(d && d->code == 0) << (d ? d->text : "no Done");
    ASSERT_EQ(component->State(), kFtpConnected);
  }

  FtpServer& site = FtpServer::Shared();
  ScopedEnv env;
  TempFolder local;
  std::unique_ptr<FtpComponent> component = MakeCurlFtpComponent();
  std::vector<Done> dones;
};

TEST_F(CurlComponentTest, DoneComesOnlyFromPumpOncePerMethod) {
  component->GetFile(local / "a", "a");
  EXPECT_TRUE(dones.empty());
  // A method that cannot run reports at once: this Pump does not block.
  Stopwatch watch;
  component->Pump(std::chrono::milliseconds(500));
  EXPECT_LT(watch.Seconds(), 0.2);
  ASSERT_EQ(dones.size(), 1u);
  EXPECT_EQ(dones[0].method, kFtpMethodGetFile);
  EXPECT_EQ(dones[0].code, kFtpNotConnected);
  // With nothing to do, Pump waits out its bound instead of returning.
  Stopwatch idle;
  component->Pump(std::chrono::milliseconds(200));
  EXPECT_GE(idle.Seconds(), 0.15);
  EXPECT_LT(idle.CpuSeconds(), 0.05);
  EXPECT_EQ(dones.size(), 1u);
}

TEST_F(CurlComponentTest, DisconnectForgetsTheDirectory) {
  site.MakeFolder("Merivane/Update");
  Login();
  component->ChangeDirectory("Merivane");
  ASSERT_EQ(Wait()->code, 0);
  component->Disconnect();
  ASSERT_EQ(Wait()->code, 0);
  EXPECT_NE(component->State(), kFtpConnected);
  // A new login starts in the login folder again: "Update" is not there.
  Login();
  component->ChangeDirectory("Update");
  EXPECT_EQ(Wait()->code, kFtpFolderNotFound);
  EXPECT_EQ(site.Count("USER"), 2);
  EXPECT_EQ(site.Count("QUIT"), 1);
}

TEST(RemotePathTest, ResolvesLikeTheSiteDoes) {
  struct Case {
    const char* from;
    const char* change;
    const char* result;
  } cases[] = {
      {"Merivane", "..\\..\\x", "../x"},
      {"..", "..\\a", "../../a"},
      {"Merivane", ".\\a\\\\b\\", "Merivane/a/b"},
      {"Merivane", "\\Root", "/Root"},
      {"/Root", "..\\..", "/"},
      {"", "Update Files", "Update Files"},
  };
  for (const Case& c : cases) {
    RemotePath from = RemotePath().Resolve(c.from);
    EXPECT_EQ(from.Resolve(c.change).Display(), c.result)
        << c.from << " + " << c.change;
  }
}

}  // namespace
}  // namespace mv
