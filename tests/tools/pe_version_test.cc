#include "tools/pe_version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "support/sandbox.h"
#include "tools/pe_builder.h"

namespace mv {
namespace {

std::string PeFile(const std::string& name) {
  return std::string(MVUPDATE_TEST_PE_DIR) + "/" + name;
}

uint16_t Magic(const std::string& bytes) {
  auto u8 = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  size_t pe = u8(0x3C) | u8(0x3D) << 8;
  return static_cast<uint16_t>(u8(pe + 24) | u8(pe + 25) << 8);
}

TEST(PeVersionTest, FilesMadeByTheCrossTools) {
  struct Case {
    const char* file;
    uint16_t magic;
    uint32_t version_ms, version_ls, flags, type, subtype;
    std::vector<uint32_t> translations;
    const char* query;
    std::optional<std::string> value;
  } cases[] = {
      {"Merivane.exe",
       0x20B,
       0x00070000,
       0x07E00462,
       0x21,
       1,
       0,
       {0x04B00409, 0x04E40407},
       "\\StringFileInfo\\040904B0\\LegalCopyright",
       "© 2016 Qorin Größe"},
      {"Merivane.exe",
       0x20B,
       0x00070000,
       0x07E00462,
       0x21,
       1,
       0,
       {0x04B00409, 0x04E40407},
       "\\StringFileInfo\\040904B0\\Comments",
       ""},
      {"QorinMVCore.dll",
       0x10B,
       0x00010002,
       0x00030004,
       0,
       2,
       0,
       {0x04E40407},
       "\\StringFileInfo\\040904E4\\FileVersion",
       "1.2.3.4"},
      {"QorinMVCore.dll",
       0x10B,
       0x00010002,
       0x00030004,
       0,
       2,
       0,
       {0x04E40407},
       "\\StringFileInfo\\040704E4\\FileVersion",
       std::nullopt},
      {"POS.exe",
       0x20B,
       0x000A0001,
       0x000301C8,
       0x02,
       1,
       0,
       {},
       "\\StringFileInfo\\040904b0\\FileVersion",
       "10.1.3.456"},
      {"German.exe",
       0x10B,
       0x00020000,
       0,
       0,
       1,
       0,
       {0x04E40407},
       "\\StringFileInfo\\040704E4\\FileDescription",
       "Kassenprogramm für Filialen"},
      // Several version resources: English (United States), else neutral,
      // else the first in the directory (the lowest language number).
      {"Languages.dll",
       0x20B,
       0x00010000,
       0,
       0,
       2,
       0,
       {0x04B00409},
       "\\StringFileInfo\\040904B0\\FileVersion",
       "1.0 (0409)"},
      {"Neutral.dll",
       0x10B,
       0x00030000,
       0,
       0,
       2,
       0,
       {0x04B00000},
       "\\StringFileInfo\\000004B0\\FileVersion",
       "3.0 (0000)"},
      {"FirstLanguage.dll",
       0x20B,
       0x00020000,
       0,
       0,
       2,
       0,
       {0x04B00407},
       "\\StringFileInfo\\040704B0\\FileVersion",
       "2.0 (0407)"},
      {"Font.dll",
       0x20B,
       0x00030001,
       0,
       0x08,
       4,
       3,
       {0x04B00409},
       "\\StringFileInfo\\040904B0\\FileVersion",
       "3.1"},
      {"Driver.dll",
       0x10B,
       0x00040000,
       0x00000001,
       0x10,
       3,
       12,
       {0x04B00409},
       "\\StringFileInfo\\040904B0\\FileVersion",
       "4.0.0.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.query);
    EXPECT_EQ(Magic(ReadFile(PeFile(c.file))), c.magic);
    std::optional<VersionInfo> info = ReadVersionInfo(PeFile(c.file));
    ASSERT_TRUE(info);
    FixedFileInfo f = info->Fixed();
    EXPECT_EQ(f.signature, 0xFEEF04BDu);
    EXPECT_EQ(f.struc_version, 0x00010000u);
    EXPECT_EQ(f.file_version_ms, c.version_ms);
    EXPECT_EQ(f.file_version_ls, c.version_ls);
    EXPECT_EQ(f.file_flags, c.flags);
    EXPECT_EQ(f.file_os, 0x00040004u);
    EXPECT_EQ(f.file_type, c.type);
    EXPECT_EQ(f.file_subtype, c.subtype);
    EXPECT_EQ(info->Translations(), c.translations);
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
  for (const char* file :
       {"Merivane.exe", "QorinMVCore.dll", "Languages.dll", "Neutral.dll"}) {
    SCOPED_TRACE(file);
    std::string bytes = ReadFile(PeFile(file));
    std::optional<std::string_view> full = FindVersionResource(bytes);
    ASSERT_TRUE(full);
    size_t first_good = bytes.size();
    for (size_t n = 0; n < bytes.size(); ++n) {
      // A copy of exactly n bytes, so that reading past it is caught.
      std::string prefix = bytes.substr(0, n);
      std::optional<std::string_view> got = FindVersionResource(prefix);
      if (got) {
        ASSERT_EQ(*got, *full) << "at " << n;
        first_good = std::min(first_good, n);
      } else {
        ASSERT_EQ(first_good, bytes.size()) << "lost again at " << n;
      }
    }
    // The resource lies at the end: nothing short of it can be read.
    EXPECT_EQ(first_good,
              static_cast<size_t>(full->data() - bytes.data()) + full->size());
    // And from disk, cut inside the resource.
    TempFolder tmp;
    WriteFile(tmp / "cut.dll", bytes.substr(0, first_good - 1));
    EXPECT_FALSE(ReadVersionInfo(tmp / "cut.dll"));
  }
}

FixedFileInfo SomeFixed() {
  FixedFileInfo f;
  f.signature = 0xFEEF04BD;
  f.struc_version = 0x00010000;
  f.file_version_ms = 0x00050006;
  f.file_version_ls = 0x00070008;
  return f;
}

std::string GoodBlock() {
  return VersionBlock(SomeFixed(), "040904B0",
                      {{"CompanyName", "Qorin"}, {"FileVersion", "5.6.7.8"}},
                      {0x04B00409});
}

TEST(PeVersionTest, DamagedFiles) {
  using Patch = std::function<void(BuiltPe&)>;
  struct Case {
    const char* what;
    Patch patch;
    bool readable;
  } cases[] = {
      {"intact", [](BuiltPe&) {}, true},
      {"no MZ", [](BuiltPe& p) { p.bytes[0] = 'Z'; }, false},
      {"PE header offset past the end",
       [](BuiltPe& p) { Put32(p.bytes, 0x3C, 0xFFFFFFF0u); }, false},
      {"PE header offset at the last bytes",
       [](BuiltPe& p) {
         Put32(p.bytes, 0x3C, static_cast<uint32_t>(p.bytes.size() - 2));
       },
       false},
      {"wrong PE signature",
       [](BuiltPe& p) { p.bytes[p.layout.pe_header + 1] = 'X'; }, false},
      {"unknown optional header",
       [](BuiltPe& p) { Put16(p.bytes, p.layout.optional_header, 0x107); },
       false},
      {"too few data directories",
       [](BuiltPe& p) { Put32(p.bytes, p.layout.optional_header + 108, 2); },
       false},
      {"optional header too short for the resource directory",
       [](BuiltPe& p) { Put16(p.bytes, p.layout.pe_header + 20, 128); }, false},
      {"no sections",
       [](BuiltPe& p) { Put16(p.bytes, p.layout.pe_header + 6, 0); }, false},
      {"section table running off the end",
       [](BuiltPe& p) {
         Put16(p.bytes, p.layout.pe_header + 6, 0xFFFF);
         Put32(p.bytes, p.layout.optional_header + 128, 0x9000);
       },
       false},
      {"resource address in no section",
       [](BuiltPe& p) {
         Put32(p.bytes, p.layout.optional_header + 128, 0x9000);
       },
       false},
      {"section data past the end",
       [](BuiltPe& p) {
         Put32(p.bytes, p.layout.section_table + 20, 0xFFFFFF00u);
       },
       false},
      {"section size past the end, data present",
       [](BuiltPe& p) {
         Put32(p.bytes, p.layout.section_table + 16, 0xFFFFFFFFu);
       },
       true},
      {"huge entry count",
       [](BuiltPe& p) { Put16(p.bytes, p.layout.type_directory + 14, 0xFFFF); },
       false},
      {"type entry loops to the root",
       [](BuiltPe& p) {
         Put32(p.bytes, p.layout.type_directory + 20, 0x80000000u);
       },
       false},
      {"name entry loops to its own directory",
       [](BuiltPe& p) {
         uint32_t names = static_cast<uint32_t>(p.layout.name_directory -
                                                p.layout.type_directory);
         Put32(p.bytes, p.layout.name_directory + 20, 0x80000000u | names);
       },
       false},
      {"type entry is a leaf",
       [](BuiltPe& p) { Put32(p.bytes, p.layout.type_directory + 20, 24); },
       false},
      {"subdirectory past the section",
       [](BuiltPe& p) {
         Put32(p.bytes, p.layout.type_directory + 20, 0x80FFFFF0u);
       },
       false},
      {"leaf past the section",
       [](BuiltPe& p) {
         Put32(p.bytes, p.layout.language_directory + 20, 0x7FFFFFF0u);
       },
       false},
      {"data address in no section",
       [](BuiltPe& p) { Put32(p.bytes, p.layout.first_data_entry, 0x50); },
       false},
      {"data size past the end",
       [](BuiltPe& p) {
         Put32(p.bytes, p.layout.first_data_entry + 4, 0xFFFFFFFFu);
       },
       false},
      {"data too small for a node",
       [](BuiltPe& p) { Put32(p.bytes, p.layout.first_data_entry + 4, 4); },
       false},
      {"root node of length zero",
       [](BuiltPe& p) { Put16(p.bytes, p.layout.first_data, 0); }, false},
      {"root node longer than the resource",
       [](BuiltPe& p) { Put16(p.bytes, p.layout.first_data, 0xFFFF); }, true},
      {"root key without its end",
       [](BuiltPe& p) { Put16(p.bytes, p.layout.first_data, 10); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BuiltPe pe = BuildPe(true, {{0x0409, GoodBlock()}});
    c.patch(pe);
    std::optional<std::string_view> found = FindVersionResource(pe.bytes);
    ASSERT_EQ(found.has_value(), c.readable);
    if (!found) continue;
    std::optional<VersionInfo> info = VersionInfo::FromBlock(*found);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->QueryString("\\StringFileInfo\\040904B0\\FileVersion"),
              "5.6.7.8");
  }
}

TEST(PeVersionTest, BothHeaderKindsAndLanguageChoice) {
  std::string german = VersionBlock(SomeFixed(), "040704B0",
                                    {{"FileVersion", "de"}}, {0x04B00407});
  std::string neutral = VersionBlock(
      SomeFixed(), "000004B0", {{"FileVersion", "neutral"}}, {0x04B00000});
  std::string english = GoodBlock();
  struct Case {
    std::vector<std::pair<uint16_t, std::string>> versions;
    std::string expected;
  } cases[] = {
      {{{0x0407, german}, {0x0409, english}}, english},
      {{{0x0407, german}, {0x0000, neutral}, {0x0409, english}}, english},
      {{{0x0407, german}, {0x0400, neutral}}, neutral},
      {{{0x040C, english}, {0x0407, german}}, english},  // first as stored
  };
  for (bool plus : {false, true}) {
    for (const Case& c : cases) {
      BuiltPe pe = BuildPe(plus, c.versions);
      std::optional<std::string_view> found = FindVersionResource(pe.bytes);
      ASSERT_TRUE(found);
      EXPECT_EQ(*found, c.expected);
    }
  }
}

TEST(PeVersionTest, QueriesInsideTheBlock) {
  std::string block = GoodBlock();
  // Offsets in GoodBlock: the root header and key take 6 + 32 = 38 bytes,
  // padded to 40; the fixed record follows.
  struct Case {
    const char* what;
    std::function<std::string()> make;
    const char* query;
    std::optional<std::string> expected;
  } cases[] = {
      {"keys compare without case", [&] { return block; },
       "\\stringfileinfo\\040904b0\\COMPANYNAME", "Qorin"},
      {"repeated and trailing separators", [&] { return block; },
       "\\\\StringFileInfo\\040904B0\\\\FileVersion\\", "5.6.7.8"},
      {"missing name", [&] { return block; },
       "\\StringFileInfo\\040904B0\\ProductName", std::nullopt},
      {"missing table", [&] { return block; },
       "\\StringFileInfo\\040704B0\\CompanyName", std::nullopt},
      {"text outside the basic plane and an unpaired surrogate",
       [] {
         std::string b =
             VersionBlock(SomeFixed(), "040904B0", {{"X", "a😀b?"}}, {});
         // Turn "?" into a lone high surrogate.
         size_t q = b.rfind(std::string("?\0", 2));
         Put16(b, q, 0xD800);
         return b;
       },
       "\\StringFileInfo\\040904B0\\X", "a😀b\xEF\xBF\xBD"},
      {"value length counted in bytes by some tools",
       [] {
         std::string b =
             VersionBlock(SomeFixed(), "040904B0", {{"X", "abc"}}, {});
         size_t v = b.find(std::string("X\0\0\0", 4)) - 6;
         Put16(b, v + 2, 8);
         return b;
       },
       "\\StringFileInfo\\040904B0\\X", "abc"},
      {"value without its terminating zero",
       [] {
         VersionNodeParts root{
             "VS_VERSION_INFO", FixedRecord(SomeFixed()), false, {}};
         VersionNodeParts raw{"Raw", "abcd", false, {}};
         root.children.push_back({"T", "", true, {raw}});
         std::string b = VersionNode(root);
         // Mark "Raw" as text: its four bytes become two characters.
         size_t v = b.find(std::string("R\0a\0w\0", 6)) - 6;
         Put16(b, v + 2, 2);
         Put16(b, v + 4, 1);
         return b;
       },
       "\\T\\Raw", "\xE6\x89\xA1\xE6\x91\xA3"},  // U+6261 U+6463
      {"a child of length zero ends the list",
       [] {
         std::string b = VersionBlock(SomeFixed(), "040904B0",
                                      {{"A", "1"}, {"B", "2"}}, {});
         size_t v = b.find(std::string("A\0\0\0", 4)) - 6;
         Put16(b, v, 0);
         return b;
       },
       "\\StringFileInfo\\040904B0\\B", std::nullopt},
      {"a child longer than its parent is cut at the parent's end",
       [] {
         std::string b =
             VersionBlock(SomeFixed(), "040904B0", {{"A", "12"}}, {});
         size_t v = b.find(std::string("A\0\0\0", 4)) - 6;
         Put16(b, v, 0x4000);
         return b;
       },
       "\\StringFileInfo\\040904B0\\A", "12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<VersionInfo> info = VersionInfo::FromBlock(c.make());
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
  EXPECT_EQ(info->Fixed().signature, 0u);
  EXPECT_TRUE(info->Translations().empty());
}

}  // namespace
}  // namespace mv
