#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "cli/console_window.h"
#include "support/child_process.h"
#include "support/sandbox.h"
#include "system/unique_fd.h"

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

// Error and Warning lines are coloured on a terminal that takes colour,
// plain into anything else; the text itself never changes.
TEST(CliTest, MarksInColourOnATerminalOnly) {
  const char* error = "\033[1;31m53-File not found\033[0m\n";
  const std::tuple<bool, const char*, const char*, std::string> cases[] = {
      {true, "xterm", nullptr, error},
      {true, "xterm", "1", "53-File not found\n"},  // NO_COLOR
      {true, "dumb", nullptr, "53-File not found\n"},
      {false, "xterm", nullptr, "53-File not found\n"}};
  for (const auto& [terminal, term, no_colour, shown] : cases) {
    ScopedEnv env;
    env.Set("TERM", term);
    env.Set("NO_COLOR",
            no_colour ? std::optional<std::string>(no_colour) : std::nullopt);
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY));
    ASSERT_TRUE(master && ::grantpt(master.get()) == 0 &&
                ::unlockpt(master.get()) == 0);
    TempFolder tmp;
    std::FILE* out = terminal ? std::fopen(::ptsname(master.get()), "w")
                              : std::fopen((tmp / "out").c_str(), "w");
    ASSERT_NE(out, nullptr);
    ConsoleWindow(out, stderr)
        .AddMarkedLine("53-File not found", LineMark::kError);
    std::fclose(out);
    std::string got;
    if (terminal) {
      // The terminal turns "\n" into "\r\n" on its way to the master.
      char buffer[256];
      ssize_t n = ::read(master.get(), buffer, sizeof buffer);
      got.assign(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
      std::erase(got, '\r');
    } else {
      got = ReadFile(tmp / "out");
    }
    EXPECT_EQ(got, shown) << term << (terminal ? " terminal" : " file");
  }
}

}  // namespace
}  // namespace mv
