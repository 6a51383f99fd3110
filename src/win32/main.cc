// mvupdate.exe: the update utility's window on Windows. Start-up runs as
// soon as the window is shown, so that its lines appear in the list box as
// they are logged; then the window waits for clicks. Closing it ends the
// program. --help and --version answer on the console the program was
// started from, without a window.
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "app/about.h"
#include "app/commands.h"
#include "app/form.h"
#include "win32/main_window.h"

namespace {

constexpr char kUsage[] =
    "usage: mvupdate [--help | --version]\n"
    "\n"
    "Shows the window of the Merivane update utility, runs its start-up and\n"
    "waits for one of its buttons: Update System, Check System, Reset Last\n"
    "Update (mvupdate-cli.exe runs them without a window). The\n"
    "configuration file is %ProgramData%\\Qorin\\mvupdate.conf.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the versions of the program and its libraries\n"
    "\n"
    "Exit status: 0 when the window was closed, 2 for an argument that is\n"
    "not understood.\n";

// A program of the GUI subsystem has no console of its own: its text goes
// to the console it was started from, unless its output is redirected.
void UseParentConsole() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    UseParentConsole();
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::fputs(mv::VersionText("mvupdate").c_str(), stdout);
      return 0;
    }
    std::fprintf(stderr, "mvupdate: unknown argument '%s' (try --help)\n",
                 argv[i]);
    return 2;
  }
  mv::Win32Window window;
  mv::Form form(window);
  mv::FormCommands commands(form);
  window.SetCommands(&commands);
  window.Show(SW_SHOWDEFAULT);
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) window.Dispatch(msg);
  return static_cast<int>(msg.wParam);
}
