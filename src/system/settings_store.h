// The per-user settings store: text values addressed by application, section
// and key. Each application has an INI file of its own,
// ${XDG_CONFIG_HOME:-$HOME/.config}/<application>/settings.ini, holding
// "[section]" headers and "key=value" lines. Writes replace the file
// atomically (through a symbolic link: the file it leads to is replaced and
// the link stays); a file that cannot be parsed, or that is not an ordinary
// file (a FIFO, say), is reported and never overwritten.
#ifndef MVUPDATE_SYSTEM_SETTINGS_STORE_H_
#define MVUPDATE_SYSTEM_SETTINGS_STORE_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "system/env.h"
#include "system/failure.h"

namespace mv {

// Parsed INI text; keeps comments and the order of lines so that a write
// changes only the line it sets.
class IniDocument {
 public:
  static Result<IniDocument> Parse(std::string_view text,
                                   std::string_view origin);
  std::string Serialize() const;

  // Section and key compare without case.
  const std::string* Find(std::string_view section, std::string_view key) const;
  // The keys of `section` with the numbers of their lines, in file order.
  std::vector<std::pair<size_t, std::string>> Keys(
      std::string_view section) const;
  // The keys of every other section, the same way.
  std::vector<std::pair<size_t, std::string>> KeysOutside(
      std::string_view section) const;
  void Set(std::string_view section, std::string_view key,
           std::string_view value);

 private:
  struct Line {
    std::string text;     // the line as written, for comments and headers
    std::string section;  // the section the line belongs to
    std::string key;      // empty unless a key=value line
    std::string value;
  };
  std::vector<Line> lines_;
};

class SettingsStore {
 public:
  // `folder` holds one sub-folder per application (on Windows it only
  // names the store: the values are in the registry); writes go through
  // `env`.
  explicit SettingsStore(std::string folder, Env& env = Env::Default())
      : folder_(std::move(folder)), env_(env) {}

  // ${XDG_CONFIG_HOME:-$HOME/.config}; the home folder of the user's
  // password entry when HOME is unset; empty when nothing names one.
  static std::string DefaultFolder();

  std::string FileFor(std::string_view application) const;

  // The stored value, or `default_value` when the file, section or key is
  // missing. A file that cannot be read or parsed is a failure.
  Result<std::string> GetSetting(std::string_view application,
                                 std::string_view section, std::string_view key,
                                 std::string_view default_value) const;
  Status SaveSetting(std::string_view application, std::string_view section,
                     std::string_view key, std::string_view value);
  // Several keys of one section, set in the order given (a key given twice
  // ends with its last value). The file is replaced in one step, so a
  // reader sees all of them changed or none; the registry sets one value
  // at a time, so the order is what a write cut short leaves.
  using KeyValues = SettingValues;
  Status SaveSettings(std::string_view application, std::string_view section,
                      const KeyValues& values);

 private:
  std::string folder_;
  Env& env_;
};

// The platform's write of the store named `store` (SettingsStore::FileFor),
// which Env::Default() makes: the settings file replaced in one step, or
// the values set in the registry key of the application `store` ends in.
Status WriteSettings(std::string_view store, std::string_view section,
                     const SettingValues& values);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_SETTINGS_STORE_H_
