#include "app/commands.h"

#include <string>
#include <string_view>

#include "app/form.h"
#include "app/startup.h"
#include "system/config.h"
#include "system/deployment.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/run_lock.h"
#include "system/text.h"
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
// another process holds it or it cannot be taken: the command then does
// nothing but say so.
bool TakeRunLock(Form& form, RunLock& lock) {
  if (form.held_run_lock) return true;
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
      // Never without the lock: two runs at once would install twice.
      form.log.Clear();
      form.log.Error(RunLockProblem(lock));
      return false;
  }
  return false;
}

// Removes the temporary files that runs stopped on the way (killed, say)
// left in the installation's work folders and beside the settings and
// registry files; a download's partial file stays for resuming. Files of a
// process that still runs are left alone.
void RemoveLeftovers(Form& form) {
  std::string install = ResolveCase(form.registry_queries.GetInstallPath());
  if (!install.empty() && !IsRootFolder(install)) {
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

// "update 3" or "updates 3 to 5".
std::string Updates(int32_t first, int32_t last) {
  if (first == last) return "update " + std::to_string(first);
  return "updates " + std::to_string(first) + " to " + std::to_string(last);
}

// Tells the window how a command ended, once it has: "<what> finished",
// with `done` (what it achieved, may be empty) and, when it logged an Error
// line, `failed` or else the first such line.
class CommandNote {
 public:
  CommandNote(Form& form, std::string_view what)
      : form_(form), what_(what), errors_(form.error_lines()) {
    form.log.ForgetFirstError();
  }
  bool failed() const { return form_.error_lines() > errors_; }
  // A command that failed or was stopped also ends its lines with the
  // note, so that the list's last line never says the opposite.
  void Show(const std::string& done = "", const std::string& failed = "",
            bool stopped = false) {
    std::string note =
        what_ + (stopped ? " stopped at your request" : " finished");
    const bool errors = this->failed();
    if (errors) {
      note += " with errors: " + (done.empty() ? "" : done + "; ") +
              (failed.empty() ? "first error: " + FirstError() : failed);
    } else {
      std::string said = done;
      if (stopped && !failed.empty()) {
        said += (said.empty() ? "" : "; ") + failed;
      }
      if (!said.empty()) note += ": " + said;
    }
    if (errors) {
      form_.log.LogMessage(kLevelError, note, kStampedLine);
    } else if (stopped) {
      form_.log.LogMessage(kLevelWarning, note, kStampedLine);
    }
    form_.window.ShowOutcome(note);
  }
  std::string FirstError() const { return TrimSpaces(form_.log.first_error()); }

 private:
  Form& form_;
  std::string what_;
  int errors_;
};

}  // namespace

// What start-up's failure note says first: a registry file that was
// missing or names no database server (every later problem follows from
// it, the installation folder first), else the first Error line.
std::string StartUpCause(Form& form, bool registry_missing,
                         const std::string& first_error) {
  const std::string& file = form.registry.file();
  Result<std::string> server = form.registry_queries.GetDBServerName();
  if (file.empty() || (!registry_missing && server.ok())) return first_error;
  const std::string example = MVUPDATE_EXAMPLES_DIR "/registry.reg";
  if (registry_missing) {
    return "the registry file " + file + " was not found. Copy the example " +
           example +
           " there (or point MVUPDATE_REGISTRY at the suite's) and set its "
           "values";
  }
  return "the registry file " + file + " names no database server (" +
         server.failure().Text() + "). Set its values as the example " +
         example + " shows";
}

void FormCommands::Load() {
  CommandNote note(form_, "Start-up");
  const std::string& registry = form_.registry.file();
  const bool registry_missing = !registry.empty() && !PathExists(registry);
  StartUp(form_);
  if (!note.failed()) return note.Show();
  // Each later command empties the list; the cause stays on top of it. The
  // event log is pointed to only when there is one to read.
  std::string log = EventLogPath(form_);
  std::string failed =
      "Start-up failed: " +
      StartUpCause(form_, registry_missing, note.FirstError()) +
      (PathExists(log) ? "; see the event log " + log
                       : "; no event log was written");
  form_.log.LogMessage(kLevelError, failed, kStampedLine);
  form_.log.set_heading(failed);
  form_.window.ShowOutcome(failed);
}

void FormCommands::UpdateSystem() {
  CommandNote note(form_, "Update System");
  // Neither the site nor the database is reached on a configuration that
  // cannot be used as written.
  if (!Configuration()->errors().empty() ||
      !CheckDeploymentValues(form_.deployment).errors.empty()) {
    form_.log.Clear();
    LogConfigurationProblems(form_.log, form_.deployment);
    return note.Show("", "nothing was done: mend the configuration first");
  }
  RunLock lock(form_.RunLockFile());
  if (!TakeRunLock(form_, lock)) return note.Show();
  RemoveLeftovers(form_);
  UpdateOutcome outcome;
  RunContext run = form_.Run();
  run.outcome = &outcome;
  UpdateSystemClick(run);
  // The status report reloads the customer record.
  ShowAlternateSiteChoice(form_);
  std::string done, failed;
  if (outcome.installed > 0) {
    done =
        Updates(outcome.first_installed, outcome.last_installed) + " installed";
  } else if (!note.failed()) {
    done = "no new update to install";
  }
  if (outcome.not_recorded) {
    failed = "update " + std::to_string(*outcome.not_recorded) +
             " is installed here but could not be recorded in the suite "
             "database; the next run records it";
  }
  const bool stopped = outcome.stopped || form_.window.StopRequested();
  if (outcome.not_installed) {
    failed += (failed.empty() ? "" : "; ") + std::string("update ") +
              std::to_string(*outcome.not_installed) +
              " was not installed; the next run tries it again";
  }
  note.Show(done, failed, stopped);
}

void FormCommands::CheckSystem() {
  CommandNote note(form_, "Check System");
  if (!form_.file_version) {
    form_.file_version = std::make_unique<FileVersionReader>();
  }
  CheckSystemVersion(form_.settings, *form_.file_version, form_.log);
  note.Show();
}

void FormCommands::ResetLastUpdate() {
  CommandNote note(form_, "Reset Last Update");
  RunLock lock(form_.RunLockFile());
  if (TakeRunLock(form_, lock)) {
    RemoveLeftovers(form_);
    mv::ResetLastUpdate(form_.settings_store, form_.log, EventLogPath(form_),
                        form_.deployment.support_email);
  }
  note.Show();
}

}  // namespace mv
