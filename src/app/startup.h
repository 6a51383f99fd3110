// The start-up sequence run when the window loads: event log, work folders,
// installation settings, installation mode, FTP component and the customer
// record. Every step logs its own failures and the next one runs.
#ifndef MVUPDATE_APP_STARTUP_H_
#define MVUPDATE_APP_STARTUP_H_

namespace mv {

class Form;

void StartUp(Form& form);

bool InitErrorLogging(Form& form);
void InitDirectories(Form& form);
void LoadInstallSettings(Form& form);
bool InitMode(Form& form);

}  // namespace mv

#endif  // MVUPDATE_APP_STARTUP_H_
