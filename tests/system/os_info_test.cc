#include "system/os_info.h"

#include <gtest/gtest.h>

#include "support/sandbox.h"

namespace mv {
namespace {

TEST(OsInfoTest, WindowsVersionTable) {
  struct Case {
    std::optional<WindowsVersionInfo> info;
    const char* name;
  } cases[] = {
      {std::nullopt, "Unable to identify your version of Windows."},
      {WindowsVersionInfo{0, 3, 10}, "Win32s on Windows 3.1"},
      {WindowsVersionInfo{1, 4, 0}, "Windows 95"},
      {WindowsVersionInfo{1, 4, 90}, "Windows Me"},
      {WindowsVersionInfo{1, 4, 10}, "Windows 98"},
      {WindowsVersionInfo{2, 3, 51}, "Windows NT 3.5"},
      {WindowsVersionInfo{2, 4, 0}, "Windows NT 4.0"},
      {WindowsVersionInfo{2, 5, 0}, "Windows 2000"},
      {WindowsVersionInfo{2, 5, 1}, "Windows XP"},
      {WindowsVersionInfo{2, 5, 2}, "Windows Server 2003"},
      {WindowsVersionInfo{2, 5, 3}, "Windows NT"},
      {WindowsVersionInfo{2, 6, 0}, "Windows Vista/Server 2008"},
      {WindowsVersionInfo{2, 6, 1}, "Windows 7/Server 2008 R2"},
      {WindowsVersionInfo{2, 6, 2}, "Windows NT"},
      {WindowsVersionInfo{2, 10, 0}, "Windows NT"},
      {WindowsVersionInfo{3, 10, 0}, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowsVersionName(c.info), c.name)
        << (c.info ? c.info->platform_id : 99u) << " "
        << (c.info ? c.info->major : 0u) << "."
        << (c.info ? c.info->minor : 0u);
  }
}

TEST(OsInfoTest, LinuxVersionFromOsRelease) {
  TempFolder tmp;
  WriteFile(tmp / "os1",
            "NAME=Debian\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
  WriteFile(tmp / "os2", "PRETTY_NAME='Single \\'quoted\\''\n");
  WriteFile(tmp / "os3", "NAME=NoPretty\n");
  EXPECT_EQ(GetWindowsVersionName(tmp / "os1"),
            "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(GetWindowsVersionName(tmp / "os2"), "Single 'quoted'");
  // Without PRETTY_NAME, or without the file, the kernel names the system.
  EXPECT_EQ(GetWindowsVersionName(tmp / "os3").rfind("Linux ", 0), 0u);
  EXPECT_EQ(GetWindowsVersionName(tmp / "missing").rfind("Linux ", 0), 0u);
}

TEST(OsInfoTest, ComputerName) {
  ScopedEnv env;
  struct Case {
    std::string set;
    std::string expected;
  } cases[] = {
      {"TILL3", "TILL3"},
      {"", ""},
      {std::string(50, 'n'), std::string(50, 'n')},
      {std::string(51, 'n'), ""},  // does not fit the 51-character buffer
  };
  for (const Case& c : cases) {
    env.Set("MVUPDATE_COMPUTERNAME", c.set);
    EXPECT_EQ(GetLocalComputerName(), c.expected) << c.set;
  }
  env.Set("MVUPDATE_COMPUTERNAME", std::nullopt);
  EXPECT_FALSE(GetLocalComputerName().empty());
}

}  // namespace
}  // namespace mv
