// Suite paths on this system and the file operations built on them.
#include "system/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "support/sandbox.h"
#include "system/paths.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

size_t Entries(const std::string& folder) {
  return static_cast<size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(PathsTest, NativeJoinedAndCaseResolvedPaths) {
  ScopedEnv env;
  env.Set("MVUPDATE_UNC_ROOT", "/srv/unc/");
  TempFolder tmp;
  fs::create_directories(tmp / "Database/Sub");
  WriteFile(tmp / "Database/Sub/MVEvents.log", "x");
  struct Case {
    std::string got, expected;
  } cases[] = {
      {NativePath("..\\Update"), "../Update"},
      {NativePath("\\\\SRV\\MVUpdate\\M.dat"), "/srv/unc/SRV/MVUpdate/M.dat"},
      {NativePath("/opt/m\\Application"), "/opt/m/Application"},
      {JoinPath("/opt/m/", "\\Application"), "/opt/m/Application"},
      {UncShareFolder("/srv/unc/SRV/MVUpdate/a/b"), "/srv/unc/SRV/MVUpdate"},
      {UncShareFolder("/srv/uncle/SRV/x"), ""},
      {ResolveCase(tmp / "database/sub/mvevents.LOG"),
       tmp / "Database/Sub/MVEvents.log"},
      // New names keep the case given; nothing below a missing folder is
      // looked up.
      {ResolveCase(tmp / "DATABASE/New.txt"), tmp / "Database/New.txt"},
      {ResolveCase(tmp / "missing/database"), tmp / "missing/database"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(FilesTest, WildcardMatch) {
  for (auto [pattern, name] : {std::pair{"*.*", "README"},
                               {"a*b*c", "aXbYbZc"},
                               {"*.dll", "Core.DLL"},
                               {"P?.zip", "p7.ZIP"}}) {
    EXPECT_TRUE(WildcardMatch(pattern, name)) << pattern << " " << name;
  }
  for (auto [pattern, name] : {std::pair{"*.dll", "Core.dll.bak"},
                               {"P?.zip", "P12.zip"},
                               {"a*b*c", "aXbYbZ"}}) {
    EXPECT_FALSE(WildcardMatch(pattern, name)) << pattern << " " << name;
  }
}

TEST(FilesTest, CopyReplacesTargetKeepsModeAndNeverEmptiesItself) {
  TempFolder tmp;
  WriteFile(tmp / "src.sh", "#!/bin/sh\n");
  ::chmod((tmp / "src.sh").c_str(), 0755);
  WriteFile(tmp / "dst.sh", "old contents that are longer than the new ones");
  ASSERT_TRUE(CopyFile(tmp / "src.sh", tmp / "dst.sh").ok());
  EXPECT_EQ(ReadFile(tmp / "dst.sh"), "#!/bin/sh\n");
  struct stat st;
  ASSERT_EQ(::stat((tmp / "dst.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(Entries(tmp.path()), 2u);  // no temporary file left
  // A copy onto itself, named in another case, keeps the contents.
  EXPECT_TRUE(CopyFile(tmp / "src.sh", tmp / "SRC.sh").ok());
  EXPECT_EQ(ReadFile(tmp / "src.sh"), "#!/bin/sh\n");
}

// The failures the interpreter's commands do not already show.
TEST(FilesTest, FailuresCarryCatalogueNumbers) {
  TempFolder tmp;
  WriteFile(tmp / "file", "keep");
  const std::string nul = tmp / std::string("file\0/../other", 14);
  struct Case {
    Status status;
    int number;
  } cases[] = {
      {CopyFile(tmp / "nope", tmp / "x"), kFileNotFound},
      {MakeFolder(tmp / "a/b"), kPathNotFound},
      {DeleteFiles(tmp / "no/*.*"), kPathNotFound},
      {WriteFileAtomically(tmp / "no/f", "x"), kPathNotFound},
      // A NUL byte would cut the name short in the system calls.
      {CopyFile(tmp / "file", nul), kBadFileName},
      {WriteFileAtomically(nul, "x"), kBadFileName},
      {CopyFile(tmp / "file", tmp / std::string(300, 'n')), kBadFileName},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_FALSE(cases[i].status.ok()) << "case " << i;
    EXPECT_EQ(cases[i].status.failure().number(), cases[i].number) << i;
  }
  EXPECT_EQ(ReadFile(tmp / "file"), "keep");
}

TEST(FilesTest, ListAndDeleteSkipFoldersAndHiddenFiles) {
  TempFolder tmp;
  WriteFile(tmp / "b.dll", "");
  WriteFile(tmp / "A.DLL", "");
  WriteFile(tmp / ".hidden.dll", "");
  fs::create_directories(tmp / "folder.dll");
  Result<std::vector<std::string>> names = ListFiles(tmp / "*.dll");
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(names.value(), (std::vector<std::string>{"A.DLL", "b.dll"}));
  ASSERT_TRUE(DeleteFiles(tmp / "*.dll").ok());
  EXPECT_EQ(Entries(tmp.path()), 2u);
  EXPECT_FALSE(fs::exists(tmp / "b.dll"));
}

// A file that may not be written is not replaced through the rename, which
// the folder's permissions alone would allow.
TEST(FilesTest, WriteFileAtomicallyLeavesReadOnlyFiles) {
  struct Case {
    const char* what;
    mode_t mode;
    bool unprivileged, replaced;
  } cases[] = {
      {"read-only for everybody", 0444, false, false},
      {"another user's file", 0644, true, false},
      {"another user's file that all may write", 0666, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder tmp;
    ::chmod(tmp.path().c_str(), 0777);
    WriteFile(tmp / "f", "old");
    ASSERT_EQ(::chmod((tmp / "f").c_str(), c.mode), 0);
    Status st = [&] {
      std::optional<ScopedUnprivileged> nobody;
      if (c.unprivileged) nobody.emplace();
      return WriteFileAtomically(tmp / "f", "new");
    }();
    EXPECT_EQ(st.ok() ? 0 : st.failure().number(),
              c.replaced ? 0 : kPermissionDenied);
    EXPECT_EQ(ReadFile(tmp / "f"), c.replaced ? "new" : "old");
    EXPECT_EQ(Entries(tmp.path()), 1u) << "a temporary file was left";
  }
}

}  // namespace
}  // namespace mv
