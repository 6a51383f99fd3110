#include "update/control_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "update/installation.h"

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
  const std::string bom = "\xEF\xBB\xBF";
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"LASTUPDATE=7\r\n[UPDATE 7]\r\n", {"LASTUPDATE=7", "[UPDATE 7]"}},
      {"a\rb", {"a", "b"}},
      {"a\nb\r\nc\n", {"a\nb", "c\n"}},  // a lone LF is part of the line
      {"a\r\r\n\r\n", {"a", "", ""}},
      {std::string("\tCaf\xE9\0.zip", 10),
       {std::string("\tCaf\xE9\0.zip", 10)}},
      {bom + "LASTUPDATE=7", {"LASTUPDATE=7"}},
      {bom, {}},
      {chunk.substr(1) + "\r\nnext", {chunk.substr(1), "next"}},
      {chunk.substr(1) + "\rnext", {chunk.substr(1), "next"}},
      {chunk + chunk + "y\r\nz", {chunk + chunk + "y", "z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    TempFolder tmp;
    WriteFile(tmp / "update/mvupdate.DAT", c.text);
    // The name's case does not matter.
    EXPECT_EQ(ReadAll(tmp / "Update/MVUpdate.dat"), c.lines);
  }
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

TEST(ControlNumberTest, ReadsLeadingNumberAndRoundsHalfToEven) {
  struct Case {
    std::string text;
    std::string value;  // the number, or the failure's text
  } cases[] = {
      {"", "0"},
      {"\t\n 4\t2", "42"},
      {"- 7", "-7"},
      {"1e3", "1"},
      {"2.5", "2"},
      {"-3.5", "-4"},
      {"2.50000000000000000000001", "3"},
      {".7", "1"},
      {"00000000000000000000000000009", "9"},
      {"-2147483648.5", "-2147483648"},
      {"2147483647.5", "6-Overflow"},
      {"-2147483648.51", "6-Overflow"},
  };
  for (const Case& c : cases) {
    Result<int32_t> n = ControlNumber(c.text);
    EXPECT_EQ(n.ok() ? std::to_string(n.value()) : n.failure().Text(), c.value)
        << c.text;
  }
}

using CustomerControlFileTest = InstallationTest;

TEST_F(CustomerControlFileTest, ReadsTheFlavoursCopy) {
  struct Case {
    int32_t installation_type;
    bool update_from_ftp;
    const char* present;  // folder holding MVControl.dat
    bool ok;
  } cases[] = {
      {0, false, "Download", true}, {0, false, "Update", false},
      {1, false, "Update", true},   {1, false, "Download", false},
      {1, true, "Download", true},  {1, true, "Update", false},
  };
  const std::string done = "Processing of customer's control file complete.";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.installation_type) + c.present);
    std::filesystem::remove(Download() + "/MVControl.dat");
    std::filesystem::remove(Update() + "/MVControl.dat");
    std::filesystem::remove(sb_.event_log());
    WriteFile(sb_.app() + "/" + c.present + "/MVControl.dat", "");
    window_.lines.clear();
    window_.update_from_ftp = c.update_from_ftp;
    form_.settings.InstallationType = c.installation_type;
    form_.settings.LastError.clear();
    ProcessCustomerControlFile(form_);
    Lines expected = {"Processing customer's control file.", done};
    if (!c.ok) expected.insert(expected.begin() + 1, "53-File not found");
    EXPECT_EQ(window_.lines, expected);
    EXPECT_EQ(form_.settings.LastError,
              c.ok ? "" : "********** ERROR:53-File not found");
    // The shown line stays out of the event log; the logged ones are detail
    // lines.
    Lines file = {"\t" + done};
    if (!c.ok) file.insert(file.begin(), "\t*****ERROR::53-File not found");
    EXPECT_EQ(ReadCrLfLines(sb_.event_log()), file);
  }
}

}  // namespace
}  // namespace mv
