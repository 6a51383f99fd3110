#include "log/event_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/sandbox.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

TEST(EventLogTest, ClearsOnceThenAppendsCrLfLines) {
  TempFolder tmp;
  WriteFile(tmp / "Database/MVUpEvents.log", "previous run\r\n");
  clsQorinEventLogTCP log(tmp.path());
  log.strFile(tmp / "Database/MVUpEvents.log");
  log.blnClearFile(true);
  log.WriteStatsDetail("[MODE SETTINGS]");
  EXPECT_FALSE(log.blnClearFile());
  log.WriteStats("");
  log.WriteStats("*****ERROR::Disk full");
  const std::string stamp =
      R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M)";
  EXPECT_TRUE(std::regex_match(
      ReadFile(tmp / "Database/MVUpEvents.log"),
      std::regex("\t\\[MODE SETTINGS\\]\r\n" + stamp + "\t\r\n" + stamp +
                 "\t\\*\\*\\*\\*\\*ERROR::Disk full\r\n")));
}

// A missing log folder is made ("Database" and "database" are one folder,
// as on the original platform); other missing folders are not.
TEST(EventLogTest, MissingLogFolderIsCreated) {
  TempFolder tmp;
  clsQorinEventLogTCP log(tmp.path());
  log.strFile(tmp / "Database/MVUpEvents.log");
  log.WriteStatsDetail("a");
  log.WriteStatsDetail("b");
  EXPECT_EQ(ReadFile(tmp / "Database/MVUpEvents.log"), "\ta\r\n\tb\r\n");
  EXPECT_FALSE(fs::exists(tmp / "database"));

  // A file in another missing folder loses its line, as does a folder in
  // the file's way; neither is an error.
  log.strFile(tmp / "elsewhere/x.log");
  log.WriteStatsDetail("lost");
  EXPECT_FALSE(fs::exists(tmp / "elsewhere"));
  fs::create_directories(tmp / "Database/In the way.log");
  log.strFile(tmp / "Database/In the way.log");
  log.WriteStats("lost");
  EXPECT_TRUE(fs::is_directory(tmp / "Database/In the way.log"));
}

TEST(EventLogTest, FileOpenInThisProcessRollsOver) {
  TempFolder tmp;
  clsQorinEventLogTCP log(tmp.path());
  fs::create_directories(log.LogFolder());
  Result<TextFile> held =
      TextFile::Open(log.strFile(), TextFile::Mode::kAppend);
  ASSERT_TRUE(held.ok());
  log.WriteStatsDetail("first");
  log.WriteStatsDetail("second");
  Result<TextFile> held2 =
      TextFile::Open(log.strFile(), TextFile::Mode::kAppend);
  ASSERT_TRUE(held2.ok());
  log.WriteStatsDetail("third");
  EXPECT_EQ(log.strFile(), tmp / "database/MVEvents 2.log");
  EXPECT_EQ(log.RolloverCount(), 2);
  EXPECT_EQ(ReadFile(tmp / "database/MVEvents 1.log"),
            "\tfirst\r\n\tsecond\r\n");
  EXPECT_EQ(ReadFile(tmp / "database/MVEvents 2.log"), "\tthird\r\n");
  // Every line is kept, however many.
  for (int i = 0; i < 2000; ++i) log.WriteStatsDetail(std::to_string(i));
  EXPECT_EQ(ReadCrLfLines(log.strFile()).size(), 2001u);
}

}  // namespace
}  // namespace mv
