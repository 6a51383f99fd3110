#include "tools/reset_last_update.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "app/form.h"
#include "app/run_log.h"
#include "system/deployment.h"
#include "system/paths.h"

namespace mv {

namespace {

constexpr char kApplication[] = "Qorin";
constexpr char kSection[] = "MVUpdate";
constexpr char kKey[] = "LastUpdateInstalled";

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

std::optional<int32_t> ParseStoredUpdateNumber(std::string_view text) {
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string_view::npos) return std::nullopt;
  std::string t(text.substr(b, e - b + 1));
  // Decimal numbers only: strtod would also take hexadecimal, "inf" and
  // "nan".
  if (t.find_first_not_of("0123456789+-.eE") != std::string::npos) {
    return std::nullopt;
  }
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != '\0' || errno == ERANGE) return std::nullopt;
  // Halves go to the even neighbour (the default rounding mode).
  double r = std::nearbyint(v);
  if (r < std::numeric_limits<int32_t>::min() ||
      r > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(r);
}

void ResetLastUpdate(Form& form) {
  form.settings.LastError.clear();
  form.window.ClearLines();
  Line(form, "[Reset Last Update]");

  Result<std::string> stored =
      form.settings_store.GetSetting(kApplication, kSection, kKey, "0");
  std::optional<int32_t> number;
  if (stored.ok()) number = ParseStoredUpdateNumber(stored.value());
  if (!number) {
    Line(form, "!!! Problem with Last Update registry setting", kLevelWarning);
    number = 1000;
  }

  Status st = *number == std::numeric_limits<int32_t>::min()
                  ? Status(Failure(kOverflow))
                  : Status::Ok();
  int32_t lowered = st.ok() ? *number - 1 : *number;
  if (st.ok()) {
    st = form.settings_store.SaveSetting(kApplication, kSection, kKey,
                                         std::to_string(lowered));
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
