#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/child_process.h"
#include "support/sandbox.h"

namespace mv {
namespace {

// Every command but version (and a command line that cannot be understood)
// runs start-up first; without a database it logs an Error line. Reset Last
// Update names the event log as it lies on disk.
TEST(CliTest, CommandsAndExitStatus) {
  Sandbox sb;
  std::filesystem::create_directories(sb.install() + "/dataBASE");
  const std::string pe = MVUPDATE_TEST_PE_DIR, usage = " (try --help)\n";
  WriteFile(sb.app() + "/POS.exe", ReadFile(pe + "/Merivane.exe"));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string part;  // of the output; all of it for status 2
  } cases[] = {
      {{}, 1, "\n***Error SQL DB*** Could not load customer information.\n"},
      {{"check"}, 1, "\n...Checking: POS.exe...7.0.2016.1122\n"},
      {{"reset"}, 1, "'" + sb.install() + "/dataBASE/MVUpEvents.log'.\n"},
      // A folder has no version information: an Error line.
      {{"version", pe + "/Merivane.exe", sb.app()},
       1,
       "LEGAL COPYRIGHT  : © 2016 Qorin Größe\n"},
      {{"version", "--help"}, 0, "usage: mvupdate-cli"},
      {{"--frobnicate"}, 2, "unknown argument '--frobnicate'"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"check", "now"}, 2, "check: unexpected argument 'now'"},
      {{"update", "--now"}, 2, "update: unexpected argument '--now'"},
      {{"version"}, 2, "version: no file named"},
  };
  for (Case& c : cases) {
    bool start_up = c.status != 2 && (c.args.empty() || c.args[0] != "version");
    c.args.insert(c.args.begin(), MVUPDATE_CLI);
    ChildProcess cli(c.args);
    EXPECT_EQ(cli.Wait(), c.status) << c.part;
    const std::string out = cli.out() + cli.err();
    if (c.status == 2) {
      EXPECT_EQ(out, "mvupdate-cli: " + c.part + usage);
      continue;
    }
    EXPECT_NE(out.find(c.part), std::string::npos) << out;
    EXPECT_EQ(out.find("[Directory Info]") != std::string::npos, start_up);
  }
}

// A FIFO under the name of the registry or settings file, or of the event
// log, holds nothing up: the command ends at once, naming the file.
TEST(CliTest, FifosAreRefused) {
  for (int i = 0; i < 3; ++i) {
    Sandbox sb;
    const std::string fifo = i == 0   ? sb.registry_file()
                             : i == 1 ? sb.config_home() + "/Qorin/settings.ini"
                                      : sb.event_log();
    std::filesystem::remove(fifo);
    std::filesystem::create_directories(
        std::filesystem::path(fifo).parent_path());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ChildProcess cli({MVUPDATE_CLI, "reset"});
    EXPECT_EQ(cli.Wait(std::chrono::seconds(20)), 1) << fifo;
    EXPECT_EQ(cli.out().find(fifo + " is a FIFO, not an ordinary file)") !=
                  std::string::npos,
              i < 2)
        << cli.out();
  }
}

// A failed start-up heads the command's list; standard error ends with the
// outcome. No known alternate site: update --alternate clears nothing.
TEST(CliTest, OutcomeAndAlternateSite) {
  Sandbox sb;
  WriteFile(sb.app() + "/Download/kept.txt", "");
  const std::string failed =
      "Start-up failed: -2147467259-The ODBC driver named in the connection "
      "string is not installed. [01000] [unixODBC]";
  ChildProcess alternate({MVUPDATE_CLI, "update", "--alternate"});
  EXPECT_EQ(alternate.Wait(), 2);
  EXPECT_TRUE(alternate.err().ends_with(
      "file not found; see the event log " + sb.event_log() +
      "\nmvupdate-cli: update --alternate: "
      "no alternate FTP site is known (the customer record could not be read "
      "or names none); nothing was done\n"));
  EXPECT_TRUE(std::filesystem::exists(sb.app() + "/Download/kept.txt"));
  ChildProcess update({MVUPDATE_CLI, "update"});
  EXPECT_EQ(update.Wait(), 1);
  EXPECT_NE(update.out().find(".\n" + failed), std::string::npos);
  EXPECT_TRUE(update.err().ends_with(
      "\nUpdate System finished with errors: first error: 1012-\"\" is not "
      "a valid FTP site address.\n"));
}

}  // namespace
}  // namespace mv
