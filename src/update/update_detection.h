// Update detection and installation: compares the update control file with
// the number of the last update installed on this machine, runs the command
// lines of every newer section and records each installed update.
#ifndef MVUPDATE_UPDATE_UPDATE_DETECTION_H_
#define MVUPDATE_UPDATE_UPDATE_DETECTION_H_

#include <cstdint>

#include "system/failure.h"

namespace mv {

class Form;

// True when the update control file announces an update newer than the one
// stored as installed.
bool CheckForNewUpdate(Form& form);

// Installs, in file order, every section whose number is above the stored
// one, and records each as soon as its section ends.
void ProcessUpdateControlFile(Form& form);

// The number of the last installed update from the per-user settings store
// ("0" when none is stored).
Result<int32_t> ReadLastUpdateInstalled(Form& form);
Status StoreLastUpdateInstalled(Form& form, int32_t n);

}  // namespace mv

#endif  // MVUPDATE_UPDATE_UPDATE_DETECTION_H_
