#include "update/command_interpreter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "system/files.h"
#include "update/interpreter_fixture.h"

namespace mv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class CommandTest : public InstallationTest {
 protected:
  // Runs one line; gives its result and the list lines it added.
  bool Execute(std::string line) {
    window_.lines.clear();
    return ExecuteCommandLine(*form_, line);
  }
};

// Keywords, argument positions and the lines they write, with every level
// shown (VerbosityLevel 3).
TEST_F(CommandTest, KeywordsAndTheirLines) {
  form_->settings.VerbosityLevel = 3;
  struct Case {
    std::string line;
    Lines lines;
    bool result;
  } cases[] = {
      {"", {"COMMAND: ", "Blank line so do nothing."}, true},
      {"    ", {"COMMAND:     ", "Blank line so do nothing."}, true},
      {"' a note",
       {"COMMAND: ' a note", "Internal comment - ignore this line."},
       true},
      {"usercomment=Please restart the till",
       {"COMMAND: usercomment=Please restart the till",
        "Display the user comment.", "   Please restart the till"},
       true},
      {"PROMPT=Name?",
       {"COMMAND: PROMPT=Name?", "Prompt for user input-NOT WORKING YET."},
       true},
      {"RUN", {"COMMAND: RUN"}, true},
      {"FROBNICATE x", {"COMMAND: FROBNICATE x"}, true},
      {"UNZIP Patch12.zip",
       {"COMMAND: UNZIP Patch12.zip", "Unzip Patch12.zip"},
       true},
      {"ZIP   Out.zip  ", {"COMMAND: ZIP   Out.zip  ", "Zip Out.zip"}, true},
      {"COPY nothing", {"COMMAND: COPY nothing", "Copy File."}, true},
      {"COPY",
       {"COMMAND: COPY", "Copy File.", "5-Invalid procedure call or argument"},
       false},
      {"DELETE *.none",
       {"COMMAND: DELETE *.none", "Delete *.none", "53-File not found"},
       false},
      {"MKDIR Sub", {"COMMAND: MKDIR Sub", "Make directory Sub"}, true},
      {"MKDIR Sub",
       {"COMMAND: MKDIR Sub", "Make directory Sub", "58-File already exists"},
       false},
      {"mkdir  Two", {"COMMAND: mkdir  Two", "Make directory  Two"}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Execute(c.line), c.result) << c.line;
    EXPECT_EQ(window_.lines, c.lines) << c.line;
  }
  EXPECT_TRUE(fs::is_directory(Download() + "/Sub"));
  // The second blank became part of the argument.
  EXPECT_TRUE(fs::is_directory(Download() + "/ Two"));
}

TEST_F(CommandTest, NormalLevelShowsCommandsUserCommentsAndFailures) {
  struct Case {
    std::string line;
    Lines lines;
  } cases[] = {
      {"USERCOMMENT=Hi", {"COMMAND: USERCOMMENT=Hi", "   Hi"}},
      {"' note", {"COMMAND: ' note"}},
      {"DELETE x.*", {"COMMAND: DELETE x.*", "53-File not found"}},
  };
  for (const Case& c : cases) {
    Execute(c.line);
    EXPECT_EQ(window_.lines, c.lines) << c.line;
  }
  // The user comment is not written to the event log; the COMMAND line is.
  std::string log = ReadFile(sb_.event_log());
  EXPECT_NE(log.find("\tCOMMAND: USERCOMMENT=Hi\r\n"), std::string::npos);
  EXPECT_EQ(log.find("\t   Hi"), std::string::npos);
}

TEST_F(CommandTest, LineIsCleanedForTheCaller) {
  std::string line = "  \tDOWNLOAD\tPatch.zip  ";
  ClientInstallation();
  ExecuteCommandLine(*form_, line);
  EXPECT_EQ(line, "DOWNLOADPatch.zip");
  EXPECT_EQ(window_.lines.front(), "COMMAND:   \tDOWNLOAD\tPatch.zip  ");
  // Blanks next to a tab at the ends survive: trimming comes first.
  line = "\t USERCOMMENT=x \t";
  ExecuteCommandLine(*form_, line);
  EXPECT_EQ(line, " USERCOMMENT=x ");
}

TEST_F(CommandTest, ChangeDirectoryMakesAMissingFolder) {
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

TEST_F(CommandTest, CopySplitsFolderPatternAndDestination) {
  fs::create_directories(Download() + "/Drop");
  fs::create_directories(Download() + "/Bin");
  fs::create_directories(Download() + "/Config");
  WriteFile(Download() + "/Drop/a.dll", "a");
  WriteFile(Download() + "/Drop/B.DLL", "b");
  WriteFile(Download() + "/Drop/.hidden.dll", "h");
  WriteFile(Download() + "/Drop/c.txt", "c");
  WriteFile(Download() + "/site.ini", "i");
  struct Case {
    std::string line;
    Lines created;
  } cases[] = {
      {"COPY Drop\\*.dll Bin\\", {"Bin/a.dll", "Bin/B.DLL"}},
      {"COPY   *.ini Config  ", {"Config/site.ini"}},
      {"COPY " + Download() + "/Drop\\c.txt Bin", {"Bin/c.txt"}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(Execute(c.line)) << c.line;
    EXPECT_EQ(window_.lines.size(), 1u) << c.line;
    for (const std::string& f : c.created) {
      EXPECT_TRUE(fs::exists(Download() + "/" + f)) << c.line << " " << f;
    }
  }
  EXPECT_FALSE(fs::exists(Download() + "/Bin/.hidden.dll"));
  // The split lands on the backslash of the destination: nothing is copied.
  fs::remove_all(Download() + "/Bin");
  fs::create_directories(Download() + "/Bin");
  EXPECT_TRUE(Execute("COPY Drop\\*.dll D:\\Bin"));
  EXPECT_TRUE(fs::is_empty(Download() + "/Bin"));
  // A destination that does not exist: each file fails on its own.
  EXPECT_FALSE(Execute("COPY Drop\\*.dll Nowhere\\"));
  EXPECT_EQ(window_.lines, (Lines{"COMMAND: COPY Drop\\*.dll Nowhere\\",
                                  "76-Path not found", "76-Path not found"}));
  // A source folder that does not exist matches nothing.
  EXPECT_TRUE(Execute("COPY Missing\\*.dll Bin\\"));
  EXPECT_EQ(window_.lines.size(), 1u);
}

TEST_F(CommandTest, DeleteByPattern) {
  WriteFile(Download() + "/old1.tmp", "");
  WriteFile(Download() + "/OLD2.TMP", "");
  WriteFile(Download() + "/keep.txt", "");
  EXPECT_TRUE(Execute("DELETE *.tmp"));
  EXPECT_FALSE(fs::exists(Download() + "/old1.tmp"));
  EXPECT_FALSE(fs::exists(Download() + "/OLD2.TMP"));
  EXPECT_TRUE(fs::exists(Download() + "/keep.txt"));
}

TEST_F(CommandTest, RunStartsAProgramAndWaits) {
  WriteFile(Download() + "/setup.sh", "#!/bin/sh\necho \"$@\" > marker.txt\n");
  form_->settings.VerbosityLevel = 3;
  EXPECT_TRUE(Execute("RUN setup.sh /quiet \"two words\""));
  EXPECT_EQ(window_.lines,
            (Lines{"COMMAND: RUN setup.sh /quiet \"two words\"",
                   "Run setup.sh /quiet \"two words\"", "SECONDS: 0.2",
                   "Timer Enabled for wait period. ",
                   "Timer Disabled for wait period. "}));
  EXPECT_EQ(ReadFile(Download() + "/marker.txt"), "/quiet two words\n");

  EXPECT_FALSE(Execute("RUN missing.exe"));
  EXPECT_EQ(window_.lines, (Lines{"COMMAND: RUN missing.exe", "Run missing.exe",
                                  "53-File not found", "Shell: Failed. "}));
}

TEST_F(CommandTest, UnzipExtractsIntoTheFlavoursFolder) {
  struct Case {
    bool server;
    std::string destination;
  } cases[] = {{true, "/Download"}, {false, "/Update"}};
  for (const Case& c : cases) {
    form_->settings.InstallationType = c.server ? 0 : 1;
    Execute("UNZIP Patch12.zip *.*");
    ASSERT_GE(window_.lines.size(), 2u);
    EXPECT_EQ(window_.lines[1],
              "DESTINATION      : " + sb_.app() + c.destination);
  }
  // "Update from FTP Site" gives a client the server's folder.
  window_.update_from_ftp = true;
  Execute("UNZIP Patch12.zip *.*");
  EXPECT_EQ(window_.lines[1], "DESTINATION      : " + Download());
}

TEST_F(CommandTest, DownloadToClientCopiesFromTheServersShare) {
  ClientInstallation();
  WriteFile(Share() + "/Patch7.zip", "zip bytes");
  EXPECT_TRUE(Execute("download Patch7.zip"));
  EXPECT_EQ(ReadFile(Update() + "/Patch7.zip"), "zip bytes");

  EXPECT_FALSE(Execute("DOWNLOAD Missing.zip"));
  EXPECT_EQ(window_.lines,
            (Lines{"COMMAND: DOWNLOAD Missing.zip", "53-File not found",
                   "Download to Client: Failed. "}));

  form_->settings.ServerName = "GONE";
  EXPECT_FALSE(Execute("DOWNLOAD Patch7.zip"));
  EXPECT_EQ(window_.lines,
            (Lines{"COMMAND: DOWNLOAD Patch7.zip", "75-Path/File access error",
                   "Download to Client: Failed. "}));
}

TEST_F(CommandTest, HostileNamesGiveErrorLines) {
  struct Case {
    std::string line;
    std::string error;
  } cases[] = {
      {std::string("DELETE a\0/../*", 14), "52-Bad file name or number"},
      {"MKDIR " + std::string(300, 'n'), "52-Bad file name or number"},
      {std::string("RUN a\0b", 7), "52-Bad file name or number"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Execute(c.line));
    ASSERT_GE(window_.lines.size(), 2u);
    EXPECT_EQ(window_.lines[1], c.error);
  }
}

}  // namespace
}  // namespace mv
