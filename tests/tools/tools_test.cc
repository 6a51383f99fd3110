// The version tools: the reader of program files (made by the cross tools,
// damaged or odd), Check System, Reset Last Update and the version report.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/fault_env.h"
#include "support/installation.h"
#include "system/language_names.h"
#include "system/last_update.h"
#include "tools/check_system.h"
#include "tools/file_version.h"
#include "tools/pe_version.h"
#include "tools/reset_last_update.h"
#include "tools/version_report.h"

namespace mv {
namespace {

std::string PeFile(const std::string& name) {
  return std::string(MVUPDATE_TEST_PE_DIR) + "/" + name;
}

// Little-endian values of `size` bytes.
uint32_t Get(const std::string& b, size_t at, int size = 4) {
  uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = v << 8 | uint8_t(b[at + i]);
  return v;
}
void Put(std::string& b, size_t at, uint64_t v, int size) {
  for (int i = 0; i < size; ++i, v >>= 8) b[at + i] = char(v & 0xFF);
}

// One reader reads the files in turn; each keeps or overwrites what the one
// before left, as far as it goes: "available|file version|type|subtype|
// language|company|FileVersion". The files are 32- and 64-bit programs and
// libraries; of several version resources the one in English (United States)
// counts, else the neutral one, else the first.
TEST(FileVersionTest, ReadingOverwritesAsFarAsTheFileGoes) {
  const std::string us = "|English (United States)|", de = "|German (Germany)|";
  const std::string cases[][2] = {
      {"Merivane.exe",
       "1|7.00.20161122|Application|" + us + "Qorin Software|7.0.2016.1122"},
      {"NoResources.exe",
       "0|7.00.20161122|Application|" + us + "Qorin Software|7.0.2016.1122"},
      // No translation table: no language, no strings.
      {"POS.exe", "1|10.01.03456|Application||||"},
      // Strings found through English (United States).
      {"QorinMVCore.dll", "1|1.02.0304|DLL|" + de + "Qorin Software|1.2.3.4"},
      {"QorinSetup.dll", "1|1.02.0004|DLL|" + us + "|"},  // another code page
      // An empty company name and no English table: the first table kept.
      {"German.exe", "1|2.00.0000|Application|" + de + "|2.0"},
      {"Neutral.dll", "1|3.00.0000|DLL||Language Neutral||3.0 (0000)"},
      {"FirstLanguage.dll", "1|2.00.0000|DLL|" + de + "|2.0 (0407)"},
      {"Font.dll", "1|3.01.0000|Font|TrueType Font" + us + "|3.1"},
      {"Missing.dll", "0|3.01.0000|Font|TrueType Font" + us + "|3.1"},
      // A driver with an unknown subtype keeps the subtype.
      {"Driver.dll", "1|4.00.0001|Driver|TrueType Font" + us + "|4.0.0.1"},
  };
  FileVersionReader v;
  for (const auto& [file, expected] : cases) {
    v.FullPathName(PeFile(file));
    EXPECT_EQ(std::to_string(v.Available()) + "|" + v.VerFile() + "|" +
                  v.FileType() + "|" + v.FileSubType() + "|" + v.Language() +
                  "|" + v.CompanyName() + "|" + v.FileVersion(),
              expected);
  }
  EXPECT_EQ(LanguageName(0x0414), "Norwegian Bokmål (Norway)");
  EXPECT_EQ(LanguageName(0x1234), "Language Neutral");
}

// Files that are no program files have no version; a large one (as set-ups
// that unpack themselves are) is mapped, not read whole, beyond 32 bits.
TEST(PeVersionTest, OddFiles) {
  TempFolder tmp;
  WriteFile(tmp / "empty.dll", "");
  ASSERT_EQ(::mkfifo((tmp / "pipe.dll").c_str(), 0600), 0);
  WriteFile(tmp / "Setup.exe", ReadFile(PeFile("Merivane.exe")));
  ASSERT_EQ(::truncate((tmp / "Setup.exe").c_str(), (off_t{5} << 30) + 3), 0);
  for (std::string path :
       {PeFile("Strings.dll"), PeFile("NoResources.exe"), tmp / "empty.dll",
        tmp / "pipe.dll", tmp.path(), std::string("/dev/zero")}) {
    EXPECT_FALSE(ReadVersionInfo(path)) << path;
  }
  EXPECT_EQ(ReadVersionInfo(tmp / "Setup.exe")->Fixed().file_version_ms,
            0x00070000u);
}

// Every prefix of a good file gives nothing or the same resource: a cut file
// is never read past its end (the sanitizer build checks the reads).
TEST(PeVersionTest, TruncatedAtEveryOffset) {
  for (const char* file : {"Merivane.exe", "QorinMVCore.dll"}) {
    std::string bytes = ReadFile(PeFile(file));
    std::string_view full = FindVersionResource(bytes).value();
    size_t end = full.data() + full.size() - bytes.data();
    for (size_t n = 0; n < bytes.size(); ++n) {
      std::string prefix = bytes.substr(0, n);  // a copy: overreads show
      ASSERT_EQ(FindVersionResource(prefix).value_or(""), n >= end ? full : "")
          << file << " " << n;
    }
    TempFolder tmp;  // and the mapped file, cut inside the resource
    WriteFile(tmp / "cut.dll", bytes.substr(0, end - 1));
    EXPECT_FALSE(ReadVersionInfo(tmp / "cut.dll")) << file;
  }
}

// The value of a query ("-" for none, "" when no resource is found) after
// one field of Merivane.exe (PE32+, one version resource) is changed.
TEST(PeVersionTest, DamagedFiles) {
  const std::string bytes = ReadFile(PeFile("Merivane.exe"));
  size_t pe = Get(bytes, 0x3C), optional = pe + 24;
  // The cross tools lay the resource directories out one after another.
  size_t section = bytes.find(".rsrc"), types = Get(bytes, section + 20);
  size_t names = types + 24, languages = types + 48, entry = types + 72;
  size_t root = FindVersionResource(bytes)->data() - bytes.data();
  auto node = [&](const std::string& key) {  // its UTF-16 key follows 3 sizes
    std::string utf16;
    for (char c : key + '\0') utf16 += {c, '\0'};
    return bytes.find(utf16) - 6;
  };
  size_t company = node("CompanyName");
  const std::string v7 = "7.0.2016.1122", qorin = "Qorin Software";
  const std::string kCompany = "\\StringFileInfo\\040904B0\\CompanyName";
  struct Case {
    const char* what;
    uint64_t at, value;
    int size;
    std::string expected = "";
    std::string query = "\\StringFileInfo\\040904B0\\FileVersion";
  } cases[] = {
      {"intact", 0, 0x5A4D, 2, v7},
      {"no MZ", 0, 0x5A5A, 2},
      {"PE offset past the end", 0x3C, 0xFFFFFFF0u, 4},
      {"wrong PE signature", pe, 0x5850, 2},
      {"unknown optional header", optional, 0x107, 2},
      {"too few data directories", optional + 108, 2, 4},
      {"optional header too short", pe + 20, 128, 2},
      {"no sections", pe + 6, 0, 2},
      {"resource in no section", optional + 128, 0x9000, 4},
      {"section data past the end", section + 20, ~0u - 255, 4},
      {"section size past the end", section + 16, ~0u, 4, v7},
      {"huge entry count", types + 14, 0xFFFF, 2},
      {"type entry loops to the root", types + 20, 0x80000000u, 4},
      {"name entry loops to itself", names + 20, 0x80000000u | 24, 4},
      {"type entry is a leaf", types + 20, 24, 4},
      {"subdirectory past the section", types + 20, 0x80FFFFF0u, 4},
      {"leaf past the section", languages + 20, 0x7FFFFFF0u, 4},
      {"data in no section", entry, 0x50, 4},
      {"data size past the end", entry + 4, ~0u, 4},
      {"data too small for a node", entry + 4, 4, 4},
      {"root node of length zero", root, 0, 2},
      {"root node longer than the data", root, 0xFFFF, 2, v7},
      {"root key without its end", root, 10, 2},
      // The value starts 32 bytes into the node: "Qorin" becomes a pair of
      // surrogates, "r" and an unpaired one.
      {"outside the basic plane", company + 32, 0xD8000072DE00D83Du, 8,
       "😀r\xEF\xBF\xBDn Software", kCompany},
      {"value length in bytes", company + 2, 30, 2, qorin, kCompany},
      {"child of length zero ends the list", company, 0, 2, "-"},
      {"child longer than its parent", company, 0x4000, 2, qorin, kCompany},
  };
  auto read = [&](size_t at, uint64_t value, int size) {
    std::string patched = bytes;
    Put(patched, at, value, size);
    std::optional<std::string_view> found = FindVersionResource(patched);
    return found ? VersionInfo::FromBlock(*found) : std::nullopt;
  };
  for (const Case& c : cases) {
    std::optional<VersionInfo> info = read(c.at, c.value, c.size);
    EXPECT_EQ(info ? info->QueryString(c.query).value_or("-") : "", c.expected)
        << c.what;
  }
  // A root value one field short of the fixed record; half a translation.
  EXPECT_EQ(read(root + 2, 48, 2)->Fixed().file_version_ms, 0u);
  EXPECT_TRUE(read(node("Translation") + 2, 2, 2)->Translations().empty());
}

// The lines after the header, on the server twice with the same reader (the
// list cleared each time), then on a client, which has no MerivaneLM.exe and
// MerivaneTM.exe.
TEST(CheckSystemTest, ListsEachProgramFile) {
  Installation in;
  for (const char* name :
       {"QorinMVCore.dll", "QorinSetup.dll", "Merivane.exe", "POS.exe"})
    WriteFile(in.sb.app() + "/" + name, ReadFile(PeFile(name)));
  WriteFile(in.sb.app() + "/merivanelm.EXE", ReadFile(PeFile("Languages.dll")));
  WriteFile(in.sb.app() + "/MerivaneTM.exe",
            ReadFile(PeFile("NoResources.exe")));
  Lines expected = {
      "...Checking: QorinMVCore.dll...1.2.3.4",
      "...Checking: QorinSetup.dll...",  // strings under another code page
      "...Checking: Merivane.exe...7.0.2016.1122",
      "...Checking: POS.exe...",  // no translation table, no version text
      "...Checking: MerivaneLM.exe...1.0 (0409)",
      "!!! Checking: MerivaneTM.exe...not found!!!",
      " "};
  FileVersionReader reader;
  for (int run = 0; run < 3; ++run) {
    if (run == 2) {
      in.settings.installation_type = InstallationType::kClient;
      expected.erase(expected.begin() + 4, expected.end() - 1);
    }
    CheckSystemVersion(in.settings, reader, in.log);
    ASSERT_EQ(in.window.lines.size(), expected.size() + 5);
    EXPECT_EQ(Lines(in.window.lines.begin() + 5, in.window.lines.end()),
              expected);
  }
  EXPECT_EQ(in.log.error_lines(), 0);
}

// The stored number in its forms, the advice naming the event log it is
// given; a failure leaves the settings file as it was.
TEST(ResetLastUpdateTest, LowersTheStoredNumber) {
  Installation in;
  const std::string file = in.store.FileFor("Qorin");
  const std::string problem = "!!! Problem with Last Update registry setting\n";
  const std::string error = "!!! Reset Last Update Error: ";
  auto ini = [](const std::string& n) {
    return "[MVUpdate]\nLastUpdateInstalled=" + n + "\n";
  };
  auto lowered = [](const std::string& n) {
    return "...last update reset to " + n +
           "\n \n1. RESTART the PC and try to Update System again.\n2. Start "
           "mvupdate, or run 'mvupdate-cli update' and skip step 3.\n3. Click "
           "Update System "
           "button to redo the update.\n*** Email 'help@example.org' if you "
           "still need help. Attach the \n    log file: "
           "'/srv/x/MVUpEvents.log'.\n \n";
  };
  struct Case {
    std::string file;        // the settings file; "" for none
    std::string lines;       // after the first
    std::string after = "";  // the stored number; "" when it fails
  } cases[] = {
      {"", lowered("-1"), "-1"},
      {ini("abc"), problem + lowered("999"), "999"},
      {ini(" 7 "), lowered("6"), "6"},
      {ini("-2147483647"), lowered("-2147483648"), "-2147483648"},
      {ini("-2147483648"), error + "6-Overflow\n \n"},
      {"garbage\n", problem + error + "75-Path/File access error (" + file +
                        " line 1: expected key=value)\n \n"},
      {ini("42"), error + "70-Permission denied\n \n"},
  };
  FaultEnv refusing;  // the last row's: a file that cannot be written
  refusing.refuse = "settings.ini";
  for (const Case& c : cases) {
    std::filesystem::remove(file);
    if (!c.file.empty()) WriteFile(file, c.file);
    in.window.lines.clear();
    int errors = in.log.error_lines();
    SettingsStore store(in.sb.config_home(),
                        &c == std::end(cases) - 1 ? refusing : Env::Default());
    ResetLastUpdate(store, in.log, "/srv/x/MVUpEvents.log", "help@example.org");
    EXPECT_EQ(Joined(in.window.lines), "[Reset Last Update]\n" + c.lines);
    EXPECT_EQ(in.log.error_lines() - errors, c.after.empty() ? 1 : 0);
    EXPECT_EQ(c.after.empty()
                  ? ReadFile(file)
                  : std::to_string(ReadLastUpdateInstalled(in.store).value()),
              c.after.empty() ? c.file : c.after);
  }
}

// Every property, or why there are none. A fresh reader per file: nothing of
// Font.dll shows for POS.exe. A relative path counts from the current
// directory (the Download folder), names match without regard to case.
TEST(VersionReportTest, ListsEveryPropertyOrSaysWhy) {
  Installation in;
  const Lines& lines = in.window.lines;
  WriteFile(in.sb.app() + "/Merivane.exe", ReadFile(PeFile("Merivane.exe")));
  for (std::string path : {PeFile("Font.dll"), PeFile("POS.exe"),
                           std::string("./..//MERIVANE.EXE"),
                           in.sb.root() + "/missing.dll", in.sb.root()})
    ShowFileVersion(in.log, path);
  ASSERT_EQ(lines.size(), 83u);
  EXPECT_EQ(lines[33] + lines[34], "FILE SUBTYPE     : LANGUAGE         : ");
  EXPECT_EQ(lines[51], "FULL PATH NAME   : " + in.sb.app() + "/Merivane.exe");
  EXPECT_EQ(lines[55], "FILE FLAGS       : Debug Special");
  EXPECT_EQ(lines[73], "LEGALTRADEMARKS2 : second mark");
  EXPECT_EQ(lines[77], "!!! " + in.sb.root() + "/missing.dll...not found!!!");
  EXPECT_EQ(lines[81], "!!! " + in.sb.root() + "...no version information!!!");
  EXPECT_EQ(in.log.error_lines(), 2);
}

}  // namespace
}  // namespace mv
