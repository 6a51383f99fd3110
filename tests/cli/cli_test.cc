#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/sandbox.h"
#include "system/settings_store.h"

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

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CliTest, CommandLinesThatCannotBeUnderstood) {
  Sandbox sb;
  struct Case {
    const char* args;
    const char* message;
  } cases[] = {
      {"--frobnicate", "unknown argument '--frobnicate'"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"check now", "check: unexpected argument 'now'"},
      {"reset 3", "reset: unexpected argument '3'"},
      {"update --now", "update: unexpected argument '--now'"},
      {"version", "version: no file named"},
  };
  for (const Case& c : cases) {
    CliRun r = RunCli(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.out,
              "mvupdate-cli: " + std::string(c.message) + " (try --help)\n");
  }
  CliRun help = RunCli("version --help");
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"usage: mvupdate-cli", "\n  check ", "\n  reset ",
                           "\n  version FILE... "}) {
    EXPECT_TRUE(Has(help.out, part)) << part;
  }
}

TEST(CliTest, CommandsAndExitStatus) {
  Sandbox sb;
  std::string pe = MVUPDATE_TEST_PE_DIR;
  WriteFile(sb.app() + "/POS.exe", ReadFile(pe + "/Merivane.exe"));
  const std::string kStartUp =
      "[Directory Info] \nPATH             : " + sb.app();
  struct Case {
    std::string args;
    int status;  // 1: the missing database logs an Error line at start-up
    bool start_up;
    std::string part;
  } cases[] = {
      {"", 1, true, "[MODE SETTINGS]"},
      {"check", 1, true,
       "\n[Check System Version]\n"
       "The Merivane files will be checked."},
      {"check", 1, true,
       "\n...Checking: POS.exe...7.0.2016.1122\n"
       "!!! Checking: MerivaneLM.exe...not found!!!\n"},
      {"reset", 1, true, "\n[Reset Last Update]\n...last update reset to -1\n"},
      {"version " + pe + "/QorinMVCore.dll " + pe + "/Merivane.exe", 0, false,
       "FILE VERSION     : 1.2.3.4\n"},
      {"version " + pe + "/Merivane.exe", 0, false,
       "LEGAL COPYRIGHT  : © 2016 Qorin Größe\n"},
      {"version " + pe + "/Merivane.exe " + sb.app(), 1, false,
       "\n!!! " + sb.app() + "...no version information!!!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    CliRun r = RunCli(c.args);
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_EQ(Has(r.out, kStartUp), c.start_up) << r.out;
    EXPECT_TRUE(Has(r.out, c.part)) << r.out;
  }
  // The reset reached this user's settings store.
  EXPECT_EQ(SettingsStore(sb.config_home())
                .GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "")
                .value(),
            "-1");
}

TEST(CliTest, StartUpWithoutDatabase) {
  Sandbox sb;
  CliRun plain = RunCli("");
  EXPECT_EQ(plain.status, 1);
  const std::string tail =
      "[CUSTOMER FTP]\n"
      "-2147467259-[01000] [unixODBC][Driver Manager]Can't open lib 'SQL "
      "Server' : file not found\n"
      "***Error SQL DB*** Could not load customer information.\n";
  EXPECT_EQ(plain.out.substr(plain.out.size() -
                             std::min(plain.out.size(), tail.size())),
            tail);
  // The FTP component is created without complaint.
  EXPECT_FALSE(Has(plain.out, "InitFTPControl")) << plain.out;
}

}  // namespace
}  // namespace mv
