// The program itself, started on a sandbox installation with the hidden
// screenshot option: start-up runs, the picture is written, the program ends.
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace mv {

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void ShotAfterStartUp_data();
  void ShotAfterStartUp();

 private:
  // Runs the program with the sandbox's environment; returns its status.
  int Run(const QTemporaryDir& sandbox, const QStringList& args);
};

int ScreenshotTest::Run(const QTemporaryDir& sandbox, const QStringList& args) {
  const QString install = sandbox.filePath("Merivane");
  QDir().mkpath(install + "/Application");
  QFile registry(sandbox.filePath("registry.reg"));
  if (!registry.open(QIODevice::WriteOnly)) return -1;
  registry.write(QString("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\n"
                         "\"InstallPath\"=\"%1\"\n"
                         "\"DBServerName\"=\"SHOTSRV\"\n"
                         "\"DatabaseName\"=\"Quillmere\"\n")
                     .arg(install)
                     .toUtf8());
  registry.close();

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("MVUPDATE_REGISTRY", registry.fileName());
  env.insert("XDG_CONFIG_HOME", sandbox.filePath("config"));
  env.insert("MVUPDATE_COMPUTERNAME", "SHOTSRV");
  env.insert("MVUPDATE_UNC_ROOT", sandbox.filePath("unc"));
  QProcess program;
  program.setProcessEnvironment(env);
  program.setWorkingDirectory(sandbox.path());
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(MVUPDATE_GUI, args);
  if (!program.waitForFinished(60000)) {
    program.kill();
    program.waitForFinished();
    return -1;
  }
  return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

void ScreenshotTest::ShotAfterStartUp_data() {
  QTest::addColumn<bool>("relative");
  QTest::newRow("absolute file name") << false;
  // Start-up changes the current folder before the picture is taken.
  QTest::newRow("file name relative to the starting folder") << true;
}

void ScreenshotTest::ShotAfterStartUp() {
  QFETCH(bool, relative);
  QTemporaryDir sandbox;
  QVERIFY(sandbox.isValid());
  QDir().mkpath(sandbox.filePath("shots"));
  const QString png = sandbox.filePath("shots/window.png");
  QCOMPARE(Run(sandbox, {"--screenshot", relative ? "shots/window.png" : png}),
           0);

  QImage shot(png);
  QVERIFY(!shot.isNull());
  QVERIFY(shot.width() >= 400 && shot.height() >= 300);
  // The grey of the window below the list box.
  QCOMPARE(shot.pixelColor(shot.width() / 2, shot.height() - 8),
           QColor(192, 192, 192));
  // Start-up ran before the picture was taken: it wrote the event log (the
  // folder's name may be in any case).
  QDirIterator it(sandbox.filePath("Merivane"), {"MVUpEvents.log"}, QDir::Files,
                  QDirIterator::Subdirectories);
  QVERIFY(it.hasNext());
  QFile log(it.next());
  QVERIFY(log.open(QIODevice::ReadOnly));
  QVERIFY(log.readAll().contains("SERVER NAME      : SHOTSRV"));
}

}  // namespace mv

QTEST_GUILESS_MAIN(mv::ScreenshotTest)
#include "screenshot_test.moc"
