#include "system/settings_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "system/files.h"
#include "system/paths.h"

namespace mv {

std::string SettingsStore::DefaultFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  std::string h = (home && *home) ? home : "";
  if (h.empty()) {
    if (passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) h = pw->pw_dir;
  }
  if (h.empty()) return "";
  return h + "/.config";
}

std::string SettingsStore::FileFor(std::string_view application) const {
  return folder_ + "/" + std::string(application) + "/settings.ini";
}

Result<std::string> SettingsStore::GetSetting(
    std::string_view application, std::string_view section,
    std::string_view key, std::string_view default_value) const {
  if (folder_.empty()) return std::string(default_value);
  std::string file = FileFor(application);
  if (!PathExists(file)) return std::string(default_value);
  Result<std::string> text = ReadWholeFile(file);
  if (!text.ok()) return text.failure();
  Result<IniDocument> doc = IniDocument::Parse(text.value(), file);
  if (!doc.ok()) return doc.failure();
  const std::string* value = doc.value().Find(section, key);
  return value ? *value : std::string(default_value);
}

Status WriteSettings(std::string_view store, std::string_view section,
                     const SettingValues& values) {
  std::string file(store);
  IniDocument doc;
  if (PathExists(file)) {
    Result<std::string> text = ReadWholeFile(file);
    if (!text.ok()) return text.failure();
    Result<IniDocument> parsed = IniDocument::Parse(text.value(), file);
    if (!parsed.ok()) return parsed.failure();
    doc = std::move(parsed.value());
  } else {
    // Create the folders the first write needs (XDG folder, application).
    std::string app_folder = ParentFolder(file);
    ::mkdir(ParentFolder(app_folder).c_str(), 0700);
    if (::mkdir(app_folder.c_str(), 0700) != 0 && errno != EEXIST) {
      return Failure::FromErrno(errno, app_folder);
    }
  }
  for (const auto& [key, value] : values) doc.Set(section, key, value);
  // A settings file that is a link (to a file kept with the user's other
  // settings, say) stays one: the file it leads to is replaced.
  return WriteFileAtomically(file, doc.Serialize(), AtLink::kWriteThrough);
}

}  // namespace mv
