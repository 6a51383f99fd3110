#include "transport/update_run.h"

#include <string>
#include <string_view>
#include <utility>

#include "system/files.h"
#include "system/last_update.h"
#include "system/paths.h"
#include "system/text.h"
#include "tools/status_report.h"
#include "transport/control_file_fetch.h"
#include "update/control_file.h"
#include "update/signature.h"
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
  bool (*connect)(const RunContext&, int32_t failure_level);
  std::string connect_failed;
  bool change_to_merivane;
  bool (*get_customer_file)(const RunContext&);
  std::string_view customer_file_failed;  // "" for no line
  bool (*get_update_file)(const RunContext&);
  std::string_view update_file_failed;
  void (*put_status_file)(const RunContext&, const std::string&);
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

// Logs the run's message followed by one period.
void LogRunMessage(const RunContext& run, std::string_view text,
                   int32_t level = kLevelInformation) {
  run.log.LogMessage(level, std::string(text) + ".");
}

// Checks for a new update and installs it, or says the site is up to date.
void InstallNewUpdates(const RunContext& run, std::string_view up_to_date) {
  CommandContext commands = run.commands();
  std::string control_file =
      UpdateControlFile(run.settings, run.server_flavour());
  if (!CheckControlFileSignature(run.settings, control_file, run.store, run.log,
                                 run.env.NowSeconds())) {
    return;
  }
  switch (CheckForNewUpdate(commands, run.store)) {
    case UpdateCheck::kNewUpdate: {
      UpdateOutcome outcome = ProcessUpdateControlFile(commands, run.store);
      if (run.outcome) *run.outcome = outcome;
      break;
    }
    case UpdateCheck::kUpToDate:
      LogRunMessage(run, up_to_date);
      break;
    case UpdateCheck::kFailed:
      break;  // the problem was logged
  }
}

// True when the customer record names an alternate site that is not the
// primary one.
bool AlternateDiffers(const CustomerUpdateInfo& c) {
  return c.has_alternate() && !EqualsIgnoreCase(TrimSpaces(c.site_address1),
                                                TrimSpaces(c.site_address2));
}

// From the connect step on: connects to `site` and updates from it. With
// a `fallback`, a site that cannot be reached or refuses the login is
// reported at Warning level and the run goes on at the fallback site.
void RunOnSite(const RunContext& run, const Site& site, const Site* fallback) {
  run.log.Info(site.connect_line);
  int32_t level = fallback ? kLevelWarning : kLevelError;
  bool connected = [&] {
    SessionScope scope(run.site, level);
    return site.connect(run, level);
  }();
  if (!connected && fallback && !run.window.StopRequested()) {
    run.log.Warning(
        "!!! Primary FTP site not reachable; trying the alternate FTP site.");
    return RunOnSite(run, *fallback, nullptr);
  }
  if (!connected) {
    LogRunMessage(run, site.connect_failed, kLevelError);
    run.window.Beep();
    return;
  }
  if (site.change_to_merivane) run.site.ChangeDirectory("Merivane");
  if (site.get_customer_file(run)) {
    ProcessCustomerControlFile(run.settings, run.server_flavour(), run.log);
  } else if (!site.customer_file_failed.empty()) {
    LogRunMessage(run, site.customer_file_failed, kLevelError);
  }
  if (site.get_update_file(run)) {
    InstallNewUpdates(run, "Merivane Server version is up-to-date.");
  } else if (!site.update_file_failed.empty()) {
    LogRunMessage(run, site.update_file_failed, kLevelError);
  }
  // The report and the vendor read the customer row: one that an earlier
  // run could not update is brought up to the number stored here first,
  // dated with the time that update was installed. The window runs while
  // the database works.
  if (Result<int32_t> stored = ReadLastUpdateInstalled(run.store);
      stored.ok()) {
    RepairCustomerInfoRecord(run.settings, run.log, stored.value(),
                             ReadLastUpdateInstalledOn(run.store), &run.window);
  }
  // A report that could not be written is not sent: the upload would only
  // fail again for a file that is not there.
  Result<std::string> status_file = WriteStatusFile(
      run.env, run.settings, run.customer, run.store, run.log, &run.window);
  if (status_file.ok()) {
    site.put_status_file(run, status_file.value());
  } else {
    std::string line = "!!! The status report could not be written (";
    line += status_file.failure().Text();
    line += "); it was not sent to the FTP site.";
    run.log.Error(line);
  }
  DisconnectFtpSite(run);
}

// The server flavour against `site`; a primary site that fails to connect
// hands over to the alternate one when the customer record names another.
void ServerRun(const RunContext& run, const Site& site) {
  run.log.Info("-----  MERIVANE SERVER UPDATE  -----" +
               std::string(site.banner_period));
  // Downloads land in the current directory: make sure it is Download, also
  // after a client run or a CHDIR command of an earlier run in this window.
  if (Status st = ChangeFolder(run.settings.App("\\Download")); !st.ok()) {
    run.log.Error("!!! Could not change to download directory. (" +
                  st.failure().Text() + ") " +
                  NativePath(run.settings.App("\\Download")));
  }
  std::string pattern = run.settings.App("\\Download\\*.*");
  if (site.log_clear_folder) run.log.Info("CLEAR FOLDER       : " + pattern);
  ClearFolder(run.settings, run.log, pattern);
  RemoveStalePartialDownloads(run.env, run.settings, run.log);
  bool primary = &site == &PrimarySite();
  RunOnSite(
      run, site,
      primary && AlternateDiffers(run.customer) ? &AlternateSite() : nullptr);
}

// The client flavour, the same for both sites. Gives false when the run
// ends without its completion line.
bool ClientRun(const RunContext& run) {
  LogRunMessage(run, "-----  MERIVANE CLIENT UPDATE  -----");
  ClearFolder(run.settings, run.log, run.settings.App("\\Update\\*.*"));
  if (Status st = ChangeFolder(run.settings.App("\\Update")); !st.ok()) {
    run.log.Error(st.failure().Text());
    return false;
  }
  if (!GetUpdateControlFile(run)) return false;
  InstallNewUpdates(run, "Merivane Client version is up-to-date.");
  return true;
}

void Run(const RunContext& run, const Site& site) {
  run.window.SetBusy(true);
  run.window.DoEvents();
  bool complete = true;
  if (run.server_flavour()) {
    ServerRun(run, site);
  } else {
    complete = ClientRun(run);
  }
  if (complete) LogRunMessage(run, "Update complete.");
  run.log.LogMessage(kLevelInformation, " ", kStampedLine);
  run.window.SetBusy(false);
  run.window.DoEvents();
}

}  // namespace

void UpdateSystemClick(const RunContext& run) {
  run.log.Clear();
  if (run.window.UseAlternateTicked()) {
    CommunicateWithFTPSite(run);
  } else {
    RunUpdate(run);
  }
}

void RunUpdate(const RunContext& run) { Run(run, PrimarySite()); }

void CommunicateWithFTPSite(const RunContext& run) {
  Run(run, AlternateSite());
}

void ClearFolder(const InstallSettings& settings, RunLog& log,
                 std::string_view pattern) {
  std::string native = NativePath(pattern);
  std::string folder = ParentFolder(native);
  Status st;
  // Only a work folder below a real installation path is cleared: an empty
  // installation path would otherwise point at a folder of the root.
  if (!IsAbsolutePath(settings.application_path) || folder.empty() ||
      IsRootFolder(folder)) {
    st = Failure(kPathNotFound);
  } else {
    st = DeleteFiles(native);
    // An empty folder is what clearing wants: no failure.
    if (!st.ok() && st.failure().number() == kFileNotFound) st = Status::Ok();
  }
  if (!st.ok()) {
    log.Error("!!! Clear Folder: " + st.failure().Text() + " (" + native + ")");
  }
  log.Info(" ");
}

namespace {

void SayWhetherEncrypted(const RunContext& run) {
  run.log.Info(run.site.Encrypted()
                   ? "The session with the FTP site is encrypted (TLS)."
                   : "The session with the FTP site is not encrypted.");
}

// A CR, LF or NUL in the login would end the USER or PASS line early and
// let the rest of the value be sent as commands of its own: such a login is
// refused before anything is sent, naming the column, never the value.
bool LoginIsSafe(const RunContext& run, int32_t failure_level) {
  const CustomerUpdateInfo& c = run.customer;
  for (const auto& [column, value] :
       {std::pair{"UserName", &c.user_name}, {"Password", &c.password}}) {
    if (value->find_first_of(std::string_view("\r\n\0", 3)) !=
        std::string::npos) {
      run.log.LogMessage(failure_level,
                         std::string("!!! The customer record's ") + column +
                             " holds a line break or NUL character; the "
                             "login was not sent to the FTP site.");
      return false;
    }
  }
  return true;
}

}  // namespace

bool ConnectToFtpSite(const RunContext& run, int32_t failure_level) {
  const CustomerUpdateInfo& c = run.customer;
  if (!LoginIsSafe(run, failure_level)) return false;
  bool ok = run.site.Connect(c.site_address1, c.user_name, c.password);
  if (ok) {
    run.log.Info("Connected.");
    SayWhetherEncrypted(run);
  } else {
    run.log.LogMessage(failure_level,
                       "!!! Failed to connect to " + c.site_address1);
  }
  run.log.Info(" ");
  return ok;
}

bool ConnectToAlternateSite(const RunContext& run, int32_t failure_level) {
  const CustomerUpdateInfo& c = run.customer;
  run.log.Info("Connecting to Merivane ftp site...(" + c.site_address2 + ")");
  if (!LoginIsSafe(run, failure_level)) return false;
  bool ok = run.site.Connect(c.site_address2, c.user_name, c.password);
  if (ok) {
    run.log.Info("Connected.");
    SayWhetherEncrypted(run);
  } else {
    run.log.LogMessage(failure_level, "Failed to connect.");
  }
  run.log.Info(" ");
  return ok;
}

namespace {

void UploadStatusFile(const RunContext& run, const std::string& file_name) {
  std::string local = run.settings.App("\\Download\\" + file_name);
  if (!run.site.PutFile(local, file_name)) {
    run.log.Warning("Could not put file in folder (" +
                    TrimSpaces(run.customer.customer_number) + ").");
  }
}

}  // namespace

void PutStatusFile(const RunContext& run, const std::string& file_name) {
  // The folder is named by the trimmed number, as for the customer control
  // file: a fixed-width column pads it with blanks.
  if (!run.site.ChangeDirectory("..\\" +
                                TrimSpaces(run.customer.customer_number))) {
    return;
  }
  UploadStatusFile(run, file_name);
}

void PutAlternateStatusFile(const RunContext& run,
                            const std::string& file_name) {
  UploadStatusFile(run, file_name);
}

void DisconnectFtpSite(const RunContext& run) { run.site.Disconnect(); }

}  // namespace mv
