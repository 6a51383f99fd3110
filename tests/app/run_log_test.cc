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
  }

  TempFolder tmp_;
  RecordingWindow window_;
  Form form_;
};

TEST_F(RunLogTest, LevelsGatePrefixesAndDetail) {
  // nullptr: no list line, no file line, no message box. "@" stands for a
  // time stamp.
  struct Case {
    int32_t level;
    std::string text;
    bool write_log, box, detail;
    const char* list;
    const char* file;
    const char* caption;
  } cases[] = {
      {0, "Disk full", true, false, false, "Disk full",
       "@\t*****ERROR::Disk full", nullptr},
      {2, "", true, false, false, "", "@\t", nullptr},
      {3, "dropped", true, false, true, nullptr, nullptr, nullptr},
      {3, "boxed", true, true, false, nullptr, nullptr, "Merivane Message"},
      {0, "e", false, true, true, "e", nullptr, "Merivane Error"},
      {1, "w", false, true, true, "w", nullptr, "Merivane Warning"},
      {2, "i", false, true, true, "i", nullptr, "Merivane Information"},
  };
  const std::regex stamp(R"(^\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M)");
  for (const Case& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + " text '" + c.text + "'");
    window_.lines.clear();
    window_.boxes.clear();
    std::filesystem::remove(tmp_ / "database/MVEvents.log");
    LogMessage(form_, c.level, c.text, c.write_log, c.box, c.detail);
    EXPECT_EQ(window_.lines, c.list ? std::vector<std::string>{c.list}
                                    : std::vector<std::string>{});
    std::vector<std::string> file =
        ReadCrLfLines(tmp_ / "database/MVEvents.log");
    for (std::string& line : file) line = std::regex_replace(line, stamp, "@");
    EXPECT_EQ(file, c.file ? std::vector<std::string>{c.file}
                           : std::vector<std::string>{});
    ASSERT_EQ(window_.boxes.size(), c.caption ? 1u : 0u);
    if (c.caption) {
      EXPECT_EQ(window_.boxes[0].caption, c.caption);
      EXPECT_EQ(window_.boxes[0].prompt, c.text);
    }
  }
  // Without an event log the line is still listed and counted.
  window_.lines.clear();
  form_.settings.EventLog.reset();
  LogMessage(form_, 0, "still shown", true, false, true);
  EXPECT_EQ(window_.lines, std::vector<std::string>{"still shown"});
  EXPECT_EQ(form_.error_lines, 3);  // with the two Error lines above
}

}  // namespace
}  // namespace mv
