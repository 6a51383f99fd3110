// mvupdate: the update utility's window. Start-up runs right after the
// window is shown, so that its lines appear in the list box as they are
// logged; then the window waits for clicks. Closing it ends the program.
//
// --screenshot FILE (not listed in any help): after start-up, save a picture
// of the window to FILE as PNG and end. Used to keep the README's picture
// current.
#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/about.h"
#include "app/commands.h"
#include "app/form.h"
#include "gui/main_window.h"
#include "gui/screenshot.h"

namespace {

int UsageError(const QString& why) {
  std::fprintf(stderr, "mvupdate: %s\n", why.toLocal8Bit().constData());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before the application object exists, so without a display.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::string text = mv::VersionText("mvupdate") + "Qt " + qVersion() + "\n";
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  QApplication app(argc, argv);
  app.setApplicationName("mvupdate");
  QGuiApplication::setDesktopFileName("mvupdate");

  // QApplication has taken its own options (-platform and so on) already.
  QStringList args = QApplication::arguments().mid(1);
  QString screenshot;
  if (args.size() == 2 && args[0] == "--screenshot") {
    // Start-up changes the current folder; fix the file's place now.
    screenshot = QFileInfo(args[1]).absoluteFilePath();
  } else if (!args.isEmpty()) {
    return UsageError("unknown argument '" + args[0] + "'");
  }

  mv::MainWindow window;
  mv::Form form(window);
  mv::FormCommands commands(form);
  window.SetCommands(&commands);
  window.show();

  int status = 0;
  QTimer::singleShot(0, &window, [&] {
    window.RunLoad();
    if (screenshot.isEmpty()) return;
    QString error = mv::SaveScreenshot(window, screenshot);
    if (!error.isEmpty()) {
      std::fprintf(stderr, "mvupdate: %s\n", error.toLocal8Bit().constData());
      status = 1;
    }
    QApplication::exit(status);
  });
  int loop = app.exec();
  return status != 0 ? status : loop;
}
