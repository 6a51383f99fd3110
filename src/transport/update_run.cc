#include "transport/update_run.h"

#include <string>

#include "app/form.h"
#include "app/run_log.h"
#include "system/files.h"
#include "system/paths.h"
#include "tools/status_report.h"
#include "transport/comm.h"
#include "transport/control_file_fetch.h"
#include "update/control_file.h"
#include "update/update_detection.h"

namespace mv {

namespace {

constexpr std::string_view kConnectFailed =
    "!!! Failed trying to connect to the Merivane Update Server !!!";

// The two sites differ in a few texts and steps; the rest of a run is the
// same.
struct Site {
  std::string_view banner_period;  // "." or "" after the banner
  bool log_clear_folder;
  std::string_view connect_line;
  bool (*connect)(Form&);
  std::string connect_failed;
  bool change_to_merivane;
  bool (*get_customer_file)(Form&);
  std::string_view customer_file_failed;  // "" for no line
  bool (*get_update_file)(Form&);
  std::string_view update_file_failed;
  void (*put_status_file)(Form&);
};

const Site& PrimarySite() {
  static const Site site{".",
                         false,
                         "Connect To FTP Site: ",
                         ConnectToFtpSite,
                         std::string(kConnectFailed),
                         true,
                         GetCustomerControlFile,
                         "",
                         GetUpdateControlFile,
                         "",
                         PutStatusFile};
  return site;
}

const Site& AlternateSite() {
  static const Site site{"",
                         true,
                         "CONNECT TO SITE    : ",
                         ConnectToAlternateSite,
                         std::string(kConnectFailed) + "  ",
                         false,
                         GetAlternateCustomerControlFile,
                         "!!! Unable to get control file !!!",
                         GetAlternateUpdateControlFile,
                         "!!! Unable to get update control file !!!",
                         PutAlternateStatusFile};
  return site;
}

// Sets RunMessage and logs it followed by one period.
void LogRunMessage(Form& form, std::string_view text,
                   int32_t level = kLevelInformation) {
  form.settings.RunMessage = std::string(text);
  LogMessage(form, level, form.settings.RunMessage + ".", true, false, true);
}

std::string App(const Form& form, std::string_view tail) {
  return JoinPath(form.settings.ApplicationPath, tail);
}

// Checks for a new update and installs it, or says the site is up to date.
void InstallNewUpdates(Form& form, std::string_view up_to_date) {
  if (CheckForNewUpdate(form)) {
    ProcessUpdateControlFile(form);
  } else {
    LogRunMessage(form, up_to_date);
  }
}

// The server flavour against `site`.
void ServerRun(Form& form, const Site& site) {
  form.settings.RunMessage = "-----  MERIVANE SERVER UPDATE  -----";
  LogInfo(form, form.settings.RunMessage + std::string(site.banner_period));
  // Downloads land in the current directory: make sure it is Download, also
  // after a client run or a CHDIR command of an earlier run in this window.
  std::string download = App(form, "\\Download");
  if (Status st = ChangeFolder(download); !st.ok()) {
    LogError(form, "!!! Could not change to download directory. (" +
                       st.failure().Text() + ")");
  }
  std::string pattern = App(form, "\\Download\\*.*");
  if (site.log_clear_folder) LogInfo(form, "CLEAR FOLDER       : " + pattern);
  ClearFolder(form, pattern);
  LogInfo(form, site.connect_line);
  if (!site.connect(form)) {
    LogRunMessage(form, site.connect_failed, kLevelError);
    form.window.Beep();
    return;
  }
  if (site.change_to_merivane) ChangeDirectory(form, "Merivane");
  if (site.get_customer_file(form)) {
    ProcessCustomerControlFile(form);
  } else if (!site.customer_file_failed.empty()) {
    LogRunMessage(form, site.customer_file_failed, kLevelError);
  }
  if (site.get_update_file(form)) {
    InstallNewUpdates(form, "Merivane Server version is up-to-date.");
  } else if (!site.update_file_failed.empty()) {
    LogRunMessage(form, site.update_file_failed, kLevelError);
  }
  WriteStatusFile(form);
  site.put_status_file(form);
  DisconnectFtpSite(form);
}

// The client flavour, the same for both sites. Gives false when the run
// ends without its completion line.
bool ClientRun(Form& form, std::string_view run_time_error_prefix) {
  LogRunMessage(form, "-----  MERIVANE CLIENT UPDATE  -----");
  ClearFolder(form, App(form, "\\Update\\*.*"));
  if (Status st = ChangeFolder(App(form, "\\Update")); !st.ok()) {
    form.settings.LastError =
        std::string(run_time_error_prefix) + st.failure().Text();
    LogError(form, st.failure().Text());
    return false;
  }
  if (!GetUpdateControlFile(form)) return false;
  InstallNewUpdates(form, "Merivane Client version is up-to-date.");
  return true;
}

void Run(Form& form, const Site& site, std::string_view error_prefix) {
  form.window.SetBusy(true);
  form.window.DoEvents();
  bool complete = true;
  if (form.ServerFlavour()) {
    ServerRun(form, site);
  } else {
    complete = ClientRun(form, error_prefix);
  }
  if (complete) LogRunMessage(form, "Update complete.");
  LogMessage(form, kLevelInformation, " ", true, false, false);
  form.window.SetBusy(false);
  form.window.DoEvents();
}

}  // namespace

void UpdateSystemClick(Form& form) {
  form.window.ClearLines();
  if (form.window.UseAlternateTicked()) {
    CommunicateWithFTPSite(form);
  } else {
    RunUpdate(form);
  }
}

void RunUpdate(Form& form) { Run(form, PrimarySite(), "!!! "); }

void CommunicateWithFTPSite(Form& form) {
  Run(form, AlternateSite(), "Error:CommunicateWithFTPSite...");
}

void ClearFolder(Form& form, std::string_view pattern) {
  std::string native = NativePath(pattern);
  std::string folder = ParentFolder(native);
  Status st;
  // Only a work folder below a real installation path is cleared: an empty
  // installation path would otherwise point at a folder of the root.
  if (form.settings.ApplicationPath.empty() ||
      form.settings.ApplicationPath[0] != '/' || folder.empty() ||
      folder == "/") {
    st = Failure(kPathNotFound);
  } else {
    st = DeleteFiles(native);
    // An empty folder is what clearing wants: no failure.
    if (!st.ok() && st.failure().number() == kFileNotFound) st = Status::Ok();
  }
  if (!st.ok()) {
    form.settings.LastError = "!!! Clear Folder: " + st.failure().Text();
    LogError(form, form.settings.LastError);
  }
  LogInfo(form, " ");
}

bool ConnectToFtpSite(Form& form) {
  const CustomerUpdateInfo& c = form.customer;
  bool ok = Connect(form, c.FTPSiteAddress1, c.UserName, c.Password);
  if (ok) {
    LogInfo(form, "Connected.");
  } else {
    LogError(form, "!!! Failed to connect to " + c.FTPSiteAddress1);
  }
  LogInfo(form, " ");
  return ok;
}

bool ConnectToAlternateSite(Form& form) {
  const CustomerUpdateInfo& c = form.customer;
  LogInfo(form,
          "Connecting to Merivane ftp site...(" + c.FTPSiteAddress2 + ")");
  bool ok = Connect(form, c.FTPSiteAddress2, c.UserName, c.Password);
  if (ok) {
    LogInfo(form, "Connected.");
  } else {
    LogError(form, "Failed to connect.");
  }
  LogInfo(form, " ");
  return ok;
}

namespace {

void UploadStatusFile(Form& form) {
  int16_t code = 0;
  std::string local = App(form, "\\Download\\" + form.status_file_name);
  if (!PutFile(form, local, form.status_file_name, code)) {
    LogMessage(
        form, kLevelWarning,
        "Could not put file in folder (" + form.customer.CustomerNum + ").",
        true, false, true);
  }
}

}  // namespace

void PutStatusFile(Form& form) {
  if (!ChangeDirectory(form, "..\\" + form.customer.CustomerNum)) return;
  UploadStatusFile(form);
}

void PutAlternateStatusFile(Form& form) { UploadStatusFile(form); }

void DisconnectFtpSite(Form& form) { Disconnect(form); }

}  // namespace mv
