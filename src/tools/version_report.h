// Lists every version property of one file, in the block style of Check
// System, for support staff inspecting a program file.
#ifndef MVUPDATE_TOOLS_VERSION_REPORT_H_
#define MVUPDATE_TOOLS_VERSION_REPORT_H_

#include <string_view>

#include "log/run_log.h"

namespace mv {

// Writes a "[File Version]" block for `path` (relative paths count from the
// current directory). A missing file or one without version information
// gives a "!!! " line at level Error instead of the values.
void ShowFileVersion(RunLog& log, std::string_view path);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_VERSION_REPORT_H_
