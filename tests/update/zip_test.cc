#include "update/zip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>

#include "update/installation.h"

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
    zip_set_file_compression(za, index, ZIP_CM_STORE, 0);
    uint32_t type = e.kind == Entry::kLink     ? S_IFLNK | 0777
                    : e.kind == Entry::kFolder ? S_IFDIR | 0755
                                               : S_IFREG | 0644;
    zip_file_set_external_attributes(za, index, 0, ZIP_OPSYS_UNIX, type << 16);
  }
  ASSERT_EQ(zip_close(za), 0);
}

std::string Join(const std::set<std::string>& items) {
  std::string out;
  for (const std::string& i : items) out += (out.empty() ? "" : " ") + i;
  return out;
}

std::string EntryNames(const std::string& path) {
  int error = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (za == nullptr) return "no archive";
  std::set<std::string> names;
  for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
    names.insert(zip_get_name(za, static_cast<zip_uint64_t>(i), 0));
  }
  zip_discard(za);
  return Join(names);
}

// Every file below `root` as "name=contents" and every folder as "name/",
// in order, separated by blanks.
std::string Tree(const std::string& root) {
  std::set<std::string> entries;
  if (fs::exists(root)) {
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      std::string rel = fs::relative(e.path(), root).string();
      entries.insert(e.is_directory() ? rel + "/"
                                      : rel + "=" + ReadFile(e.path()));
    }
  }
  return Join(entries);
}

class ZipTest : public InstallationTest {
 protected:
  // Writes a file below the current directory.
  void Put(const std::string& rel, const std::string& data) {
    WriteFile(Download() + "/" + rel, data);
  }
  // The lines after the three value lines of UnZipFiles.
  Lines UnzipLines() const {
    return Lines(
        window_.lines.begin() + std::min<size_t>(3, window_.lines.size()),
        window_.lines.end());
  }
};

TEST_F(ZipTest, ZipPatterns) {
  struct Case {
    const char* pattern;
    int16_t result;
    std::string entries;
  } cases[] = {
      {"*.*", kArchiveOk,
       ".h Other/f.txt Sub/b.TXT Sub/e.bin a.txt c.dll run.sh secret.key"},
      {"*.txt", kArchiveOk, "Other/f.txt Sub/b.TXT a.txt"},
      {"  *.DLL   *.bin", kArchiveOk, "Sub/e.bin c.dll"},
      {"sub\\*.*", kArchiveOk, "Sub/b.TXT Sub/e.bin"},
      {"*.zip", kArchiveNothingMatched, "no archive"},
      // A file that cannot be read is left out, and the zip fails.
      {"*.key *.dll", kArchiveSourceUnreadable, "c.dll"},
  };
  for (const char* f : {"a.txt", ".h", "c.dll", "Sub/b.TXT", "Other/f.txt",
                        "secret.key", "run.sh"}) {
    Put(f, f);
  }
  Put("Sub/e.bin", std::string("\x7f\0\xff\r\n", 5) + std::string(9999, 'b'));
  fs::create_directories("Empty");  // folders are not stored
  ::chmod("run.sh", 0755);
  ::chmod("secret.key", 0);
  ::chmod(Download().c_str(), 0777);
  ::chmod(sb_.app().c_str(), 0777);
  ::chmod(sb_.root().c_str(), 0755);
  const std::string out = sb_.app() + "/Out.zip";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    window_.lines.clear();
    std::optional<ScopedUnprivileged> nobody;
    if (c.result == kArchiveSourceUnreadable) nobody.emplace();
    EXPECT_EQ(ZipFiles(form_, "..\\Out.zip", c.pattern), c.result);
    nobody.reset();
    EXPECT_EQ(EntryNames(out), c.entries);
    if (c.result != kArchiveOk) {
      EXPECT_EQ(window_.lines.back(),
                "!!! Could not zip:  " + std::to_string(c.result));
    }
    if (std::string(c.pattern) == "*.*") {
      EXPECT_EQ(window_.lines,
                (Lines{"Zip Files      : ..\\Out.zip", "File Spec      : *.*",
                       "!!! Could not remove the zip file. "}));
      EXPECT_EQ(UnZipFiles(form_, "..\\Out.zip", Update(), "*.*"), kArchiveOk);
      fs::remove("Empty");
      EXPECT_TRUE(Tree(Update()) == Tree(Download()));
      struct stat st;
      ASSERT_EQ(::stat((Update() + "/run.sh").c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0755u);
    }
  }
  EXPECT_EQ(std::count(window_.lines.begin(), window_.lines.end(),
                       "!!! Could not read: secret.key (70-Permission denied)"),
            1);
  // The old archive, named in another case, is replaced and left out.
  MakeArchive(out, {{"old.txt", "old"}});
  window_.lines.clear();
  EXPECT_EQ(ZipFiles(form_, "..\\out.ZIP", "*.dll"), kArchiveOk);
  EXPECT_EQ(window_.lines.size(), 2u);  // no warning line
  EXPECT_EQ(EntryNames(sb_.app() + "/out.ZIP"), "c.dll");
  EXPECT_FALSE(fs::exists(out));
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

TEST_F(ZipTest, UnzipPatterns) {
  MakeArchive("Patch.zip", {{"Core.DLL", "1"},
                            {"Bin/Tool.dll", "2"},
                            {"Docs\\Guide.TXT", "3"},
                            {"setup.exe", "4"}});
  struct Case {
    const char* pattern;
    std::string tree;
  } cases[] = {
      {"*.dll", "Bin/ Bin/Tool.dll=2 Core.DLL=1"},
      {"*.txt   *.EXE", "Docs/ Docs/Guide.TXT=3 setup.exe=4"},
      {"bin\\*", "Bin/ Bin/Tool.dll=2"},
      {"*.zip", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    fs::remove_all(Update());
    window_.lines.clear();
    EXPECT_EQ(UnZipFiles(form_, "patch.ZIP", Update(), c.pattern),
              c.tree.empty() ? kArchiveNothingMatched : kArchiveOk);
    EXPECT_EQ(Tree(Update()), c.tree);
    EXPECT_EQ(UnzipLines(), c.tree.empty() ? Lines{" 7"} : Lines{});
  }
}

TEST_F(ZipTest, ArchivesThatCannotBeRead) {
  MakeArchive("Good.zip", {{"a.txt", std::string(50000, 'a')}});
  std::string good = ReadFile("Good.zip");
  Put("Half.zip", good.substr(0, good.size() / 2));
  fs::create_directories("Folder.zip");
  Put("Locked.zip", good);
  ::chmod("Locked.zip", 0);
  ::chmod(Download().c_str(), 0755);
  ::chmod(sb_.root().c_str(), 0755);
  struct Case {
    const char* archive;
    int16_t result;
  } cases[] = {
      {"No\\Patch.zip", kArchiveNotFound},
      {"Half.zip", kArchiveCorrupt},
      {"Folder.zip", kArchiveUnreadable},
      {"Locked.zip", kArchiveUnreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    window_.lines.clear();
    std::optional<ScopedUnprivileged> nobody;
    if (std::string(c.archive) == "Locked.zip") nobody.emplace();
    EXPECT_EQ(UnZipFiles(form_, c.archive, Update(), "*.*"), c.result);
    nobody.reset();
    EXPECT_EQ(UnzipLines(), Lines{" " + std::to_string(c.result)});
    EXPECT_TRUE(fs::is_empty(Update()));
  }
}

// A NUL byte cuts a name short in the system calls: such names must name
// nothing rather than another file, or a folder walk without end.
TEST_F(ZipTest, NamesWithNulBytesNameNothing) {
  Put("a.txt", "a");
  MakeArchive("Patch.zip", {{"p.txt", "p"}});
  const std::string nul("\0", 1);
  struct Case {
    std::function<int16_t()> call;
    int16_t result;
  } cases[] = {
      {[&] { return ZipFiles(form_, "Out.zip", ".." + nul + "x\\*.*"); },
       kArchiveNothingMatched},
      {[&] { return ZipFiles(form_, "Out.zip" + nul + "x", "*.txt"); },
       kArchiveWriteFailed},
      {[&] { return UnZipFiles(form_, "Patch.zip" + nul, Update(), "*.*"); },
       kArchiveNotFound},
      {[&] { return UnZipFiles(form_, "Patch.zip", Update() + nul, "*.*"); },
       kArchiveWriteFailed},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].call(), cases[i].result) << "case " << i;
    EXPECT_FALSE(fs::exists("Out.zip")) << i;
    EXPECT_TRUE(fs::is_empty(Update())) << i;
  }
}

// What an extraction leaves in the destination, which is made when missing.
// Entries that would land outside it are refused.
TEST_F(ZipTest, UnzipOutcomes) {
  struct Case {
    const char* what;
    std::vector<Entry> entries;
    int16_t result;
    Lines lines;
    std::string tree;
    std::string before = "";  // a file in place first
  } cases[] = {
      {"overwrites without regard to case",
       {{"BIN/tool.dll", "new"},
        {"Bin/New.txt", "n"},
        {"Docs/", "", Entry::kFolder}},
       kArchiveOk,
       {},
       "Docs/ bin/ bin/New.txt=n bin/Tool.DLL=new",
       "bin/Tool.DLL"},
      {"damaged entry keeps the old file",
       {{"a.txt", "Damaged"}, {"b.txt", "new b"}},
       kArchiveEntryDamaged,
       {"!!! Damaged entry not extracted: a.txt (CRC error)", " 4"},
       "a.txt=old b.txt=new b",
       "a.txt"},
      {"names in other encodings",
       {{"caf\x82.txt", "437", Entry::kFile, true}, {"na\xC3\xAFve", "8"}},
       kArchiveOk,
       {"!!! Entry name is not UTF-8, extracted as: caf\xC3\xA9.txt"},
       "caf\xC3\xA9.txt=437 na\xC3\xAFve=8"},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  for (const Entry& bad :
       std::vector<Entry>{{"../evil.txt", "x"},
                          {"Sub/../../evil.txt", "x"},
                          {"..\\evil.txt", "x"},
                          {"../Escape/", "", Entry::kFolder},
                          {"/tmp/evil.txt", "x"},
                          {"c:evil.txt", "x"},
                          {"link", "/etc/passwd", Entry::kLink}}) {
    all.push_back({"unsafe entry",
                   {{"first.txt", "1"}, bad, {"last.txt", "2"}},
                   kArchiveEntryUnsafe,
                   {"!!! Unsafe entry not extracted: " + bad.name, " 5"},
                   "first.txt=1 last.txt=2"});
  }
  for (const Case& c : all) {
    SCOPED_TRACE(c.what + (c.lines.empty() ? "" : " " + c.lines.front()));
    fs::remove_all(Update());
    if (!c.before.empty()) WriteFile(Update() + "/" + c.before, "old");
    MakeArchive("Patch.zip", c.entries);
    if (c.result == kArchiveEntryDamaged) {
      std::string bytes = ReadFile("Patch.zip");
      bytes[bytes.find("Damaged")] = 'd';  // the checksum no longer fits
      WriteFile(Download() + "/Patch.zip", bytes);
    }
    window_.lines.clear();
    EXPECT_EQ(UnZipFiles(form_, "Patch.zip", Update(), "*.*"), c.result);
    EXPECT_EQ(UnzipLines(), c.lines);
    EXPECT_EQ(Tree(Update()), c.tree);
  }
  EXPECT_FALSE(fs::exists(sb_.app() + "/evil.txt"));
  EXPECT_FALSE(fs::exists(sb_.app() + "/Escape"));
  EXPECT_FALSE(fs::exists("/tmp/evil.txt"));
}

}  // namespace
}  // namespace mv
