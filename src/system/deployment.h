// Deployment values of the update service: set when the program is built
// (cmake/Deployment.cmake) and changed without a rebuild by the
// configuration file (system/config.h) or, above it, by the environment
// variable of the same name.
#ifndef MVUPDATE_SYSTEM_DEPLOYMENT_H_
#define MVUPDATE_SYSTEM_DEPLOYMENT_H_

#include <optional>
#include <string>
#include <vector>

namespace mv {

// MVUPDATE_FTP_TLS: whether FTP sessions use TLS: exactly "try",
// "require" or "off" (any case, blanks around); any other value is an
// error of CheckDeploymentValues and is taken as "require".
enum class TlsMode {
  kTry,      // when the site offers it; plain, with a warning, only when
             // it refuses AUTH TLS (a certificate that fails is an error)
  kRequire,  // a site without TLS, or with a certificate that does not
             // verify, fails before the login is sent
  kOff,
};

// A record made without ReadDeploymentOptions holds the values of a build
// with the default deployment (TLS required: never weaker than asked for);
// tests make them so.

// What site sessions and their component use.
struct SiteOptions {
  // MVUPDATE_FTP_TIMEOUT: limit of connect, change-directory and
  // disconnect.
  double timeout_seconds = 30;
  // MVUPDATE_FTP_STALL_SECONDS: a transfer without progress this long
  // fails.
  double stall_seconds = 60;
  // MVUPDATE_FTP_RETRIES: how often a transfer or connection that failed
  // for a network reason is tried again within one run.
  int retries = 2;
  TlsMode tls = TlsMode::kRequire;
  // MVUPDATE_FTP_CA_FILE: the certificates that site certificates are
  // checked against ("" for the system's).
  std::string ca_file;
};

// What the command interpreter and the installation of updates use.
struct CommandOptions {
  // MVUPDATE_RUN_WAIT_SECONDS: the wait after RUN starts a program.
  double run_wait_seconds = 10;
  // MVUPDATE_RECORD_FAILED_UPDATES: record an update even when one of its
  // commands failed (the rule of earlier versions).
  bool record_failed_updates = false;
};

// What the customer record uses.
struct DatabaseOptions {
  // MVUPDATE_DB_LOGIN_TIMEOUT: limit of connecting to the suite database.
  double login_timeout_seconds = 5;
  // MVUPDATE_DEFAULT_FTP_PRIMARY / MVUPDATE_DEFAULT_FTP_ALTERNATE.
  std::string default_primary_host;
  std::string default_alternate_host;
};

// The deployment values, read once when a front end starts and handed to
// what uses each of them. Seconds are more than 0 and at most a day,
// retries at most 10: a value past the bound is cut to it, one that is no
// number gives the built-in value.
struct DeploymentOptions {
  SiteOptions site;
  CommandOptions commands;
  DatabaseOptions database;
  // MVUPDATE_SUPPORT_EMAIL.
  std::string support_email;

  // What reading them found: the values replaced (notes), and an FTP_TLS
  // that is none of its three values (as written).
  std::vector<std::string> notes;
  std::optional<std::string> bad_tls;
};

// The values of the environment, else the configuration file, else the
// built-in ones.
DeploymentOptions ReadDeploymentOptions();

// Warnings for the values replaced, and errors naming an FTP_TLS that is
// none of its three values (commands that use the network or the
// database must not run).
struct DeploymentCheck {
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
};
DeploymentCheck CheckDeploymentValues(const DeploymentOptions& options);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_DEPLOYMENT_H_
