#include "tools/status_report.h"

#include <string>

#include "system/date_time.h"
#include "system/files.h"
#include "system/paths.h"

namespace mv {

std::string WriteStatusFile(const InstallSettings& settings,
                            CustomerUpdateInfo& customer, RunLog& log,
                            EventPump* pump) {
  LoadCustomerInfo(settings.connection_string, customer, log, false, pump);
  std::string name = "Status " + FormatStampDigits(Now()) + ".txt";
  const CustomerUpdateInfo& c = customer;
  const InstallSettings& s = settings;
  std::string text;
  for (const std::string& line : {
           "CustomerNumber=" + c.customer_number,
           "DatabaseServer=" + s.database_server,
           "LocalComputerName=" + s.computer_name,
           "LastUpdateInstalled=" + std::to_string(c.update_installed),
           "LastUpdateInstalledOn=" + FormatMmDdYyyy(c.last_updated),
           "LastCommunication=" + FormatMmDdYyyy(Now()),
           std::string(),
       }) {
    text += line + "\r\n";
  }
  // Written whole or not at all, so the upload never sends half a report.
  Status st = WriteFileAtomically(s.App("\\Download\\" + name), text);
  if (!st.ok()) log.Error(st.failure().Text());
  return name;
}

}  // namespace mv
