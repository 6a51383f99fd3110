// The update run started by the Update System button: the server flavour
// works against the primary or the alternate FTP site, the client flavour
// against the server's share.
#ifndef MVUPDATE_TRANSPORT_UPDATE_RUN_H_
#define MVUPDATE_TRANSPORT_UPDATE_RUN_H_

#include <string>
#include <string_view>

#include "data/customer_record.h"
#include "log/run_log.h"
#include "system/deployment.h"
#include "system/env.h"
#include "system/install_settings.h"
#include "system/settings_store.h"
#include "system/window.h"
#include "transport/site_session.h"
#include "update/command_interpreter.h"
#include "update/update_detection.h"

namespace mv {

// What an update run works with.
struct RunContext {
  const InstallSettings& settings;
  CustomerUpdateInfo& customer;  // reloaded for the status report
  Window& window;
  RunLog& log;
  SettingsStore& store;
  SiteSession& site;
  // Writes the run's files and ages its partial downloads.
  Env& env;
  const DeploymentOptions& deployment;
  // Where the run reports what its installation came to; may be null.
  UpdateOutcome* outcome = nullptr;

  bool server_flavour() const { return ServerFlavour(settings, window); }
  CommandContext commands() const {
    return {settings,
            window,
            log,
            site,
            env,
            deployment.commands,
            settings.verifies_updates()};
  }
};

// Empties the list box and runs the update against the site the "Use
// Alternate" box chooses.
void UpdateSystemClick(const RunContext& run);

void RunUpdate(const RunContext& run);               // primary site
void CommunicateWithFTPSite(const RunContext& run);  // alternate site

// Deletes the files that match a pattern of a work folder.
void ClearFolder(const InstallSettings& settings, RunLog& log,
                 std::string_view pattern);
// A failed connection is logged at `failure_level`.
bool ConnectToFtpSite(const RunContext& run,
                      int32_t failure_level = kLevelError);
bool ConnectToAlternateSite(const RunContext& run,
                            int32_t failure_level = kLevelError);
// Upload the status report `file_name` from <app>/Download.
void PutStatusFile(const RunContext& run, const std::string& file_name);
void PutAlternateStatusFile(const RunContext& run,
                            const std::string& file_name);
void DisconnectFtpSite(const RunContext& run);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_UPDATE_RUN_H_
