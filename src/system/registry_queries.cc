#include "system/registry_queries.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "system/config.h"
#include "system/text.h"

namespace mv {

namespace {

constexpr std::string_view kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin";
constexpr size_t kBufferSize = 256;

// A value's data in a buffer of blanks as the query fills it, made large
// enough for the whole value: a long value is read whole, never taken for a
// missing one.
std::string WholeValue(const std::string& data) {
  return QueryIntoBuffer(data, std::max(kBufferSize, data.size()));
}

// Text before the first NUL of `buffer`, when there is one.
std::optional<std::string> BeforeNul(const std::string& buffer) {
  size_t nul = buffer.find('\0');
  if (nul == std::string::npos) return std::nullopt;
  return buffer.substr(0, nul);
}

}  // namespace

std::string DefaultInstallPath() {
  return DeploymentSetting("DEFAULT_INSTALL_PATH")
      .value_or(MVUPDATE_DEFAULT_INSTALL_PATH);
}

std::string QueryIntoBuffer(const std::string& data, size_t size) {
  std::string buffer(size, ' ');
  if (data.size() <= size) buffer.replace(0, data.size(), data);
  return buffer;
}

std::string RegistryQueries::GetInstallPath(std::string_view new_folder) {
  if (!new_folder.empty()) {
    cached_install_path_ = std::string(new_folder);
    WriteInstallPath(cached_install_path_);
  }
  if (cached_install_path_.empty()) {
    std::optional<std::string> stored = StoredInstallPath();
    cached_install_path_ = stored.value_or(DefaultInstallPath());
    // A value that is there is never overwritten; a missing or blank one
    // is filled in with the folder used.
    if (!stored) WriteInstallPath(cached_install_path_);
  }
  return cached_install_path_;
}

std::optional<std::string> RegistryQueries::StoredInstallPath() {
  Result<bool> open = registry_.KeyExists(kKey);
  if (!open.ok() || !open.value()) return std::nullopt;
  auto value = registry_.QueryValue(kKey, "InstallPath");
  std::string data =
      value.ok() && value.value() ? value.value()->data : std::string();
  std::string buffer = TrimSpaces(WholeValue(data));
  std::optional<std::string> head = BeforeNul(buffer);
  // A value of blanks only counts as missing, also when it was stored with
  // its terminating NUL.
  if (TrimSpaces(head.value_or(buffer)).empty()) return std::nullopt;
  return head.value_or(buffer);
}

std::string RegistryQueries::WriteInstallPath(std::string_view folder) {
  Result<bool> open = registry_.KeyExists(kKey);
  if (!open.ok() || !open.value()) {
    CreateRegistryKey("Qorin");
    open = registry_.KeyExists(kKey);
    if (!open.ok() || !open.value()) {
      return "You will need to create a registry key under "
             "LOCAL_MACHINE\\SOFTWARE\\Qorin before saving these settings.";
    }
  }
  // Stored without a terminating NUL: the length given is the text's.
  Status st = registry_.SetValue(
      kKey, RegistryValue{"InstallPath", kRegSz, std::string(folder)});
  if (!st.ok()) {
    return "The installation folder could not be saved: " + st.failure().Text();
  }
  return "";
}

long RegistryQueries::CreateRegistryKey(std::string_view name) {
  std::string key = "HKEY_LOCAL_MACHINE\\Software\\" + std::string(name);
  Result<bool> open = registry_.KeyExists(key);
  if (open.ok() && open.value()) return 0;
  Status created = registry_.CreateKey(key);
  return created.ok() ? 0 : created.failure().number();
}

Result<std::string> RegistryQueries::GetDBServerName() {
  Result<bool> open = registry_.KeyExists(kKey);
  if (!open.ok()) return open.failure();
  if (!open.value()) return std::string();
  auto value = registry_.QueryValue(kKey, "DBServerName");
  if (!value.ok()) return value.failure();
  std::string data = value.value() ? value.value()->data : std::string();
  std::optional<std::string> head = BeforeNul(WholeValue(data));
  if (!head) return Failure(kInvalidArgument);
  return *head;
}

std::string RegistryQueries::GetUpdatePublicKeys() {
  auto value = registry_.QueryValue(kKey, "UpdatePublicKeys");
  if (!value.ok() || !value.value()) return "";
  // A value of another type pins something, but no key: it is given as a
  // text that is no key, so that updates are refused, never taken
  // unverified.
  if (value.value()->type != kRegSz) return "(not a string value)";
  std::string data = value.value()->data;
  return data.substr(0, data.find('\0'));
}

std::string RegistryQueries::GetDatabaseName() {
  Result<bool> open = registry_.KeyExists(kKey);
  if (!open.ok() || !open.value()) return "";
  auto value = registry_.QueryValue(kKey, "DatabaseName");
  std::string data =
      value.ok() && value.value() ? value.value()->data : std::string();
  std::string buffer = WholeValue(data);
  std::string name = BeforeNul(buffer).value_or(TrimSpaces(buffer));
  if (TrimSpaces(name).empty()) return "";
  return name;
}

}  // namespace mv
