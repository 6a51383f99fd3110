// The suite's settings in the machine registry (key SOFTWARE\Qorin of the
// local machine hive) and the queries start-up asks of it.
#ifndef MVUPDATE_SYSTEM_REGISTRY_QUERIES_H_
#define MVUPDATE_SYSTEM_REGISTRY_QUERIES_H_

#include <optional>
#include <string>
#include <string_view>

#include "system/failure.h"
#include "system/registry.h"

namespace mv {

// Installation folder used when the registry names none: /opt/merivane, or
// MVUPDATE_DEFAULT_INSTALL_PATH when set.
std::string DefaultInstallPath();

// Copies registry data into a buffer of `size` bytes pre-filled with blanks,
// as the original query does; data that does not fit leaves the blanks.
std::string QueryIntoBuffer(const std::string& data, size_t size);

class RegistryQueries {
 public:
  explicit RegistryQueries(Registry& registry) : registry_(registry) {}

  // The installation folder, read once and cached for the rest of the run;
  // a non-empty `new_folder` replaces it and is written back. A missing or
  // blank value is filled in with the default folder; a value that is there
  // is never overwritten.
  std::string GetInstallPath(std::string_view new_folder = "");
  // Empty on success, else the advice text.
  std::string WriteInstallPath(std::string_view folder);
  // Opens or creates "Software\<name>"; 0 on success.
  long CreateRegistryKey(std::string_view name);
  // The database server; fails with 5 when the value is missing, and with
  // the parse failure when the registry file is malformed.
  Result<std::string> GetDBServerName();
  std::string GetDatabaseName();
  // UpdatePublicKeys: the vendor's minisign public keys, ";" between them,
  // read whole; "" when the value or the key is missing.
  std::string GetUpdatePublicKeys();

  Registry& registry() { return registry_; }

 private:
  // The stored folder; nothing when it or its key is missing or blank.
  std::optional<std::string> StoredInstallPath();

  Registry& registry_;
  std::string cached_install_path_;
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_REGISTRY_QUERIES_H_
