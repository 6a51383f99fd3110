// Update detection and installation: compares the update control file with
// the number of the last update installed on this machine, runs the command
// lines of every newer section and records each installed update.
#ifndef MVUPDATE_UPDATE_UPDATE_DETECTION_H_
#define MVUPDATE_UPDATE_UPDATE_DETECTION_H_

#include <cstdint>
#include <optional>

#include "system/settings_store.h"
#include "update/command_interpreter.h"

namespace mv {

enum class UpdateCheck {
  kNewUpdate,  // the file announces an update newer than the stored one
  kUpToDate,
  // The file cannot be read, or cannot mean what it says (no LASTUPDATE
  // line); the problem was logged. (An announced update without a section
  // is an Error line, and the sections present below it are installed.)
  kFailed,
};

// Compares the update control file with the number stored as installed in
// `store`.
UpdateCheck CheckForNewUpdate(const CommandContext& context,
                              const SettingsStore& store);

// What the installation of a run came to, for the note at the end of the run.
struct UpdateOutcome {
  int32_t installed = 0;                 // how many updates the run recorded:
  int32_t first_installed = 0;           // from this one
  int32_t last_installed = 0;            // to this one
  std::optional<int32_t> not_installed;  // the one a failed command stopped
  // The last update installed and stored here that the suite database
  // refused to record (the next server run records it).
  std::optional<int32_t> not_recorded;
  // The person stopped the run before `not_installed` was complete.
  bool stopped = false;
};

// Installs, in file order, every section whose number is above the stored
// one, and records each as soon as its section ends: in `store`, in the
// customer's database row and in the list.
UpdateOutcome ProcessUpdateControlFile(const CommandContext& context,
                                       SettingsStore& store);

}  // namespace mv

#endif  // MVUPDATE_UPDATE_UPDATE_DETECTION_H_
