// The Qt window against a recording Commands double, and the program.
#include "gui/main_window.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <QTest>
#include <QtWidgets>
#include <ctime>
#include <fstream>
#include <functional>

#include "app/commands.h"
#include "app/form.h"
#include "data/customer_record.h"
#include "support/child_process.h"
#include "support/postgres_server.h"
#include "support/sandbox.h"
#include "system/unique_fd.h"
#include "transport/curl_ftp_component.h"
#include "transport/ftp_session.h"
#include "update/command_interpreter.h"
#include "update/zip.h"

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

// The texts the status bar's progress shows while it runs, sampled.
struct ProgressTexts : QObject {
  explicit ProgressTexts(QWidget* window)
      : label(window->findChild<QLabel*>("progressText")) {
    connect(&timer, &QTimer::timeout, this, [this] {
      if (label->isVisible() && !label->toolTip().isEmpty())
        seen << label->toolTip();
    });
    timer.start(20);
  }
  bool Saw(const QString& part) const {
    return std::any_of(seen.begin(), seen.end(),
                       [&](const QString& t) { return t.contains(part); });
  }
  QLabel* label;
  QTimer timer;
  QStringList seen;
};

// A site that takes connections and never says a word.
struct SilentSite : FileTransfer {
  bool GetFile(std::string_view, std::string_view, std::string*) override {
    return false;
  }
  bool PutFile(std::string_view, std::string_view) override { return false; }
};

struct PaintCounter : QObject {
  bool eventFilter(QObject*, QEvent* event) override {
    return (count += event->type() == QEvent::Paint, false);
  }
  int count = 0;
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<RecordingCommands> commands;
  std::unique_ptr<MainWindow> w;
  QTemporaryDir config;  // the window's own settings, of this test alone

 private slots:
  void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toUtf8()); }

  void init() {
    commands = std::make_unique<RecordingCommands>();
    w = std::make_unique<MainWindow>();
    w->SetCommands(commands.get());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  }

  // A double-click on the banner shows the FTP box; then the row in order.
  void ControlsCommandsAndLines() {
    w->SetUseAlternateEnabled(true);
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
    QCOMPARE(texts, (QStringList{"Use &Alternate", "&Update System",
                                 "&Check System", "&Reset Last Update",
                                 "Update from &FTP Site", "&Stop"}));
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
      QVERIFY(
          w->findChild<QLabel*>("statusNote")->toolTip().contains("ignored"));
      button->click();
      QCOMPARE(commands->calls,
               (QStringList{waits ? "UpdateSystem" : "Load", "UpdateSystem"}));
    }
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

  // A long line is reached with the scroll bar, Shift+wheel and the arrow
  // keys. The view follows new lines while at its end, stays where it was
  // scrolled to otherwise, and never selects them.
  void ListReachesEveryLineAndFollowsTheEnd() {
    auto* list = w->findChild<QListWidget*>("lstOutput");
    QScrollBar *h = list->horizontalScrollBar(), *v = list->verticalScrollBar();
    const QString wide = QString(300, 'x') + "END";
    w->AddLine(wide.toStdString());
    for (int i = 0; i < 100; ++i) w->AddLine("line " + std::to_string(i));
    QApplication::processEvents();
    QVERIFY(list->fontMetrics().horizontalAdvance(wide) <=
            h->maximum() + list->viewport()->width());
    QWheelEvent wheel({9, 9}, list->viewport()->mapToGlobal(QPointF(9, 9)), {},
                      {0, -120}, Qt::NoButton, Qt::ShiftModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(list->viewport(), &wheel);
    const int sideways = h->value();
    QTest::keyClick(list, Qt::Key_Right);
    QVERIFY(sideways > 0 && h->value() > sideways);
    QTest::keyClick(list, Qt::Key_Left);
    QCOMPARE(h->value(), sideways);
    for (int at : {-1, 10, -1}) {  // -1: the end
      QVERIFY(v->maximum() > 10 && v->value() == v->maximum());
      v->setValue(at < 0 ? v->maximum() : at);
      w->AddLine("one more");
      QApplication::processEvents();
      QCOMPARE(v->value(), at < 0 ? v->maximum() : at);
      v->setValue(v->maximum());
    }
    QVERIFY(list->selectedItems().isEmpty());
  }

  // At the default width, a note beside a transfer's progress is cut to
  // the room the progress leaves, whole in its tooltip. At the smallest
  // size the description is whole; disabled labels stay readable.
  void StatusBarDescriptionAndDisabledLabel() {
    auto* note = w->findChild<QLabel*>("statusNote");
    auto* progress = w->findChild<QLabel*>("progressText");
    commands->during = [&] {
      w->ShowProgress(94'371'840, 104'857'600);
      w->findChild<QPushButton*>("cmdCheckSystem")->click();
      QApplication::processEvents();
      QVERIFY(note->geometry().right() < progress->geometry().left());
      QVERIFY(note->text() != note->toolTip() &&
              note->toolTip().endsWith("Update System is still running."));
    };
    w->findChild<QPushButton*>("cmdUpdate")->click();
    w->resize(1, 1);
    QApplication::processEvents();
    auto* description = w->findChild<QLabel*>("Label2");
    QVERIFY(description->height() >=
            description->heightForWidth(description->width()));
    auto* box = w->findChild<QCheckBox*>("chkUseAltSite");
    box->setEnabled(false);
    auto luminance = [p = box->palette()](auto... group_and_role) {
      const double v = p.color(group_and_role...).redF();  // greys only
      return (v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
    };
    QVERIFY(luminance(QPalette::Window) + 0.05 >=
            4.5 * (luminance(QPalette::Disabled, QPalette::WindowText) + 0.05));
  }

  // Without a mouse: Tab goes along the row to the list (past a Stop that
  // has nothing to stop), Space or Enter presses the focused button, Alt
  // and the underlined letter any of the three. Every stop has a name for
  // screen readers and a frame around it.
  void KeyboardOnly() {
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    w->SetUseAlternateEnabled(true);
    w->findChild<QWidget*>("chkUseAltSite")->setFocus();
    auto* frame = w->findChild<QWidget*>("focusFrame");
    QStringList stops;
    for (int i = 0; i < 5; ++i) {
      QWidget* focus = QApplication::focusWidget();
      stops << focus->objectName();
      QAccessibleInterface* named =
          QAccessible::queryAccessibleInterface(focus);
      QVERIFY(!named->text(QAccessible::Name).isEmpty());
      QVERIFY(frame->isVisible() &&
              frame->geometry().contains(
                  QRect(focus->mapTo(w.get(), QPoint()), focus->size())));
      if (qobject_cast<QPushButton*>(focus))
        QTest::keyClick(focus, i % 2 ? Qt::Key_Return : Qt::Key_Space);
      QTest::keyClick(focus, Qt::Key_Tab);
    }
    QCOMPARE(stops, (QStringList{"chkUseAltSite", "cmdUpdate", "cmdCheckSystem",
                                 "cmdResetLastUpdate", "lstOutput"}));
    for (Qt::Key key : {Qt::Key_U, Qt::Key_C, Qt::Key_R})
      QTest::keyClick(w.get(), key, Qt::AltModifier);
    const QStringList three{"UpdateSystem", "CheckSystem", "ResetLastUpdate"};
    QTRY_COMPARE(commands->calls, three + three);  // the press shows first
    QVERIFY(w->findChild<QLabel*>("statusNote")->text().endsWith("finished"));
  }

  // A statement waiting on a table that another session has locked: the
  // window keeps running its events and paints the lines logged before;
  // the record is read once the lock is released, and a row left behind is
  // repaired with the time its update was installed, not the repair's.
  void DatabaseWaitKeepsTheWindowAlive() {
    PostgresServer& pg = PostgresServer::Get();
    ScopedEnv env;
    pg.UseIn(env);
    env.Set("PGPASSWORD", "wzq");
    pg.CreateCustomerTable(
        {}, {{"C1001", "ftp.example", "", "c1001", "pw", "3", std::nullopt}});
    const std::string locks =
        "SELECT count(*) FROM pg_locks WHERE relation ="
        " 'qorin.updatecustomerinfo'::regclass";
    RunLog log(w.get());
    CustomerUpdateInfo customer;
    InstallSettings server;
    server.installation_type = InstallationType::kServer;
    server.connection_string = PostgresServer::ConnectionString();
    const std::function<bool()> steps[] = {
        [&] {
          return LoadCustomerInfo(server.connection_string, server.database,
                                  customer, log, false, w.get()) &&
                 customer.customer_number == "C1001";
        },
        [&] {
          return RepairCustomerInfoRecord(
              server, log, 5, DateTime{2026, 1, 2, 3, 4, 5}, w.get());
        },
    };
    for (const std::function<bool()>& step : steps) {
      ChildProcess locker({"/usr/lib/postgresql/15/bin/psql", "-h", "127.0.0.1",
                           "-U", "qorin", "-d", "Quillmere", "-c",
                           "BEGIN; LOCK TABLE qorin.UpdateCustomerInfo; "
                           "SELECT pg_sleep(3); COMMIT;"});
      QVERIFY(WaitUntil([&] { return pg.Exec(locks).value() == "1\n"; }));
      for (int i = 0; i < 30; ++i) log.Info("line " + std::to_string(i));
      PaintCounter paints;
      w->findChild<QWidget*>("qt_scrollarea_viewport")
          ->installEventFilter(&paints);
      ProgressTexts texts(w.get());
      const bool done = step();
      QCOMPARE(locker.Wait(), 0);
      QVERIFY(done);
      QVERIFY(paints.count > 0);
      QVERIFY2(texts.Saw("waiting for the database (1 s)"),
               qPrintable(texts.seen.join('|')));
      QVERIFY(!texts.label->isVisible());
    }
    QCOMPARE(pg.Exec("SELECT UpdateInstalled, to_char(LastUpdatedDate, "
                     "'MM/DD/YYYY HH24:MI:SS') FROM qorin.UpdateCustomerInfo")
                 .value(),
             "5|01/02/2026 03:04:05\n");
  }

  // Error and Warning lines keep their text and get an icon, a colour and
  // a description (the count and F8: the table shared with the Win32
  // window, window_contract_test).
  void MarkedLines() {
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    RunLog log(w.get());
    log.Info("plain");
    log.Error("!!! Update 2 was not installed");
    log.Warning("53-File not found");
    log.Info("PATH             : /opt");
    log.Error("1012-\"\" is not a valid FTP site address.");
    auto* list = w->findChild<QListWidget*>("lstOutput");
    const std::tuple<int, QString, QString, QRgb> rows[] = {
        {0, "plain", "", list->palette().color(QPalette::Text).rgb()},
        {1, "!!! Update 2 was not installed", "Error", 0xffa00000},
        {2, "53-File not found", "Warning", 0xff6b4400},
        {4, "1012-\"\" is not a valid FTP site address.", "Error", 0xffa00000}};
    for (auto [row, text, mark, colour] : rows) {
      QListWidgetItem* item = list->item(row);
      QCOMPARE(item->text(), text);
      QCOMPARE(item->data(Qt::AccessibleDescriptionRole).toString(), mark);
      QCOMPARE(item->foreground().color().rgb(),
               mark.isEmpty() ? item->foreground().color().rgb() : colour);
      QVERIFY(!item->icon().isNull());  // plain rows a blank one
    }
  }

  // "Use Alternate" counts only while an alternate site is known, and says
  // why it cannot be chosen otherwise.
  void UseAlternateFollowsTheRecord() {
    auto* box = w->findChild<QCheckBox*>("chkUseAltSite");
    QVERIFY(!box->isEnabled() && box->toolTip().contains("No alternate"));
    w->SetUseAlternateEnabled(true);
    box->click();
    QVERIFY(w->UseAlternateTicked());
    w->SetUseAlternateEnabled(false);
    QVERIFY(!w->UseAlternateTicked() &&
            box->toolTip().contains("No alternate"));
  }

  // Extracting and zipping a large file on the worker: the window's timer
  // keeps firing, the list names the file, the status bar its progress.
  void EventsDuringALargeExtraction() {
    Sandbox sb;
    InstallSettings settings;
    settings.application_path = sb.app();
    settings.installation_type = InstallationType::kServer;
    const std::string download = sb.app() + "/Download";
    std::filesystem::create_directories(download);
    QDir::setCurrent(QString::fromStdString(download));
    {
      std::ofstream big(download + "/big.bin");
      big.seekp((96 << 20) - 1);
      big.put('x');
    }
    RunLog log(w.get());
    SilentSite site;
    CommandOptions options;
    CommandContext context{settings, *w, log, site, Env::Default(), options};
    const std::pair<std::string, QString> steps[] = {
        {"ZIP big.zip big.bin", "Zipping 1 of 1: big.zip: "},
        {"UNZIP big.zip big.bin", "Extracting 1 of 1: big.bin: "}};
    for (auto [line, text] : steps) {
      int ticks = 0;
      QTimer ticker;
      QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
      ticker.start(5);
      ProgressTexts texts(w.get());
      w->ClearLines();
      QCOMPARE(ExecuteCommandLine(context, line), CommandResult::kDone);
      QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
      QVERIFY2(texts.Saw(text), qPrintable(texts.seen.join('|')));
      QVERIFY(!texts.label->isVisible());
    }
    auto* list = w->findChild<QListWidget*>("lstOutput");
    QCOMPARE(list->item(list->count() - 1)->text(), "   1 of 1: big.bin");
  }

  // What the status bar says while the run waits: after RUN, and for a site
  // that does not answer.
  void ProgressTextsDuringWaits() {
    Sandbox sb;
    // Listening, never accepting: connections wait unanswered.
    UniqueFd silent(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    QVERIFY(::bind(silent.get(), any, size) == 0 &&
            ::listen(silent.get(), 4) == 0 &&
            ::getsockname(silent.get(), any, &size) == 0);
    InstallSettings settings;
    settings.application_path = sb.app();
    RunLog log(w.get());
    SilentSite none;
    CommandOptions options{.run_wait_seconds = 1.5};
    CommandContext context{settings, *w, log, none, Env::Default(), options};
    FtpSession session(log, *w);
    session.SetComponent(MakeCurlFtpComponent(Env::Default()));
    SiteOptions site = ReadDeploymentOptions().site;
    site.timeout_seconds = 2;
    site.retries = 0;
    session.set_options(site);
    const std::pair<std::function<void()>, QString> waits[] = {
        {[&] {
           std::string line = "RUN /bin/true";
           ExecuteCommandLine(context, line);
         },
         "waiting 1.5 s after RUN (1 s left)"},
        {[&] {
           session.Connect(
               "127.0.0.1:" + std::to_string(ntohs(address.sin_port)), "u",
               "p");
         },
         "waiting for the site (1 s)"}};
    for (const auto& [wait, text] : waits) {
      ProgressTexts texts(w.get());
      wait();
      QVERIFY2(texts.Saw(text), qPrintable(texts.seen.join('|')));
      QVERIFY(!texts.label->isVisible());
    }
  }

  // With the registry file missing, start-up's note names it and the
  // example to copy, and points to the event log only when one was written.
  void StartUpNoteNamesTheCause() {
    for (bool writable : {true, false}) {
      Sandbox sb({.write_registry = false});
      const std::string install =
          writable ? sb.install() : "/proc/no/such/folder";
      sb.env().Set("MVUPDATE_DEFAULT_INSTALL_PATH", install);
      Form form(*w, sb.config());
      FormCommands(form).Load();
      const QString note = w->findChild<QLabel*>("statusNote")->toolTip();
      QVERIFY2(note.startsWith("Start-up failed: the registry file " +
                               QString::fromStdString(sb.registry_file()) +
                               " was not found. Copy the example /") &&
                   note.contains("/examples/registry.reg there"),
               qPrintable(note));
      QVERIFY2(
          note.endsWith(writable ? "; see the event log " +
                                       QString::fromStdString(sb.event_log())
                                 : "; no event log was written"),
          qPrintable(note));
    }
  }

  // Start-up runs, then the picture goes to a name relative to the starting
  // folder, which start-up has left.
  void ScreenshotAfterStartUp() {
    QTemporaryDir sandbox;
    QDir().mkpath(sandbox.filePath("Application"));
    qputenv("MVUPDATE_REGISTRY", sandbox.filePath("registry.reg").toUtf8());
    qputenv("MVUPDATE_DEFAULT_INSTALL_PATH", sandbox.path().toUtf8());
    QDir::setCurrent(sandbox.path());
    // At 200 % the window still fits a screen of 1280x800.
    QFile screen(sandbox.filePath("screen.json"));
    QVERIFY(screen.open(QIODevice::WriteOnly) &&
            screen.write(R"({"screens": [{"name": "small", "x": 0, "y": 0,
                "width": 1280, "height": 800, "logicalDpi": 96}]})") > 0);
    screen.close();
    qputenv("QT_QPA_PLATFORM",
            "offscreen:configfile=" + screen.fileName().toUtf8());
    for (const char* scale : {"1", "2"}) {
      qputenv("QT_SCALE_FACTOR", scale);
      QCOMPARE(QProcess::execute(MVUPDATE_GUI, {"--screenshot", "w.png"}), 0);
      QImage shot(sandbox.filePath("w.png"));
      QVERIFY(shot.width() >= 400 && shot.height() >= 300);
      QVERIFY(shot.width() <= 1280 && shot.height() <= 800);
      QCOMPARE(shot.pixelColor(shot.width() / 2, shot.height() - 2),
               QColor(192, 192, 192));  // the window's grey at its foot
    }
    qunsetenv("QT_SCALE_FACTOR");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QFile log(sandbox.filePath("Database/MVUpEvents.log"));
    QVERIFY(log.open(QIODevice::ReadOnly) &&
            log.readAll().contains("SERVER NAME      : [Server]"));
  }
};

}  // namespace mv

QTEST_MAIN(mv::MainWindowTest)
#include "main_window_test.moc"
