#include "tools/file_version.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/sandbox.h"
#include "system/files.h"
#include "tools/language_names.h"

namespace mv {
namespace {

std::string PeFile(const std::string& name) {
  return std::string(MVUPDATE_TEST_PE_DIR) + "/" + name;
}

// Language names from the locale data, and the cases it does not know.
TEST(FileVersionTest, LanguageNames) {
  EXPECT_EQ(LanguageName(0x0C0A), "Spanish (Spain, International Sort)");
  EXPECT_EQ(LanguageName(0x0400), "Language Neutral");  // the user's default
  EXPECT_EQ(LanguageName(0x1234), "Language Neutral");  // unknown to ICU
  EXPECT_EQ(LanguageName(0x0414), "Norwegian Bokmål (Norway)");
}

TEST(FileVersionTest, PredefinedNamesOutOfRange) {
  clsQorinFileVersion v;
  v.FullPathName(PeFile("Merivane.exe"));
  ASSERT_TRUE(v.Available());
  EXPECT_EQ(v.PredefinedValue(6), "© 2016 Qorin Größe");
  EXPECT_EQ(v.FileFlags(), "Debug Special");
  for (int32_t which : {-1, 15, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(v.PredefinedName(which), "") << which;
    EXPECT_EQ(v.PredefinedValue(which), "") << which;
  }
}

// What each kind of file leaves in an object that read another file first.
TEST(FileVersionTest, RefreshOverwritesAsFarAsTheFileGoes) {
  struct Case {
    const char *what, *first, *second;
    bool available;
    const char *ver_file, *file_type, *sub_type, *language, *company,
        *file_version;
  } cases[] = {
      {"no version information keeps everything", "Merivane.exe",
       "NoResources.exe", false, "7.00.20161122", "Application", "",
       "English (United States)", "Qorin Software", "7.0.2016.1122"},
      {"missing file keeps everything", "Font.dll", "Missing.dll", false,
       "3.01.0000", "Font", "TrueType Font", "English (United States)", "",
       "3.1"},
      {"no translation table: no language, no strings", "Merivane.exe",
       "POS.exe", true, "10.01.03456", "Application", "", "", "", ""},
      {"strings found through English (United States)", "Merivane.exe",
       "QorinMVCore.dll", true, "1.02.0304", "DLL", "", "German (Germany)",
       "Qorin Software", "1.2.3.4"},
      {"table under another code page: empty strings", "Merivane.exe",
       "QorinSetup.dll", true, "1.02.0004", "DLL", "",
       "English (United States)", "", ""},
      {"empty company name, no English table: first prefix kept",
       "Merivane.exe", "German.exe", true, "2.00.0000", "Application", "",
       "German (Germany)", "", "2.0"},
      {"driver with unknown subtype keeps the subtype", "Font.dll",
       "Driver.dll", true, "4.00.0001", "Driver", "TrueType Font",
       "English (United States)", "", "4.0.0.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clsQorinFileVersion v;
    v.FullPathName(PeFile(c.first));
    ASSERT_TRUE(v.Available());
    v.FullPathName(PeFile(c.second));
    EXPECT_EQ(v.FullPathName(), PeFile(c.second));
    EXPECT_EQ(v.Available(), c.available);
    EXPECT_EQ(v.VerFile(), c.ver_file);
    EXPECT_EQ(v.FileType(), c.file_type);
    EXPECT_EQ(v.FileSubType(), c.sub_type);
    EXPECT_EQ(v.Language(), c.language);
    EXPECT_EQ(v.CompanyName(), c.company);
    EXPECT_EQ(v.FileVersion(), c.file_version);
  }
}

TEST(FileVersionTest, PathsAreResolvedBeforeReading) {
  TempFolder tmp;
  WriteFile(tmp / "Bin/Merivane.exe", ReadFile(PeFile("Merivane.exe")));
  std::string saved = CurrentFolder();
  ASSERT_EQ(::chdir((tmp / "Bin").c_str()), 0);
  struct Case {
    const char* given;
    std::string full;
    bool available;
  } cases[] = {
      {"./../Bin//MERIVANE.EXE", tmp / "Bin/Merivane.exe", true},
      {"../bin/nothere/x.exe", tmp / "Bin/nothere/x.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    clsQorinFileVersion v;
    v.FullPathName(c.given);
    EXPECT_EQ(v.FullPathName(), c.full);
    EXPECT_EQ(v.Available(), c.available);
  }
  // A path that cannot be resolved changes nothing.
  clsQorinFileVersion v;
  v.FullPathName("Merivane.exe");
  v.FullPathName("");
  v.FullPathName(std::string("a\0b", 3));
  EXPECT_EQ(v.FullPathName(), tmp / "Bin/Merivane.exe");
  EXPECT_TRUE(v.Available());
  ASSERT_EQ(::chdir(saved.c_str()), 0);
}

}  // namespace
}  // namespace mv
