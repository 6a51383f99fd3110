// Deployment values of the update service: set when the program is built
// (cmake/Deployment.cmake) and changed without a rebuild by the
// configuration file (system/config.h) or, above it, by the environment
// variable of the same name.
#ifndef MVUPDATE_SYSTEM_DEPLOYMENT_H_
#define MVUPDATE_SYSTEM_DEPLOYMENT_H_

#include <string>
#include <vector>

namespace mv {

// MVUPDATE_DEFAULT_FTP_PRIMARY / MVUPDATE_DEFAULT_FTP_ALTERNATE.
std::string DefaultPrimaryFtpHost();
std::string DefaultAlternateFtpHost();
// MVUPDATE_SUPPORT_EMAIL.
std::string SupportEmail();
// MVUPDATE_FTP_TIMEOUT: limit of connect, change-directory and disconnect.
double FtpTimeoutSeconds();
// MVUPDATE_FTP_STALL_SECONDS: a transfer without progress this long fails.
double FtpStallSeconds();
// MVUPDATE_RUN_WAIT_SECONDS: the wait after RUN starts a program.
double RunWaitSeconds();
// MVUPDATE_FTP_RETRIES: how often a transfer or connection that failed for
// a network reason is tried again within one run.
int FtpRetries();
// MVUPDATE_RECORD_FAILED_UPDATES: record an update even when one of its
// commands failed (the rule of earlier versions).
bool RecordFailedUpdates();
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
TlsMode FtpTls();
// MVUPDATE_FTP_CA_FILE: the certificates that site certificates are
// checked against ("" for the system's).
std::string FtpCaFile();
// MVUPDATE_DB_LOGIN_TIMEOUT: limit of connecting to the suite database.
double DatabaseLoginTimeoutSeconds();

// Seconds are more than 0 and at most a day, retries at most 10: a value
// past the bound is cut to it, one that is no number gives the built-in
// value. CheckDeploymentValues says so (warnings), and names an FTP_TLS
// that is none of its three values (errors: commands that use the network
// or the database must not run).
struct DeploymentCheck {
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
};
DeploymentCheck CheckDeploymentValues();

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_DEPLOYMENT_H_
