// A sandbox installation with a Form whose settings are filled as start-up
// would fill them, without running start-up.
#ifndef MVUPDATE_TESTS_UPDATE_INTERPRETER_FIXTURE_H_
#define MVUPDATE_TESTS_UPDATE_INTERPRETER_FIXTURE_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "app/form.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {

class InstallationTest : public ::testing::Test {
 protected:
  InstallationTest() {
    for (const char* f : {"Download", "Update", "Database", "Backup"}) {
      std::filesystem::create_directories(sb_.app() + "/" + f);
    }
    std::filesystem::create_directories(sb_.unc_root() + "/SRV01/MVUpdate");
    std::filesystem::create_directories(sb_.install() + "/Database");
    env_.Set("MVUPDATE_RUN_WAIT_SECONDS", "0.2");
    form_ = std::make_unique<Form>(window_, sb_.config());
    form_->settings.ApplicationPath = sb_.app();
    form_->settings.ServerName = "SRV01";
    form_->settings.EventLog =
        std::make_unique<clsQorinEventLogTCP>(sb_.install());
    form_->settings.EventLog->strFile(sb_.event_log());
    EXPECT_EQ(::chdir(Download().c_str()), 0);
  }

  std::string Download() const { return sb_.app() + "/Download"; }
  std::string Update() const { return sb_.app() + "/Update"; }
  std::string Share() const { return sb_.unc_root() + "/SRV01/MVUpdate"; }
  void ServerInstallation() { form_->settings.InstallationType = 0; }
  void ClientInstallation() { form_->settings.InstallationType = 1; }

  Sandbox sb_;
  ScopedEnv env_;
  RecordingWindow window_;
  std::unique_ptr<Form> form_;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_UPDATE_INTERPRETER_FIXTURE_H_
