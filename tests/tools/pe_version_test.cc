#include "tools/pe_version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "support/sandbox.h"

namespace mv {
namespace {

// Version resources written in memory, so that tests can damage them at
// known places.
// One node of a version resource; the value is UTF-8 text written as
// UTF-16 with its terminating zero, or raw bytes when `text` is false.
struct VersionNodeParts {
  std::string key;
  std::string value;
  bool text = true;
  std::vector<VersionNodeParts> children;
};
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

std::string PeFile(const std::string& name) {
  return std::string(MVUPDATE_TEST_PE_DIR) + "/" + name;
}

// Files made by the cross tools, 32- and 64-bit: the version resource
// chosen among several languages, and tables looked up by name.
TEST(PeVersionTest, FilesMadeByTheCrossTools) {
  struct Case {
    const char* file;
    const char* query;
    std::optional<std::string> value;
  } cases[] = {
      {"Merivane.exe", "\\StringFileInfo\\040904B0\\Comments", ""},
      {"QorinMVCore.dll", "\\StringFileInfo\\040704E4\\FileVersion", {}},
      {"Languages.dll", "\\StringFileInfo\\040904B0\\FileVersion",
       "1.0 (0409)"},
      {"Neutral.dll", "\\StringFileInfo\\000004B0\\FileVersion", "3.0 (0000)"},
      {"FirstLanguage.dll", "\\StringFileInfo\\040704B0\\FileVersion",
       "2.0 (0407)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::optional<VersionInfo> info = ReadVersionInfo(PeFile(c.file));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString(c.query), c.value);
  }
}

TEST(PeVersionTest, FilesWithoutVersionInformation) {
  TempFolder tmp;
  WriteFile(tmp / "empty.dll", "");
  WriteFile(tmp / "text.dll", "MZ but not a program file at all, just text");
  WriteFile(tmp / "locked.dll", ReadFile(PeFile("Merivane.exe")));
  ::chmod((tmp / "locked.dll").c_str(), 0);
  ASSERT_EQ(::mkfifo((tmp / "pipe.dll").c_str(), 0600), 0);
  ScopedUnprivileged unprivileged;
  for (std::string path :
       {PeFile("Strings.dll"), PeFile("NoResources.exe"), tmp / "missing.dll",
        tmp / "empty.dll", tmp / "text.dll", tmp.path(), tmp / "locked.dll",
        tmp / "pipe.dll", std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(ReadVersionInfo(path));
  }
}

// A program file with a large appended part (as self-extracting set-ups
// have) is mapped, not read whole; sizes beyond 32 bits do not wrap.
TEST(PeVersionTest, LargeFileIsReadLikeAnyOther) {
  TempFolder tmp;
  std::string path = tmp / "Setup.exe";
  WriteFile(path, ReadFile(PeFile("Merivane.exe")));
  ASSERT_EQ(::truncate(path.c_str(), (off_t{5} << 30) + 3), 0);  // sparse
  std::optional<VersionInfo> info = ReadVersionInfo(path);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Fixed().file_version_ms, 0x00070000u);
}

// Every prefix of a good file either gives nothing or the same resource: a
// truncated file is never read past its end (the sanitizer build checks the
// reads themselves).
TEST(PeVersionTest, TruncatedAtEveryOffset) {
  for (const char* file : {"Merivane.exe", "QorinMVCore.dll"}) {
    SCOPED_TRACE(file);
    std::string bytes = ReadFile(PeFile(file));
    std::optional<std::string_view> full = FindVersionResource(bytes);
    ASSERT_TRUE(full);
    size_t end = static_cast<size_t>(full->data() - bytes.data());
    for (size_t n = 0; n < bytes.size(); ++n) {
      // A copy of exactly n bytes, so that reading past it is caught.
      std::string prefix = bytes.substr(0, n);
      std::optional<std::string_view> got = FindVersionResource(prefix);
      ASSERT_EQ(got.has_value(), n >= end + full->size()) << "at " << n;
      if (got) {
        ASSERT_EQ(*got, *full) << "at " << n;
      }
    }
    // And the mapped file, cut inside the resource.
    TempFolder tmp;
    WriteFile(tmp / "cut.dll", bytes.substr(0, end + full->size() - 1));
    EXPECT_FALSE(ReadVersionInfo(tmp / "cut.dll"));
  }
}

FixedFileInfo SomeFixed() {
  FixedFileInfo f;
  f.signature = 0xFEEF04BD;
  f.struc_version = 0x00010000;
  f.file_version_ms = 0x00050006;
  return f;
}

std::string GoodBlock() {
  return VersionBlock(SomeFixed(), "040904B0",
                      {{"CompanyName", "Qorin"}, {"FileVersion", "5.6.7.8"}},
                      {0x04B00409});
}

uint32_t Get32(const std::string& b, size_t at) {
  auto u8 = [&](size_t i) { return uint32_t{static_cast<uint8_t>(b[at + i])}; };
  return u8(0) | u8(1) << 8 | u8(2) << 16 | u8(3) << 24;
}

// Where the parts of a PE32+ file with one version resource lie.
struct PeFileParts {
  std::string bytes;
  size_t dos_header = 0, pe_header, optional_header, section_table,
         resource_section;
  size_t type_directory, name_directory, language_directory, data_entry;
  size_t data;
};

PeFileParts Parts(const std::string& name) {
  PeFileParts p;
  p.bytes = ReadFile(PeFile(name));
  const std::string& b = p.bytes;
  p.pe_header = Get32(b, 0x3C);
  p.optional_header = p.pe_header + 24;
  p.section_table = p.optional_header + (Get32(b, p.pe_header + 20) & 0xFFFF);
  uint32_t rva = Get32(b, p.optional_header + 128);
  // The resource section and a file offset from an address in it.
  p.resource_section = p.section_table;
  while (Get32(b, p.resource_section + 12) != rva) p.resource_section += 40;
  size_t base = Get32(b, p.resource_section + 20);
  auto at = [&](uint32_t address) { return base + (address - rva); };
  auto below = [&](size_t dir) {
    return at(rva + (Get32(b, dir + 20) & ~0x80000000u));
  };
  p.type_directory = at(rva);
  p.name_directory = below(p.type_directory);
  p.language_directory = below(p.name_directory);
  p.data_entry = below(p.language_directory);
  p.data = at(Get32(b, p.data_entry));
  return p;
}

using Patch = std::function<void(PeFileParts&)>;
Patch P16(size_t PeFileParts::*at, size_t delta, uint16_t v) {
  return [=](PeFileParts& p) { Put16(p.bytes, p.*at + delta, v); };
}
Patch P32(size_t PeFileParts::*at, size_t delta, uint32_t v) {
  return [=](PeFileParts& p) { Put32(p.bytes, p.*at + delta, v); };
}

TEST(PeVersionTest, DamagedFiles) {
  using L = PeFileParts;
  struct Case {
    const char* what;
    Patch patch;
    bool readable;
  } cases[] = {
      {"intact", [](PeFileParts&) {}, true},
      {"no MZ", P16(&L::dos_header, 0, 0x5A5A), false},
      {"PE offset past the end", P32(&L::dos_header, 0x3C, 0xFFFFFFF0u), false},
      {"PE offset at the last bytes",
       [](PeFileParts& p) {
         Put32(p.bytes, 0x3C, static_cast<uint32_t>(p.bytes.size() - 2));
       },
       false},
      {"wrong PE signature", P16(&L::pe_header, 0, 0x5850), false},
      {"unknown optional header", P16(&L::optional_header, 0, 0x107), false},
      {"too few data directories", P32(&L::optional_header, 108, 2), false},
      {"optional header too short", P16(&L::pe_header, 20, 128), false},
      {"no sections", P16(&L::pe_header, 6, 0), false},
      {"section table running off the end",
       [](PeFileParts& p) {
         Put16(p.bytes, p.pe_header + 6, 0xFFFF);
         Put32(p.bytes, p.optional_header + 128, 0x9000);
       },
       false},
      {"resource in no section", P32(&L::optional_header, 128, 0x9000), false},
      {"section data past the end", P32(&L::resource_section, 20, ~0u - 255),
       false},
      {"section size past the end, data present",
       P32(&L::resource_section, 16, ~0u), true},
      {"huge entry count", P16(&L::type_directory, 14, 0xFFFF), false},
      {"type entry loops to the root", P32(&L::type_directory, 20, 0x80000000u),
       false},
      {"name entry loops to itself",
       [](PeFileParts& p) {
         size_t self = p.name_directory - p.type_directory;
         Put32(p.bytes, p.name_directory + 20,
               0x80000000u | static_cast<uint32_t>(self));
       },
       false},
      {"type entry is a leaf", P32(&L::type_directory, 20, 24), false},
      {"subdirectory past the section",
       P32(&L::type_directory, 20, 0x80FFFFF0u), false},
      {"leaf past the section", P32(&L::language_directory, 20, 0x7FFFFFF0u),
       false},
      {"data in no section", P32(&L::data_entry, 0, 0x50), false},
      {"data size past the end", P32(&L::data_entry, 4, ~0u), false},
      {"data too small for a node", P32(&L::data_entry, 4, 4), false},
      {"root node of length zero", P16(&L::data, 0, 0), false},
      {"root node longer than the data", P16(&L::data, 0, 0xFFFF), true},
      {"root key without its end", P16(&L::data, 0, 10), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PeFileParts pe = Parts("Merivane.exe");
    c.patch(pe);
    std::optional<std::string_view> found = FindVersionResource(pe.bytes);
    ASSERT_EQ(found.has_value(), c.readable);
    if (!found) continue;
    std::optional<VersionInfo> info = VersionInfo::FromBlock(*found);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString("\\StringFileInfo\\040904B0\\FileVersion"),
              "7.0.2016.1122");
  }
}

// A block with one string "X"; `patch` changes the node of "X" at `at`.
std::string PatchedString(const std::string& value, size_t at, uint16_t v) {
  std::string b =
      VersionBlock(SomeFixed(), "040904B0", {{"X", value}, {"Y", "2"}}, {});
  Put16(b, b.find(std::string("X\0\0\0", 4)) - 6 + at, v);
  return b;
}

TEST(PeVersionTest, QueriesInsideTheBlock) {
  std::string surrogate =
      VersionBlock(SomeFixed(), "040904B0", {{"X", "a😀b?"}}, {});
  Put16(surrogate, surrogate.rfind(std::string("?\0", 2)), 0xD800);
  struct Case {
    const char* what;
    std::string block;
    const char* query;
    std::optional<std::string> expected;
  } cases[] = {
      {"keys compare without case", GoodBlock(),
       "\\stringfileinfo\\040904b0\\COMPANYNAME", "Qorin"},
      {"repeated and trailing separators", GoodBlock(),
       "\\\\StringFileInfo\\040904B0\\\\FileVersion\\", "5.6.7.8"},
      {"missing name", GoodBlock(), "\\StringFileInfo\\040904B0\\Product", {}},
      {"outside the basic plane, an unpaired surrogate", surrogate,
       "\\StringFileInfo\\040904B0\\X", "a😀b\xEF\xBF\xBD"},
      {"value length counted in bytes", PatchedString("abc", 2, 8),
       "\\StringFileInfo\\040904B0\\X", "abc"},
      {"a child of length zero ends the list",
       PatchedString("1", 0, 0),
       "\\StringFileInfo\\040904B0\\Y",
       {}},
      {"a child longer than its parent is cut", PatchedString("12", 0, 0x4000),
       "\\StringFileInfo\\040904B0\\X", "12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<VersionInfo> info = VersionInfo::FromBlock(c.block);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString(c.query), c.expected);
  }
}

TEST(PeVersionTest, ShortFixedRecordAndTranslationTable) {
  VersionNodeParts root{
      "VS_VERSION_INFO", FixedRecord(SomeFixed()).substr(0, 48), false, {}};
  root.children.push_back(
      {"VarFileInfo", "", true, {{"Translation", "\x09\x04", false, {}}}});
  std::optional<VersionInfo> info = VersionInfo::FromBlock(VersionNode(root));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Fixed().file_version_ms, 0u);
  EXPECT_TRUE(info->Translations().empty());
}

}  // namespace
}  // namespace mv
