#include "update/command_interpreter.h"
#include "update/installation.h"
#include "update/update_detection.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

class InterpreterTest : public InstallationTest {
 protected:
  // Runs one line; gives its result. Its lines are in window_.lines.
  bool Execute(std::string line) {
    window_.lines.clear();
    return ExecuteCommandLine(form_, line);
  }
  // Writes the update control file of the current flavour.
  void WriteControlFile(const std::string& text) {
    WriteFile((form_.ServerFlavour() ? Download() : Update()) + "/MVUpdate.dat",
              text);
  }
  void Store(const std::string& value) {
    SettingsStore(sb_.config_home())
        .SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", value);
  }
  std::string Stored() {
    return SettingsStore(sb_.config_home())
        .GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "")
        .value();
  }
};

// Keywords, argument positions and the lines they write after the COMMAND
// line, with every level shown (VerbosityLevel 3).
TEST_F(InterpreterTest, KeywordsAndTheirLines) {
  form_.settings.VerbosityLevel = 3;
  WriteFile(Download() + "/old1.tmp", "");
  WriteFile(Download() + "/OLD2.TMP", "");
  struct Case {
    std::string line;
    Lines lines;
    bool ok;
  } cases[] = {
      {"    ", {"Blank line so do nothing."}, true},
      {"' a", {"Internal comment - ignore this line."}, true},
      {"usercomment=Hi", {"Display the user comment.", "   Hi"}, true},
      {"PROMPT=N?", {"Prompt for user input-NOT WORKING YET."}, true},
      {"FROBNICATE x", {}, true},
      {"COPY", {"Copy File.", "5-Invalid procedure call or argument"}, false},
      {"DELETE *.tmp", {"Delete *.tmp"}, true},
      {"DELETE *.tmp", {"Delete *.tmp", "53-File not found"}, false},
      {"mkdir  Two", {"Make directory  Two"}, true},
      {"MKDIR  Two", {"Make directory  Two", "58-File already exists"}, false},
      {"RUN no.exe",
       {"Run no.exe", "53-File not found", "Shell: Failed. "},
       false},
  };
  for (Case& c : cases) {
    EXPECT_EQ(Execute(c.line), c.ok) << c.line;
    c.lines.insert(c.lines.begin(), "COMMAND: " + c.line);
    EXPECT_EQ(window_.lines, c.lines);
  }
  // The second blank became part of the argument.
  EXPECT_TRUE(fs::is_directory(Download() + "/ Two"));

  // Hostile names give error lines.
  form_.settings.VerbosityLevel = 2;
  for (const std::string& line :
       {std::string("DELETE a\0/../*", 14), "MKDIR " + std::string(300, 'n'),
        std::string("RUN a\0b", 7)}) {
    EXPECT_FALSE(Execute(line));
    EXPECT_EQ(window_.lines.at(1), "52-Bad file name or number");
  }
  // The user comment is not written to the event log; the COMMAND line is.
  Execute("USERCOMMENT=Hi");
  std::string log = ReadFile(sb_.event_log());
  EXPECT_NE(log.find("\tCOMMAND: USERCOMMENT=Hi\r\n"), std::string::npos);
  EXPECT_EQ(log.find("\t   Hi"), std::string::npos);
}

TEST_F(InterpreterTest, ChangeDirectoryMakesAMissingFolder) {
  EXPECT_FALSE(Execute("CHDIR Fresh"));
  EXPECT_EQ(window_.lines,
            (Lines{"COMMAND: CHDIR Fresh", "76-Path not found"}));
  EXPECT_EQ(fs::current_path(), Download() + "/Fresh");
  EXPECT_TRUE(Execute("chdir ..\\..\\Update"));
  EXPECT_EQ(fs::current_path(), Update());
  // Only the last level is made.
  EXPECT_FALSE(Execute("CHDIR A\\B"));
  EXPECT_EQ(window_.lines, (Lines{"COMMAND: CHDIR A\\B", "76-Path not found",
                                  "76-Path not found", "76-Path not found"}));
  EXPECT_EQ(fs::current_path(), Update());
}

TEST_F(InterpreterTest, CopySplitsFolderPatternAndDestination) {
  for (const char* f : {"Drop/a.dll", "Drop/B.DLL", "Drop/c.txt", "site.ini"}) {
    WriteFile(Download() + "/" + f, "x");
  }
  fs::create_directories(Download() + "/Bin");
  fs::create_directories(Download() + "/Config");
  for (const std::string& line : {std::string("COPY Drop\\*.dll Bin\\"),
                                  std::string("COPY   *.ini Config  "),
                                  "COPY " + Download() + "/Drop\\c.txt Bin"}) {
    EXPECT_TRUE(Execute(line)) << line;
    EXPECT_EQ(window_.lines.size(), 1u) << line;
  }
  for (const char* f :
       {"Bin/a.dll", "Bin/B.DLL", "Config/site.ini", "Bin/c.txt"}) {
    EXPECT_TRUE(fs::exists(Download() + "/" + f)) << f;
  }
  // A destination that does not exist: each file fails on its own.
  EXPECT_FALSE(Execute("COPY Drop\\*.dll Nowhere\\"));
  EXPECT_EQ(window_.lines, (Lines{"COMMAND: COPY Drop\\*.dll Nowhere\\",
                                  "76-Path not found", "76-Path not found"}));
}

TEST_F(InterpreterTest, DownloadToClientFailures) {
  form_.settings.InstallationType = 1;
  fs::create_directories(sb_.unc_root() + "/SRV01/MVUpdate");
  EXPECT_FALSE(Execute("DOWNLOAD Missing.zip"));
  EXPECT_EQ(window_.lines,
            (Lines{"COMMAND: DOWNLOAD Missing.zip", "53-File not found",
                   "Download to Client: Failed. "}));
  form_.settings.ServerName = "GONE";
  EXPECT_FALSE(Execute("DOWNLOAD Patch7.zip"));
  EXPECT_EQ(window_.lines[1], "75-Path/File access error");
}

TEST_F(InterpreterTest, CheckForNewUpdate) {
  const Lines kNew = {"Checking for a new update.",
                      "   A new update is available.", " "};
  const Lines kUpToDate = {"Checking for a new update.",
                           "   This system is up-to-date.", " "};
  const Lines kNone = {"Checking for a new update.", " "};
  struct Case {
    std::optional<std::string> stored;
    std::optional<std::string> first_line;  // of the file, when there is one
    Lines lines;
  } cases[] = {
      {"5", "LASTUPDATE=7", kNew},
      {"7", "LASTUPDATE=7", kUpToDate},
      {"9", "lastupdate=10", kNew},  // numeric, not textual
      {"0", "[UPDATE 5]", kNone},
      {"0", " LASTUPDATE=9", kNone},
      {"0", "LASTUPDATE=\t4]", kNew},
      {"abc", "LASTUPDATE=7", {kNone[0], "13-Type mismatch", " "}},
      {"0", "LASTUPDATE=99999999999", {kNone[0], "6-Overflow", " "}},
      {"0", std::nullopt, {kNone[0], "53-File not found", " "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first_line.value_or("no file"));
    window_.lines.clear();
    fs::remove_all(sb_.config_home());
    fs::remove(Download() + "/MVUpdate.dat");
    if (c.stored) Store(*c.stored);
    if (c.first_line) WriteControlFile(*c.first_line + "\r\n[UPDATE 1]\r\n");
    EXPECT_EQ(CheckForNewUpdate(form_), c.lines == kNew);
    EXPECT_EQ(window_.lines, c.lines);
  }
}

// Stored 5, sections 5, 6 and 7 on a client. USERCOMMENT lines show which
// lines ran.
TEST_F(InterpreterTest, InstallsNewerSectionsWithTheirBlocks) {
  form_.settings.InstallationType = 1;
  Store("5");
  WriteControlFile(
      "LASTUPDATE=7\r\nUSERCOMMENT=before any section\r\n"
      "[UPDATE 5]\r\nUSERCOMMENT=five\r\n"
      "[UPDATE 6]\r\nUSERCOMMENT=six\r\n{SERVER}\r\nUSERCOMMENT=server\r\n"
      "[UPDATE 7]\r\n{CLIENT} rest ignored\r\nUSERCOMMENT=client\r\n");
  ProcessUpdateControlFile(form_);
  Lines shown;
  for (const std::string& l : window_.lines) {
    if (l.rfind("COMMAND: ", 0) != 0) shown.push_back(l);
  }
  EXPECT_EQ(shown, (Lines{"Processing update control file.",
                          "   Installing update 6...", "   six",
                          "   Update 6 installed.", "   Installing update 7...",
                          "   client", "   Update 7 installed.",
                          "Processing of update control file complete."}));
  EXPECT_EQ(Stored(), "7");
  EXPECT_EQ(fs::current_path(), Update());
}

TEST_F(InterpreterTest, HeaderNumbers) {
  struct Case {
    const char* header;
    bool installed;
  } cases[] = {
      {"[update 9]", true},    {"[UPDATE  9]", true},
      {" [UPDATE 9]", true},   {"[UPDATE9]", false},
      {"  [UPDATE 9]", false}, {"\t[UPDATE 9]", true},  // tabs go first
      {"[UPDATE 9.5]", true},                           // rounds to 10
  };
  for (const Case& c : cases) {
    Store("8");
    WriteControlFile(std::string("LASTUPDATE=9\r") + c.header +
                     "\rUSERCOMMENT=ran\r");
    window_.lines.clear();
    ProcessUpdateControlFile(form_);
    EXPECT_EQ(Shown("   ran") || Stored() != "8", c.installed) << c.header;
  }
}

TEST_F(InterpreterTest, OrderOfSectionsAndFailures) {
  Store("6");
  WriteControlFile(
      "LASTUPDATE=8\r\n[UPDATE 8]\r\nDELETE nothing.*\r\n[UPDATE 7]\r\n"
      "USERCOMMENT=seven\r\n");
  ProcessUpdateControlFile(form_);
  // 8 is installed although its command failed; 7 is not above 8.
  EXPECT_EQ(Stored(), "8");
  EXPECT_TRUE(Shown("Command failed. ") && Shown("DELETE nothing.*"));
  EXPECT_FALSE(Shown("   seven"));

  // A header too large ends the run after the sections recorded.
  Store("0");
  WriteControlFile(
      "LASTUPDATE=3\r[UPDATE 1]\rUSERCOMMENT=one\r[UPDATE 99999999999]\r"
      "[UPDATE 3]\rUSERCOMMENT=three\r");
  ProcessUpdateControlFile(form_);
  EXPECT_EQ(Stored(), "1");
  EXPECT_EQ(form_.settings.LastError, "********** ERROR:6-Overflow");
  EXPECT_EQ(window_.lines.back(),
            "Processing of update control file complete.");
}

}  // namespace
}  // namespace mv
