#include "tools/status_report.h"

#include <optional>
#include <string>

#include "system/date_time.h"
#include "system/files.h"
#include "system/last_update.h"
#include "system/paths.h"

namespace mv {

namespace {

constexpr char kUnknown[] = "unknown";

std::string DateOrUnknown(const std::optional<DateTime>& t) {
  return t && *t != DateTime() ? FormatMmDdYyyy(*t) : kUnknown;
}

}  // namespace

Result<std::string> WriteStatusFile(Env& env, const InstallSettings& settings,
                                    CustomerUpdateInfo& customer,
                                    const SettingsStore& store, RunLog& log,
                                    EventPump* pump) {
  bool row_read =
      LoadCustomerInfo(settings.connection_string, settings.database, customer,
                       log, false, pump);
  // One reading of the clock names and dates the report.
  const DateTime now = env.LocalNow();
  std::string name = "Status " + FormatStampDigits(now) + ".txt";
  const CustomerUpdateInfo& c = customer;
  const InstallSettings& s = settings;
  // What the row says, unless this machine knows better: the row could not
  // be read, or it lags behind an update recorded here while the database
  // could not take it.
  std::string number = std::to_string(c.update_installed);
  std::string date = DateOrUnknown(c.last_updated);
  Result<int32_t> stored = ReadLastUpdateInstalled(store);
  if (stored.ok() && (!row_read || c.update_installed < stored.value())) {
    number = std::to_string(stored.value());
    date = DateOrUnknown(ReadLastUpdateInstalledOn(store));
  } else if (!row_read) {
    number = date = kUnknown;
  } else if (stored.ok() && c.update_installed == stored.value() &&
             c.last_updated == DateTime()) {
    date = DateOrUnknown(ReadLastUpdateInstalledOn(store));
  }
  std::string text;
  for (const std::string& line : {
           "CustomerNumber=" + c.customer_number,
           "DatabaseServer=" + s.database_server,
           "LocalComputerName=" + s.computer_name,
           "LastUpdateInstalled=" + number,
           "LastUpdateInstalledOn=" + date,
           "LastCommunication=" + FormatMmDdYyyy(now),
           std::string(),
       }) {
    text += line + "\r\n";
  }
  // Written whole or not at all, so the upload never sends half a report.
  Status st = env.WriteFileAtomically(s.App("\\Download\\" + name), text,
                                      AtLink::kReplace);
  if (!st.ok()) return st.failure();
  return name;
}

}  // namespace mv
