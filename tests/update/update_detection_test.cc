#include "update/update_detection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "update/interpreter_fixture.h"

namespace mv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class DetectionTest : public InstallationTest {
 protected:
  // Writes the update control file of the current flavour.
  void WriteControlFile(const std::string& text) {
    WriteFile(
        (form_->ServerFlavour() ? Download() : Update()) + "/MVUpdate.dat",
        text);
  }
  void Store(const std::string& value) {
    ASSERT_TRUE(
        form_->settings_store
            .SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", value)
            .ok());
  }
  std::string Stored() {
    return form_->settings_store
        .GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "absent")
        .value();
  }
  // The list lines without the COMMAND lines.
  Lines Shown() {
    Lines out;
    for (const std::string& l : window_.lines) {
      if (l.rfind("COMMAND: ", 0) != 0) out.push_back(l);
    }
    return out;
  }
};

TEST_F(DetectionTest, CheckForNewUpdate) {
  struct Case {
    const char* what;
    std::optional<std::string> stored;
    std::string first_line;
    bool result;
    Lines lines;
  } cases[] = {
      {"newer",
       "5",
       "LASTUPDATE=7",
       true,
       {"Checking for a new update.", "   A new update is available.", " "}},
      {"same",
       "7",
       "LASTUPDATE=7",
       false,
       {"Checking for a new update.", "   This system is up-to-date.", " "}},
      {"numeric, not textual",
       "9",
       "lastupdate=10",
       true,
       {"Checking for a new update.", "   A new update is available.", " "}},
      {"nothing stored",
       std::nullopt,
       "LASTUPDATE=1",
       true,
       {"Checking for a new update.", "   A new update is available.", " "}},
      {"not an announcement",
       "0",
       "[UPDATE 5]",
       false,
       {"Checking for a new update.", " "}},
      {"announcement not in column 1",
       "0",
       " LASTUPDATE=9",
       false,
       {"Checking for a new update.", " "}},
      {"tab kept in the first line",
       "0",
       "LASTUPDATE=\t4]",
       true,
       {"Checking for a new update.", "   A new update is available.", " "}},
      {"stored text is no number",
       "abc",
       "LASTUPDATE=7",
       false,
       {"Checking for a new update.", "13-Type mismatch", " "}},
      {"announcement too large",
       "0",
       "LASTUPDATE=99999999999",
       false,
       {"Checking for a new update.", "6-Overflow", " "}},
  };
  for (const Case& c : cases) {
    window_.lines.clear();
    fs::remove_all(sb_.config_home());
    if (c.stored) Store(*c.stored);
    WriteControlFile(c.first_line + "\r\n[UPDATE 1]\r\n");
    EXPECT_EQ(CheckForNewUpdate(*form_), c.result) << c.what;
    EXPECT_EQ(window_.lines, c.lines) << c.what;
  }
}

TEST_F(DetectionTest, MissingControlFile) {
  EXPECT_FALSE(CheckForNewUpdate(*form_));
  EXPECT_EQ(form_->settings.LastError, "********** ERROR:53-File not found");
  window_.lines.clear();
  ProcessUpdateControlFile(*form_);
  EXPECT_EQ(window_.lines,
            (Lines{"Processing update control file.", "53-File not found",
                   "Processing of update control file complete."}));
}

// The worked example: stored 5, sections 5, 6 and 7, on each installation
// type. USERCOMMENT lines show which lines ran.
TEST_F(DetectionTest, InstallsNewerSectionsWithTheirBlocks) {
  const std::string file =
      "LASTUPDATE=7\r\n"
      "USERCOMMENT=before any section\r\n"
      "[UPDATE 5]\r\n"
      "USERCOMMENT=five\r\n"
      "[UPDATE 6]\r\n"
      "USERCOMMENT=six\r\n"
      "{SERVER}\r\n"
      "USERCOMMENT=six on the server\r\n"
      "[UPDATE 7]\r\n"
      "{CLIENT} rest ignored\r\n"
      "USERCOMMENT=seven on a client\r\n";
  struct Case {
    int32_t type;
    Lines lines;
  } cases[] = {
      {0,
       {"Processing update control file.", "   Installing update 6...",
        "   six", "   six on the server", "   Update 6 installed.",
        "   Installing update 7...", "   Update 7 installed.",
        "Processing of update control file complete."}},
      {1,
       {"Processing update control file.", "   Installing update 6...",
        "   six", "   Update 6 installed.", "   Installing update 7...",
        "   seven on a client", "   Update 7 installed.",
        "Processing of update control file complete."}},
  };
  for (const Case& c : cases) {
    window_.lines.clear();
    form_->settings.InstallationType = c.type;
    Store("5");
    WriteControlFile(file);
    ProcessUpdateControlFile(*form_);
    // Recording replaces whatever came last: without a database that is
    // the database's own failure line.
    EXPECT_EQ(Shown(), c.lines) << "type " << c.type;
    EXPECT_EQ(Stored(), "7");
    EXPECT_EQ(fs::current_path(), c.type == 0 ? Download() : Update());
  }
}

TEST_F(DetectionTest, HeaderNumbers) {
  struct Case {
    const char* header;
    bool installed;
  } cases[] = {
      {"[update 9]", true},
      {"[UPDATE  9]", true},
      {" [UPDATE 9]", true},
      {"[UPDATE9]", false},
      {"  [UPDATE 9]", false},
      {"\t[UPDATE 9]", true},  // tabs go before the position is counted
      {"[UPDATE 9.5]", true},  // rounds to 10
  };
  for (const Case& c : cases) {
    Store("8");
    WriteControlFile(std::string("LASTUPDATE=9\r") + c.header +
                     "\rUSERCOMMENT=ran\r");
    window_.lines.clear();
    ProcessUpdateControlFile(*form_);
    bool ran = std::find(window_.lines.begin(), window_.lines.end(),
                         "   ran") != window_.lines.end() ||
               Stored() != "8";
    EXPECT_EQ(ran, c.installed) << c.header;
  }
}

TEST_F(DetectionTest, OrderOfSectionsAndFailedCommands) {
  Store("6");
  WriteControlFile(
      "LASTUPDATE=8\r\n[UPDATE 8]\r\nDELETE nothing.*\r\n[UPDATE 7]\r\n"
      "USERCOMMENT=seven\r\n");
  ProcessUpdateControlFile(*form_);
  // 8 is installed although its command failed; 7 is not above 8.
  EXPECT_EQ(Stored(), "8");
  EXPECT_NE(
      std::find(window_.lines.begin(), window_.lines.end(), "Command failed. "),
      window_.lines.end());
  EXPECT_NE(
      std::find(window_.lines.begin(), window_.lines.end(), "DELETE nothing.*"),
      window_.lines.end());
  EXPECT_EQ(std::find(window_.lines.begin(), window_.lines.end(), "   seven"),
            window_.lines.end());
}

TEST_F(DetectionTest, HeaderOverflowEndsTheRunAfterRecordedSections) {
  Store("0");
  WriteControlFile(
      "LASTUPDATE=3\r[UPDATE 1]\rUSERCOMMENT=one\r[UPDATE 99999999999]\r"
      "[UPDATE 3]\rUSERCOMMENT=three\r");
  ProcessUpdateControlFile(*form_);
  EXPECT_EQ(Stored(), "1");
  EXPECT_EQ(form_->settings.LastError, "********** ERROR:6-Overflow");
  EXPECT_EQ(window_.lines.back(),
            "Processing of update control file complete.");
}

TEST_F(DetectionTest, SettingsWriteFailureStopsRecording) {
  Store("0");
  WriteControlFile(
      "LASTUPDATE=2\r[UPDATE 1]\rUSERCOMMENT=one\r[UPDATE 2]\r"
      "USERCOMMENT=two\r");
  ::chmod((sb_.config_home() + "/Qorin").c_str(), 0500);
  {
    ScopedUnprivileged unprivileged;
    ProcessUpdateControlFile(*form_);
  }
  ::chmod((sb_.config_home() + "/Qorin").c_str(), 0700);
  EXPECT_EQ(Stored(), "0");
  EXPECT_EQ(form_->settings.LastError, "********** ERROR:70-Permission denied");
  // Update 2 was never started.
  EXPECT_EQ(std::find(window_.lines.begin(), window_.lines.end(), "   two"),
            window_.lines.end());
}

}  // namespace
}  // namespace mv
