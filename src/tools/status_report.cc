#include "tools/status_report.h"

#include <string>

#include "app/form.h"
#include "app/run_log.h"
#include "data/customer_record.h"
#include "system/date_time.h"
#include "system/files.h"
#include "system/paths.h"

namespace mv {

void WriteStatusFile(Form& form) {
  LoadCustomerInfo(form, false);
  form.status_file_name = "Status " + FormatStampDigits(Now()) + ".txt";
  const CustomerUpdateInfo& c = form.customer;
  const InstallSettings& s = form.settings;
  std::string text;
  for (const std::string& line : {
           "CustomerNumber=" + c.CustomerNum,
           "DatabaseServer=" + s.DatabaseServer,
           "LocalComputerName=" + s.ComputerName,
           "LastUpdateInstalled=" + std::to_string(c.UpdateInstalled),
           "LastUpdateInstalledOn=" + FormatMmDdYyyy(c.LastUpdatedDate),
           "LastCommunication=" + FormatMmDdYyyy(Now()),
           std::string(),
       }) {
    text += line + "\r\n";
  }
  // Written whole or not at all, so the upload never sends half a report.
  Status st = WriteFileAtomically(
      JoinPath(s.ApplicationPath, "\\Download\\" + form.status_file_name),
      text);
  if (!st.ok()) LogError(form, st.failure().Text());
}

}  // namespace mv
