// The start-up sequence run when the window loads: event log, work folders,
// installation settings, installation mode, FTP component and the customer
// record. Every step logs its own failures and the next one runs.
#ifndef MVUPDATE_APP_STARTUP_H_
#define MVUPDATE_APP_STARTUP_H_

#include <string>

#include "app/form.h"
#include "system/deployment.h"
#include "system/run_lock.h"

namespace mv {

void StartUp(Form& form);

// Logs what is wrong with the configuration file and the deployment values:
// Warning lines for values replaced, Error lines for a file or an FTP_TLS
// that cannot be used. False when there is an Error: then no command may
// use the network or the database.
bool LogConfigurationProblems(RunLog& log, const DeploymentOptions& options);

// Starts the event log; `start_afresh` (the run lock was taken) removes the
// file first, which is left as it is while another process holds the lock.
void InitErrorLogging(Form& form, bool start_afresh);
void InitDirectories(Form& form);
void LoadInstallSettings(Form& form);
void InitMode(InstallSettings& settings, RunLog& log);

// The Error line for a run lock that cannot be taken (not held by another
// run: a file of another account, an odd entry that cannot be replaced).
std::string RunLockProblem(const RunLock& lock);

// Enables "Use Alternate" when the customer record names an alternate site,
// once the record has been read from the table.
void ShowAlternateSiteChoice(Form& form);

}  // namespace mv

#endif  // MVUPDATE_APP_STARTUP_H_
