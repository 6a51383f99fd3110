#include "system/deployment.h"

#include <cstdlib>
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

// A positive number from the environment or the file, else the built-in
// value.
double Seconds(const char* name, const char* built_in) {
  std::string text = Value(name, built_in);
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(v > 0)) {
    v = std::strtod(built_in, nullptr);
  }
  return v;
}

// A whole number from 0 up from the environment or the file, else the
// built-in value.
int Count(const char* name, const char* built_in) {
  std::string text = Value(name, built_in);
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || v < 0 || v > 100) {
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

std::string DefaultPrimaryFtpHost() {
  return Value("DEFAULT_FTP_PRIMARY", MVUPDATE_DEFAULT_FTP_PRIMARY);
}

std::string DefaultAlternateFtpHost() {
  return Value("DEFAULT_FTP_ALTERNATE", MVUPDATE_DEFAULT_FTP_ALTERNATE);
}

std::string SupportEmail() {
  return Value("SUPPORT_EMAIL", MVUPDATE_SUPPORT_EMAIL);
}

double FtpTimeoutSeconds() {
  return Seconds("FTP_TIMEOUT", MVUPDATE_FTP_TIMEOUT);
}

double FtpStallSeconds() {
  return Seconds("FTP_STALL_SECONDS", MVUPDATE_FTP_STALL_SECONDS);
}

double RunWaitSeconds() {
  return Seconds("RUN_WAIT_SECONDS", MVUPDATE_RUN_WAIT_SECONDS);
}

int FtpRetries() { return Count("FTP_RETRIES", MVUPDATE_FTP_RETRIES); }

bool RecordFailedUpdates() {
  return YesNo("RECORD_FAILED_UPDATES", MVUPDATE_RECORD_FAILED_UPDATES);
}

TlsMode FtpTls() {
  std::string mode = Value("FTP_TLS", MVUPDATE_FTP_TLS);
  if (EqualsIgnoreCase(mode, "require")) return TlsMode::kRequire;
  if (EqualsIgnoreCase(mode, "off")) return TlsMode::kOff;
  return TlsMode::kTry;
}

std::string FtpCaFile() { return Value("FTP_CA_FILE", MVUPDATE_FTP_CA_FILE); }

double DatabaseLoginTimeoutSeconds() {
  return Seconds("DB_LOGIN_TIMEOUT", MVUPDATE_DB_LOGIN_TIMEOUT);
}

}  // namespace mv
