#include "system/paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/sandbox.h"

namespace mv {
namespace {

TEST(PathsTest, NativePath) {
  ScopedEnv env;
  env.Set("MVUPDATE_UNC_ROOT", "/srv/unc/");
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"..\\Update", "../Update"},
      {"Patch12.zip", "Patch12.zip"},
      {"\\\\SRV01\\MVUpdate\\MVUpdate.dat",
       "/srv/unc/SRV01/MVUpdate/MVUpdate.dat"},
      {"\\single", "/single"},
      {"/opt/merivane\\Application", "/opt/merivane/Application"},
  };
  for (const Case& c : cases) EXPECT_EQ(NativePath(c.in), c.out) << c.in;
}

TEST(PathsTest, JoinPath) {
  EXPECT_EQ(JoinPath("/opt/m", "\\Application"), "/opt/m/Application");
  EXPECT_EQ(JoinPath("/opt/m/", "\\Application"), "/opt/m/Application");
  EXPECT_EQ(JoinPath("/opt/m", "Download\\*.*"), "/opt/m/Download/*.*");
  EXPECT_EQ(JoinPath("", "\\x"), "/x");
}

TEST(PathsTest, ParentAndBase) {
  EXPECT_EQ(ParentFolder("/a/b/c.txt"), "/a/b");
  EXPECT_EQ(ParentFolder("/c.txt"), "/");
  EXPECT_EQ(ParentFolder("c.txt"), "");
  EXPECT_EQ(BaseName("/a/b/c.txt"), "c.txt");
  EXPECT_EQ(BaseName("c.txt"), "c.txt");
}

TEST(PathsTest, ResolveCaseFindsExistingEntriesWithoutCase) {
  TempFolder tmp;
  std::filesystem::create_directories(tmp / "Database/Sub");
  WriteFile(tmp / "Database/Sub/MVEvents.log", "x");
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {tmp / "database/sub/mvevents.LOG", tmp / "Database/Sub/MVEvents.log"},
      {tmp / "Database/Sub/MVEvents.log", tmp / "Database/Sub/MVEvents.log"},
      // New names keep the case given; nothing below a missing folder is
      // looked up.
      {tmp / "DATABASE/New.txt", tmp / "Database/New.txt"},
      {tmp / "missing/database", tmp / "missing/database"},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveCase(c.in), c.out) << c.in;
}

TEST(PathsTest, UncShareFolder) {
  ScopedEnv env;
  env.Set("MVUPDATE_UNC_ROOT", "/mnt/unc");
  EXPECT_EQ(UncShareFolder("/mnt/unc/SRV/MVUpdate/a/b.dat"),
            "/mnt/unc/SRV/MVUpdate");
  EXPECT_EQ(UncShareFolder("/mnt/unc/SRV"), "/mnt/unc/SRV");
  EXPECT_EQ(UncShareFolder("/mnt/uncle/SRV/x"), "");
  EXPECT_EQ(UncShareFolder("/opt/x"), "");
}

}  // namespace
}  // namespace mv
