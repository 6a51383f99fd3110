// The installation settings that start-up gathers once and every later step
// reads: where the installation is, which database it uses, and whether this
// machine is the server or a client.
#ifndef MVUPDATE_SYSTEM_INSTALL_SETTINGS_H_
#define MVUPDATE_SYSTEM_INSTALL_SETTINGS_H_

#include <string>

#include "system/deployment.h"
#include "system/paths.h"
#include "system/window.h"

namespace mv {

enum class InstallationType { kServer = 0, kClient = 1 };

struct InstallSettings {
  std::string application_path;  // native form: <install>/Application
  std::string database_server = "[Server]\\Merivane";
  std::string database_name = "Quillmere";
  std::string computer_name = "[ComputerName]";
  std::string windows_version = "Windows";
  std::string connection_string;
  // Its login time-out and the default sites of the customer record.
  DatabaseOptions database;
  std::string server_name;
  InstallationType installation_type = InstallationType::kServer;
  // The vendor's minisign public keys that control files must be signed
  // with ("" when none is pinned); the registry value UpdatePublicKeys.
  std::string update_public_keys;

  bool verifies_updates() const {
    return update_public_keys.find_first_not_of(" \t;") != std::string::npos;
  }

  bool is_server() const {
    return installation_type == InstallationType::kServer;
  }
  // <app> followed by a suite-style tail such as "\Download".
  std::string App(std::string_view tail) const {
    return JoinPath(application_path, tail);
  }
};

// True when the server flavour applies: a server installation, or the
// "Update from FTP Site" box is ticked. Read afresh by every step.
inline bool ServerFlavour(const InstallSettings& settings,
                          const Window& window) {
  return settings.is_server() || window.UpdateFromFtpTicked();
}

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_INSTALL_SETTINGS_H_
