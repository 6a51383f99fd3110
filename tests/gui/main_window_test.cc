// The Qt window against a recording Commands double, and the program.
#include "gui/main_window.h"

#include <QTest>
#include <QtWidgets>
#include <ctime>
#include <functional>

namespace mv {
namespace {

// Records which operations the window started; a hook can act while one
// of them runs, as the real commands do when they let events through.
class RecordingCommands : public Commands {
 public:
  void Load() override { Run("Load"); }
  void UpdateSystem() override { Run("UpdateSystem"); }
  void CheckSystem() override { Run("CheckSystem"); }
  void ResetLastUpdate() override { Run("ResetLastUpdate"); }

  std::vector<std::string> calls;
  std::function<void()> during;  // runs inside every command

 private:
  void Run(const std::string& name) {
    calls.push_back(name);
    if (during) during();
  }
};

template <typename T = QWidget>
T* Find(QWidget& window, const char* name) {
  T* w = window.findChild<T*>(name);
  if (w == nullptr) qFatal("no control %s", name);
  return w;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<RecordingCommands> commands_;

 private slots:
  void init() {
    window_ = std::make_unique<MainWindow>();
    commands_ = std::make_unique<RecordingCommands>();
    window_->SetCommands(commands_.get());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  void cleanup() {
    window_.reset();
    commands_.reset();
  }

  // The banner spans the window; a double-click anywhere on it reveals the
  // FTP box, last in the row and unticked, and does nothing else. The list
  // takes what the window gains; its font has fixed pitch so that the padded
  // labels of the log line up.
  void LayoutAndHiddenFtpBox() {
    MainWindow& w = *window_;
    auto* banner = Find(w, "Picture1");
    auto* icon = Find(w, "Image1");
    auto* ftp = Find<QCheckBox>(w, "chkUpdateFromFTP");
    QCOMPARE(banner->width(), w.centralWidget()->width());
    QVERIFY(!ftp->isVisible());
    const QPoint on_icon = icon->mapTo(banner, icon->rect().center());
    QTest::mouseDClick(banner, Qt::LeftButton, {},
                       QPoint(banner->width() - 20, on_icon.y()));
    QVERIFY(ftp->isVisible() && !w.UpdateFromFtpTicked());
    QVERIFY(Find(w, "cmdResetLastUpdate")->geometry().right() <
            ftp->geometry().left());
    QTest::mouseClick(ftp, Qt::LeftButton);
    QTest::mouseDClick(banner, Qt::LeftButton, {}, on_icon);
    QVERIFY(ftp->isVisible() && w.UpdateFromFtpTicked());
    QVERIFY(!w.UseAlternateTicked());
    QVERIFY(commands_->calls.empty());

    auto* list = Find<QListWidget>(w, "lstOutput");
    const int list_height = list->height();
    w.resize(w.width() + 100, w.height() + 150);
    QTest::qWait(0);
    QCOMPARE(list->height(), list_height + 150);
    QVERIFY(QFontInfo(list->font()).fixedPitch());
  }

  // A click on Update System that arrives while start-up shows lines, or
  // while Update System waits for events, starts nothing; once the command
  // has ended, the same click starts its own.
  void ClickWhileACommandRunsIsIgnored() {
    MainWindow& w = *window_;
    auto* button = Find<QPushButton>(w, "cmdUpdate");
    for (bool waits : {false, true}) {
      commands_->calls.clear();
      w.statusBar()->clearMessage();
      bool clicked_once = false;
      commands_->during = [&] {
        if (std::exchange(clicked_once, true)) return;
        QTimer::singleShot(
            0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
        if (waits) {
          w.WaitForEvents(std::chrono::milliseconds(200));
        } else {
          QTest::qSleep(20);
          w.AddLine("...working");
        }
      };
      if (waits) {
        QTest::mouseClick(button, Qt::LeftButton);
      } else {
        w.RunLoad();
      }
      QCOMPARE(commands_->calls.size(), size_t{1});
      QVERIFY(w.statusBar()->currentMessage().contains("ignored"));
      QVERIFY(button->isEnabled());
      QTest::mouseClick(button, Qt::LeftButton);
      QCOMPARE(commands_->calls,
               (std::vector<std::string>{waits ? "UpdateSystem" : "Load",
                                         "UpdateSystem"}));
    }
  }

  void CloseWaitsForTheRunningCommand() {
    MainWindow& w = *window_;
    bool visible_after_close = false;
    commands_->during = [&] {
      w.close();
      w.DoEvents();
      visible_after_close = w.isVisible();
    };
    QTest::mouseClick(Find(w, "cmdUpdate"), Qt::LeftButton);
    QVERIFY(visible_after_close);
    QVERIFY(!w.isVisible());
  }

  void ReplaceLastLine() {
    MainWindow& w = *window_;
    w.AddLine("from an earlier command");
    w.ClearLines();
    w.ReplaceLastLine("...Downloading 10%");  // an empty box gets the line
    w.AddLine("[FTP]");
    w.AddLine("...Downloading 10%");
    w.ReplaceLastLine("Caf\xe9 \x80 5");  // code page bytes as characters
    auto* list = Find<QListWidget>(w, "lstOutput");
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    QCOMPARE(lines,
             (QStringList{"...Downloading 10%", "[FTP]",
                          QString::fromUtf8("Caf\xc3\xa9 \xe2\x82\xac 5")}));
  }

  void MessageBoxIsModalWithCaptionAndOk() {
    const QString prompt = "<b>5 < 6</b> & more";  // markup stays text
    QString seen;
    // Closes whatever modal box is open, so the test never hangs on it.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      bool plain = box->standardButtons() == QMessageBox::Ok &&
                   box->icon() == QMessageBox::NoIcon && box->isModal();
      seen = box->windowTitle() + "|" + box->text() + (plain ? "|plain" : "");
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    closer.start(20);
    window_->ShowMessageBox(prompt.toStdString(), "Merivane Error");
    QCOMPARE(seen, "Merivane Error|" + prompt + "|plain");
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }

  void WaitForEventsIsBoundedAndSleeps() {
    MainWindow& w = *window_;
    // Nothing happens: each call blocks, so few calls fill the time and the
    // CPU stays idle.
    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpu_start = std::clock();
    int calls = 0;
    for (; clock.elapsed() < 400; ++calls) {
      w.WaitForEvents(std::chrono::milliseconds(100));
    }
    QVERIFY2(calls <= 10, qPrintable(QString::number(calls)));
    QVERIFY(std::clock() - cpu_start < CLOCKS_PER_SEC / 10);
    // An event that arrives early ends the wait early and is run.
    bool ran = false;
    QTimer::singleShot(30, [&] { ran = true; });
    clock.restart();
    w.WaitForEvents(std::chrono::seconds(10));
    QVERIFY(ran && clock.elapsed() < 2000);
  }

  void ProgressShowsAndHides() {
    MainWindow& w = *window_;
    auto* bar = Find<QProgressBar>(w, "progressBar");
    auto* text = Find<QLabel>(w, "progressText");
    QVERIFY(!bar->isVisible());
    struct Step {
      int64_t done, total;
      int maximum, value;
    } steps[] = {
        {1'000'000'000, 4'000'000'000, 1000, 250},  // beyond 32 bits
        {5'000, 4'000, 1000, 1000},                 // more than announced
        {0, 0, 1000, 1000},                         // empty file
        {1234, -1, 0, -1},                          // size unknown: busy
    };
    for (const Step& s : steps) {
      w.ShowProgress(s.done, s.total);
      QVERIFY(bar->isVisible());
      QCOMPARE(bar->maximum(), s.maximum);
      if (s.value >= 0) QCOMPARE(bar->value(), s.value);
    }
    QVERIFY(text->text().contains(QLocale().toString(qlonglong(1234))));
    w.HideProgress();
    QVERIFY(!bar->isVisible() && !text->isVisible());
  }

  // The program itself on a sandbox installation with the hidden screenshot
  // option: start-up runs, then the picture is written to a name relative
  // to the starting folder, which start-up has left.
  void ScreenshotAfterStartUp() {
    QTemporaryDir sandbox;
    const QString install = sandbox.filePath("Merivane");
    QDir().mkpath(install + "/Application");
    QDir().mkpath(sandbox.filePath("shots"));
    QFile registry(sandbox.filePath("registry.reg"));
    QVERIFY(registry.open(QIODevice::WriteOnly));
    registry.write(
        QString("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\n"
                "\"InstallPath\"=\"%1\"\n\"DBServerName\"=\"SHOT\"\n")
            .arg(install)
            .toUtf8());
    registry.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("MVUPDATE_REGISTRY", registry.fileName());
    env.insert("XDG_CONFIG_HOME", sandbox.filePath("config"));
    env.insert("MVUPDATE_COMPUTERNAME", "SHOT");
    env.insert("MVUPDATE_UNC_ROOT", sandbox.filePath("unc"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(sandbox.path());
    program.start(MVUPDATE_GUI, {"--screenshot", "shots/window.png"});
    QVERIFY(program.waitForFinished(60000));
    QVERIFY(program.exitStatus() == QProcess::NormalExit &&
            program.exitCode() == 0);
    QImage shot(sandbox.filePath("shots/window.png"));
    QVERIFY(shot.width() >= 400 && shot.height() >= 300);
    // The grey of the window below the list box.
    QCOMPARE(shot.pixelColor(shot.width() / 2, shot.height() - 8),
             QColor(192, 192, 192));
    // Start-up wrote the event log (its folder's name may be in any case).
    QDirIterator it(install, {"MVUpEvents.log"}, QDir::Files,
                    QDirIterator::Subdirectories);
    QVERIFY(it.hasNext());
    QFile log(it.next());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("SERVER NAME      : SHOT"));
  }

  void BusyPointerFollowsTheLastCall() {
    auto shape = [] { return QApplication::overrideCursor()->shape(); };
    // A pointer set by someone else stays underneath.
    QApplication::setOverrideCursor(Qt::CrossCursor);
    window_->SetBusy(true);
    window_->SetBusy(true);
    QCOMPARE(shape(), Qt::WaitCursor);
    window_->SetBusy(false);
    QCOMPARE(shape(), Qt::CrossCursor);
    window_->SetBusy(false);
    QCOMPARE(shape(), Qt::CrossCursor);
    QApplication::restoreOverrideCursor();
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // The window gives the pointer back when it goes.
    window_->SetBusy(true);
    window_.reset();
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }
};

}  // namespace mv

QTEST_MAIN(mv::MainWindowTest)
#include "main_window_test.moc"
