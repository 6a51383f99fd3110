// Writes small PE files and version resources in memory, so that tests can
// damage them at known places.
#ifndef MVUPDATE_TESTS_TOOLS_PE_BUILDER_H_
#define MVUPDATE_TESTS_TOOLS_PE_BUILDER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/pe_version.h"

namespace mv {

// One node of a version resource; the value is UTF-8 text written as
// UTF-16 with its terminating zero, or raw bytes when `text` is false.
struct VersionNodeParts {
  std::string key;
  std::string value;
  bool text = true;
  std::vector<VersionNodeParts> children;
};
std::string VersionNode(const VersionNodeParts& node);
std::string FixedRecord(const FixedFileInfo& f);  // 52 bytes

// A version resource with `fixed`, one string table named `table` holding
// `strings` (name, value), and a translation table (omitted when empty).
std::string VersionBlock(
    const FixedFileInfo& fixed, std::string_view table,
    const std::vector<std::pair<std::string, std::string>>& strings,
    const std::vector<uint32_t>& translations);

// Where the parts of a built PE file lie (file offsets).
struct PeLayout {
  size_t dos_header = 0, pe_header = 0, optional_header = 0, section_table = 0;
  // The resource tree's three levels, its first data entry and the data.
  size_t type_directory = 0, name_directory = 0, language_directory = 0;
  size_t first_data_entry = 0, first_data = 0;
};

struct BuiltPe {
  std::string bytes;
  PeLayout layout;
};

// A PE32 (or PE32+) file with one ".rsrc" section holding one version
// resource per (language, block), in the order given.
BuiltPe BuildPe(bool pe32_plus,
                const std::vector<std::pair<uint16_t, std::string>>& versions);

// Little-endian patches.
void Put16(std::string& bytes, size_t offset, uint16_t v);
void Put32(std::string& bytes, size_t offset, uint32_t v);

}  // namespace mv

#endif  // MVUPDATE_TESTS_TOOLS_PE_BUILDER_H_
