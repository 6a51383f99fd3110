// The start-up sequence run when the window loads: event log, work folders,
// installation settings, installation mode, FTP component and the customer
// record. Every step logs its own failures and the next one runs.
#ifndef MVUPDATE_APP_STARTUP_H_
#define MVUPDATE_APP_STARTUP_H_

#include "app/form.h"

namespace mv {

void StartUp(Form& form);

void InitErrorLogging(Form& form);
void InitDirectories(Form& form);
void LoadInstallSettings(Form& form);
void InitMode(InstallSettings& settings, RunLog& log);

// Enables "Use Alternate" when the customer record names an alternate site,
// once the record has been read from the table.
void ShowAlternateSiteChoice(Form& form);

}  // namespace mv

#endif  // MVUPDATE_APP_STARTUP_H_
