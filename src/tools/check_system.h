#ifndef MVUPDATE_TOOLS_CHECK_SYSTEM_H_
#define MVUPDATE_TOOLS_CHECK_SYSTEM_H_

#include "log/run_log.h"
#include "system/install_settings.h"
#include "tools/file_version.h"

namespace mv {

// The Check System button: lists the version of each of the suite's
// program files in the Application folder, read with `reader` (the window
// keeps one for its lifetime).
void CheckSystemVersion(const InstallSettings& settings,
                        FileVersionReader& reader, RunLog& log);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_CHECK_SYSTEM_H_
