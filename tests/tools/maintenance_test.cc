#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "app/form.h"
#include "app/startup.h"
#include "support/recording_window.h"
#include "support/sandbox.h"
#include "system/files.h"
#include "system/paths.h"
#include "tools/check_system.h"
#include "tools/file_version.h"
#include "tools/reset_last_update.h"
#include "tools/version_report.h"

namespace mv {
namespace {

std::string PeFile(const std::string& name) {
  return std::string(MVUPDATE_TEST_PE_DIR) + "/" + name;
}

const std::vector<std::string> kCheckHeader = {
    "[Check System Version]",
    "The Merivane files will be checked. The version of each file should ",
    "match the other files.  The version should match the version you "
    "downloaded. ",
    "If they don't, click the 'Reset Last Update' button to redo the update. ",
    " "};

std::vector<std::string> Concat(std::vector<std::string> a,
                                const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(CheckSystemTest, ListsEachProgramFile) {
  struct Case {
    const char* what;
    int32_t installation_type;
    std::vector<std::pair<std::string, std::string>> files;  // name, source
    std::vector<std::string> lines;
  } cases[] = {
      {"server",
       0,
       {{"QorinMVCore.dll", "QorinMVCore.dll"},
        {"QorinSetup.dll", "QorinSetup.dll"},
        {"Merivane.exe", "Merivane.exe"},
        {"POS.exe", "POS.exe"},
        {"merivanelm.EXE", "Languages.dll"}},
       {"...Checking: QorinMVCore.dll...1.2.3.4",
        "...Checking: QorinSetup.dll...",  // strings under another code page
        "...Checking: Merivane.exe...7.0.2016.1122",
        // No translation table: no version text, not Merivane.exe's.
        "...Checking: POS.exe...", "...Checking: MerivaneLM.exe...1.0 (0409)",
        "!!! Checking: MerivaneTM.exe...not found!!!", " "}},
      {"client, a file without version resource",
       1,
       {{"QorinMVCore.dll", "NoResources.exe"},
        {"Merivane.exe", "Merivane.exe"},
        {"MerivaneLM.exe", "Merivane.exe"}},
       {"!!! Checking: QorinMVCore.dll...not found!!!",
        "!!! Checking: QorinSetup.dll...not found!!!",
        "...Checking: Merivane.exe...7.0.2016.1122",
        "!!! Checking: POS.exe...not found!!!", " "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sb;
    for (const auto& [name, source] : c.files) {
      WriteFile(sb.app() + "/" + name, ReadFile(PeFile(source)));
    }
    RecordingWindow window;
    Form form(window, sb.config());
    form.settings.ApplicationPath = sb.app();
    form.settings.InstallationType = c.installation_type;
    form.settings.LastError = "left over";
    window.AddLine("an earlier line");
    for (int run = 0; run < 2; ++run) {
      CheckSystemVersion(form);
      EXPECT_EQ(window.lines, Concat(kCheckHeader, c.lines)) << run;
    }
    EXPECT_EQ(form.settings.LastError, "");
    EXPECT_EQ(form.error_lines, 0);
    EXPECT_TRUE(form.file_version);
  }
}

std::optional<std::string> Stored(const Form& form) {
  Result<std::string> v = form.settings_store.GetSetting(
      "Qorin", "MVUpdate", "LastUpdateInstalled", "<absent>");
  if (!v.ok()) return std::nullopt;
  return v.value();
}

TEST(ResetLastUpdateTest, LowersTheStoredNumber) {
  const std::string kWarning = "!!! Problem with Last Update registry setting";
  struct Case {
    std::optional<std::string> stored;
    std::string after;
    bool warning;
  } cases[] = {
      {std::nullopt, "-1", false},
      {"abc", "999", true},
      {" 7 ", "6", false},
      {"-2147483647", "-2147483648", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored.value_or("<absent>"));
    Sandbox sb;
    RecordingWindow window;
    Form form(window, sb.config());
    if (c.stored) {
      ASSERT_TRUE(form.settings_store
                      .SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled",
                                   *c.stored)
                      .ok());
    }
    ResetLastUpdate(form);
    EXPECT_EQ(Stored(form), c.after);
    EXPECT_EQ(window.lines.at(1) == kWarning, c.warning);
    EXPECT_EQ(window.lines.at(c.warning ? 2 : 1),
              "...last update reset to " + c.after);
    EXPECT_EQ(form.error_lines, 0);
  }
}

TEST(ResetLastUpdateTest, AdviceNamesSupportAndThisInstallationsLog) {
  Sandbox sb;
  sb.env().Set("MVUPDATE_SUPPORT_EMAIL", "help@example.org");
  RecordingWindow window;
  Form form(window, sb.config());
  StartUp(form);
  // The file as it lies on disk, whatever case the folder was made in.
  std::string log = ResolveCase(sb.event_log());
  ASSERT_TRUE(PathExists(log));
  ASSERT_TRUE(form.settings_store
                  .SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "42")
                  .ok());
  for (std::string after : {"41", "40"}) {
    ResetLastUpdate(form);
    EXPECT_EQ(window.lines,
              (std::vector<std::string>{
                  "[Reset Last Update]", "...last update reset to " + after,
                  " ", "1. RESTART the PC and try to Update System again.",
                  "2. Run the MVUpdate.exe or MVUpdate2.exe program.",
                  "3. Click Update System button to redo the update.",
                  "*** Email 'help@example.org' if you still need help. "
                  "Attach the ",
                  "    log file: '" + log + "'.", " "}));
  }
  EXPECT_EQ(Stored(form), "40");
  EXPECT_NE(ReadFile(log).find("M\t...last update reset to 40\r\n"),
            std::string::npos);
}

TEST(ResetLastUpdateTest, FailuresTakeTheErrorPath) {
  Sandbox sb;
  const std::string folder = sb.config_home() + "/Qorin";
  const std::string error = "!!! Reset Last Update Error: ";
  struct Case {
    const char* what;
    std::string file_text;  // the settings file
    bool read_only;
    std::vector<std::string> lines;
  } cases[] = {
      {"overflow",
       "[MVUpdate]\nLastUpdateInstalled=-2147483648\n",
       false,
       {"[Reset Last Update]", error + "6-Overflow", " "}},
      // Such a file is never overwritten.
      {"file that cannot be parsed",
       "garbage\n",
       false,
       {"[Reset Last Update]", "!!! Problem with Last Update registry setting",
        error + "75-Path/File access error (" + folder +
            "/settings.ini line 1: expected key=value)",
        " "}},
      {"store cannot be written",
       "[MVUpdate]\nLastUpdateInstalled=42\n",
       true,
       {"[Reset Last Update]", error + "70-Permission denied", " "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(folder + "/settings.ini", c.file_text);
    RecordingWindow window;
    Form form(window, sb.config());
    if (c.read_only) {
      // Readable by anyone, writable by no one.
      ::chmod(sb.root().c_str(), 0755);
      ::chmod(sb.config_home().c_str(), 0755);
      ::chmod(folder.c_str(), 0555);
      ScopedUnprivileged unprivileged;
      ResetLastUpdate(form);
    } else {
      ResetLastUpdate(form);
    }
    EXPECT_EQ(window.lines, c.lines);
    EXPECT_EQ(form.settings.LastError, c.lines[c.lines.size() - 2]);
    EXPECT_EQ(form.error_lines, 1);
    EXPECT_EQ(ReadFile(folder + "/settings.ini"), c.file_text);
  }
}

TEST(VersionReportTest, ListsEveryPropertyOrSaysWhy) {
  TempFolder tmp;
  RecordingWindow window;
  Form form(window, FormConfig{tmp / "registry.reg", tmp / "config"});
  ShowFileVersion(form, PeFile("QorinMVCore.dll"));
  ASSERT_EQ(window.lines.size(), 25u);
  EXPECT_EQ(window.lines[0], "[File Version]");
  EXPECT_EQ(window.lines[1], "FULL PATH NAME   : " + PeFile("QorinMVCore.dll"));
  EXPECT_EQ(window.lines[12], "FILE DESCRIPTION : Merivane core");
  EXPECT_EQ(window.lines[23], "LEGALTRADEMARKS2 : ");
  EXPECT_EQ(window.lines[24], " ");
  EXPECT_EQ(form.error_lines, 0);

  window.lines.clear();
  ShowFileVersion(form, PeFile("Font.dll"));
  ShowFileVersion(form, PeFile("POS.exe"));
  // A fresh reader per file: nothing of Font.dll shows for POS.exe.
  EXPECT_EQ(window.lines[33], "FILE SUBTYPE     : ");
  EXPECT_EQ(window.lines[34], "LANGUAGE         : ");

  window.lines.clear();
  ShowFileVersion(form, tmp / "missing.dll");
  ShowFileVersion(form, tmp.path());
  EXPECT_EQ(window.lines,
            (std::vector<std::string>{
                "[File Version]", "FULL PATH NAME   : " + tmp / "missing.dll",
                "!!! " + tmp / "missing.dll" + "...not found!!!", " ",
                "[File Version]", "FULL PATH NAME   : " + tmp.path(),
                "!!! " + tmp.path() + "...no version information!!!", " "}));
  EXPECT_EQ(form.error_lines, 2);
}

}  // namespace
}  // namespace mv
