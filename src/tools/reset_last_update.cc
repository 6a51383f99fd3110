#include "tools/reset_last_update.h"

#include <limits>
#include <optional>
#include <string>

#include "app/form.h"
#include "app/run_log.h"
#include "system/deployment.h"
#include "system/paths.h"
#include "update/update_detection.h"

namespace mv {

namespace {

void Line(Form& form, std::string_view text,
          int32_t level = kLevelInformation) {
  LogMessage(form, level, text, true, false, false);
}

// The event log file this run writes to (the log may have moved to a
// roll-over file), else where start-up would put it.
std::string EventLogPath(Form& form) {
  std::string path = form.settings.EventLog
                         ? form.settings.EventLog->strFile()
                         : JoinPath(form.registry_queries.GetInstallPath(),
                                    "\\Database\\MVUpEvents.log");
  return ResolveCase(path);
}

}  // namespace

void ResetLastUpdate(Form& form) {
  form.settings.LastError.clear();
  form.window.ClearLines();
  Line(form, "[Reset Last Update]");

  Result<int32_t> stored = ReadLastUpdateInstalled(form);
  std::optional<int32_t> number;
  if (stored.ok()) number = stored.value();
  if (!number) {
    Line(form, "!!! Problem with Last Update registry setting", kLevelWarning);
    number = 1000;
  }

  Status st = *number == std::numeric_limits<int32_t>::min()
                  ? Status(Failure(kOverflow))
                  : Status::Ok();
  int32_t lowered = st.ok() ? *number - 1 : *number;
  if (st.ok()) {
    st = StoreLastUpdateInstalled(form, lowered);
  }
  if (!st.ok()) {
    form.settings.LastError =
        "!!! Reset Last Update Error: " + st.failure().Text();
    Line(form, form.settings.LastError, kLevelError);
    Line(form, " ");
    return;
  }

  Line(form, "...last update reset to " + std::to_string(lowered));
  Line(form, " ");
  Line(form, "1. RESTART the PC and try to Update System again.");
  Line(form, "2. Run the MVUpdate.exe or MVUpdate2.exe program.");
  Line(form, "3. Click Update System button to redo the update.");
  Line(form, "*** Email '" + SupportEmail() +
                 "' if you still need help. Attach the ");
  Line(form, "    log file: '" + EventLogPath(form) + "'.");
  Line(form, " ");
}

}  // namespace mv
