#ifndef MVUPDATE_TOOLS_RESET_LAST_UPDATE_H_
#define MVUPDATE_TOOLS_RESET_LAST_UPDATE_H_

#include <string_view>

#include "log/run_log.h"
#include "system/settings_store.h"

namespace mv {

// The Reset Last Update button: lowers the stored number of the last
// installed update by one and tells the user how to redo the update; the
// advice names `event_log_path`, the file to send to support, and
// `support_email`, where to send it.
void ResetLastUpdate(SettingsStore& store, RunLog& log,
                     std::string_view event_log_path,
                     std::string_view support_email);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_RESET_LAST_UPDATE_H_
