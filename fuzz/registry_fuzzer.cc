// Fuzz target of the registry file parser. Besides crashes it checks what a
// write of InstallPath promises: text that parses is written back unchanged;
// after the key is made (when missing) and the value set, the text written
// parses again, holds the new value, keeps every other key and value (the
// text of a string with or without its terminating NUL), and changes no
// line but the value's own (the text before it stays byte for byte).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "system/registry.h"

namespace {

constexpr std::string_view kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin";

// A string's text: what follows its last character does not count, since a
// string is written back as quoted text whether or not it was stored with
// its terminating NUL.
std::string_view Text(const mv::RegistryValue& v) {
  std::string_view data = v.data;
  if (v.type == mv::kRegSz && !data.empty() && data.back() == '\0') {
    data.remove_suffix(1);
  }
  return data;
}

bool SameValue(const mv::RegistryValue& v, const mv::RegistryValue* w) {
  return w != nullptr && v.name == w->name && v.type == w->type &&
         Text(v) == Text(*w);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  mv::Result<mv::RegistryImage> image = mv::RegistryImage::Parse(text, "fuzz");
  if (!image.ok()) return 0;
  if (image.value().Serialize() != text) std::abort();
  mv::RegistryImage changed = image.value();
  changed.AddKey(kKey);
  const mv::RegistryValue install{"InstallPath", mv::kRegSz, "/opt/a \"b\""};
  if (!changed.SetValue(kKey, install)) std::abort();
  std::string written = changed.Serialize();
  mv::Result<mv::RegistryImage> again =
      mv::RegistryImage::Parse(written, "fuzz");
  if (!again.ok()) std::abort();
  if (!SameValue(install, again.value().FindValue(kKey, "InstallPath"))) {
    std::abort();
  }
  for (const mv::RegistryKey& key : image.value().keys()) {
    for (const mv::RegistryValue& v : key.values) {
      bool set =
          again.value().FindKey(kKey) == again.value().FindKey(key.path) &&
          again.value().FindValue(key.path, v.name) ==
              again.value().FindValue(kKey, "InstallPath");
      if (!set && !SameValue(v, again.value().FindValue(key.path, v.name))) {
        std::abort();
      }
    }
  }
  // The lines before the value's own are kept byte for byte.
  size_t at = written.find("\"InstallPath\"=\"/opt/a \\\"b\\\"\"");
  if (at == std::string::npos) std::abort();
  size_t keep = text.substr(0, std::min(at, text.size())).find_last_of('\n');
  keep = keep == std::string_view::npos ? 0 : keep + 1;
  if (std::string_view(written).substr(0, keep) != text.substr(0, keep)) {
    std::abort();
  }
  return 0;
}
