#include "tools/pe_builder.h"

namespace mv {

namespace {

constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kSectionFileOffset = 0x200;

void Append16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}

void Append32(std::string& s, uint32_t v) {
  Append16(s, static_cast<uint16_t>(v & 0xFFFF));
  Append16(s, static_cast<uint16_t>(v >> 16));
}

void Pad4(std::string& s) {
  while (s.size() % 4 != 0) s.push_back('\0');
}

// UTF-8 to UTF-16 code units (BMP and supplementary planes).
std::u16string Utf16(std::string_view utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    auto c = static_cast<unsigned char>(utf8[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    uint32_t cp = c & (0x7F >> extra);
    for (int k = 1; k <= extra; ++k) cp = cp << 6 | (utf8[i + k] & 0x3F);
    i += 1 + extra;
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      cp = 0xDC00 + (cp & 0x3FF);
    }
    out.push_back(static_cast<char16_t>(cp));
  }
  return out;
}

}  // namespace

void Put16(std::string& bytes, size_t offset, uint16_t v) {
  bytes[offset] = static_cast<char>(v & 0xFF);
  bytes[offset + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& bytes, size_t offset, uint32_t v) {
  Put16(bytes, offset, static_cast<uint16_t>(v & 0xFFFF));
  Put16(bytes, offset + 2, static_cast<uint16_t>(v >> 16));
}

std::string VersionNode(const VersionNodeParts& node) {
  std::string s(6, '\0');
  for (char16_t u : Utf16(node.key)) Append16(s, u);
  Append16(s, 0);
  Pad4(s);
  uint16_t value_length = 0;
  if (node.text) {
    // Nodes that only group others have no value at all.
    if (node.children.empty()) {
      std::u16string units = Utf16(node.value);
      for (char16_t u : units) Append16(s, u);
      Append16(s, 0);
      value_length = static_cast<uint16_t>(units.size() + 1);
    }
  } else {
    s += node.value;
    value_length = static_cast<uint16_t>(node.value.size());
  }
  for (const VersionNodeParts& child : node.children) {
    Pad4(s);
    s += VersionNode(child);
  }
  Put16(s, 0, static_cast<uint16_t>(s.size()));
  Put16(s, 2, value_length);
  Put16(s, 4, node.text ? 1 : 0);
  return s;
}

std::string FixedRecord(const FixedFileInfo& f) {
  std::string s;
  for (uint32_t v :
       {f.signature, f.struc_version, f.file_version_ms, f.file_version_ls,
        f.product_version_ms, f.product_version_ls, f.file_flags_mask,
        f.file_flags, f.file_os, f.file_type, f.file_subtype, f.file_date_ms,
        f.file_date_ls}) {
    Append32(s, v);
  }
  return s;
}

std::string VersionBlock(
    const FixedFileInfo& fixed, std::string_view table,
    const std::vector<std::pair<std::string, std::string>>& strings,
    const std::vector<uint32_t>& translations) {
  VersionNodeParts root{"VS_VERSION_INFO", FixedRecord(fixed), false, {}};
  VersionNodeParts string_table{std::string(table), "", true, {}};
  for (const auto& [name, value] : strings) {
    string_table.children.push_back({name, value, true, {}});
  }
  root.children.push_back({"StringFileInfo", "", true, {string_table}});
  if (!translations.empty()) {
    std::string bytes;
    for (uint32_t t : translations) Append32(bytes, t);
    root.children.push_back(
        {"VarFileInfo", "", true, {{"Translation", bytes, false, {}}}});
  }
  return VersionNode(root);
}

BuiltPe BuildPe(bool pe32_plus,
                const std::vector<std::pair<uint16_t, std::string>>& versions) {
  BuiltPe pe;
  PeLayout& at = pe.layout;
  std::string& b = pe.bytes;

  // DOS header: "MZ" and the offset of the PE header.
  b.assign(0x40, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  at.pe_header = 0x40;
  Put32(b, 0x3C, static_cast<uint32_t>(at.pe_header));

  // COFF header.
  b += std::string("PE\0\0", 4);
  uint16_t optional_size = pe32_plus ? 240 : 224;
  Append16(b, pe32_plus ? 0x8664 : 0x14C);  // machine
  Append16(b, 1);                           // sections
  Append32(b, 0);                           // time stamp
  Append32(b, 0);                           // symbol table
  Append32(b, 0);                           // symbols
  Append16(b, optional_size);
  Append16(b, 0x2022);  // characteristics: a DLL

  // Optional header: only the magic, the number of data directories and the
  // resource directory matter to the reader.
  at.optional_header = b.size();
  b.append(optional_size, '\0');
  Put16(b, at.optional_header, pe32_plus ? 0x20B : 0x10B);
  size_t count_field = pe32_plus ? 108 : 92;
  size_t directories = pe32_plus ? 112 : 96;
  Put32(b, at.optional_header + count_field, 16);

  // Resource tree: types > names > languages > data entries > data.
  std::string r;
  size_t languages = versions.size();
  size_t type_dir = 0, name_dir = 24, lang_dir = 48;
  size_t entries = lang_dir + 16 + 8 * languages;
  size_t data = entries + 16 * languages;
  r.assign(data, '\0');
  auto directory = [&](size_t off, uint16_t ids) { Put16(r, off + 14, ids); };
  directory(type_dir, 1);
  Put32(r, type_dir + 16, 16);  // RT_VERSION
  Put32(r, type_dir + 20, 0x80000000u | static_cast<uint32_t>(name_dir));
  directory(name_dir, 1);
  Put32(r, name_dir + 16, 1);  // VS_VERSION_INFO
  Put32(r, name_dir + 20, 0x80000000u | static_cast<uint32_t>(lang_dir));
  directory(lang_dir, static_cast<uint16_t>(languages));
  for (size_t i = 0; i < languages; ++i) {
    size_t e = lang_dir + 16 + 8 * i;
    size_t entry = entries + 16 * i;
    Put32(r, e, versions[i].first);
    Put32(r, e + 4, static_cast<uint32_t>(entry));
    Pad4(r);
    Put32(r, entry, kSectionRva + static_cast<uint32_t>(r.size()));
    Put32(r, entry + 4, static_cast<uint32_t>(versions[i].second.size()));
    if (i == 0) at.first_data = kSectionFileOffset + r.size();
    r += versions[i].second;
  }
  at.type_directory = kSectionFileOffset + type_dir;
  at.name_directory = kSectionFileOffset + name_dir;
  at.language_directory = kSectionFileOffset + lang_dir;
  at.first_data_entry = kSectionFileOffset + entries;

  size_t resource_entry = at.optional_header + directories + 2 * 8;
  Put32(b, resource_entry, kSectionRva);
  Put32(b, resource_entry + 4, static_cast<uint32_t>(r.size()));

  // The one section.
  at.section_table = b.size();
  std::string section(40, '\0');
  section.replace(0, 5, ".rsrc");
  Put32(section, 8, static_cast<uint32_t>(r.size()));   // virtual size
  Put32(section, 12, kSectionRva);                      // virtual address
  Put32(section, 16, static_cast<uint32_t>(r.size()));  // raw size
  Put32(section, 20, kSectionFileOffset);               // raw offset
  b += section;

  b.resize(kSectionFileOffset, '\0');
  b += r;
  return pe;
}

}  // namespace mv
