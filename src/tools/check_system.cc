#include "tools/check_system.h"

#include "app/form.h"
#include "app/run_log.h"

namespace mv {

// Not built yet: says so on an Error line rather than pretending to work.
void CheckSystemVersion(Form& form) {
  form.window.ClearLines();
  LogError(form, "Check System is not available in this build.");
}

}  // namespace mv
