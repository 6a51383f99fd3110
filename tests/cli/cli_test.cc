#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/sandbox.h"
#include "system/settings_store.h"

namespace mv {
namespace {

using Args = std::vector<std::string>;

TEST(CliTest, CommandLinesThatCannotBeUnderstood) {
  Sandbox sb;
  struct Case {
    Args args;
    const char* message;
  } cases[] = {
      {{"--frobnicate"}, "unknown argument '--frobnicate'"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"check", "now"}, "check: unexpected argument 'now'"},
      {{"update", "--now"}, "update: unexpected argument '--now'"},
      {{"version"}, "version: no file named"},
  };
  for (Case& c : cases) {
    c.args.insert(c.args.begin(), MVUPDATE_CLI);
    ChildProcess cli(c.args);
    EXPECT_EQ(cli.Wait(), 2) << c.message;
    EXPECT_EQ(cli.out() + cli.err(),
              "mvupdate-cli: " + std::string(c.message) + " (try --help)\n");
  }
  ChildProcess help({MVUPDATE_CLI, "version", "--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.out().find("usage: mvupdate-cli"), std::string::npos);
  EXPECT_NE(help.out().find("\n  version FILE... "), std::string::npos);
}

TEST(CliTest, CommandsAndExitStatus) {
  Sandbox sb;
  std::string pe = MVUPDATE_TEST_PE_DIR;
  WriteFile(sb.app() + "/POS.exe", ReadFile(pe + "/Merivane.exe"));
  struct Case {
    Args args;
    int status;  // 1: the missing database logs an Error line at start-up
    std::string part;
  } cases[] = {
      // Without a database start-up ends with that failure.
      {{},
       1,
       "\n[CUSTOMER FTP]\n-2147467259-[01000] [unixODBC][Driver Manager]Can't "
       "open lib 'SQL Server' : file not found\n***Error SQL DB*** Could not "
       "load customer information.\n"},
      {{"check"},
       1,
       "\n...Checking: POS.exe...7.0.2016.1122\n"
       "!!! Checking: MerivaneLM.exe...not found!!!\n"},
      {{"reset"}, 1, "\n[Reset Last Update]\n...last update reset to -1\n"},
      {{"version", pe + "/QorinMVCore.dll", pe + "/Merivane.exe"},
       0,
       "FILE VERSION     : 1.2.3.4\n"},
      {{"version", pe + "/Merivane.exe"},
       0,
       "LEGAL COPYRIGHT  : © 2016 Qorin Größe\n"},
      {{"version", pe + "/Merivane.exe", sb.app()},
       1,
       "\n!!! " + sb.app() + "...no version information!!!\n"},
  };
  for (Case& c : cases) {
    // Every command but version runs start-up first.
    bool start_up = c.args.empty() || c.args[0] != "version";
    c.args.insert(c.args.begin(), MVUPDATE_CLI);
    ChildProcess cli(c.args);
    EXPECT_EQ(cli.Wait(), c.status) << c.part;
    const std::string out = cli.out() + cli.err();
    EXPECT_EQ(out.find("[Directory Info] \nPATH             : " + sb.app()) !=
                  std::string::npos,
              start_up)
        << out;
    EXPECT_NE(out.find(c.part), std::string::npos) << out;
  }
  // The reset reached this user's settings store.
  EXPECT_EQ(SettingsStore(sb.config_home())
                .GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "")
                .value(),
            "-1");
}

}  // namespace
}  // namespace mv
