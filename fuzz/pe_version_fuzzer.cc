// Fuzz target of the version resource reader: the input is read as a whole
// program file and, so that the fuzzer reaches the block parser without
// having to build a file around it, as a version resource by itself.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/file_version.h"
#include "tools/pe_version.h"

namespace {

void Exercise(std::string_view block) {
  std::optional<mv::VersionInfo> info = mv::VersionInfo::FromBlock(block);
  if (!info) return;
  mv::FixedFileInfo fixed = info->Fixed();
  mv::FormatVersionNumber(fixed.file_version_ms, fixed.file_version_ls);
  std::vector<uint32_t> translations = info->Translations();
  std::string prefix = "\\StringFileInfo\\040904B0\\";
  if (!translations.empty()) {
    prefix =
        mv::StringTablePrefix(translations[0] & 0xFFFF, translations[0] >> 16);
  }
  for (const char* name : {"CompanyName", "FileVersion", "ProductName"}) {
    info->QueryString(prefix + name);
  }
  info->QueryString("\\");
  info->Query("\\VarFileInfo");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (std::optional<std::string_view> block = mv::FindVersionResource(bytes)) {
    Exercise(*block);
  }
  Exercise(bytes);
  return 0;
}
