#include "app/startup.h"

#include <string>

#include "app/form.h"
#include "app/run_log.h"
#include "data/customer_record.h"
#include "system/files.h"
#include "system/os_info.h"
#include "system/paths.h"
#include "transport/comm.h"
#include "update/string_helpers.h"

namespace mv {

namespace {

constexpr std::string_view kSettingsTag = "***LoadInstallSettings***";

// Logs a query's problem line at level Error.
void LogProblem(Form& form, std::string_view problem, const Failure& failure) {
  LogMessage(form, kLevelError,
             std::string(kSettingsTag) + " " + std::string(problem) +
                 failure.Text() + ")",
             true, false, true);
}

}  // namespace

void StartUp(Form& form) {
  form.settings.VerbosityLevel = 2;
  if (!InitErrorLogging(form)) {
    LogInfo(form, "***Error Logging*** " + form.settings.LastError);
  }
  InitDirectories(form);
  LoadInstallSettings(form);
  form.settings.ConnectionString =
      "driver={SQL Server};server=" + form.settings.DatabaseServer +
      ";uid=qorin;pwd=wzq;database=" + form.settings.DatabaseName;
  if (!InitMode(form)) {
    LogInfo(form, "***Error Mode*** " + form.settings.LastError);
  }
  InitFTPControl(form);
  if (!LoadCustomerInfo(form, true)) {
    LogMessage(form, kLevelError,
               "***Error SQL DB*** Could not load customer information.", true,
               false, false);
  }
}

bool InitErrorLogging(Form& form) {
  InstallSettings& s = form.settings;
  s.LastError.clear();
  s.RunMessage.clear();
  std::string install = form.registry_queries.GetInstallPath();
  s.EventLog = std::make_unique<clsQorinEventLogTCP>(install);
  s.EventLog->strFile(JoinPath(install, "\\Database\\MVUpEvents.log"));
  s.EventLog->blnClearFile(true);
  form.comm.log = CommLog{s.EventLog.get(), s.VerbosityLevel};
  return true;
}

void InitDirectories(Form& form) {
  InstallSettings& s = form.settings;
  LogInfo(form, "[Directory Info] ");
  s.ApplicationPath =
      JoinPath(form.registry_queries.GetInstallPath(), "\\Application");
  LogInfo(form, "PATH             : " + s.ApplicationPath);
  static constexpr std::string_view kFolders[] = {"Database", "Download",
                                                  "Update", "Backup"};
  for (std::string_view name : kFolders) {
    std::string tail = "\\";  // appended: see WriteStatsDetail
    tail += name;
    std::string folder = JoinPath(s.ApplicationPath, tail);
    if (FolderExists(folder)) continue;
    Status st = MakeFolder(folder);
    if (!st.ok()) {
      LogError(form, "...Creating " + std::string(name) + " path. (" +
                         st.failure().Text() + ")");
    }
  }
  LogInfo(form, " ");
}

void LoadInstallSettings(Form& form) {
  InstallSettings& s = form.settings;
  LogInfo(form, "[INSTALL SETTINGS]");
  s.DatabaseServer = "[Server]\\Merivane";
  s.DatabaseName = "Quillmere";
  s.ComputerName = "[ComputerName]";
  s.WindowsVersion = "Windows";

  Result<std::string> server = form.registry_queries.GetDBServerName();
  if (server.ok()) {
    s.DatabaseServer = server.value();
  } else {
    LogProblem(form, "Problem with Database Server registry entry. (",
               server.failure());
  }
  LogInfo(form, "DATABASE SERVER  : " + s.DatabaseServer);

  s.DatabaseName = form.registry_queries.GetDatabaseName();
  LogInfo(form, "DATABASE NAME    : " + s.DatabaseName);

  s.ComputerName = GetLocalComputerName();
  LogInfo(form, "COMPUTER NAME    : " + s.ComputerName);

  s.WindowsVersion = GetWindowsVersionName();
  LogInfo(form, "WINDOWS VERSION  : " + s.WindowsVersion);
  LogInfo(form, " ");
}

bool InitMode(Form& form) {
  InstallSettings& s = form.settings;
  LogInfo(form, "[MODE SETTINGS]");
  int32_t p = FindLast(s.DatabaseServer, "\\");
  if (p <= 0) {
    s.ServerName = s.DatabaseServer;
    LogInfo(form, "SQL DATABASE TYPE: MSDE ");
  } else {
    s.ServerName = s.DatabaseServer.substr(0, static_cast<size_t>(p - 1));
    LogInfo(form, "SQL DATABASE TYPE: SQLX ");
  }
  LogInfo(form, "SERVER NAME      : " + s.ServerName);
  if (ToUpperAscii(TrimBlanks(s.ComputerName)) ==
      ToUpperAscii(TrimBlanks(s.ServerName))) {
    s.InstallationType = 0;
    LogInfo(form, "INSTALLATION TYPE: Server");
  } else {
    s.InstallationType = 1;
    LogInfo(form, "INSTALLATION TYPE: Client");
  }
  LogInfo(form, " ");
  return true;
}

}  // namespace mv
