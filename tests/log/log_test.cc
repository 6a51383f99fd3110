#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "support/installation.h"

namespace mv {
namespace {

// Level 9 is below the gate: only its box shows. The event log makes its
// folder, moves to a numbered file while its file is open in this process,
// and loses lines it cannot write (a folder, a link); the list box shows them
// all the same.
TEST(RunLogTest, LevelsGatePrefixesStampsAndTheFile) {
  Installation in;
  std::filesystem::remove_all(in.sb.install() + "/Database");
  const std::tuple<int32_t, LineOptions, const char*> lines[] = {
      {kLevelError, kStampedLine, "e"},
      {kLevelWarning, {}, "w"},
      {kLevelInformation, kStampedLine, " "},
      {9, {true, true, false}, "m"},
      {kLevelError, {false, true, true}, "b"}};
  for (auto [level, options, text] : lines) {
    in.log.LogMessage(level, text, options);
  }
  auto held = TextFile::Open(Env::Default(), in.event_log.file(),
                             TextFile::Mode::kAppend);
  in.log.Info("i");
  in.event_log.set_file(in.sb.install());  // a folder
  in.log.Error("x");
  // A link planted under the name during a run gets nothing.
  const std::string link = in.sb.install() + "/Database/planted.log";
  std::filesystem::create_symlink(in.sb.root() + "/target", link);
  in.event_log.set_file(link);
  in.log.Info("l");
  EXPECT_FALSE(std::filesystem::exists(in.sb.root() + "/target"));
  EXPECT_EQ(in.window.lines,
            (std::vector<std::string>{"e", "w", " ", "b", "i", "x", "l"}));
  EXPECT_EQ(in.log.error_lines(), 3);
  const std::regex stamp(R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M)");
  EXPECT_EQ(std::regex_replace(ReadFile(in.sb.event_log()), stamp, "@"),
            "@\t*****ERROR::e\r\n\t***Warning::w\r\n@\t \r\n");
  EXPECT_EQ(ReadFile(in.sb.install() + "/Database/MVEvents 1.log"), "\ti\r\n");
  std::string boxes;
  for (const auto& box : in.window.boxes) {
    boxes += box.caption + ":" + box.prompt + ";";
  }
  EXPECT_EQ(boxes, "Merivane Message:m;Merivane Error:b;");
  // Errors and Warnings reach the list marked, their text unchanged.
  using Marked = std::pair<LineMark, std::string>;
  EXPECT_EQ(in.window.marked, (std::vector<Marked>{{LineMark::kError, "e"},
                                                   {LineMark::kWarning, "w"},
                                                   {LineMark::kError, "b"},
                                                   {LineMark::kError, "x"}}));
}

// Lines logged on a worker thread reach the list, the file and the error
// count in order once moved; a step line takes the place of the one before
// it unless another line came between.
TEST(RunLogTest, WorkerLinesAndStepLines) {
  Installation in;
  LineQueue queue;
  RunLog worker;
  worker.set_queue(&queue);
  std::thread([&] {
    worker.ShowStep("1 of 3");
    worker.ShowStep("2 of 3");
    worker.Error("bad entry");
    worker.ShowStep("3 of 3");
    worker.Info("done");
  }).join();
  EXPECT_TRUE(in.window.lines.empty());
  queue.MoveTo(in.log);
  EXPECT_EQ(in.window.lines, (std::vector<std::string>{"2 of 3", "bad entry",
                                                       "3 of 3", "done"}));
  EXPECT_EQ(in.log.error_lines(), 1);
  EXPECT_NE(ReadFile(in.sb.event_log()).find("*****ERROR::bad entry"),
            std::string::npos);
}

}  // namespace
}  // namespace mv
