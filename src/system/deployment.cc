#include "system/deployment.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "system/config.h"
#include "system/text.h"

namespace mv {

namespace {

// The environment's or the configuration file's value of `key`, else the
// built-in value.
std::string Value(const char* key, const char* built_in) {
  return DeploymentSetting(key).value_or(built_in);
}

// Seconds and retries have bounds: a value past them waits or retries for
// days.
constexpr double kMaxSeconds = 24 * 60 * 60;
constexpr long kMaxRetries = 10;

// The environment variable or configuration key that gave `key`'s value,
// for the Warning line.
std::string Origin(const char* key) {
  std::string env = "MVUPDATE_" + std::string(key);
  const char* set = std::getenv(env.c_str());
  return set && *set ? env : key;
}

// A number of seconds from the environment or the file: more than 0 and
// at most a day; a larger one is cut to a day, anything else gives the
// built-in value. `note` gets what was done about it.
double Seconds(const char* name, const char* built_in,
               std::string* note = nullptr) {
  std::string text = Value(name, built_in);
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() && *end == '\0' && std::isfinite(v) &&
      v > kMaxSeconds) {
    if (note) {
      *note = Origin(name) + "=" + text + " is more than a day; " +
              std::to_string(static_cast<long>(kMaxSeconds)) +
              " seconds are used.";
    }
    return kMaxSeconds;
  }
  if (end == text.c_str() || *end != '\0' || !(v > 0) || !std::isfinite(v)) {
    if (note) {
      *note = Origin(name) + "=" + text +
              " is not a number of seconds; the built-in " + built_in +
              " is used.";
    }
    v = std::strtod(built_in, nullptr);
  }
  return v;
}

// A whole number from 0 to 10 from the environment or the file; a larger
// one is cut to 10, anything else gives the built-in value.
int Count(const char* name, const char* built_in, std::string* note = nullptr) {
  std::string text = Value(name, built_in);
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  bool number = end != text.c_str() && *end == '\0' && v >= 0;
  if (number && (v > kMaxRetries || errno == ERANGE)) {
    if (note) {
      *note = Origin(name) + "=" + text + " is more than " +
              std::to_string(kMaxRetries) + "; " + std::to_string(kMaxRetries) +
              " is used.";
    }
    return static_cast<int>(kMaxRetries);
  }
  if (!number) {
    if (note) {
      *note = Origin(name) + "=" + text +
              " is not a whole number; the built-in " + built_in + " is used.";
    }
    v = std::strtol(built_in, nullptr, 10);
  }
  return static_cast<int>(v);
}

// "yes" or "no" (also "true"/"false", "1"/"0", "on"/"off", any case).
bool YesNo(const char* name, const char* built_in) {
  std::string text = Value(name, built_in);
  for (const char* yes : {"yes", "true", "1", "on"}) {
    if (EqualsIgnoreCase(text, yes)) return true;
  }
  for (const char* no : {"no", "false", "0", "off"}) {
    if (EqualsIgnoreCase(text, no)) return false;
  }
  return EqualsIgnoreCase(built_in, "yes");
}

}  // namespace

namespace {

std::optional<TlsMode> ParseTlsMode(std::string_view text) {
  std::string_view mode = TrimSpacesAndTabs(text);
  if (EqualsIgnoreCase(mode, "try")) return TlsMode::kTry;
  if (EqualsIgnoreCase(mode, "require")) return TlsMode::kRequire;
  if (EqualsIgnoreCase(mode, "off")) return TlsMode::kOff;
  return std::nullopt;
}

}  // namespace

DeploymentOptions ReadDeploymentOptions() {
  DeploymentOptions o;
  std::string note;
  // Each value read with its note, which is kept when there is one.
  auto noted = [&](auto value) {
    if (!note.empty()) o.notes.push_back("***Configuration*** " + note);
    note.clear();
    return value;
  };
  SiteOptions& site = o.site;
  site.timeout_seconds =
      noted(Seconds("FTP_TIMEOUT", MVUPDATE_FTP_TIMEOUT, &note));
  site.stall_seconds =
      noted(Seconds("FTP_STALL_SECONDS", MVUPDATE_FTP_STALL_SECONDS, &note));
  o.commands.run_wait_seconds =
      noted(Seconds("RUN_WAIT_SECONDS", MVUPDATE_RUN_WAIT_SECONDS, &note));
  o.database.login_timeout_seconds =
      noted(Seconds("DB_LOGIN_TIMEOUT", MVUPDATE_DB_LOGIN_TIMEOUT, &note));
  site.retries = noted(Count("FTP_RETRIES", MVUPDATE_FTP_RETRIES, &note));
  // A value that is none of the three stops the commands at start-up
  // (CheckDeploymentValues); should a site be used anyway, it is with the
  // strictest.
  std::string tls = Value("FTP_TLS", MVUPDATE_FTP_TLS);
  std::optional<TlsMode> mode = ParseTlsMode(tls);
  site.tls = mode.value_or(TlsMode::kRequire);
  if (!mode) o.bad_tls = tls;
  site.ca_file = Value("FTP_CA_FILE", MVUPDATE_FTP_CA_FILE);
  o.commands.record_failed_updates =
      YesNo("RECORD_FAILED_UPDATES", MVUPDATE_RECORD_FAILED_UPDATES);
  o.database.default_primary_host =
      Value("DEFAULT_FTP_PRIMARY", MVUPDATE_DEFAULT_FTP_PRIMARY);
  o.database.default_alternate_host =
      Value("DEFAULT_FTP_ALTERNATE", MVUPDATE_DEFAULT_FTP_ALTERNATE);
  o.support_email = Value("SUPPORT_EMAIL", MVUPDATE_SUPPORT_EMAIL);
  return o;
}

DeploymentCheck CheckDeploymentValues(const DeploymentOptions& options) {
  DeploymentCheck check;
  if (options.bad_tls) {
    check.errors.push_back(
        "***Configuration*** " + Origin("FTP_TLS") + "=" + *options.bad_tls +
        " is none of try, require and off; no command that uses the network "
        "or the database runs until it is mended.");
  }
  check.warnings = options.notes;
  return check;
}

}  // namespace mv
