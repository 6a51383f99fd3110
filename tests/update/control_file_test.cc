#include "update/control_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "app/form.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {
namespace {

std::vector<std::string> ReadAll(const std::string& path) {
  Result<ControlFileReader> reader = ControlFileReader::Open(path);
  EXPECT_TRUE(reader.ok()) << path;
  std::vector<std::string> lines;
  if (!reader.ok()) return lines;
  std::string line;
  while (reader.value().ReadLine(line)) lines.push_back(line);
  EXPECT_TRUE(reader.value().status().ok());
  return lines;
}

TEST(ControlFileReaderTest, LineEnds) {
  const std::string chunk(64 * 1024, 'x');  // the reader's buffer size
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"CR LF",
       "LASTUPDATE=7\r\n[UPDATE 7]\r\n",
       {"LASTUPDATE=7", "[UPDATE 7]"}},
      {"CR alone", "a\rb\r", {"a", "b"}},
      {"last line without end", "a\r\nb", {"a", "b"}},
      {"lone LF is part of the line", "a\nb\r\nc\n", {"a\nb", "c\n"}},
      {"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
      {"empty lines", "\r\n\r\n", {"", ""}},
      {"empty file", "", {}},
      {"tabs and code page bytes kept",
       "DOWNLOAD\tCaf\xE9.zip\r\n",
       {"DOWNLOAD\tCaf\xE9.zip"}},
      {"byte-order mark dropped",
       "\xEF\xBB\xBFLASTUPDATE=7\r\n",
       {"LASTUPDATE=7"}},
      {"byte-order mark alone", "\xEF\xBB\xBF", {}},
      {"byte-order mark only at the start",
       "a\r\n\xEF\xBB\xBF"
       "b",
       {"a",
        "\xEF\xBB\xBF"
        "b"}},
      {"part of a mark is text", "\xEF\xBB", {"\xEF\xBB"}},
      {"CR LF split over a refill",
       chunk.substr(1) + "\r\nnext",
       {chunk.substr(1), "next"}},
      {"CR ends a refill, no LF follows",
       chunk.substr(1) + "\rnext",
       {chunk.substr(1), "next"}},
      {"line longer than the buffer",
       chunk + chunk + "y\r\nz",
       {chunk + chunk + "y", "z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder tmp;
    WriteFile(tmp / "MVUpdate.dat", c.text);
    EXPECT_EQ(ReadAll(tmp / "MVUpdate.dat"), c.lines);
  }
}

TEST(ControlFileReaderTest, MegabyteLineAndBinaryJunk) {
  TempFolder tmp;
  std::string big(1 << 20, 'A');
  WriteFile(tmp / "big.dat", big + "\r\nLASTUPDATE=3");
  std::vector<std::string> lines = ReadAll(tmp / "big.dat");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], big);
  EXPECT_EQ(lines[1], "LASTUPDATE=3");

  // Every byte value, NUL included, survives; only the line ends go.
  std::mt19937 rng(7);
  std::string junk(300 * 1024, '\0');
  for (char& c : junk) c = static_cast<char>(rng() & 0xFF);
  WriteFile(tmp / "junk.dat", junk);
  std::string joined;
  for (const std::string& l : ReadAll(tmp / "junk.dat")) joined += l + "\r";
  std::string expected;  // CR LF becomes CR; every line ends in CR
  for (size_t i = 0; i < junk.size(); ++i) {
    expected.push_back(junk[i]);
    if (junk[i] == '\r' && i + 1 < junk.size() && junk[i + 1] == '\n') ++i;
  }
  if (expected.empty() || expected.back() != '\r') expected.push_back('\r');
  EXPECT_EQ(joined.size(), expected.size());
  EXPECT_TRUE(joined == expected);
}

TEST(ControlFileReaderTest, OpenFailures) {
  TempFolder tmp;
  std::filesystem::create_directories(tmp / "Update");
  WriteFile(tmp / "Update/Locked.dat", "x");
  ::chmod((tmp / "Update/Locked.dat").c_str(), 0);
  ::chmod(tmp.path().c_str(), 0755);
  struct Case {
    std::string path;
    int number;
  } cases[] = {
      {tmp / "Update/MVControl.dat", kFileNotFound},
      {tmp / "Download/MVControl.dat", kPathNotFound},
      {tmp / "Update", kPathFileAccessError},
      {tmp / "Update/Locked.dat", kPermissionDenied},
  };
  for (const Case& c : cases) {
    Result<ControlFileReader> reader = [&] {
      ScopedUnprivileged unprivileged;
      return ControlFileReader::Open(c.path);
    }();
    ASSERT_FALSE(reader.ok()) << c.path;
    EXPECT_EQ(reader.failure().number(), c.number) << c.path;
  }
}

TEST(ControlFileReaderTest, NameCaseIsIgnored) {
  TempFolder tmp;
  WriteFile(tmp / "update/mvupdate.DAT", "LASTUPDATE=1");
  EXPECT_EQ(ReadAll(tmp / "Update/MVUpdate.dat"),
            std::vector<std::string>{"LASTUPDATE=1"});
}

TEST(ControlNumberTest, ReadsLeadingNumberAndRoundsHalfToEven) {
  struct Case {
    std::string text;
    int32_t value;
  } cases[] = {
      {"12]", 12},
      {" 7 ]", 7},
      {"x]", 0},
      {"", 0},
      {"]7", 0},
      {"-5]", -5},
      {"+5", 5},
      {"1 2 3]", 123},
      {"\t\n 4\t2", 42},
      {"- 7", -7},
      {"--5", 0},
      {"1e3", 1},
      {"0042", 42},
      {"00000000000000000000000000009", 9},
      {"-0", 0},
      {"2.5", 2},
      {"3.5", 4},
      {"-2.5", -2},
      {"-3.5", -4},
      {"0.5", 0},
      {"1.5", 2},
      {"2.50000000000000000000001", 3},
      {"2.4999999999", 2},
      {"2.51", 3},
      {".7", 1},
      {".", 0},
      {"7.]", 7},
      {"7.5.9", 8},
      {"1 . 5", 2},
      {"2147483647", 2147483647},
      {"2147483647.49", 2147483647},
      {"-2147483648", INT32_MIN},
      {"-2147483648.5", INT32_MIN},
      {"2147483646.5", 2147483646},
  };
  for (const Case& c : cases) {
    Result<int32_t> n = ControlNumber(c.text);
    ASSERT_TRUE(n.ok()) << c.text;
    EXPECT_EQ(n.value(), c.value) << c.text;
  }
}

TEST(ControlNumberTest, OutsideThirtyTwoBitsIsOverflow) {
  for (const char* text :
       {"2147483648", "2147483647.5", "-2147483648.51", "-2147483649",
        "99999999999999999999999999", "4294967296", "18446744073709551617"}) {
    Result<int32_t> n = ControlNumber(text);
    ASSERT_FALSE(n.ok()) << text;
    EXPECT_EQ(n.failure().Text(), "6-Overflow") << text;
  }
}

TEST(ProcessCustomerControlFileTest, ReadsTheFlavoursCopy) {
  struct Case {
    const char* what;
    int32_t installation_type;
    bool update_from_ftp;
    const char* present;  // folder holding MVControl.dat, or nullptr
    bool ok;
  } cases[] = {
      {"server reads Download", 0, false, "Download", true},
      {"server ignores Update", 0, false, "Update", false},
      {"client reads Update", 1, false, "Update", true},
      {"client ignores Download", 1, false, "Download", false},
      {"ticked client reads Download", 1, true, "Download", true},
      {"ticked client ignores Update", 1, true, "Update", false},
      {"no file", 0, false, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox sb;
    std::filesystem::create_directories(sb.app() + "/Download");
    std::filesystem::create_directories(sb.app() + "/Update");
    std::filesystem::create_directories(sb.install() + "/Database");
    if (c.present) WriteFile(sb.app() + "/" + c.present + "/MVControl.dat", "");
    RecordingWindow window;
    window.update_from_ftp = c.update_from_ftp;
    Form form(window, sb.config());
    form.settings.ApplicationPath = sb.app();
    form.settings.InstallationType = c.installation_type;
    form.settings.EventLog =
        std::make_unique<clsQorinEventLogTCP>(sb.install());
    form.settings.EventLog->strFile(sb.event_log());

    ProcessCustomerControlFile(form);

    std::vector<std::string> expected = {"Processing customer's control file."};
    if (!c.ok) expected.push_back("53-File not found");
    expected.push_back("Processing of customer's control file complete.");
    EXPECT_EQ(window.lines, expected);
    EXPECT_EQ(form.settings.LastError,
              c.ok ? "" : "********** ERROR:53-File not found");
    // The shown line stays out of the event log; the logged ones are detail
    // lines.
    std::vector<std::string> file = {};
    if (!c.ok) file.push_back("\t*****ERROR::53-File not found");
    file.push_back("\tProcessing of customer's control file complete.");
    EXPECT_EQ(ReadCrLfLines(sb.event_log()), file);
    std::string folder = c.update_from_ftp || c.installation_type == 0
                             ? "/Download/"
                             : "/Update/";
    EXPECT_EQ(CustomerControlFile(form), sb.app() + folder + "MVControl.dat");
    EXPECT_EQ(UpdateControlFile(form), sb.app() + folder + "MVUpdate.dat");
  }
}

TEST(ProcessCustomerControlFileTest, MissingApplicationFolderIsPathNotFound) {
  Sandbox::Options o;
  o.create_application_folder = false;
  Sandbox sb(o);
  RecordingWindow window;
  Form form(window, sb.config());
  form.settings.ApplicationPath = sb.app();
  ProcessCustomerControlFile(form);
  EXPECT_EQ(window.lines[1], "76-Path not found");
  EXPECT_EQ(form.settings.LastError, "********** ERROR:76-Path not found");
}

}  // namespace
}  // namespace mv
