// Fuzz target of the settings file parser. Besides crashes it checks what a
// write of the stored update number promises: after Set, the text written
// parses again, holds the new value, and every other key keeps its value.
#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "system/settings_store.h"

namespace {

// The section and key names the text seems to hold; only used to look
// values up before and after, so a rough reading is enough.
std::vector<std::pair<std::string, std::string>> Names(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> names;
  std::string section;
  size_t pos = 0;
  while (pos < text.size() && names.size() < 64) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string_view::npos) continue;
    line.remove_prefix(b);
    if (line[0] == ';' || line[0] == '#') continue;  // a comment
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        std::string_view inner = line.substr(1, close - 1);
        size_t s = inner.find_first_not_of(" \t");
        size_t e = inner.find_last_not_of(" \t");
        section = s == std::string_view::npos
                      ? ""
                      : std::string(inner.substr(s, e - s + 1));
      }
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = line.substr(0, eq);
    size_t e = key.find_last_not_of(" \t");
    if (e != std::string_view::npos) {
      names.emplace_back(section, std::string(key.substr(0, e + 1)));
    }
  }
  return names;
}

std::string Lookup(const mv::IniDocument& doc, const std::string& section,
                   const std::string& key) {
  const std::string* v = doc.Find(section, key);
  return v ? "=" + *v : "(none)";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  mv::Result<mv::IniDocument> doc = mv::IniDocument::Parse(text, "fuzz");
  if (!doc.ok()) return 0;
  auto names = Names(text);
  std::vector<std::string> before;
  for (const auto& [section, key] : names) {
    before.push_back(Lookup(doc.value(), section, key));
  }
  // The store's own write, and one to a key the text already holds.
  std::vector<std::pair<std::string, std::string>> writes = {
      {"MVUpdate", "LastUpdateInstalled"}};
  if (!names.empty() && !names[0].first.empty()) writes.push_back(names[0]);
  for (const auto& [section, key] : writes) {
    mv::IniDocument changed = doc.value();
    changed.Set(section, key, "7");
    mv::Result<mv::IniDocument> again =
        mv::IniDocument::Parse(changed.Serialize(), "fuzz");
    if (!again.ok()) std::abort();
    if (Lookup(again.value(), section, key) != "=7") std::abort();
    for (size_t i = 0; i < names.size(); ++i) {
      const auto& [s, k] = names[i];
      bool same = ::strcasecmp(s.c_str(), section.c_str()) == 0 &&
                  ::strcasecmp(k.c_str(), key.c_str()) == 0;
      if (Lookup(again.value(), s, k) != (same ? "=7" : before[i])) {
        std::abort();
      }
    }
  }
  return 0;
}
