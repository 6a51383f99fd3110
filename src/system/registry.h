// The machine registry on Linux: a text file in REGEDIT4 format holding the
// suite's key, for example
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Qorin]
//   "InstallPath"="/opt/merivane"
//   "DBServerName"="SRV01\\SQLEXPRESS"
//
// Key and value names compare without case, as on the original platform.
// Every call reads the file afresh; writes replace it atomically. A file that
// cannot be parsed is reported and never overwritten.
#ifndef MVUPDATE_SYSTEM_REGISTRY_H_
#define MVUPDATE_SYSTEM_REGISTRY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/failure.h"

namespace mv {

enum RegistryType : uint32_t {
  kRegSz = 1,
  kRegBinary = 3,
  kRegDword = 4,
};

struct RegistryValue {
  std::string name;  // empty for the key's default value ("@")
  uint32_t type = kRegSz;
  // The stored bytes. A string read from the file carries its terminating
  // NUL, as the original registry stores strings imported from such a file.
  std::string data;
};

struct RegistryKey {
  std::string path;  // e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\Qorin"
  std::vector<RegistryValue> values;
};

// The parsed contents of a registry file.
class RegistryImage {
 public:
  // Parses REGEDIT4 text; `origin` names the file in failure texts.
  static Result<RegistryImage> Parse(std::string_view text,
                                     std::string_view origin);
  std::string Serialize() const;

  RegistryKey* FindKey(std::string_view path);
  const RegistryKey* FindKey(std::string_view path) const;
  RegistryKey& AddKey(std::string_view path);
  const std::vector<RegistryKey>& keys() const { return keys_; }

 private:
  std::vector<RegistryKey> keys_;
};

class Registry {
 public:
  explicit Registry(std::string file) : file_(std::move(file)) {}

  // MVUPDATE_REGISTRY when set, else /etc/qorin/registry.reg.
  static std::string DefaultFile();
  const std::string& file() const { return file_; }

  // Whether the key exists (RegOpenKey). A missing file holds no keys; an
  // unreadable or malformed one is a failure.
  Result<bool> KeyExists(std::string_view key) const;
  // The value's data, or nothing when the key or the value is missing.
  Result<std::optional<RegistryValue>> QueryValue(std::string_view key,
                                                  std::string_view name) const;
  // Sets a value of an existing key; fails when the key is missing.
  Status SetValue(std::string_view key, const RegistryValue& value);
  // Creates the key (and the file) when missing.
  Status CreateKey(std::string_view key);

 private:
  Result<RegistryImage> Load() const;
  Status Store(const RegistryImage& image);

  std::string file_;
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_REGISTRY_H_
