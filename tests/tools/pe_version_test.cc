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

using Patch = std::function<void(BuiltPe&)>;
Patch P16(size_t PeLayout::*at, size_t delta, uint16_t v) {
  return [=](BuiltPe& p) { Put16(p.bytes, p.layout.*at + delta, v); };
}
Patch P32(size_t PeLayout::*at, size_t delta, uint32_t v) {
  return [=](BuiltPe& p) { Put32(p.bytes, p.layout.*at + delta, v); };
}

TEST(PeVersionTest, DamagedFiles) {
  using L = PeLayout;
  struct Case {
    const char* what;
    Patch patch;
    bool readable;
  } cases[] = {
      {"intact", [](BuiltPe&) {}, true},
      {"no MZ", P16(&L::dos_header, 0, 0x5A5A), false},
      {"PE offset past the end", P32(&L::dos_header, 0x3C, 0xFFFFFFF0u), false},
      {"PE offset at the last bytes",
       [](BuiltPe& p) {
         Put32(p.bytes, 0x3C, static_cast<uint32_t>(p.bytes.size() - 2));
       },
       false},
      {"wrong PE signature", P16(&L::pe_header, 0, 0x5850), false},
      {"unknown optional header", P16(&L::optional_header, 0, 0x107), false},
      {"too few data directories", P32(&L::optional_header, 108, 2), false},
      {"optional header too short", P16(&L::pe_header, 20, 128), false},
      {"no sections", P16(&L::pe_header, 6, 0), false},
      {"section table running off the end",
       [](BuiltPe& p) {
         Put16(p.bytes, p.layout.pe_header + 6, 0xFFFF);
         Put32(p.bytes, p.layout.optional_header + 128, 0x9000);
       },
       false},
      {"resource in no section", P32(&L::optional_header, 128, 0x9000), false},
      {"section data past the end", P32(&L::section_table, 20, ~0u - 255),
       false},
      {"section size past the end, data present",
       P32(&L::section_table, 16, ~0u), true},
      {"huge entry count", P16(&L::type_directory, 14, 0xFFFF), false},
      {"type entry loops to the root", P32(&L::type_directory, 20, 0x80000000u),
       false},
      {"name entry loops to itself", P32(&L::name_directory, 20, 0x80000018u),
       false},
      {"type entry is a leaf", P32(&L::type_directory, 20, 24), false},
      {"subdirectory past the section",
       P32(&L::type_directory, 20, 0x80FFFFF0u), false},
      {"leaf past the section", P32(&L::language_directory, 20, 0x7FFFFFF0u),
       false},
      {"data in no section", P32(&L::first_data_entry, 0, 0x50), false},
      {"data size past the end", P32(&L::first_data_entry, 4, ~0u), false},
      {"data too small for a node", P32(&L::first_data_entry, 4, 4), false},
      {"root node of length zero", P16(&L::first_data, 0, 0), false},
      {"root node longer than the data", P16(&L::first_data, 0, 0xFFFF), true},
      {"root key without its end", P16(&L::first_data, 0, 10), false},
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
