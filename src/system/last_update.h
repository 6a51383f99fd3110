// The number of the last installed update, kept in the per-user settings
// store ("Qorin" / "MVUpdate" / "LastUpdateInstalled"): installation raises
// it, Reset Last Update lowers it.
#ifndef MVUPDATE_SYSTEM_LAST_UPDATE_H_
#define MVUPDATE_SYSTEM_LAST_UPDATE_H_

#include <cstdint>

#include "system/failure.h"
#include "system/settings_store.h"

namespace mv {

// The stored number; 0 when none is stored.
Result<int32_t> ReadLastUpdateInstalled(const SettingsStore& store);
Status StoreLastUpdateInstalled(SettingsStore& store, int32_t n);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_LAST_UPDATE_H_
