// Fuzz target of the registry file parser. Besides crashes it checks that a
// file the utility rewrites keeps every value: text that parses is written
// back, and the written text must parse to the same keys and values (the
// text of a string with or without its terminating NUL) and write back the
// same again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "system/registry.h"

namespace {

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

bool SameImage(const mv::RegistryImage& a, const mv::RegistryImage& b) {
  if (a.keys().size() != b.keys().size()) return false;
  for (size_t i = 0; i < a.keys().size(); ++i) {
    const mv::RegistryKey& x = a.keys()[i];
    const mv::RegistryKey& y = b.keys()[i];
    if (x.path != y.path || x.values.size() != y.values.size()) return false;
    for (size_t j = 0; j < x.values.size(); ++j) {
      const mv::RegistryValue& v = x.values[j];
      const mv::RegistryValue& w = y.values[j];
      if (v.name != w.name || v.type != w.type || Text(v) != Text(w)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  mv::Result<mv::RegistryImage> image = mv::RegistryImage::Parse(text, "fuzz");
  if (!image.ok()) return 0;
  image.value().FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin");
  std::string written = image.value().Serialize();
  mv::Result<mv::RegistryImage> again =
      mv::RegistryImage::Parse(written, "fuzz");
  if (!again.ok()) std::abort();
  if (!SameImage(image.value(), again.value())) std::abort();
  if (again.value().Serialize() != written) std::abort();
  return 0;
}
