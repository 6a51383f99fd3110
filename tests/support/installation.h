// A sandbox installation with what the core's steps take, filled as
// start-up fills it: installation settings (a server named SRV01), a
// recording window, a run log that writes to the installation's event log,
// and the settings store. The current directory is the Download folder.
#ifndef MVUPDATE_TESTS_SUPPORT_INSTALLATION_H_
#define MVUPDATE_TESTS_SUPPORT_INSTALLATION_H_

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "log/event_log.h"
#include "log/run_log.h"
#include "support/recording_window.h"
#include "support/sandbox.h"
#include "system/install_settings.h"
#include "system/settings_store.h"

namespace mv {

struct Installation {
  Installation()
      : event_log(Env::Default(), sb.install()),
        log(&window),
        store(sb.config_home()) {
    for (const char* folder : {"/Download", "/Update", "/Database"}) {
      std::filesystem::create_directories(sb.app() + folder);
    }
    std::filesystem::create_directories(sb.install() + "/Database");
    settings.application_path = sb.app();
    settings.server_name = "SRV01";
    event_log.set_file(sb.event_log());
    log.set_event_log(&event_log);
    std::filesystem::current_path(Download());
  }

  std::string Download() const { return sb.app() + "/Download"; }
  std::string Update() const { return sb.app() + "/Update"; }
  bool Shown(const std::string& line) const {
    return std::find(window.lines.begin(), window.lines.end(), line) !=
           window.lines.end();
  }

  Sandbox sb;
  RecordingWindow window;
  InstallSettings settings;
  EventLog event_log;
  RunLog log;
  SettingsStore store;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_INSTALLATION_H_
