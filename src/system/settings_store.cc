#include "system/settings_store.h"

#include <optional>

#include "system/files.h"
#include "system/paths.h"
#include "system/text.h"

namespace mv {

Result<IniDocument> IniDocument::Parse(std::string_view text,
                                       std::string_view origin) {
  IniDocument doc;
  if (text.find('\0') != std::string_view::npos) {
    return ParseFailure(origin, 1, "not a text file");
  }
  std::string section;
  size_t number = 0;
  for (std::string_view raw : SplitLines(text)) {
    ++number;
    std::string t(TrimSpacesAndTabs(raw));
    Line line{std::string(raw), section, "", ""};
    if (t.empty() || t[0] == ';' || t[0] == '#') {
      // blank or comment
    } else if (t[0] == '[') {
      if (t.back() != ']' || t.size() < 3) {
        return ParseFailure(origin, number, "malformed section header");
      }
      section = TrimSpacesAndTabs(std::string_view(t).substr(1, t.size() - 2));
      line.section = section;
    } else {
      size_t eq = t.find('=');
      if (eq == std::string::npos || eq == 0) {
        return ParseFailure(origin, number, "expected key=value");
      }
      if (section.empty()) {
        return ParseFailure(origin, number, "value outside a section");
      }
      line.key = TrimSpacesAndTabs(std::string_view(t).substr(0, eq));
      line.value = TrimSpacesAndTabs(std::string_view(t).substr(eq + 1));
    }
    doc.lines_.push_back(std::move(line));
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Line& l : lines_) out += l.text + "\n";
  return out;
}

const std::string* IniDocument::Find(std::string_view section,
                                     std::string_view key) const {
  const std::string* found = nullptr;
  for (const Line& l : lines_) {
    if (!l.key.empty() && EqualsIgnoreCase(l.section, section) &&
        EqualsIgnoreCase(l.key, key)) {
      found = &l.value;  // the last one wins
    }
  }
  return found;
}

std::vector<std::pair<size_t, std::string>> IniDocument::Keys(
    std::string_view section) const {
  std::vector<std::pair<size_t, std::string>> keys;
  for (size_t i = 0; i < lines_.size(); ++i) {  // one entry per line read
    const Line& l = lines_[i];
    if (!l.key.empty() && EqualsIgnoreCase(l.section, section)) {
      keys.emplace_back(i + 1, l.key);
    }
  }
  return keys;
}

std::vector<std::pair<size_t, std::string>> IniDocument::KeysOutside(
    std::string_view section) const {
  std::vector<std::pair<size_t, std::string>> keys;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    if (!l.key.empty() && !EqualsIgnoreCase(l.section, section)) {
      keys.emplace_back(i + 1, l.key);
    }
  }
  return keys;
}

void IniDocument::Set(std::string_view section, std::string_view key,
                      std::string_view value) {
  std::string text = std::string(key) + "=" + std::string(value);
  Line* found = nullptr;
  std::optional<size_t> last_of_section;  // last non-blank line of it
  for (size_t i = 0; i < lines_.size(); ++i) {
    Line& l = lines_[i];
    if (!EqualsIgnoreCase(l.section, section) ||
        TrimSpacesAndTabs(l.text).empty())
      continue;
    last_of_section = i;
    if (!l.key.empty() && EqualsIgnoreCase(l.key, key)) found = &l;
  }
  if (found != nullptr) {
    found->value = std::string(value);
    found->text = text;
    return;
  }
  Line line{text, std::string(section), std::string(key), std::string(value)};
  if (last_of_section) {
    lines_.insert(lines_.begin() + static_cast<long>(*last_of_section + 1),
                  std::move(line));
    return;
  }
  if (!lines_.empty() && !TrimSpacesAndTabs(lines_.back().text).empty()) {
    lines_.push_back(Line{"", "", "", ""});
  }
  std::string header = "[";
  header += section;
  header += ']';
  lines_.push_back(Line{header, std::string(section), "", ""});
  lines_.push_back(std::move(line));
}

Status SettingsStore::SaveSetting(std::string_view application,
                                  std::string_view section,
                                  std::string_view key,
                                  std::string_view value) {
  return SaveSettings(application, section, {{key, value}});
}

Status SettingsStore::SaveSettings(std::string_view application,
                                   std::string_view section,
                                   const KeyValues& values) {
  // A value is one line of the store.
  for (const auto& [key, value] : values) {
    if (value.find_first_of("\r\n") != std::string_view::npos) {
      return Failure(kInvalidArgument);
    }
  }
  if (folder_.empty()) {
    return Failure(kPathNotFound,
                   "Path not found (no home folder for the "
                   "settings store)");
  }
  return env_.WriteSettings(FileFor(application), section, values);
}

}  // namespace mv
