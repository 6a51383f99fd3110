#include "log/event_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "support/sandbox.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

const std::regex kStamped(
    R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M\t(.*))");

TEST(EventLogTest, DefaultsFollowTheInstallPath) {
  clsQorinEventLogTCP log("/opt/merivane");
  EXPECT_EQ(log.LogFolder(), "/opt/merivane/database");
  EXPECT_EQ(log.strFile(), "/opt/merivane/database/MVEvents.log");
  EXPECT_FALSE(log.blnClearFile());
}

TEST(EventLogTest, ClearsOnceThenAppendsCrLfLines) {
  TempFolder tmp;
  fs::create_directories(tmp / "Database");
  WriteFile(tmp / "Database/MVUpEvents.log", "previous run\r\n");
  clsQorinEventLogTCP log(tmp.path());
  log.strFile(tmp / "Database/MVUpEvents.log");
  log.blnClearFile(true);
  log.WriteStatsDetail("[MODE SETTINGS]");
  EXPECT_FALSE(log.blnClearFile());
  log.WriteStats("");
  log.WriteStats("*****ERROR::Disk full");
  std::vector<std::string> lines =
      ReadCrLfLines(tmp / "Database/MVUpEvents.log");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "\t[MODE SETTINGS]");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[1], m, kStamped)) << lines[1];
  EXPECT_EQ(m[1], "");
  ASSERT_TRUE(std::regex_match(lines[2], m, kStamped)) << lines[2];
  EXPECT_EQ(m[1], "*****ERROR::Disk full");
  EXPECT_EQ(ReadFile(tmp / "Database/MVUpEvents.log").back(), '\n');
}

TEST(EventLogTest, FirstLineCreatesFileWhenNoneExists) {
  TempFolder tmp;
  clsQorinEventLogTCP log(tmp.path());
  log.blnClearFile(true);
  log.WriteStatsDetail("only line");
  // The log folder is written "database" and is created when missing.
  EXPECT_EQ(ReadFile(tmp / "database/MVEvents.log"), "\tonly line\r\n");
}

TEST(EventLogTest, MissingFolderIsCreatedWhenItIsTheLogFolder) {
  TempFolder tmp;
  clsQorinEventLogTCP log(tmp.path());
  // "Database" and "database" are one folder, as on the original platform.
  log.strFile(tmp / "Database/MVUpEvents.log");
  log.WriteStatsDetail("a");
  log.WriteStatsDetail("b");
  EXPECT_EQ(ReadFile(tmp / "Database/MVUpEvents.log"), "\ta\r\n\tb\r\n");
  EXPECT_FALSE(fs::exists(tmp / "database"));

  // A file in another missing folder loses its line.
  log.strFile(tmp / "elsewhere/x.log");
  log.WriteStatsDetail("lost");
  EXPECT_FALSE(fs::exists(tmp / "elsewhere"));
}

TEST(EventLogTest, FileOpenInThisProcessRollsOver) {
  TempFolder tmp;
  fs::create_directories(tmp / "database");
  clsQorinEventLogTCP log(tmp.path());
  Result<TextFile> held =
      TextFile::Open(log.strFile(), TextFile::Mode::kAppend);
  ASSERT_TRUE(held.ok());
  log.WriteStatsDetail("first");
  EXPECT_EQ(log.strFile(), tmp / "database/MVEvents 1.log");
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
  EXPECT_EQ(ReadFile(tmp / "database/MVEvents.log"), "");
}

TEST(EventLogTest, UnwritableFileLosesLineQuietly) {
  TempFolder tmp;
  clsQorinEventLogTCP log(tmp.path());
  fs::create_directories(tmp / "database/MVEvents.log");  // a folder in the way
  log.WriteStats("nothing happens");
  log.WriteStatsDetail("nothing happens");
  EXPECT_TRUE(fs::is_directory(tmp / "database/MVEvents.log"));
}

TEST(EventLogTest, ManyLinesAreAllKept) {
  TempFolder tmp;
  clsQorinEventLogTCP log(tmp.path());
  for (int i = 0; i < 2000; ++i) log.WriteStatsDetail(std::to_string(i));
  std::vector<std::string> lines = ReadCrLfLines(tmp / "database/MVEvents.log");
  ASSERT_EQ(lines.size(), 2000u);
  EXPECT_EQ(lines.back(), "\t1999");
}

}  // namespace
}  // namespace mv
