#include "system/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "support/sandbox.h"
#include "system/paths.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

TEST(FilesTest, WildcardMatch) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "README", true},
      {"*.*", "a.b.c", true},
      {"*.dll", "Core.DLL", true},
      {"*.dll", "Core.dll.bak", false},
      {"Patch?.zip", "patch7.ZIP", true},
      {"Patch?.zip", "Patch12.zip", false},
      {"*", "", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"MVUpdate.dat", "mvupdate.dat", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match)
        << c.pattern << " vs " << c.name;
  }
}

TEST(FilesTest, CopyReplacesTargetAndKeepsMode) {
  TempFolder tmp;
  WriteFile(tmp / "src.sh", "#!/bin/sh\necho new\n");
  ::chmod((tmp / "src.sh").c_str(), 0755);
  WriteFile(tmp / "dst.sh", "old contents that are longer than the new ones");
  ASSERT_TRUE(CopyFile(tmp / "src.sh", tmp / "dst.sh").ok());
  EXPECT_EQ(ReadFile(tmp / "dst.sh"), "#!/bin/sh\necho new\n");
  struct stat st;
  ASSERT_EQ(::stat((tmp / "dst.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()),
                          fs::directory_iterator()),
            2);
}

TEST(FilesTest, CopyOntoItselfKeepsContents) {
  TempFolder tmp;
  WriteFile(tmp / "Same.txt", "keep me");
  EXPECT_TRUE(CopyFile(tmp / "Same.txt", tmp / "same.TXT").ok());
  EXPECT_EQ(ReadFile(tmp / "Same.txt"), "keep me");
}

TEST(FilesTest, FailuresCarryCatalogueNumbers) {
  TempFolder tmp;
  ScopedEnv env;
  env.Set("MVUPDATE_UNC_ROOT", tmp / "unc");
  fs::create_directories(tmp / "unc/SRV/MVUpdate");
  fs::create_directories(tmp / "dir");
  WriteFile(tmp / "file", "x");
  struct Case {
    const char* what;
    Status status;
    int number;
  } cases[] = {
      {"copy of a missing file", CopyFile(tmp / "nope", tmp / "x"),
       kFileNotFound},
      {"copy into a missing folder", CopyFile(tmp / "file", tmp / "no/x"),
       kPathNotFound},
      {"copy from an unshared server",
       CopyFile(NativePath("\\\\OTHER\\MVUpdate\\a"), tmp / "x"),
       kPathFileAccessError},
      {"copy from a missing share",
       CopyFile(NativePath("\\\\SRV\\Nope\\a"), tmp / "x"),
       kPathFileAccessError},
      {"copy of a missing file in a share",
       CopyFile(NativePath("\\\\SRV\\MVUpdate\\a"), tmp / "x"), kFileNotFound},
      {"folder that exists", MakeFolder(tmp / "dir"), kFileAlreadyExists},
      {"folder whose parent is missing", MakeFolder(tmp / "a/b"),
       kPathNotFound},
      {"delete without a match", DeleteFiles(tmp / "*.zip"), kFileNotFound},
      {"delete in a missing folder", DeleteFiles(tmp / "no/*.*"),
       kPathNotFound},
      {"change to a missing folder", ChangeFolder(tmp / "nope"), kPathNotFound},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.status.ok()) << c.what;
    EXPECT_EQ(c.status.failure().number(), c.number) << c.what;
  }
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
  EXPECT_TRUE(fs::exists(tmp / ".hidden.dll"));
  EXPECT_TRUE(fs::exists(tmp / "folder.dll"));
  EXPECT_FALSE(fs::exists(tmp / "b.dll"));
}

TEST(FilesTest, WriteFileAtomicallyReplacesWholeFile) {
  TempFolder tmp;
  WriteFile(tmp / "f", "old old old");
  ASSERT_TRUE(WriteFileAtomically(tmp / "f", "new").ok());
  EXPECT_EQ(ReadFile(tmp / "f"), "new");
  Status st = WriteFileAtomically(tmp / "missing/f", "x");
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(st.failure().number(), kPathNotFound);
}

// A file that may not be written is not replaced through the rename, which
// the folder's permissions alone would allow.
TEST(FilesTest, WriteFileAtomicallyLeavesReadOnlyFiles) {
  struct Case {
    const char* what;
    mode_t mode;
    bool unprivileged;
    bool replaced;
  } cases[] = {
      {"read-only for everybody", 0444, false, false},
      {"readable by its owner only", 0400, false, false},
      {"another user's file", 0644, true, false},
      {"writable", 0644, false, true},
      {"another user's file that all may write", 0666, true, true},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    ::chmod(tmp.path().c_str(), 0777);
    WriteFile(tmp / "f", "old");
    ASSERT_EQ(::chmod((tmp / "f").c_str(), c.mode), 0);
    Status st = Status::Ok();
    {
      std::optional<ScopedUnprivileged> nobody;
      if (c.unprivileged) nobody.emplace();
      st = WriteFileAtomically(tmp / "f", "new");
    }
    EXPECT_EQ(st.ok(), c.replaced) << c.what;
    if (!c.replaced) {
      ASSERT_FALSE(st.ok());
      EXPECT_EQ(st.failure().number(), kPermissionDenied) << c.what;
    }
    EXPECT_EQ(ReadFile(tmp / "f"), c.replaced ? "new" : "old") << c.what;
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()),
                            fs::directory_iterator()),
              1)
        << c.what << ": a temporary file was left";
  }
}

}  // namespace
}  // namespace mv

namespace mv {
namespace {

TEST(FilesTest, NulBytesAndOverlongNamesAreRefused) {
  TempFolder tmp;
  WriteFile(tmp / "victim", "keep");
  const std::string nul = tmp / std::string("victim\0/../other", 16);
  const std::string overlong = tmp / std::string(300, 'n');
  struct Case {
    const char* what;
    Status status;
    int number;
  } cases[] = {
      {"delete with a NUL", DeleteFiles(nul), kBadFileName},
      {"copy to a NUL", CopyFile(tmp / "victim", nul), kBadFileName},
      {"write to a NUL", WriteFileAtomically(nul, "x"), kBadFileName},
      {"folder with a NUL", MakeFolder(nul), kBadFileName},
      {"overlong folder", MakeFolder(overlong), kBadFileName},
      {"copy to an overlong name", CopyFile(tmp / "victim", overlong),
       kBadFileName},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.status.ok()) << c.what;
    EXPECT_EQ(c.status.failure().number(), c.number) << c.what;
  }
  EXPECT_EQ(ReadFile(tmp / "victim"), "keep");
  EXPECT_FALSE(PathExists(nul));
}

}  // namespace
}  // namespace mv
