// The Qt window against a recording Commands double, on the offscreen
// platform.
#include "gui/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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
  std::map<std::string, std::function<void()>> during;

 private:
  void Run(const std::string& name) {
    calls.push_back(name);
    if (auto it = during.find(name); it != during.end()) it->second();
  }
};

template <typename T>
T* Find(QWidget& window, const char* name) {
  T* w = window.findChild<T*>(name);
  if (w == nullptr) qFatal("no control %s", name);
  return w;
}

QStringList LinesOf(QWidget& window) {
  auto* list = Find<QListWidget>(window, "lstOutput");
  QStringList lines;
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

// CPU time of this process in milliseconds.
double CpuMs() {
  return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

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

  void ControlsTopToBottomAndLeftToRight();
  void BannerDoubleClickRevealsFtpBoxOnly_data();
  void BannerDoubleClickRevealsFtpBoxOnly();
  void ClickWhileACommandRunsIsIgnored_data();
  void ClickWhileACommandRunsIsIgnored();
  void CloseWaitsForTheRunningCommand();
  void ListLines_data();
  void ListLines();
  void MessageBoxIsModalWithCaptionAndOk_data();
  void MessageBoxIsModalWithCaptionAndOk();
  void WaitForEventsIsBoundedAndSleeps();
  void ProgressShowsAndHides();
  void BusyPointerFollowsTheLastCall();

 private:
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<RecordingCommands> commands_;
};

void MainWindowTest::ControlsTopToBottomAndLeftToRight() {
  MainWindow& w = *window_;
  QCOMPARE(w.windowTitle(), QString("Merivane Update 2016"));
  QVERIFY(!w.windowIcon().isNull());
  const struct {
    const char* name;
    const char* text;
  } texts[] = {
      {"Label1", "Merivane Update"},
      {"Label2",
       "Use this utility to apply Merivane updates. When this utility is run "
       "from the server machine, updates are downloaded from the FTP site.  "
       "When run from the client machine, updates are downloaded from the "
       "server. Left-Click the Update System button to perform update."},
      {"chkUseAltSite", "Use Alternate"},
      {"cmdUpdate", "Update System"},
      {"cmdCheckSystem", "Check System"},
      {"cmdResetLastUpdate", "Reset Last Update"},
      {"chkUpdateFromFTP", "Update from FTP Site"},
  };
  for (const auto& t : texts) {
    QCOMPARE(Find<QWidget>(w, t.name)->property("text").toString(),
             QString(t.text));
  }
  // Banner across the whole width, then title, description, row and list;
  // four controls in the row, the fifth hidden and unticked.
  QCOMPARE(Find<QWidget>(w, "Picture1")->width(), w.centralWidget()->width());
  auto in_order = [&](std::vector<const char*> names, bool across) {
    for (size_t i = 1; i < names.size(); ++i) {
      QRect before = Find<QWidget>(w, names[i - 1])->geometry();
      QRect after = Find<QWidget>(w, names[i])->geometry();
      if (across ? before.right() >= after.left()
                 : before.bottom() >= after.top()) {
        return false;
      }
    }
    return true;
  };
  QVERIFY(in_order({"Picture1", "Label1", "Label2", "cmdUpdate", "lstOutput"},
                   false));
  QVERIFY(in_order(
      {"chkUseAltSite", "cmdUpdate", "cmdCheckSystem", "cmdResetLastUpdate"},
      true));
  QVERIFY(!Find<QCheckBox>(w, "chkUseAltSite")->isChecked());
  QVERIFY(!Find<QWidget>(w, "chkUpdateFromFTP")->isVisible());
  QVERIFY(!w.UpdateFromFtpTicked());

  // The list takes what the window gains, and its font has fixed pitch so
  // that the padded labels of the log line up.
  auto* list = Find<QListWidget>(w, "lstOutput");
  const int list_height = list->height();
  w.resize(w.width() + 100, w.height() + 150);
  QTest::qWait(0);
  QCOMPARE(list->height(), list_height + 150);
  QVERIFY(QFontInfo(list->font()).fixedPitch());
}

void MainWindowTest::BannerDoubleClickRevealsFtpBoxOnly_data() {
  QTest::addColumn<bool>("on_icon");
  QTest::addColumn<bool>("tick");
  QTest::newRow("on the icon, unticked") << true << false;
  QTest::newRow("on the icon, ticked") << true << true;
  QTest::newRow("beside the icon, unticked") << false << false;
  QTest::newRow("beside the icon, ticked") << false << true;
}

void MainWindowTest::BannerDoubleClickRevealsFtpBoxOnly() {
  QFETCH(bool, on_icon);
  QFETCH(bool, tick);
  MainWindow& w = *window_;
  auto* banner = Find<QWidget>(w, "Picture1");
  auto* icon = Find<QWidget>(w, "Image1");
  auto* ftp = Find<QCheckBox>(w, "chkUpdateFromFTP");
  QPoint at = icon->mapTo(banner, icon->rect().center());
  if (!on_icon) at.setX(banner->width() - 20);

  QTest::mouseDClick(banner, Qt::LeftButton, {}, at);
  QVERIFY(ftp->isVisible());
  // It comes last in the row.
  QVERIFY(Find<QWidget>(w, "cmdResetLastUpdate")->geometry().right() <
          ftp->geometry().left());
  QVERIFY(!w.UpdateFromFtpTicked());
  if (tick) QTest::mouseClick(ftp, Qt::LeftButton);
  QCOMPARE(w.UpdateFromFtpTicked(), tick);

  // A second double-click changes nothing.
  QTest::mouseDClick(banner, Qt::LeftButton, {}, at);
  QVERIFY(ftp->isVisible());
  QCOMPARE(w.UpdateFromFtpTicked(), tick);
  QVERIFY(!w.UseAlternateTicked());
  QVERIFY(commands_->calls.empty());
}

void MainWindowTest::ClickWhileACommandRunsIsIgnored_data() {
  QTest::addColumn<QString>("running");  // "Load" or a button
  QTest::addColumn<QString>("clicked");
  QTest::addColumn<QString>("clicked_command");
  QTest::addColumn<bool>("waits");  // true: a bounded wait; false: list lines
  QTest::newRow("start-up, update") << "Load"
                                    << "cmdUpdate"
                                    << "UpdateSystem" << false;
  QTest::newRow("start-up, check") << "Load"
                                   << "cmdCheckSystem"
                                   << "CheckSystem" << false;
  QTest::newRow("update, update") << "cmdUpdate"
                                  << "cmdUpdate"
                                  << "UpdateSystem" << true;
  QTest::newRow("update, reset") << "cmdUpdate"
                                 << "cmdResetLastUpdate"
                                 << "ResetLastUpdate" << true;
  QTest::newRow("check, update") << "cmdCheckSystem"
                                 << "cmdUpdate"
                                 << "UpdateSystem" << false;
}

void MainWindowTest::ClickWhileACommandRunsIsIgnored() {
  QFETCH(QString, running);
  QFETCH(QString, clicked);
  QFETCH(QString, clicked_command);
  QFETCH(bool, waits);
  MainWindow& w = *window_;
  auto* button = Find<QPushButton>(w, qPrintable(clicked));
  bool clicked_once = false;
  auto during = [&] {
    if (std::exchange(clicked_once, true)) return;
    // The click arrives as an event while the command works.
    QTimer::singleShot(0, button,
                       [button] { QTest::mouseClick(button, Qt::LeftButton); });
    if (waits) {
      w.WaitForEvents(std::chrono::milliseconds(200));
    } else {
      QTest::qSleep(20);
      w.AddLine("...working");
    }
  };
  for (const char* name : {"Load", "UpdateSystem", "CheckSystem"}) {
    commands_->during[name] = during;
  }
  if (running == "Load") {
    w.RunLoad();
  } else {
    QTest::mouseClick(Find<QPushButton>(w, qPrintable(running)),
                      Qt::LeftButton);
  }
  QCOMPARE(commands_->calls.size(), size_t{1});
  QVERIFY(w.statusBar()->currentMessage().contains("ignored"));
  QVERIFY(button->isEnabled());

  // Once the command has ended, the same click starts its own command.
  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(commands_->calls.size(), size_t{2});
  QCOMPARE(commands_->calls.back(), clicked_command.toStdString());
}

void MainWindowTest::CloseWaitsForTheRunningCommand() {
  MainWindow& w = *window_;
  bool visible_after_close = false;
  commands_->during["UpdateSystem"] = [&] {
    w.close();
    w.DoEvents();
    visible_after_close = w.isVisible();
  };
  QTest::mouseClick(Find<QPushButton>(w, "cmdUpdate"), Qt::LeftButton);
  QVERIFY(visible_after_close);
  QVERIFY(!w.isVisible());
}

void MainWindowTest::ListLines_data() {
  QTest::addColumn<QStringList>("before");
  QTest::addColumn<QByteArray>("replacement");
  QTest::addColumn<QStringList>("after");
  QTest::newRow("empty box gets one line")
      << QStringList{} << QByteArray("...Downloading 10%")
      << QStringList{"...Downloading 10%"};
  QTest::newRow("last of two lines changes")
      << QStringList{"[FTP]", "...Downloading 10%"}
      << QByteArray("...Downloading 20%")
      << QStringList{"[FTP]", "...Downloading 20%"};
  QTest::newRow("code page byte shown as its character")
      << QStringList{"x"} << QByteArray("Caf\xe9 \x80 5")
      << QStringList{QString::fromUtf8("Caf\xc3\xa9 \xe2\x82\xac 5")};
}

void MainWindowTest::ListLines() {
  QFETCH(QStringList, before);
  QFETCH(QByteArray, replacement);
  QFETCH(QStringList, after);
  MainWindow& w = *window_;
  w.AddLine("from an earlier command");
  w.ClearLines();
  for (const QString& line : before) w.AddLine(line.toStdString());
  w.ReplaceLastLine(std::string_view(replacement.constData(),
                                     static_cast<size_t>(replacement.size())));
  QCOMPARE(LinesOf(w), after);
}

void MainWindowTest::MessageBoxIsModalWithCaptionAndOk_data() {
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("prompt");
  QTest::newRow("error") << "Merivane Error"
                         << "Disk full";
  QTest::newRow("markup stays text") << "Merivane Message"
                                     << "<b>5 < 6</b> & more";
}

void MainWindowTest::MessageBoxIsModalWithCaptionAndOk() {
  QFETCH(QString, caption);
  QFETCH(QString, prompt);
  QString seen_title, seen_text;
  bool ok_only = false, no_icon = false, modal = false;
  // Closes whatever modal box is open, so the test never hangs on it.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen_title = box->windowTitle();
    seen_text = box->text();
    ok_only = box->standardButtons() == QMessageBox::Ok;
    no_icon = box->icon() == QMessageBox::NoIcon;
    modal = box->isModal();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  closer.start(20);
  QElapsedTimer clock;
  clock.start();
  window_->ShowMessageBox(prompt.toStdString(), caption.toStdString());
  QVERIFY(clock.elapsed() < 5000);
  QCOMPARE(seen_title, caption);
  QCOMPARE(seen_text, prompt);
  QVERIFY(ok_only);
  QVERIFY(no_icon);
  QVERIFY(modal);
  QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void MainWindowTest::WaitForEventsIsBoundedAndSleeps() {
  MainWindow& w = *window_;
  // Nothing happens: each call blocks, so few calls fill the time and the
  // CPU stays idle.
  QElapsedTimer clock;
  clock.start();
  const double cpu_start = CpuMs();
  int calls = 0;
  while (clock.elapsed() < 400) {
    w.WaitForEvents(std::chrono::milliseconds(100));
    ++calls;
  }
  QVERIFY2(calls <= 10, qPrintable(QString::number(calls)));
  QVERIFY(CpuMs() - cpu_start < 100);

  // An event that arrives early ends the wait early and is run.
  bool ran = false;
  QTimer::singleShot(30, [&] { ran = true; });
  clock.restart();
  w.WaitForEvents(std::chrono::seconds(10));
  QVERIFY(ran);
  QVERIFY(clock.elapsed() < 2000);
}

void MainWindowTest::ProgressShowsAndHides() {
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

void MainWindowTest::BusyPointerFollowsTheLastCall() {
  struct Case {
    const char* what;
    std::vector<bool> calls;
    bool busy_after;
  } cases[] = {
      {"busy", {true}, true},
      {"busy twice, then done once", {true, true, false}, false},
      {"done without busy", {false}, false},
      {"done twice", {true, false, false}, false},
  };
  for (const Case& c : cases) {
    // A pointer set by someone else stays underneath.
    QApplication::setOverrideCursor(Qt::CrossCursor);
    for (bool busy : c.calls) window_->SetBusy(busy);
    const QCursor* cursor = QApplication::overrideCursor();
    QVERIFY2(cursor != nullptr, c.what);
    QCOMPARE(cursor->shape(), c.busy_after ? Qt::WaitCursor : Qt::CrossCursor);
    window_->SetBusy(false);
    QApplication::restoreOverrideCursor();
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }
  // The window gives the pointer back when it goes.
  window_->SetBusy(true);
  window_.reset();
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

}  // namespace mv

QTEST_MAIN(mv::MainWindowTest)
#include "main_window_test.moc"
