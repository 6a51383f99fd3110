// mvupdate: the update utility's window. Start-up runs right after the
// window is shown, so that its lines appear in the list box as they are
// logged; then the window waits for clicks. Closing it ends the program.
// The --screenshot options (see kUsage) keep the README's pictures current.
#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "app/about.h"
#include "app/commands.h"
#include "app/form.h"
#include "gui/main_window.h"
#include "gui/screenshot.h"

namespace {

constexpr char kUsage[] =
    "usage: mvupdate [--help | --version] [Qt options]\n"
    "       mvupdate [--screenshot FILE] [--screenshot-transfer FILE]\n"
    "                [--screenshot-update FILE] [--stop-during-transfer]\n"
    "\n"
    "Shows the window of the Merivane update utility, runs its start-up and\n"
    "waits for one of its buttons: Update System, Check System, Reset Last\n"
    "Update (mvupdate-cli(1) runs them without a window). The configuration\n"
    "file is described in mvupdate.conf(5). Qt's own options (-platform,\n"
    "-display, ...) are accepted.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the versions of the program and its libraries\n"
    "\n"
    "Pictures of the window, for the documentation (scripts/screenshot); the\n"
    "pictures are written as PNG, then the program ends:\n"
    "  --screenshot FILE           after start-up\n"
    "  --screenshot-transfer FILE  in the middle of the first transfer of\n"
    "                              Update System, pressed after start-up\n"
    "  --screenshot-update FILE    after that run\n"
    "  --stop-during-transfer      press Stop in the middle of that transfer\n"
    "\n"
    "Exit status: 0 when the window was closed, 1 when a picture could not\n"
    "be taken or there is no display to show the window on, 2 for an\n"
    "argument that is not understood.\n";

int UsageError(const QString& why) {
  std::fprintf(stderr, "mvupdate: %s (try --help)\n",
               why.toLocal8Bit().constData());
  return 2;
}

// The window that can be pictured in the middle of a transfer.
class PictureWindow : public mv::MainWindow {
 public:
  // Called once, at the first report of a transfer of known size that has
  // begun and not ended.
  std::function<void()> at_transfer;

  void ShowProgress(int64_t done, int64_t total) override {
    MainWindow::ShowProgress(done, total);
    if (at_transfer && 0 < done && done < total) {
      std::exchange(at_transfer, nullptr)();
    }
  }
};

// True when Qt has no display to open: no X or Wayland display named and
// no platform chosen by the environment or the arguments.
bool NoDisplay(int argc, char** argv) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return false;
  }
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-platform" || arg == "--platform") return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before the application object exists, so without a display.
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::string text =
          mv::VersionText("mvupdate") + "Qt " + qVersion() + "\n";
      std::fputs(text.c_str(), stdout);
      return 0;
    }
  }
  // Without a display Qt would end the program before the arguments are
  // read; the offscreen platform lets them be judged (and pictures be
  // taken), and the window is not shown.
  const bool no_display = NoDisplay(argc, argv);
  if (no_display) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  app.setApplicationName("mvupdate");
  app.setOrganizationName("Merivane");
  QGuiApplication::setDesktopFileName("mvupdate");

  // QApplication has taken its own options (-platform and so on) already.
  QStringList args = QApplication::arguments().mid(1);
  // Start-up changes the current folder; fix the files' places now.
  QString after_start_up, mid_transfer, after_update;
  const bool stop_during_transfer =
      args.removeAll("--stop-during-transfer") > 0;
  for (qsizetype i = 0; i < args.size(); i += 2) {
    QString* file = args[i] == "--screenshot"            ? &after_start_up
                    : args[i] == "--screenshot-transfer" ? &mid_transfer
                    : args[i] == "--screenshot-update"   ? &after_update
                                                         : nullptr;
    if (file == nullptr || i + 1 == args.size()) {
      return UsageError("unknown argument '" + args[i] + "'");
    }
    *file = QFileInfo(args[i + 1]).absoluteFilePath();
  }
  if (no_display && args.isEmpty()) {
    std::fputs(
        "mvupdate: there is no display to show the window on (DISPLAY is "
        "not set); mvupdate-cli runs the same commands without a window\n",
        stderr);
    return 1;
  }

  PictureWindow window;
  mv::Form form(window);
  mv::FormCommands commands(form);
  window.SetCommands(&commands);
  window.show();

  int status = 0;
  auto picture = [&](const QString& file) {
    QString error = mv::SaveScreenshot(window, file);
    if (error.isEmpty()) return;
    std::fprintf(stderr, "mvupdate: %s\n", error.toLocal8Bit().constData());
    status = 1;
  };
  QTimer::singleShot(0, &window, [&] {
    window.RunLoad();
    if (args.isEmpty()) return;
    if (!after_start_up.isEmpty()) picture(after_start_up);
    if (!mid_transfer.isEmpty() || !after_update.isEmpty()) {
      if (!mid_transfer.isEmpty() || stop_during_transfer) {
        window.at_transfer = [&] {
          if (!mid_transfer.isEmpty()) picture(mid_transfer);
          if (stop_during_transfer) {
            window.findChild<QPushButton*>("cmdStop")->click();
          }
        };
      }
      window.findChild<QPushButton*>("cmdUpdate")->click();
      if (window.at_transfer) {
        std::fprintf(stderr, "mvupdate: the run transferred no file\n");
        status = 1;
      }
      if (!after_update.isEmpty()) picture(after_update);
    }
    QApplication::exit(status);
  });
  int loop = app.exec();
  return status != 0 ? status : loop;
}
