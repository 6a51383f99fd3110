// A sandbox installation with a Form whose settings are filled as start-up
// would fill them; the current directory is its Download folder.
#ifndef MVUPDATE_TESTS_UPDATE_INSTALLATION_H_
#define MVUPDATE_TESTS_UPDATE_INSTALLATION_H_

#include <gtest/gtest.h>

#include <filesystem>

#include "app/form.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {

class InstallationTest : public ::testing::Test {
 protected:
  using Lines = std::vector<std::string>;

  InstallationTest() : form_(window_, sb_.config()) {
    std::filesystem::create_directories(Update());
    std::filesystem::create_directories(Download());
    std::filesystem::create_directories(sb_.install() + "/Database");
    form_.settings.ApplicationPath = sb_.app();
    form_.settings.ServerName = "SRV01";
    form_.settings.EventLog =
        std::make_unique<clsQorinEventLogTCP>(sb_.install());
    form_.settings.EventLog->strFile(sb_.event_log());
    std::filesystem::current_path(Download());
  }

  std::string Download() const { return sb_.app() + "/Download"; }
  std::string Update() const { return sb_.app() + "/Update"; }
  bool Shown(const std::string& line) const {
    return std::find(window_.lines.begin(), window_.lines.end(), line) !=
           window_.lines.end();
  }

  Sandbox sb_;
  RecordingWindow window_;
  Form form_;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_UPDATE_INSTALLATION_H_
