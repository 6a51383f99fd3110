// The status report a server-flavour update run leaves on the FTP site.
#ifndef MVUPDATE_TOOLS_STATUS_REPORT_H_
#define MVUPDATE_TOOLS_STATUS_REPORT_H_

#include <string>

#include "data/customer_record.h"
#include "log/run_log.h"
#include "system/install_settings.h"

namespace mv {

// Reloads `customer` from the database (the window waiting in `pump`) and
// writes "Status YYMMDDhhmmss.txt" into <app>/Download. Gives the report's
// bare name.
std::string WriteStatusFile(const InstallSettings& settings,
                            CustomerUpdateInfo& customer, RunLog& log,
                            EventPump* pump = nullptr);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_STATUS_REPORT_H_
