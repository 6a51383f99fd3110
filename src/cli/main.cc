// mvupdate-cli: the update utility without a window. Each command of the
// table below does what a button of the window does (after the start-up
// sequence the window runs when it loads, where the command needs it) and
// prints every list-box line to standard output.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/about.h"
#include "app/commands.h"
#include "app/form.h"
#include "cli/console_window.h"
#include "system/config.h"
#include "tools/version_report.h"

namespace {

using Args = std::vector<std::string>;

struct Invocation {
  mv::ConsoleWindow& window;
  mv::Form& form;
  mv::Commands& commands;
  const Args& args;  // the command's own arguments
  // Why the command refused to run once start-up had shown what it needs;
  // the program then ends with status 2.
  std::string refused = "";
};

struct CliCommand {
  std::string_view name;
  std::string_view synopsis;  // the arguments, for the usage text
  std::string_view summary;
  bool start_up;  // runs the start-up sequence first
  // The complaint about the command's arguments, or "" when they are fine.
  std::string (*check)(const Args& args);
  void (*run)(Invocation& in);
};

std::string NoArguments(const Args& args) {
  return args.empty() ? "" : "unexpected argument '" + args[0] + "'";
}

std::string SomeFiles(const Args& args) {
  return args.empty() ? "no file named" : "";
}

std::string UpdateOptions(const Args& args) {
  for (const std::string& a : args) {
    if (a != "--alternate" && a != "--from-ftp") {
      return "unexpected argument '" + a + "'";
    }
  }
  return "";
}

bool Has(const Args& args, std::string_view option) {
  for (const std::string& a : args) {
    if (a == option) return true;
  }
  return false;
}

constexpr CliCommand kCommands[] = {
    {"update", "[--alternate] [--from-ftp]",
     "Update System: install every newer update", true, UpdateOptions,
     [](Invocation& in) {
       // Start-up enables the box only when the customer record was read
       // and names an alternate site; without one the run would clear the
       // Download folder and then fail to connect.
       if (Has(in.args, "--alternate") && !in.window.use_alternate_enabled()) {
         in.refused =
             "update --alternate: no alternate FTP site is known (the "
             "customer record could not be read or names none); nothing was "
             "done";
         return;
       }
       in.window.TickUseAlternate(Has(in.args, "--alternate"));
       in.window.TickUpdateFromFtp(Has(in.args, "--from-ftp"));
       in.commands.UpdateSystem();
     }},
    {"check", "", "Check System: list the version of each program file", true,
     NoArguments, [](Invocation& in) { in.commands.CheckSystem(); }},
    {"reset", "", "Reset Last Update: lower the stored update number by one",
     true, NoArguments, [](Invocation& in) { in.commands.ResetLastUpdate(); }},
    {"version", "FILE...",
     "list the version information of each FILE (no start-up)", false,
     SomeFiles,
     [](Invocation& in) {
       for (const std::string& file : in.args)
         mv::ShowFileVersion(in.form.log, file);
     }},
};

void PrintUsage() {
  std::string text =
      "usage: mvupdate-cli [--help | --version] [COMMAND [ARGUMENTS]]\n"
      "\n"
      "Runs the start-up of the Merivane update utility, then COMMAND, and\n"
      "prints every line of its list box. Without COMMAND only the start-up\n"
      "runs.\n"
      "\n"
      "Commands:\n";
  for (const CliCommand& c : kCommands) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict, GCC
    // bug 105329) on a literal added to a string.
    std::string head = "  ";
    head += c.name;
    if (!c.synopsis.empty()) {
      head += ' ';
      head += c.synopsis;
    }
    if (head.size() > 18) head += "\n";
    head.resize(head.size() > 18 ? head.size() + 20 : 20, ' ');
    text += head;
    text += c.summary;
    text += '\n';
  }
  text +=
      "\n"
      "Options of update: --alternate works against the alternate FTP site\n"
      "(the box \"Use Alternate\"); --from-ftp makes a client installation\n"
      "update from the FTP site like a server (the box \"Update from FTP\n"
      "Site\").\n"
      "\n"
      "Exit status: 0 when no Error line was logged, 1 otherwise, 2 for a\n"
      "command line that cannot be understood (or update --alternate when no\n"
      "alternate FTP site is known). The last line of standard error says how\n"
      "the command ended.\n"
      "\n"
      "Configuration file: " +
      mv::ConfigFilePath() +
      ", or the one MVUPDATE_CONFIG\n"
      "names; section [mvupdate], keys below. The environment variable\n"
      "MVUPDATE_<KEY> wins over a key (ODBCSYSINI: ODBCSYSINI); the database\n"
      "login is read from the file only. See mvupdate.conf(5).\n";
  // The keys wrapped at 76 columns, each line indented by one blank.
  size_t column = 1;
  text += ' ';
  for (std::string_view key : mv::ConfigKeys()) {
    if (column + 1 + key.size() > 76) {
      text += "\n ";
      column = 1;
    }
    (text += ' ') += key;
    column += 1 + key.size();
  }
  text += '\n';
  std::fputs(text.c_str(), stdout);
}

int UsageError(const std::string& why) {
  std::fprintf(stderr, "mvupdate-cli: %s (try --help)\n", why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      PrintUsage();
      return 0;
    }
    if (a == "--version") {
      std::fputs(mv::VersionText("mvupdate-cli").c_str(), stdout);
      return 0;
    }
  }
  const CliCommand* command = nullptr;
  if (!args.empty()) {
    for (const CliCommand& c : kCommands) {
      if (c.name == args[0]) command = &c;
    }
    if (!command) {
      bool option = args[0].size() > 1 && args[0][0] == '-';
      return UsageError(
          std::string(option ? "unknown argument '" : "unknown command '") +
          args[0] + "'");
    }
    args.erase(args.begin());
    std::string complaint = command->check(args);
    if (!complaint.empty()) {
      return UsageError(std::string(command->name) + ": " + complaint);
    }
  }

  mv::ConsoleWindow window(stdout, stderr);
  mv::Form form(window);
  mv::FormCommands commands(form);
  // One lock from start-up to the command's end: another run could
  // otherwise start its command, or clear the event log, in between. A
  // lock that is held or unusable is left to start-up and the command,
  // which say so.
  mv::RunLock lock(form.RunLockFile());
  if (command && command->start_up &&
      lock.Acquire() == mv::RunLock::Outcome::kTaken) {
    form.held_run_lock = &lock;
  }
  if (!command || command->start_up) commands.Load();
  if (command) {
    Invocation in{window, form, commands, args};
    command->run(in);
    if (!in.refused.empty()) {
      std::fprintf(stderr, "mvupdate-cli: %s\n", in.refused.c_str());
      return 2;
    }
  }
  return form.error_lines() == 0 ? 0 : 1;
}
