#include "tools/reset_last_update.h"

#include <limits>
#include <optional>
#include <string>

#include "system/last_update.h"

namespace mv {

namespace {

void Line(RunLog& log, std::string_view text,
          int32_t level = kLevelInformation) {
  log.LogMessage(level, text, kStampedLine);
}

}  // namespace

void ResetLastUpdate(SettingsStore& store, RunLog& log,
                     std::string_view event_log_path,
                     std::string_view support_email) {
  log.Clear();
  Line(log, "[Reset Last Update]");

  Result<int32_t> stored = ReadLastUpdateInstalled(store);
  std::optional<int32_t> number;
  if (stored.ok()) number = stored.value();
  if (!number) {
    Line(log, "!!! Problem with Last Update registry setting", kLevelWarning);
    number = 1000;
  }

  Status st = *number == std::numeric_limits<int32_t>::min()
                  ? Status(Failure(kOverflow))
                  : Status::Ok();
  int32_t lowered = st.ok() ? *number - 1 : *number;
  if (st.ok()) {
    st = StoreLastUpdateInstalled(store, lowered);
  }
  if (!st.ok()) {
    Line(log, "!!! Reset Last Update Error: " + st.failure().Text(),
         kLevelError);
    Line(log, " ");
    return;
  }

  Line(log, "...last update reset to " + std::to_string(lowered));
  Line(log, " ");
  Line(log, "1. RESTART the PC and try to Update System again.");
  Line(log, "2. Start mvupdate, or run 'mvupdate-cli update' and skip step 3.");
  Line(log, "3. Click Update System button to redo the update.");
  Line(log, "*** Email '" + std::string(support_email) +
                "' if you still need help. Attach the ");
  Line(log, "    log file: '" + std::string(event_log_path) + "'.");
  Line(log, " ");
}

}  // namespace mv
