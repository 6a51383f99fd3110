// The Qt window against a recording Commands double, and the program.
#include "gui/main_window.h"

#include <QTest>
#include <QtWidgets>
#include <ctime>
#include <functional>

namespace mv {
namespace {

// `during` runs inside each command, as real ones let window events through.
struct RecordingCommands : Commands {
  void Load() override { Run("Load"); }
  void UpdateSystem() override { Run("UpdateSystem"); }
  void CheckSystem() override { Run("CheckSystem"); }
  void ResetLastUpdate() override { Run("ResetLastUpdate"); }
  void Run(const QString& name) {
    calls << name;
    if (during) during();
  }
  QStringList calls;
  std::function<void()> during;
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<RecordingCommands> commands;
  std::unique_ptr<MainWindow> w;

 private slots:
  void init() {
    commands = std::make_unique<RecordingCommands>();
    w = std::make_unique<MainWindow>();
    w->SetCommands(commands.get());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  }

  // A double-click on the banner shows the FTP box; then the row in order.
  void ControlsCommandsAndLines() {
    auto* ftp = w->findChild<QCheckBox*>("chkUpdateFromFTP");
    QVERIFY(!ftp->isVisible());
    QTest::mouseDClick(w->findChild<QWidget*>("Picture1"), Qt::LeftButton);
    QVERIFY(ftp->isVisible() && commands->calls.empty());
    QList<QAbstractButton*> row = w->findChildren<QAbstractButton*>();
    std::sort(row.begin(), row.end(),
              [](auto* a, auto* b) { return a->x() < b->x(); });
    QStringList texts;
    for (QAbstractButton* control : row) {
      texts << control->text();
      QTest::mouseClick(control, Qt::LeftButton);
    }
    QCOMPARE(texts,
             (QStringList{"Use Alternate", "Update System", "Check System",
                          "Reset Last Update", "Update from FTP Site"}));
    QCOMPARE(commands->calls,
             (QStringList{"UpdateSystem", "CheckSystem", "ResetLastUpdate"}));
    QVERIFY(w->UseAlternateTicked() && w->UpdateFromFtpTicked());
    w->AddLine("from the command before");
    w->ClearLines();
    w->ReplaceLastLine("...Downloading 10%");  // an empty box gets the line
    w->ReplaceLastLine("Caf\xe9 \x80 5");      // code page bytes, decoded
    auto* list = w->findChild<QListWidget*>("lstOutput");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), "Caf\u00e9 \u20ac 5");
  }

  // A click while start-up shows a line, or while a command waits for events,
  // starts nothing; after it, it does. Closing waits for the command's end.
  void OneCommandAtATime() {
    auto* button = w->findChild<QPushButton*>("cmdUpdate");
    for (bool waits : {false, true}) {
      commands->calls.clear();
      commands->during = [&, clicked = false]() mutable {
        if (std::exchange(clicked, true)) return;
        QTimer::singleShot(0, button, [button] { button->click(); });
        waits ? w->WaitForEvents(std::chrono::milliseconds(200))
              : w->AddLine("...working");
      };
      waits ? button->click() : w->RunLoad();
      QVERIFY(w->statusBar()->currentMessage().contains("ignored"));
      button->click();
      QCOMPARE(commands->calls,
               (QStringList{waits ? "UpdateSystem" : "Load", "UpdateSystem"}));
    }
    commands->during = [&] {
      w->close();
      w->DoEvents();
      QVERIFY(w->isVisible());
    };
    button->click();
    QVERIFY(!w->isVisible());
  }

  // Modal, plain text, OK only, and the ordinary pointer over the busy one.
  void MessageBox() {
    QString seen;
    QTimer closer;  // closes whatever modal box is open
    QObject::connect(&closer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      bool plain = box->standardButtons() == QMessageBox::Ok &&
                   box->icon() == QMessageBox::NoIcon && box->isModal() &&
                   QApplication::overrideCursor()->shape() == Qt::ArrowCursor;
      seen = box->windowTitle() + "|" + box->text() + (plain ? "|plain" : "");
      box->button(QMessageBox::Ok)->click();
    });
    closer.start(20);
    w->SetBusy(true);
    w->ShowMessageBox("<b>5 < 6</b> & more", "Merivane Error");
    QCOMPARE(seen, "Merivane Error|<b>5 < 6</b> & more|plain");
  }

  // Each call blocks, the processor idle, until an event or the bound.
  void WaitForEventsIsBoundedAndSleeps() {
    const std::clock_t cpu_start = std::clock();
    int calls = 0;
    for (QDeadlineTimer end(400); !end.hasExpired(); ++calls)
      w->WaitForEvents(std::chrono::milliseconds(100));
    QVERIFY(calls <= 10 && std::clock() - cpu_start < CLOCKS_PER_SEC / 10);
    bool ran = false;
    QTimer::singleShot(30, [&] { ran = true; });
    QElapsedTimer clock;
    clock.start();
    w->WaitForEvents(std::chrono::seconds(10));
    QVERIFY(ran && clock.elapsed() < 2000);
  }

  // Beyond 32 bits, more than announced, an empty file, an unknown size.
  void ProgressShowsAndHides() {
    auto* bar = w->findChild<QProgressBar*>("progressBar");
    auto* text = w->findChild<QLabel*>("progressText");
    QVERIFY(!bar->isVisible());
    const std::tuple<int64_t, int64_t, int, int> steps[] = {
        {4'000'000'000, 16'000'000'000, 1000, 250},
        {5'000, 4'000, 1000, 1000},
        {0, 0, 1000, 1000},
        {1234, -1, 0, 0}};
    for (auto [done, total, maximum, value] : steps) {
      w->ShowProgress(done, total);
      QVERIFY(bar->isVisible() && bar->maximum() == maximum);
      if (maximum > 0) QCOMPARE(bar->value(), value);
    }
    QVERIFY(text->text().contains(QLocale().toString(1234)));
    w->HideProgress();
    QVERIFY(!bar->isVisible() && !text->isVisible());
  }

  // Start-up runs, then the picture goes to a name relative to the starting
  // folder, which start-up has left.
  void ScreenshotAfterStartUp() {
    QTemporaryDir sandbox;
    QDir().mkpath(sandbox.filePath("Application"));
    qputenv("MVUPDATE_REGISTRY", sandbox.filePath("registry.reg").toUtf8());
    qputenv("MVUPDATE_DEFAULT_INSTALL_PATH", sandbox.path().toUtf8());
    QDir::setCurrent(sandbox.path());
    QCOMPARE(QProcess::execute(MVUPDATE_GUI, {"--screenshot", "w.png"}), 0);
    QImage shot(sandbox.filePath("w.png"));
    QVERIFY(shot.width() >= 400 && shot.height() >= 300);
    QCOMPARE(shot.pixelColor(shot.width() / 2, shot.height() - 8),
             QColor(192, 192, 192));  // the window's grey below the list
    QFile log(sandbox.filePath("Database/MVUpEvents.log"));
    QVERIFY(log.open(QIODevice::ReadOnly) &&
            log.readAll().contains("SERVER NAME      : [Server]"));
  }
};

}  // namespace mv

QTEST_MAIN(mv::MainWindowTest)
#include "main_window_test.moc"
