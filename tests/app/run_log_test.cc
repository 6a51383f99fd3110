#include "app/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "app/form.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {
namespace {

class RunLogTest : public ::testing::Test {
 protected:
  RunLogTest() : form_(window_, FormConfig{tmp_ / "r.reg", tmp_ / "cfg"}) {
    form_.settings.EventLog =
        std::make_unique<clsQorinEventLogTCP>(tmp_.path());
    form_.comm.log = CommLog{form_.settings.EventLog.get(), 2};
  }
  std::vector<std::string> FileLines() {
    return ReadCrLfLines(tmp_ / "database/MVEvents.log");
  }

  TempFolder tmp_;
  RecordingWindow window_;
  Form form_;
};

TEST_F(RunLogTest, LevelsGatePrefixesAndDetail) {
  struct Case {
    int32_t level;
    std::string text;
    bool write_log, box, detail;
    std::optional<std::string> list;  // nothing: no list line
    std::optional<std::string> file;  // nothing: no file line; "@" = stamp
    std::optional<std::string> caption;
  } cases[] = {
      {0,
       "Disk full",
       true,
       false,
       false,
       "Disk full",
       "@\t*****ERROR::Disk full",
       {}},
      {1,
       "Check folder",
       true,
       false,
       true,
       "Check folder",
       "\t***Warning::Check folder",
       {}},
      {2,
       "PATH             : /x",
       true,
       false,
       true,
       "PATH             : /x",
       "\tPATH             : /x",
       {}},
      {3, "dropped", true, false, true, {}, {}, {}},
      {7, "also dropped", true, false, true, {}, {}, {}},
      {-1, "negative", true, true, true, {}, {}, "Merivane Message"},
      {3, "boxed", true, true, false, {}, {}, "Merivane Message"},
      {0, "not written", false, false, true, "not written", {}, {}},
      {2, "", true, false, false, "", "@\t", {}},
      {2, " ", true, false, true, " ", "\t ", {}},
      {0,
       "boxed error",
       false,
       true,
       true,
       "boxed error",
       {},
       "Merivane Error"},
      {1, "w", false, true, true, "w", {}, "Merivane Warning"},
      {2, "i", false, true, true, "i", {}, "Merivane Information"},
  };
  const std::regex stamp(R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M)");
  for (const Case& c : cases) {
    window_.lines.clear();
    window_.boxes.clear();
    std::filesystem::remove(tmp_ / "database/MVEvents.log");
    LogMessage(form_, c.level, c.text, c.write_log, c.box, c.detail);
    SCOPED_TRACE("level " + std::to_string(c.level) + " text '" + c.text + "'");
    if (c.list) {
      EXPECT_EQ(window_.lines, std::vector<std::string>{*c.list});
    } else {
      EXPECT_TRUE(window_.lines.empty());
    }
    std::vector<std::string> file = FileLines();
    if (c.file) {
      ASSERT_EQ(file.size(), 1u);
      std::string expected = *c.file;
      if (expected[0] == '@') {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(file[0], m, stamp));
        EXPECT_EQ(m.position(0), 0);
        expected = m.str(0) + expected.substr(1);
      }
      EXPECT_EQ(file[0], expected);
    } else {
      EXPECT_TRUE(file.empty());
    }
    if (c.caption) {
      ASSERT_EQ(window_.boxes.size(), 1u);
      EXPECT_EQ(window_.boxes[0].caption, *c.caption);
      EXPECT_EQ(window_.boxes[0].prompt, c.text);
    } else {
      EXPECT_TRUE(window_.boxes.empty());
    }
  }
}

TEST_F(RunLogTest, CommLogMessageWritesTheFileOnly) {
  CommLogMessage(form_.comm.log, 2, "::Connect::", true, true, false);
  CommLogMessage(form_.comm.log, 2, "IP Address:host", true, false, true);
  CommLogMessage(form_.comm.log, 3, "::TimeOut::", true, false, false);
  CommLogMessage(form_.comm.log, 1, "::Disconnect::x", true, false, true);
  EXPECT_TRUE(window_.lines.empty());
  EXPECT_TRUE(window_.boxes.empty());
  std::vector<std::string> file = FileLines();
  ASSERT_EQ(file.size(), 3u);
  EXPECT_NE(file[0].find("\t::Connect::"), std::string::npos);
  EXPECT_EQ(file[1], "\tIP Address:host");
  EXPECT_EQ(file[2], "\t***Warning::::Disconnect::x");
}

TEST_F(RunLogTest, MissingEventLogStillListsLines) {
  form_.settings.EventLog.reset();
  LogMessage(form_, 0, "still shown", true, false, true);
  EXPECT_EQ(window_.lines, std::vector<std::string>{"still shown"});
  EXPECT_EQ(form_.error_lines, 1);
}

}  // namespace
}  // namespace mv
