#include "tools/reset_last_update.h"

#include "app/form.h"
#include "app/run_log.h"

namespace mv {

// Not built yet: says so on an Error line rather than pretending to work.
void ResetLastUpdate(Form& form) {
  form.window.ClearLines();
  LogError(form, "Reset Last Update is not available in this build.");
}

}  // namespace mv
