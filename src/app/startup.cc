#include "app/startup.h"

#include <memory>
#include <optional>
#include <string>

#include "data/customer_record.h"
#include "system/config.h"
#include "system/deployment.h"
#include "system/files.h"
#include "system/os_info.h"
#include "system/paths.h"
#include "system/run_lock.h"
#include "system/text.h"
#include "transport/ftp_session.h"

namespace mv {

namespace {

constexpr std::string_view kSettingsTag = "***LoadInstallSettings***";

// Logs a query's problem line at level Error, naming the registry file.
void LogProblem(RunLog& log, std::string_view problem, const Failure& failure,
                const Registry& registry) {
  log.Error(std::string(kSettingsTag) + " " + std::string(problem) +
            failure.Text() + ") Registry file: " + registry.file());
}

// A connection-string value in braces, each "}" doubled, so that blanks,
// ";" and braces in it stay part of it.
std::string Braced(std::string_view value) {
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// The login of the connection string: the suite's own, unless the
// configuration file's DatabaseUser or DatabasePassword replaces its part.
// The password is always braced; the user name only when it needs it,
// since some drivers (psqlODBC) take braces around a user name as part of
// the name.
std::string DatabaseLogin(const ConfigFile& config) {
  std::optional<std::string> user = config.Get("DatabaseUser");
  std::optional<std::string> password = config.Get("DatabasePassword");
  if (!user && !password) return "uid=qorin;pwd=wzq";
  std::string uid = user.value_or("qorin");
  if (uid.find_first_of(" ;{}") != std::string::npos) uid = Braced(uid);
  return "uid=" + uid + ";pwd=" + Braced(password.value_or("wzq"));
}

}  // namespace

void StartUp(Form& form) {
  form.log.set_verbosity(2);
  // Start-up's own steps (starting the event log afresh, making folders) run
  // under the run lock, so that they never clear or disturb a command of
  // another process. It is let go when start-up ends: an idle window holds
  // no lock.
  RunLock lock(form.RunLockFile());
  RunLock::Outcome taken =
      form.held_run_lock ? RunLock::Outcome::kTaken : lock.Acquire();
  InitErrorLogging(form, taken == RunLock::Outcome::kTaken);
  if (taken == RunLock::Outcome::kUnavailable) {
    form.log.Error(RunLockProblem(lock));
  }
  // The file was read before the event log existed; its problems are
  // logged now, so that they reach the list and the event log.
  std::shared_ptr<const ConfigFile> config = Configuration();
  bool usable = LogConfigurationProblems(form.log, form.deployment);
  InitDirectories(form);
  LoadInstallSettings(form);
  InstallSettings& s = form.settings;
  s.connection_string = "driver={SQL Server};server=" + s.database_server +
                        ";" + DatabaseLogin(*config) +
                        ";database=" + s.database_name;
  s.database = form.deployment.database;
  InitMode(s, form.log);
  InitFTPControl(form.session, s, form.log, form.env, form.deployment.site,
                 form.make_ftp_component);
  // A configuration that cannot be trusted does not reach the database.
  if (usable &&
      !LoadCustomerInfo(s.connection_string, s.database, form.customer,
                        form.log, true, &form.window)) {
    form.log.LogMessage(
        kLevelError, "***Error SQL DB*** Could not load customer information.",
        kStampedLine);
  }
  ShowAlternateSiteChoice(form);
}

bool LogConfigurationProblems(RunLog& log, const DeploymentOptions& options) {
  std::shared_ptr<const ConfigFile> config = Configuration();
  DeploymentCheck values = CheckDeploymentValues(options);
  for (const std::string& line : config->warnings()) log.Warning(line);
  for (const std::string& line : values.warnings) log.Warning(line);
  for (const std::string& line : config->errors()) log.Error(line);
  for (const std::string& line : values.errors) log.Error(line);
  return config->errors().empty() && values.errors.empty();
}

void InitErrorLogging(Form& form, bool start_afresh) {
  std::string install = form.registry_queries.GetInstallPath();
  form.event_log = std::make_unique<EventLog>(form.env, install);
  form.event_log->set_file(JoinPath(install, "\\Database\\MVUpEvents.log"));
  form.event_log->set_clear_file(start_afresh);
  form.log.set_event_log(form.event_log.get());
}

std::string RunLockProblem(const RunLock& lock) {
  return "!!! The run lock " + lock.path() + " cannot be taken (" +
         lock.failure().Text() +
         "); no command runs until it can. Remove the file (as its owner or "
         "as root) and try again.";
}

void InitDirectories(Form& form) {
  InstallSettings& s = form.settings;
  RunLog& log = form.log;
  log.Info("[Directory Info] ");
  s.application_path =
      JoinPath(form.registry_queries.GetInstallPath(), "\\Application");
  log.Info("PATH             : " + s.application_path);
  static constexpr std::string_view kFolders[] = {"Database", "Download",
                                                  "Update", "Backup"};
  for (std::string_view name : kFolders) {
    std::string tail = "\\";  // appended: see WriteStatsDetail
    tail += name;
    std::string folder = s.App(tail);
    if (FolderExists(folder)) continue;
    Status st = MakeFolder(folder);
    if (!st.ok()) {
      log.Error("...Creating " + std::string(name) + " path. (" +
                st.failure().Text() + ") " + NativePath(folder));
    }
  }
  log.Info(" ");
}

void LoadInstallSettings(Form& form) {
  InstallSettings& s = form.settings;
  RunLog& log = form.log;
  log.Info("[INSTALL SETTINGS]");
  s.database_server = "[Server]\\Merivane";
  s.database_name = "Quillmere";
  s.computer_name = "[ComputerName]";
  s.windows_version = "Windows";

  Result<std::string> server = form.registry_queries.GetDBServerName();
  if (server.ok()) s.database_server = server.value();
  // A file that start-up could neither find nor make holds no key: the
  // query then finds nothing, which is no less a problem.
  if (!server.ok() || !form.registry.Available()) {
    LogProblem(log, "Problem with Database Server registry entry. (",
               server.ok() ? Failure(kFileNotFound) : server.failure(),
               form.registry);
  }
  log.Info("DATABASE SERVER  : " + s.database_server);

  s.database_name = form.registry_queries.GetDatabaseName();
  s.update_public_keys = form.registry_queries.GetUpdatePublicKeys();
  log.Info("DATABASE NAME    : " + s.database_name);

  s.computer_name = GetLocalComputerName();
  log.Info("COMPUTER NAME    : " + s.computer_name);

  s.windows_version = GetWindowsVersionName();
  log.Info("WINDOWS VERSION  : " + s.windows_version);
  log.Info(" ");
}

void InitMode(InstallSettings& s, RunLog& log) {
  log.Info("[MODE SETTINGS]");
  int32_t p = FindLast(s.database_server, "\\");
  if (p <= 0) {
    s.server_name = s.database_server;
    log.Info("SQL DATABASE TYPE: MSDE ");
  } else {
    s.server_name = s.database_server.substr(0, static_cast<size_t>(p - 1));
    log.Info("SQL DATABASE TYPE: SQLX ");
  }
  log.Info("SERVER NAME      : " + s.server_name);
  if (EqualsIgnoreCase(TrimSpaces(s.computer_name),
                       TrimSpaces(s.server_name))) {
    s.installation_type = InstallationType::kServer;
    log.Info("INSTALLATION TYPE: Server");
  } else {
    s.installation_type = InstallationType::kClient;
    log.Info("INSTALLATION TYPE: Client");
  }
  log.Info(" ");
}

void ShowAlternateSiteChoice(Form& form) {
  if (form.customer.table_read) {
    form.window.SetUseAlternateEnabled(form.customer.has_alternate());
  }
}

}  // namespace mv
