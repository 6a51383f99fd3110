// The status report a server-flavour update run leaves on the FTP site.
#ifndef MVUPDATE_TOOLS_STATUS_REPORT_H_
#define MVUPDATE_TOOLS_STATUS_REPORT_H_

#include <string>

#include "data/customer_record.h"
#include "log/run_log.h"
#include "system/env.h"
#include "system/install_settings.h"
#include "system/settings_store.h"

namespace mv {

// Reloads `customer` from the database (the window waiting in `pump`) and
// writes "Status YYMMDDhhmmss.txt" into <app>/Download. Gives the report's
// bare name, or why it could not be written (nothing is logged then: the
// caller says what that means for the upload). The report names the update the
// row holds, unless the row cannot be read or lags behind the number stored
// here in `store`: then it names the stored number and the time it was
// installed here. A date that is not known is written "unknown", never as the
// date type's zero.
Result<std::string> WriteStatusFile(Env& env, const InstallSettings& settings,
                                    CustomerUpdateInfo& customer,
                                    const SettingsStore& store, RunLog& log,
                                    EventPump* pump = nullptr);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_STATUS_REPORT_H_
