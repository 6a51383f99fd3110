// What the main window owns for its whole life: the installation settings,
// the customer's update record, the event log and the run log, the registry
// and settings stand-ins, the FTP session and the version reader of Check
// System. The commands take from it what each step uses.
#ifndef MVUPDATE_APP_FORM_H_
#define MVUPDATE_APP_FORM_H_

#include <functional>
#include <memory>
#include <string>

#include "data/customer_record.h"
#include "log/event_log.h"
#include "log/run_log.h"
#include "system/deployment.h"
#include "system/env.h"
#include "system/install_settings.h"
#include "system/registry.h"
#include "system/registry_queries.h"
#include "system/run_lock.h"
#include "system/settings_store.h"
#include "system/window.h"
#include "tools/file_version.h"
#include "transport/ftp_component.h"
#include "transport/ftp_session.h"
#include "transport/update_run.h"

namespace mv {

// Where the platform stand-ins live (taken from the environment by
// default), and the FTP component to use.
struct FormConfig {
  std::string registry_file = Registry::DefaultFile();
  std::string settings_folder = SettingsStore::DefaultFolder();
  // Makes the component for InitFTPControl; when empty, the libcurl
  // component is made. Tests put a double here.
  std::function<std::unique_ptr<FtpComponent>()> make_ftp_component;
  // What the commands change files and read the clock through.
  Env* env = &Env::Default();
};

class Form {
 public:
  explicit Form(Window& window, FormConfig config = FormConfig());
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  Window& window;
  Env& env;
  // Read when the form is made, the front end's start.
  DeploymentOptions deployment;
  InstallSettings settings;
  CustomerUpdateInfo customer;
  std::unique_ptr<EventLog> event_log;
  RunLog log;

  Registry registry;
  RegistryQueries registry_queries;
  SettingsStore settings_store;

  FtpSession session;
  std::function<std::unique_ptr<FtpComponent>()> make_ftp_component;

  // The version reader of Check System, created at its first run.
  std::unique_ptr<FileVersionReader> file_version;

  // The lock that keeps two commands of different processes from working
  // on this installation at once: <install>/Database/MVUpdate.lock.
  std::string RunLockFile();
  // Set by a front end that takes the run lock before start-up and keeps it
  // until its one command has ended (the console program), so that no other
  // run slips in between; start-up and the commands then take no lock of
  // their own.
  RunLock* held_run_lock = nullptr;

  // What an update run works with.
  RunContext Run() {
    return {settings,       customer, window, log,
            settings_store, session,  env,    deployment};
  }
  // Error-level lines logged since the window opened.
  int error_lines() const { return log.error_lines(); }
};

}  // namespace mv

#endif  // MVUPDATE_APP_FORM_H_
