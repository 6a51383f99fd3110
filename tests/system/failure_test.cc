#include "system/failure.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "support/sandbox.h"

namespace mv {
namespace {

TEST(FailureTest, TextIsNumberDashDescription) {
  EXPECT_EQ(Failure(kFileNotFound).Text(), "53-File not found");
  EXPECT_EQ(Failure(kPathFileAccessError).Text(), "75-Path/File access error");
  EXPECT_EQ(Failure(kDatabaseError, "[unixODBC] no").Text(),
            "-2147467259-[unixODBC] no");
}

TEST(FailureTest, FromErrno) {
  TempFolder tmp;
  struct Case {
    int err;
    std::string path;
    int number;
  } cases[] = {
      {ENOENT, tmp / "missing.txt", kFileNotFound},
      {ENOENT, tmp / "no-folder/missing.txt", kPathNotFound},
      {EEXIST, tmp / "x", kFileAlreadyExists},
      {EACCES, tmp / "x", kPermissionDenied},
      {EPERM, tmp / "x", kPermissionDenied},
      {ENOSPC, tmp / "x", kDiskFull},
      {EINVAL, tmp / "x", kPathFileAccessError},
      {EBUSY, tmp / "x", kPathFileAccessError},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Failure::FromErrno(c.err, c.path).number(), c.number)
        << "errno " << c.err << " for " << c.path;
  }
}

TEST(FailureTest, ResultCarriesValueOrFailure) {
  Result<int> good = 7;
  Result<int> bad = Failure(kOverflow);
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good.value(), 7);
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.status().failure().Text(), "6-Overflow");
}

}  // namespace
}  // namespace mv
