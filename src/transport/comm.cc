#include "transport/comm.h"

#include "app/form.h"
#include "app/run_log.h"
#include "system/files.h"
#include "system/paths.h"
#include "transport/ftp_component.h"

namespace mv {

void InitFTPControl(Form& form) {
  std::unique_ptr<FtpComponent> component;
  if (form.make_ftp_component) component = form.make_ftp_component();
  if (!component) {
    LogMessage(
        form, 0,
        "*** InitFTPControl *** Could not initialize the FTP Control. (" +
            Failure(kCannotCreateObject).Text() + ")",
        true, false, true);
  }
  form.ftpTransfer = std::move(component);
  Status st =
      ChangeFolder(JoinPath(form.settings.ApplicationPath, "\\Download"));
  if (!st.ok()) {
    LogMessage(form, 0,
               "*** InitFTPControl *** Could not change to download "
               "directory.(" +
                   st.failure().Text() + ")",
               true, false, true);
  }
}

}  // namespace mv
