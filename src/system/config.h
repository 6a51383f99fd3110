// The site's configuration file: /etc/qorin/mvupdate.conf (built in from
// cmake/Deployment.cmake), or the file MVUPDATE_CONFIG names. It is INI text
// with one section, [mvupdate], whose keys are those of ConfigKeys(),
// compared without case:
//
//   [mvupdate]
//   FTP_TIMEOUT=30
//   DatabaseUser=merivane
//
// A deployment value or stand-in is taken from the environment variable
// MVUPDATE_<key> when that is set, else from the file, else the built-in
// value applies. The file is read once per process, at first use; what went
// wrong reading it is kept as Error and Warning lines for start-up to log,
// because the event log does not exist yet when the file is read.
#ifndef MVUPDATE_SYSTEM_CONFIG_H_
#define MVUPDATE_SYSTEM_CONFIG_H_

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "system/settings_store.h"

namespace mv {

// Every key the file may hold, in the order the documentation lists them.
std::span<const std::string_view> ConfigKeys();

class ConfigFile {
 public:
  // No file: every value is the built-in one.
  ConfigFile() = default;

  // Reads `path`. A missing file is reported only when `named` (the
  // administrator named it in MVUPDATE_CONFIG); a file that cannot be read
  // or parsed, or is not a regular file, is an error and not used. The
  // file is opened without blocking, so a FIFO there cannot hold the
  // program.
  static ConfigFile Read(const std::string& path, bool named);

  // The value of `key` in [mvupdate], also when it is empty.
  std::optional<std::string> Get(std::string_view key) const;

  // The Warning lines of reading it; none when all was well.
  const std::vector<std::string>& warnings() const { return warnings_; }
  // The Error lines of reading it: the file exists but cannot be used as a
  // whole (unreadable, not a regular file, over 1 MiB, a line that is no
  // key=value, a key outside [mvupdate], an unknown key), or others than
  // its owner and root may change it or its folder. Commands that use the
  // network or the database do not run while there are any.
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  std::optional<IniDocument> doc_;
  std::vector<std::string> warnings_;
  std::vector<std::string> errors_;
  // Others may change the file: the keys that choose files, libraries,
  // sites, TLS and the database login are not taken from it.
  bool guarded_ignored_ = false;
};

// The file read: the one MVUPDATE_CONFIG names, else the built-in one.
std::string ConfigFilePath();

// The built-in one: /etc/qorin/mvupdate.conf (set by the build) on Linux,
// %ProgramData%\Qorin\mvupdate.conf on Windows.
std::string DefaultConfigFile();

// The process's configuration file, read at first use. When it sets
// ODBCSYSINI and the environment does not, the environment gets it then,
// for the ODBC driver manager that reads it from there.
std::shared_ptr<const ConfigFile> Configuration();
// Reads the file again (the tests change it and the environment).
void ReloadConfiguration();

// A deployment value or stand-in by its key ("FTP_TIMEOUT"): the
// environment variable MVUPDATE_<key> when it is set and not empty, else
// the file's value when that is not empty, else nothing.
std::optional<std::string> DeploymentSetting(std::string_view key);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_CONFIG_H_
