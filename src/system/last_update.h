// The number of the last installed update, kept in the per-user settings
// store ("Qorin" / "MVUpdate" / "LastUpdateInstalled"): installation raises
// it, Reset Last Update lowers it. Beside it, "HighestUpdateAccepted": the
// highest update a verified control file announced here, which only rises,
// so that an older signed control file is refused.
#ifndef MVUPDATE_SYSTEM_LAST_UPDATE_H_
#define MVUPDATE_SYSTEM_LAST_UPDATE_H_

#include <cstdint>

#include "system/failure.h"
#include "system/settings_store.h"

namespace mv {

// The stored number; 0 when none is stored.
Result<int32_t> ReadLastUpdateInstalled(const SettingsStore& store);
Status StoreLastUpdateInstalled(SettingsStore& store, int32_t n);

// The highest update accepted from a verified control file; 0 when none.
Result<int32_t> ReadHighestUpdateAccepted(const SettingsStore& store);
Status StoreHighestUpdateAccepted(SettingsStore& store, int32_t n);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_LAST_UPDATE_H_
