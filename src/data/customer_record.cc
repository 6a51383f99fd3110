#include "data/customer_record.h"

#include "app/form.h"
#include "app/run_log.h"

namespace mv {

// No database access is built in yet: both operations report the component
// as unavailable, the failure the original gives when it cannot be created.
bool LoadCustomerInfo(Form& form, bool /*ShowDetails*/) {
  LogInfo(form, "[CUSTOMER FTP]");
  form.settings.LastError = Failure(kCannotCreateObject).Text();
  LogError(form, form.settings.LastError);
  return false;
}

bool UpdateCustomerInfoRecord(Form& form, int32_t /*n*/) {
  form.settings.LastError =
      "********** ERROR: " + Failure(kCannotCreateObject).Text();
  LogError(form, Failure(kCannotCreateObject).Text());
  return false;
}

}  // namespace mv
