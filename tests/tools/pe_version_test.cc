#include "tools/pe_version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "support/sandbox.h"

namespace mv {
namespace {

void Put16(std::string& bytes, size_t offset, uint16_t v) {
  bytes[offset] = static_cast<char>(v & 0xFF);
  bytes[offset + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& bytes, size_t offset, uint32_t v) {
  Put16(bytes, offset, static_cast<uint16_t>(v & 0xFFFF));
  Put16(bytes, offset + 2, static_cast<uint16_t>(v >> 16));
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
       {PeFile("Strings.dll"), tmp / "empty.dll", tmp / "text.dll",
        tmp / "locked.dll", tmp / "pipe.dll", std::string("/dev/zero")}) {
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
      {"wrong PE signature", P16(&L::pe_header, 0, 0x5850), false},
      {"unknown optional header", P16(&L::optional_header, 0, 0x107), false},
      {"too few data directories", P32(&L::optional_header, 108, 2), false},
      {"optional header too short", P16(&L::pe_header, 20, 128), false},
      {"no sections", P16(&L::pe_header, 6, 0), false},
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

// The version resource of Merivane.exe, for a test to damage.
std::string MerivaneBlock() {
  std::string bytes = ReadFile(PeFile("Merivane.exe"));
  return std::string(FindVersionResource(bytes).value());
}

// Where the node of `key` starts: its UTF-16 key follows three 16-bit sizes.
size_t NodeOf(const std::string& block, const std::string& key) {
  std::string utf16;
  for (char c : key + '\0') utf16 += {c, '\0'};
  return block.find(utf16) - 6;
}

TEST(PeVersionTest, QueriesInsideTheBlock) {
  const std::string company = "\\StringFileInfo\\040904B0\\CompanyName";
  auto at_company = [](std::string& b, size_t delta, uint16_t v) {
    Put16(b, NodeOf(b, "CompanyName") + delta, v);
  };
  struct Case {
    const char* what;
    std::function<void(std::string&)> patch;
    std::string query;
    std::optional<std::string> expected;
  } cases[] = {
      {"keys compare without case", [](std::string&) {},
       "\\stringfileinfo\\040904b0\\COMPANYNAME", "Qorin Software"},
      {"repeated and trailing separators", [](std::string&) {},
       "\\\\StringFileInfo\\040904B0\\\\FileVersion\\", "7.0.2016.1122"},
      {"missing name",
       [](std::string&) {},
       "\\StringFileInfo\\040904B0\\Product",
       {}},
      // The value starts 32 bytes into the node: "Qorin" becomes a pair, "r"
      // and an unpaired surrogate.
      {"outside the basic plane, an unpaired surrogate",
       [&](std::string& b) {
         at_company(b, 32, 0xD83D);
         at_company(b, 34, 0xDE00);
         at_company(b, 38, 0xD800);
       },
       company, "😀r\xEF\xBF\xBDn Software"},
      {"value length counted in bytes",
       [&](std::string& b) { at_company(b, 2, 30); }, company,
       "Qorin Software"},
      {"a child of length zero ends the list",
       [&](std::string& b) { at_company(b, 0, 0); },
       "\\StringFileInfo\\040904B0\\FileVersion",
       {}},
      {"a child longer than its parent is cut",
       [&](std::string& b) { at_company(b, 0, 0x4000); }, company,
       "Qorin Software"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string block = MerivaneBlock();
    c.patch(block);
    std::optional<VersionInfo> info = VersionInfo::FromBlock(block);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString(c.query), c.expected);
  }
}

TEST(PeVersionTest, ShortFixedRecordAndTranslationTable) {
  std::string block = MerivaneBlock();
  Put16(block, 2, 48);  // the root's value, one field short of the record
  std::optional<VersionInfo> info = VersionInfo::FromBlock(block);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Fixed().file_version_ms, 0u);

  block = MerivaneBlock();
  Put16(block, NodeOf(block, "Translation") + 2, 2);  // half an entry
  info = VersionInfo::FromBlock(block);
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->Translations().empty());
}

}  // namespace
}  // namespace mv
