#include "app/commands.h"

#include "app/form.h"
#include "app/startup.h"
#include "system/paths.h"
#include "tools/check_system.h"
#include "tools/reset_last_update.h"
#include "transport/update_run.h"

namespace mv {

namespace {

// The event log file this run writes to (the log may have moved to a
// roll-over file), else where start-up would put it.
std::string EventLogPath(Form& form) {
  std::string path = form.event_log
                         ? form.event_log->file()
                         : JoinPath(form.registry_queries.GetInstallPath(),
                                    "\\Database\\MVUpEvents.log");
  return ResolveCase(path);
}

}  // namespace

void FormCommands::Load() { StartUp(form_); }

void FormCommands::UpdateSystem() {
  UpdateSystemClick(form_.Run());
  // The status report reloads the customer record.
  ShowAlternateSiteChoice(form_);
}

void FormCommands::CheckSystem() {
  if (!form_.file_version) {
    form_.file_version = std::make_unique<FileVersionReader>();
  }
  CheckSystemVersion(form_.settings, *form_.file_version, form_.log);
}

void FormCommands::ResetLastUpdate() {
  mv::ResetLastUpdate(form_.settings_store, form_.log, EventLogPath(form_));
}

}  // namespace mv
