// The number of the last installed update, kept in the per-user settings
// store ("Qorin" / "MVUpdate" / "LastUpdateInstalled"): installation raises
// it, Reset Last Update lowers it. Beside it, "LastUpdateInstalledOn" holds
// the local time at which that update was installed here
// ("MM/DD/YYYY HH:NN:SS"), so that the customer row and the status report
// can be given the true date when the database could not take it at once
// (older versions wrote no time; the number's key and format are
// unchanged), and "HighestUpdateAccepted": the highest update a verified
// control file announced here, which only rises, so that an older signed
// control file is refused.
#ifndef MVUPDATE_SYSTEM_LAST_UPDATE_H_
#define MVUPDATE_SYSTEM_LAST_UPDATE_H_

#include <cstdint>
#include <optional>

#include "system/date_time.h"
#include "system/failure.h"
#include "system/settings_store.h"

namespace mv {

// The stored number; 0 when none is stored.
Result<int32_t> ReadLastUpdateInstalled(const SettingsStore& store);

// When the stored update was installed here; nothing when no time is stored
// (or it cannot be read, or the number was set without one).
std::optional<DateTime> ReadLastUpdateInstalledOn(const SettingsStore& store);

// Stores `n` together with the time it was installed, in one write; without
// a time (Reset Last Update), the time stored for an earlier number is
// cleared, so that it is never given as the time of `n`.
Status StoreLastUpdateInstalled(SettingsStore& store, int32_t n,
                                std::optional<DateTime> installed_on = {});

// The highest update accepted from a verified control file; 0 when none.
Result<int32_t> ReadHighestUpdateAccepted(const SettingsStore& store);
Status StoreHighestUpdateAccepted(SettingsStore& store, int32_t n);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_LAST_UPDATE_H_
