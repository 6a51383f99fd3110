// The start-up sequence run when the window loads: event log, work folders,
// installation settings, installation mode, FTP component and the customer
// record. Every step logs its own failures and the next one runs.
#ifndef MVUPDATE_APP_STARTUP_H_
#define MVUPDATE_APP_STARTUP_H_

#include "app/form.h"

namespace mv {

void StartUp(Form& form);

// Logs what is wrong with the configuration file and the deployment values:
// Warning lines for values replaced, Error lines for a file or an FTP_TLS
// that cannot be used. False when there is an Error: then no command may
// use the network or the database.
bool LogConfigurationProblems(RunLog& log);

void InitErrorLogging(Form& form);
void InitDirectories(Form& form);
void LoadInstallSettings(Form& form);
void InitMode(InstallSettings& settings, RunLog& log);

// Enables "Use Alternate" when the customer record names an alternate site,
// once the record has been read from the table.
void ShowAlternateSiteChoice(Form& form);

}  // namespace mv

#endif  // MVUPDATE_APP_STARTUP_H_
