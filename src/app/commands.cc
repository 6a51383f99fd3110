#include "app/commands.h"

#include "app/form.h"
#include "app/startup.h"
#include "tools/check_system.h"
#include "tools/reset_last_update.h"
#include "transport/update_run.h"

namespace mv {

void FormCommands::Load() { StartUp(form_); }
void FormCommands::UpdateSystem() { UpdateSystemClick(form_); }
void FormCommands::CheckSystem() { CheckSystemVersion(form_); }
void FormCommands::ResetLastUpdate() { mv::ResetLastUpdate(form_); }

}  // namespace mv
