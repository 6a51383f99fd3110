#include "system/deployment.h"

#include <cstdlib>
#include <string>

namespace mv {

namespace {

std::string Value(const char* name, const char* built_in) {
  const char* env = std::getenv(name);
  return (env && *env) ? env : built_in;
}

// A positive number from the environment, else the built-in value.
double Seconds(const char* name, const char* built_in) {
  std::string text = Value(name, built_in);
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(v > 0)) {
    v = std::strtod(built_in, nullptr);
  }
  return v;
}

}  // namespace

std::string DefaultPrimaryFtpHost() {
  return Value("MVUPDATE_DEFAULT_FTP_PRIMARY", MVUPDATE_DEFAULT_FTP_PRIMARY);
}

std::string DefaultAlternateFtpHost() {
  return Value("MVUPDATE_DEFAULT_FTP_ALTERNATE",
               MVUPDATE_DEFAULT_FTP_ALTERNATE);
}

std::string SupportEmail() {
  return Value("MVUPDATE_SUPPORT_EMAIL", MVUPDATE_SUPPORT_EMAIL);
}

double FtpTimeoutSeconds() {
  return Seconds("MVUPDATE_FTP_TIMEOUT", MVUPDATE_FTP_TIMEOUT);
}

double FtpStallSeconds() {
  return Seconds("MVUPDATE_FTP_STALL_SECONDS", MVUPDATE_FTP_STALL_SECONDS);
}

double RunWaitSeconds() {
  return Seconds("MVUPDATE_RUN_WAIT_SECONDS", MVUPDATE_RUN_WAIT_SECONDS);
}

double DatabaseLoginTimeoutSeconds() {
  return Seconds("MVUPDATE_DB_LOGIN_TIMEOUT", MVUPDATE_DB_LOGIN_TIMEOUT);
}

}  // namespace mv
