#include "update/zip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "app/form.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

// An entry of an archive built for a test.
struct Entry {
  enum Kind { kFile, kFolder, kLink };
  std::string name;
  std::string data;  // contents, or the target of a link
  Kind kind = kFile;
  bool raw_name = false;  // stored as given, without the UTF-8 flag
  bool stored = false;    // not compressed
  uint32_t mode = 0644;
};

void MakeArchive(const std::string& path, const std::vector<Entry>& entries) {
  int error = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(za, nullptr);
  for (const Entry& e : entries) {
    zip_int64_t i;
    if (e.kind == Entry::kFolder) {
      i = zip_dir_add(za, e.name.c_str(), ZIP_FL_ENC_GUESS);
    } else {
      zip_source_t* s = zip_source_buffer(za, e.data.data(), e.data.size(), 0);
      i = zip_file_add(za, e.name.c_str(), s,
                       e.raw_name ? ZIP_FL_ENC_RAW : ZIP_FL_ENC_GUESS);
    }
    ASSERT_GE(i, 0) << e.name;
    auto index = static_cast<zip_uint64_t>(i);
    if (e.stored) zip_set_file_compression(za, index, ZIP_CM_STORE, 0);
    uint32_t type = e.kind == Entry::kLink     ? S_IFLNK
                    : e.kind == Entry::kFolder ? S_IFDIR
                                               : S_IFREG;
    zip_file_set_external_attributes(za, index, 0, ZIP_OPSYS_UNIX,
                                     (type | e.mode) << 16);
  }
  ASSERT_EQ(zip_close(za), 0);
}

std::vector<std::string> EntryNames(const std::string& path) {
  int error = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_RDONLY, &error);
  EXPECT_NE(za, nullptr) << path;
  std::vector<std::string> names;
  if (za == nullptr) return names;
  for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
    names.emplace_back(zip_get_name(za, static_cast<zip_uint64_t>(i), 0));
  }
  zip_discard(za);
  std::sort(names.begin(), names.end());
  return names;
}

// Every file below `root` with its contents, and every folder (with a
// final "/" and no contents).
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  if (!fs::exists(root)) return tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).string();
    if (e.is_directory()) {
      tree[rel + "/"] = "";
    } else {
      tree[rel] = ReadFile(e.path().string());
    }
  }
  return tree;
}

std::set<std::string> Files(const std::map<std::string, std::string>& tree) {
  std::set<std::string> files;
  for (const auto& [name, data] : tree) {
    if (name.back() != '/') files.insert(name);
  }
  return files;
}

class ZipTest : public ::testing::Test {
 protected:
  ZipTest() : form_(window_, sb_.config()) {
    form_.settings.EventLog =
        std::make_unique<clsQorinEventLogTCP>(sb_.install());
    form_.settings.EventLog->strFile(sb_.event_log());
    fs::create_directories(sb_.install() + "/Database");
    fs::create_directories(dest());
    fs::create_directories(work());
    fs::current_path(work());
  }

  std::string work() const { return sb_.root() + "/work"; }
  std::string dest() const { return sb_.app() + "/Download"; }
  std::string archive() const { return work() + "/Patch.zip"; }
  // Writes a file below the current directory.
  void Put(const std::string& rel, const std::string& data) {
    WriteFile(fs::current_path().string() + "/" + rel, data);
  }

  // The lines after the three value lines of UnZipFiles.
  std::vector<std::string> UnzipLines() const {
    return std::vector<std::string>(
        window_.lines.begin() + std::min<size_t>(3, window_.lines.size()),
        window_.lines.end());
  }

  Sandbox sb_;
  RecordingWindow window_;
  Form form_;
};

TEST_F(ZipTest, RoundTripOfATree) {
  std::mt19937 rng(1);
  std::string binary(300 * 1024, '\0');
  for (char& c : binary) c = static_cast<char>(rng());
  fs::create_directories("src/Empty");
  Put("src/a.txt", "alpha\r\n");
  Put("src/Sub/b.dll", binary);
  Put("src/Sub/Deep/c.DLL", std::string(100000, 'c'));
  Put("src/Sub/zero.ini", "");
  Put("src/.hidden", "dot");
  Put("src/run.sh", "#!/bin/sh\n");
  ::chmod("src/run.sh", 0755);
  fs::create_directories("out");
  fs::current_path("src");

  EXPECT_EQ(ZipFiles(form_, "..\\out\\Tree.zip", "*.*"), kArchiveOk);
  EXPECT_EQ(window_.lines,
            (std::vector<std::string>{"Zip Files      : ..\\out\\Tree.zip",
                                      "File Spec      : *.*",
                                      "!!! Could not remove the zip file. "}));
  // Paths relative to the current directory, "/" separators, no folder
  // entries.
  EXPECT_EQ(EntryNames(work() + "/out/Tree.zip"),
            (std::vector<std::string>{".hidden", "Sub/Deep/c.DLL", "Sub/b.dll",
                                      "Sub/zero.ini", "a.txt", "run.sh"}));

  window_.lines.clear();
  EXPECT_EQ(UnZipFiles(form_, "..\\out\\Tree.zip", dest(), "*.*"), kArchiveOk);
  EXPECT_EQ(window_.lines,
            (std::vector<std::string>{"DESTINATION      : " + dest(),
                                      "ZIPFILE          : ..\\out\\Tree.zip",
                                      "FILESPEC         : *.*"}));
  std::map<std::string, std::string> expected = Tree(work() + "/src");
  expected.erase("Empty/");  // folders are not stored
  EXPECT_EQ(Tree(dest()), expected);
  struct stat st;
  ASSERT_EQ(::stat((dest() + "/run.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(ZipTest, ZipSpecifications) {
  struct Case {
    const char* file_spec;
    int16_t result;
    std::vector<std::string> entries;  // empty: no archive
  } cases[] = {
      {"*.txt", kArchiveOk, {"Other/f.txt", "Sub/d.TXT", "a.txt", "b.TXT"}},
      {"*.DLL *.bin", kArchiveOk, {"Sub/e.bin", "c.dll"}},
      {"  *.dll   ", kArchiveOk, {"c.dll"}},
      {"sub\\*.*", kArchiveOk, {"Sub/d.TXT", "Sub/e.bin"}},
      {"Sub/?.txt", kArchiveOk, {"Sub/d.TXT"}},
      {"*.txt a.*", kArchiveOk, {"Other/f.txt", "Sub/d.TXT", "a.txt", "b.TXT"}},
      {"*.zip", kArchiveNothingMatched, {}},
      {"", kArchiveNothingMatched, {}},
      {"Missing\\*.*", kArchiveNothingMatched, {}},
  };
  Put("a.txt", "a");
  Put("b.TXT", "b");
  Put("c.dll", "c");
  Put("Sub/d.TXT", "d");
  Put("Sub/e.bin", "e");
  Put("Other/f.txt", "f");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file_spec);
    window_.lines.clear();
    EXPECT_EQ(ZipFiles(form_, "Out.zip", c.file_spec), c.result);
    if (c.entries.empty()) {
      EXPECT_FALSE(fs::exists("Out.zip"));
      EXPECT_EQ(window_.lines.back(),
                "!!! Could not zip:  " + std::to_string(c.result));
    } else {
      EXPECT_EQ(EntryNames("Out.zip"), c.entries);
    }
  }
}

TEST_F(ZipTest, ZipReplacesTheOldArchiveAndLeavesItOut) {
  Put("a.txt", "a");
  MakeArchive("Backup.zip", {{"old.txt", "old"}});
  EXPECT_EQ(ZipFiles(form_, "backup.ZIP", "*.*"), kArchiveOk);
  // The existing archive was found without regard to case and deleted: no
  // Warning line.
  EXPECT_EQ(window_.lines.size(), 2u);
  EXPECT_FALSE(fs::exists("Backup.zip"));
  EXPECT_EQ(EntryNames("backup.ZIP"), std::vector<std::string>{"a.txt"});
}

TEST_F(ZipTest, FailedZipLeavesNoArchive) {
  Put("a.txt", "a");
  // Reading this file fails after it was opened, in the middle of writing.
  fs::create_symlink("/proc/self/mem", "broken.dat");
  fs::create_directories("out");
  EXPECT_EQ(ZipFiles(form_, "out\\Patch.zip", "*.*"), kArchiveWriteFailed);
  EXPECT_EQ(window_.lines.back(), "!!! Could not zip:  6");
  EXPECT_TRUE(fs::is_empty("out"));
}

TEST_F(ZipTest, UnreadableFileIsLeftOutAndNamed) {
  Put("a.txt", "a");
  Put("secret.txt", "s");
  ::chmod("secret.txt", 0);
  ::chmod(work().c_str(), 0777);
  ::chmod(sb_.root().c_str(), 0755);
  int16_t result;
  {
    ScopedUnprivileged unprivileged;
    result = ZipFiles(form_, "Out.zip", "*.txt");
  }
  EXPECT_EQ(result, kArchiveSourceUnreadable);
  EXPECT_EQ(window_.lines.back(), "!!! Could not zip:  8");
  EXPECT_NE(std::find(window_.lines.begin(), window_.lines.end(),
                      "!!! Could not read: secret.txt (70-Permission denied)"),
            window_.lines.end());
  EXPECT_EQ(EntryNames("Out.zip"), std::vector<std::string>{"a.txt"});
}

TEST_F(ZipTest, UnzipSpecifications) {
  MakeArchive(archive(), {{"Core.DLL", "1"},
                          {"Bin/Tool.dll", "2"},
                          {"Bin/readme.txt", "3"},
                          {"Docs\\Guide.TXT", "4"},
                          {"setup.exe", "5"}});
  struct Case {
    const char* file_spec;
    int16_t result;
    std::set<std::string> files;
  } cases[] = {
      {"*.*",
       kArchiveOk,
       {"Bin/Tool.dll", "Bin/readme.txt", "Core.DLL", "Docs/Guide.TXT",
        "setup.exe"}},
      {"*.dll", kArchiveOk, {"Bin/Tool.dll", "Core.DLL"}},
      {"*.txt   *.EXE",
       kArchiveOk,
       {"Bin/readme.txt", "Docs/Guide.TXT", "setup.exe"}},
      {"bin\\*", kArchiveOk, {"Bin/Tool.dll", "Bin/readme.txt"}},
      {"core.dll", kArchiveOk, {"Core.DLL"}},
      {"?ore.*", kArchiveOk, {"Core.DLL"}},
      {"*.zip", kArchiveNothingMatched, {}},
      {"  ", kArchiveNothingMatched, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file_spec);
    fs::remove_all(dest());
    fs::create_directories(dest());
    window_.lines.clear();
    EXPECT_EQ(UnZipFiles(form_, "Patch.zip", dest(), c.file_spec), c.result);
    EXPECT_EQ(Files(Tree(dest())), c.files);
    if (c.result != kArchiveOk) {
      EXPECT_EQ(UnzipLines(),
                std::vector<std::string>{" " + std::to_string(c.result)});
    }
  }
}

TEST_F(ZipTest, ArchivesThatCannotBeRead) {
  MakeArchive("Good.zip", {{"a.txt", std::string(50000, 'a')}});
  std::string good = ReadFile("Good.zip");
  Put("Junk.zip", "this is not an archive\r\n");
  Put("Half.zip", good.substr(0, good.size() / 2));
  Put("Empty.zip", "");
  fs::create_directories("Folder.zip");
  Put("Locked.zip", good);
  ::chmod("Locked.zip", 0);
  ::chmod(work().c_str(), 0755);
  ::chmod(sb_.root().c_str(), 0755);
  struct Case {
    const char* archive;
    int16_t result;
    bool unprivileged = false;
  } cases[] = {
      {"Missing.zip", kArchiveNotFound},
      {"NoFolder\\Patch.zip", kArchiveNotFound},
      {"", kArchiveNotFound},
      {"Junk.zip", kArchiveCorrupt},
      {"Half.zip", kArchiveCorrupt},
      {"Empty.zip", kArchiveCorrupt},
      {"Folder.zip", kArchiveUnreadable},
      {"Locked.zip", kArchiveUnreadable, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    window_.lines.clear();
    std::optional<ScopedUnprivileged> unprivileged;
    if (c.unprivileged) unprivileged.emplace();
    EXPECT_EQ(UnZipFiles(form_, c.archive, dest(), "*.*"), c.result);
    unprivileged.reset();
    EXPECT_EQ(UnzipLines(),
              std::vector<std::string>{" " + std::to_string(c.result)});
    EXPECT_TRUE(fs::is_empty(dest()));
    // The code is a time-stamped line of the event log file.
    if (!c.unprivileged) {
      std::vector<std::string> log = ReadCrLfLines(sb_.event_log());
      ASSERT_FALSE(log.empty());
      EXPECT_NE(log.back().find("M\t*****ERROR:: " + std::to_string(c.result)),
                std::string::npos)
          << log.back();
    }
  }
}

// A NUL byte cuts a name short in the system calls: such names must name
// nothing rather than another file, or a folder walk without end.
TEST_F(ZipTest, NamesWithNulBytesNameNothing) {
  Put("a.txt", "a");
  MakeArchive("Patch.zip", {{"p.txt", "p"}});
  const std::string nul("\0", 1);
  struct Case {
    const char* what;
    std::function<int16_t()> call;
    int16_t result;
  } cases[] = {
      {"zip of a pattern below a cut name",
       [&] { return ZipFiles(form_, "Out.zip", ".." + nul + "x\\*.*"); },
       kArchiveNothingMatched},
      {"zip to a cut name",
       [&] { return ZipFiles(form_, "Out.zip" + nul + "x", "*.txt"); },
       kArchiveWriteFailed},
      {"unzip of a cut name",
       [&] {
         return UnZipFiles(form_, "Patch.zip" + nul + "x", dest(), "*.*");
       },
       kArchiveNotFound},
      {"unzip to a cut name",
       [&] {
         return UnZipFiles(form_, "Patch.zip", dest() + nul + "x", "*.*");
       },
       kArchiveWriteFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), c.result) << c.what;
    EXPECT_FALSE(fs::exists("Out.zip")) << c.what;
    EXPECT_TRUE(fs::is_empty(dest())) << c.what;
  }
}

TEST_F(ZipTest, DamagedEntryKeepsTheOldFile) {
  MakeArchive(archive(),
              {{"a.txt", "new contents of a", Entry::kFile, false, true},
               {"b.txt", "new b"}});
  std::string bytes = ReadFile(archive());
  bytes[bytes.find("new contents")] = 'N';  // the checksum no longer fits
  WriteFile(archive(), bytes);
  WriteFile(dest() + "/a.txt", "old a");

  EXPECT_EQ(UnZipFiles(form_, "Patch.zip", dest(), "*.*"),
            kArchiveEntryDamaged);
  EXPECT_EQ(UnzipLines(),
            (std::vector<std::string>{
                "!!! Damaged entry not extracted: a.txt (CRC error)", " 4"}));
  EXPECT_EQ(Tree(dest()), (std::map<std::string, std::string>{
                              {"a.txt", "old a"}, {"b.txt", "new b"}}));
}

TEST_F(ZipTest, UnsafeEntriesAreRefused) {
  struct Case {
    Entry entry;
    std::string shown;
  } cases[] = {
      {{"../evil.txt", "x"}, "../evil.txt"},
      {{"Sub/../../evil.txt", "x"}, "Sub/../../evil.txt"},
      {{"..\\evil.txt", "x"}, "..\\evil.txt"},
      {{"../Escape/", "", Entry::kFolder}, "../Escape/"},
      {{"/tmp/evil.txt", "x"}, "/tmp/evil.txt"},
      {{"C:\\evil.txt", "x"}, "C:\\evil.txt"},
      {{"c:evil.txt", "x"}, "c:evil.txt"},
      {{"link", "/etc/passwd", Entry::kLink, false, false, 0777}, "link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    fs::remove_all(dest());
    fs::create_directories(dest());
    MakeArchive(archive(), {{"first.txt", "1"}, c.entry, {"last.txt", "2"}});
    window_.lines.clear();
    EXPECT_EQ(UnZipFiles(form_, "Patch.zip", dest(), "*.*"),
              kArchiveEntryUnsafe);
    EXPECT_EQ(UnzipLines(),
              (std::vector<std::string>{
                  "!!! Unsafe entry not extracted: " + c.shown, " 5"}));
    EXPECT_EQ(Tree(dest()), (std::map<std::string, std::string>{
                                {"first.txt", "1"}, {"last.txt", "2"}}));
    EXPECT_FALSE(fs::exists(sb_.app() + "/evil.txt"));
    EXPECT_FALSE(fs::exists(sb_.app() + "/Escape"));
    EXPECT_FALSE(fs::exists("/tmp/evil.txt"));
  }
}

TEST_F(ZipTest, OverwritesWithoutRegardToCase) {
  fs::create_directories(dest() + "/bin");
  WriteFile(dest() + "/bin/Tool.DLL", "old tool, longer than the new one");
  WriteFile(dest() + "/Core.dll", "old core");
  WriteFile(dest() + "/Keep.txt", "untouched");
  MakeArchive(archive(), {{"BIN/tool.dll", "new tool"},
                          {"Core.dll", "new core"},
                          {"Bin/New.txt", "new"},
                          {"Docs/", "", Entry::kFolder}});
  EXPECT_EQ(UnZipFiles(form_, "patch.ZIP", dest(), "*.*"), kArchiveOk);
  EXPECT_EQ(Tree(dest()),
            (std::map<std::string, std::string>{{"Core.dll", "new core"},
                                                {"Docs/", ""},
                                                {"Keep.txt", "untouched"},
                                                {"bin/", ""},
                                                {"bin/New.txt", "new"},
                                                {"bin/Tool.DLL", "new tool"}}));
}

TEST_F(ZipTest, EntryThatCannotBeWrittenIsNamed) {
  WriteFile(dest() + "/a.txt", "a file where a folder is needed");
  MakeArchive(archive(), {{"a.txt/b.txt", "x"}, {"c.txt", "c"}});
  EXPECT_EQ(UnZipFiles(form_, "Patch.zip", dest(), "*.*"), kArchiveWriteFailed);
  EXPECT_EQ(
      UnzipLines(),
      (std::vector<std::string>{
          "!!! Could not extract: a.txt/b.txt (76-Path not found)", " 6"}));
  EXPECT_EQ(ReadFile(dest() + "/c.txt"), "c");
}

TEST_F(ZipTest, NamesInOtherEncodings) {
  MakeArchive(archive(), {{"caf\x82.txt", "cp437", Entry::kFile, true},
                          {"na\xC3\xAFve.txt", "utf-8"}});
  EXPECT_EQ(UnZipFiles(form_, "Patch.zip", dest(), "*.*"), kArchiveOk);
  EXPECT_EQ(UnzipLines(),
            std::vector<std::string>{
                "!!! Entry name is not UTF-8, extracted as: caf\xC3\xA9.txt"});
  EXPECT_EQ(Tree(dest()),
            (std::map<std::string, std::string>{
                {"caf\xC3\xA9.txt", "cp437"}, {"na\xC3\xAFve.txt", "utf-8"}}));
}

TEST_F(ZipTest, MakesAMissingDestination) {
  MakeArchive(archive(), {{"a.txt", "a"}});
  std::string folder = sb_.app() + "/Update/New";
  EXPECT_EQ(UnZipFiles(form_, "Patch.zip", folder, "*.*"), kArchiveOk);
  EXPECT_EQ(ReadFile(folder + "/a.txt"), "a");
}

}  // namespace
}  // namespace mv
