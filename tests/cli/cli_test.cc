#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/sandbox.h"

namespace mv {
namespace {

struct CliRun {
  int status;
  std::string out;
};

// Runs mvupdate-cli with `args` in the current environment.
CliRun RunCli(const std::string& args) {
  std::string cmd = std::string(MVUPDATE_CLI) + " " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  CliRun r{-1, ""};
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(CliTest, ArgumentsAndExitStatus) {
  Sandbox sb;
  CliRun help = RunCli("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: mvupdate-cli"), std::string::npos);

  CliRun bad = RunCli("--frobnicate");
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out,
            "mvupdate-cli: unknown argument '--frobnicate' (try --help)\n");

  // Start-up without a database logs Error lines: exit status 1.
  CliRun plain = RunCli("");
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.out.find("[Directory Info] \nPATH             : " + sb.app()),
            std::string::npos)
      << plain.out;
  const std::string tail =
      "[CUSTOMER FTP]\n"
      "-2147467259-[01000] [unixODBC][Driver Manager]Can't open lib 'SQL "
      "Server' : file not found\n"
      "***Error SQL DB*** Could not load customer information.\n";
  EXPECT_EQ(plain.out.substr(plain.out.size() -
                             std::min(plain.out.size(), tail.size())),
            tail);
  // The FTP component is created without complaint.
  EXPECT_EQ(plain.out.find("InitFTPControl"), std::string::npos) << plain.out;
}

}  // namespace
}  // namespace mv
