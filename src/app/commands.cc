#include "app/commands.h"

#include "app/form.h"
#include "app/startup.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/run_lock.h"
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

// Takes the installation's run lock for one command. Gives false when
// another process holds it: the command then does nothing but say so.
bool TakeRunLock(Form& form, RunLock& lock) {
  switch (lock.Acquire()) {
    case RunLock::Outcome::kTaken:
      return true;
    case RunLock::Outcome::kHeld:
      form.log.Clear();
      form.log.Error(
          "!!! Another run of the update utility is working on this "
          "installation (" +
          lock.holder() + "); nothing was done. Try again when it has ended.");
      return false;
    case RunLock::Outcome::kUnavailable:
      form.log.Warning("!!! The run lock " + lock.path() + " cannot be used (" +
                       lock.failure().Text() + "); going on without it.");
      return true;
  }
  return true;
}

// Removes the temporary files that runs stopped on the way (killed, say)
// left in the installation's work folders and beside the settings and
// registry files; a download's partial file stays for resuming. Files of a
// process that still runs are left alone.
void RemoveLeftovers(Form& form) {
  std::string install = ResolveCase(form.registry_queries.GetInstallPath());
  if (!install.empty() && install != "/") {
    RemoveLeftoverTempFiles(JoinPath(install, "\\Application"), true);
    RemoveLeftoverTempFiles(JoinPath(install, "\\Database"), false);
    RemoveLeftoverTempFiles(JoinPath(install, "\\Backup"), false);
  }
  for (const std::string& file :
       {form.settings_store.FileFor("Qorin"), form.registry.file()}) {
    std::string folder = ParentFolder(file);
    if (!folder.empty()) RemoveLeftoverTempFiles(folder, false);
  }
}

}  // namespace

void FormCommands::Load() { StartUp(form_); }

void FormCommands::UpdateSystem() {
  RunLock lock(form_.RunLockFile());
  if (!TakeRunLock(form_, lock)) return;
  RemoveLeftovers(form_);
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
  RunLock lock(form_.RunLockFile());
  if (!TakeRunLock(form_, lock)) return;
  RemoveLeftovers(form_);
  mv::ResetLastUpdate(form_.settings_store, form_.log, EventLogPath(form_));
}

}  // namespace mv
