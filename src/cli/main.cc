// mvupdate-cli: the update utility without a window. It runs the start-up
// sequence, then the command named on the command line, and prints every
// list-box line to standard output.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/form.h"
#include "cli/console_window.h"

namespace {

constexpr char kUsage[] =
    "usage: mvupdate-cli [--help]\n"
    "\n"
    "Runs the start-up of the Merivane update utility and prints its lines.\n"
    "\n"
    "Exit status: 0 when no Error line was logged, 1 otherwise, 2 for a\n"
    "command line that cannot be understood.\n";

int UsageError(const std::string& why) {
  std::fprintf(stderr, "mvupdate-cli: %s (try --help)\n", why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (!args.empty()) return UsageError("unknown argument '" + args[0] + "'");

  mv::ConsoleWindow window(stdout, stderr);
  mv::Form form(window);
  mv::FormCommands commands(form);
  commands.Load();
  return form.error_lines == 0 ? 0 : 1;
}
