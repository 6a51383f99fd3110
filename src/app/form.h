// The state that the main window owns for the whole run: installation
// settings, the customer's update record, the event log, the FTP component
// and the few fields that pass results between steps. The operations that
// work on it live with their subsystems and take the Form.
#ifndef MVUPDATE_APP_FORM_H_
#define MVUPDATE_APP_FORM_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/window.h"
#include "log/event_log.h"
#include "system/date_time.h"
#include "system/registry.h"
#include "system/registry_queries.h"
#include "system/settings_store.h"
#include "transport/comm.h"

namespace mv {

class clsQorinFileVersion;
class FtpComponent;

struct InstallSettings {
  int16_t VerbosityLevel = 2;
  std::unique_ptr<clsQorinEventLogTCP> EventLog;
  std::string LastError;
  std::string RunMessage;
  std::string ApplicationPath;  // native form: <install>/Application
  std::string DatabaseServer = "[Server]\\Merivane";
  std::string DatabaseName = "Quillmere";
  std::string ComputerName = "[ComputerName]";
  std::string WindowsVersion = "Windows";
  std::string ConnectionString;
  std::string ServerName;
  int32_t InstallationType = 0;  // 0 server, 1 client
};

struct CustomerUpdateInfo {
  std::string CustomerNum;
  std::string FTPSiteAddress1;
  std::string FTPSiteAddress2;
  std::string UserName;
  std::string Password;
  int32_t UpdateInstalled = 0;
  DateTime LastUpdatedDate;
};

// Where the platform stand-ins live; taken from the environment by default.
struct FormConfig {
  std::string registry_file = Registry::DefaultFile();
  std::string settings_folder = SettingsStore::DefaultFolder();
};

class Form {
 public:
  explicit Form(Window& window, FormConfig config = FormConfig());
  ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  Window& window;
  InstallSettings settings;
  CustomerUpdateInfo customer;
  // Bare name of the status report last written.
  std::string status_file_name;

  Registry registry;
  RegistryQueries registry_queries;
  SettingsStore settings_store;

  // The FTP component ftpTransfer and the Comm module's state.
  std::unique_ptr<FtpComponent> ftpTransfer;
  Comm comm;
  // Creates the component for InitFTPControl; when empty, the libcurl
  // component is made. Tests put a double here.
  std::function<std::unique_ptr<FtpComponent>()> make_ftp_component;

  // The version reader of Check System, created at its first run.
  std::unique_ptr<clsQorinFileVersion> file_version;

  // Error-level lines logged since the window opened; the console program's
  // exit status comes from it.
  int error_lines = 0;

  // True when the server flavour applies: a server installation, or the
  // "Update from FTP Site" box is ticked.
  bool ServerFlavour() const;
};

}  // namespace mv

#endif  // MVUPDATE_APP_FORM_H_
