#include "gui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "gui/banner.h"
#include "gui/program_icon.h"
#include "system/display_text.h"

namespace mv {

namespace {

constexpr char kCaption[] = "Merivane Update 2016";
constexpr char kTitle[] = "Merivane Update";
constexpr char kDescription[] =
    "Use this utility to apply Merivane updates. When this utility is run "
    "from the server machine, updates are downloaded from the FTP site.  "
    "When run from the client machine, updates are downloaded from the "
    "server. Left-Click the Update System button to perform update.";

// How long a note about an ignored click stays in the status bar.
constexpr int kNoteMs = 6000;
// While a command runs, lines up to this many are shown one by one; after
// that the window is brought up to date at most every kPumpIntervalMs.
constexpr int kEagerLines = 200;
constexpr qint64 kPumpIntervalMs = 40;
// Resolution of the progress bar: per mille of the total.
constexpr int kProgressSteps = 1000;

QString FromBytes(std::string_view bytes) {
  return QString::fromStdString(ToDisplayUtf8(bytes));
}

QFont PointFont(const char* family, qreal points) {
  QFont font(QString::fromLatin1(family));
  font.setPointSizeF(points);
  return font;
}

}  // namespace

MainWindow::MainWindow() {
  setObjectName("frmMain");
  setWindowTitle(kCaption);
  setWindowIcon(ProgramIcon());
  BuildControls();
  resize(720, 540);
}

MainWindow::~MainWindow() {
  if (busy_) QApplication::restoreOverrideCursor();
}

void MainWindow::BuildControls() {
  QPalette grey = palette();
  grey.setColor(QPalette::Window, QColor(192, 192, 192));
  setPalette(grey);
  setAutoFillBackground(true);

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(6);

  banner_ = new Banner(central);
  banner_->on_double_click = [this] { RevealUpdateFromFtp(); };
  column->addWidget(banner_);

  // Everything below the banner keeps a margin from the window's edges.
  auto* body = new QVBoxLayout;
  body->setContentsMargins(10, 2, 10, 6);
  body->setSpacing(6);
  column->addLayout(body, 1);

  auto* title = new QLabel(kTitle, central);
  title->setObjectName("Label1");
  QFont title_font = PointFont("Tahoma", 8.25);
  title_font.setBold(true);
  title->setFont(title_font);
  QPalette blue = title->palette();
  blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
  title->setPalette(blue);
  body->addWidget(title);

  auto* description = new QLabel(kDescription, central);
  description->setObjectName("Label2");
  description->setWordWrap(true);
  description->setTextFormat(Qt::PlainText);
  body->addWidget(description);

  auto* row = new QHBoxLayout;
  row->setSpacing(8);
  use_alt_site_ = new QCheckBox("Use Alternate", central);
  use_alt_site_->setObjectName("chkUseAltSite");
  update_ = new QPushButton("Update System", central);
  update_->setObjectName("cmdUpdate");
  check_system_ = new QPushButton("Check System", central);
  check_system_->setObjectName("cmdCheckSystem");
  reset_last_update_ = new QPushButton("Reset Last Update", central);
  reset_last_update_->setObjectName("cmdResetLastUpdate");
  update_from_ftp_ = new QCheckBox("Update from FTP Site", central);
  update_from_ftp_->setObjectName("chkUpdateFromFTP");
  update_from_ftp_->setVisible(false);
  for (QWidget* w :
       {static_cast<QWidget*>(use_alt_site_), static_cast<QWidget*>(update_),
        static_cast<QWidget*>(check_system_),
        static_cast<QWidget*>(reset_last_update_),
        static_cast<QWidget*>(update_from_ftp_)}) {
    row->addWidget(w);
  }
  // Buttons of one width, wide enough for the longest text.
  int button_width = 0;
  for (QPushButton* b : {update_, check_system_, reset_last_update_}) {
    button_width = std::max(button_width, b->sizeHint().width() + 16);
  }
  for (QPushButton* b : {update_, check_system_, reset_last_update_}) {
    b->setMinimumWidth(button_width);
    b->setMinimumHeight(b->sizeHint().height() + 6);
  }
  row->addStretch(1);
  body->addLayout(row);

  output_ = new QListWidget(central);
  output_->setObjectName("lstOutput");
  QFont fixed = PointFont("Courier New", 8.25);
  fixed.setStyleHint(QFont::TypeWriter);
  fixed.setFixedPitch(true);
  output_->setFont(fixed);
  output_->setUniformItemSizes(true);
  // Log lines are never shortened: values line up in columns, and a long
  // line is reached with the horizontal scroll bar.
  output_->setTextElideMode(Qt::ElideNone);
  output_->setWordWrap(false);
  output_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  output_->setSelectionMode(QAbstractItemView::SingleSelection);
  body->addWidget(output_, 1);

  setCentralWidget(central);

  progress_text_ = new QLabel(this);
  progress_text_->setObjectName("progressText");
  progress_bar_ = new QProgressBar(this);
  progress_bar_->setObjectName("progressBar");
  progress_bar_->setTextVisible(false);
  progress_bar_->setFixedWidth(180);
  statusBar()->addPermanentWidget(progress_text_);
  statusBar()->addPermanentWidget(progress_bar_);
  progress_text_->hide();
  progress_bar_->hide();

  connect(update_, &QPushButton::clicked, this, [this] {
    RunCommand(update_->text(), [this] { commands_->UpdateSystem(); });
  });
  connect(check_system_, &QPushButton::clicked, this, [this] {
    RunCommand(check_system_->text(), [this] { commands_->CheckSystem(); });
  });
  connect(reset_last_update_, &QPushButton::clicked, this, [this] {
    RunCommand(reset_last_update_->text(),
               [this] { commands_->ResetLastUpdate(); });
  });
}

void MainWindow::RunLoad() {
  RunCommand("start-up", [this] { commands_->Load(); });
}

void MainWindow::RunCommand(const QString& what,
                            const std::function<void()>& command) {
  if (commands_ == nullptr) return;
  if (command_running()) {
    // Starting a second command inside the first one's wait would run two
    // update runs on the same work folders at once.
    statusBar()->showMessage(
        QString("Still busy with %1: the click on \"%2\" was ignored.")
            .arg(running_, what),
        kNoteMs);
    return;
  }
  running_ = what;
  command();
  running_.clear();
  if (close_pending_) close();
}

void MainWindow::RevealUpdateFromFtp() { update_from_ftp_->setVisible(true); }

void MainWindow::closeEvent(QCloseEvent* event) {
  if (command_running()) {
    // Ending the program in the middle of a command could leave a half
    // installed update; the window closes as soon as the command ends.
    event->ignore();
    close_pending_ = true;
    statusBar()->showMessage(
        QString("The window closes when %1 has finished.").arg(running_));
    return;
  }
  event->accept();
}

void MainWindow::AddLine(std::string_view text) {
  output_->addItem(FromBytes(text));
  ShowNewLines();
}

void MainWindow::ClearLines() { output_->clear(); }

void MainWindow::ReplaceLastLine(std::string_view text) {
  const int count = output_->count();
  if (count == 0) {
    output_->addItem(FromBytes(text));
  } else {
    output_->item(count - 1)->setText(FromBytes(text));
  }
  ShowNewLines();
}

void MainWindow::ShowNewLines() {
  // Let new lines show and keep the window alive while a command works
  // without waiting; clicks that arrive meanwhile meet the running command.
  // A pass through the event loop repaints the list, which costs about a
  // millisecond: every line gets one while the list is short enough for new
  // lines to be in view, longer lists one every few hundredths of a second.
  if (!command_running()) return;
  if (output_->count() > kEagerLines && pumped_.isValid() &&
      pumped_.elapsed() < kPumpIntervalMs) {
    return;
  }
  DoEvents();
  pumped_.start();
}

void MainWindow::ShowMessageBox(std::string_view prompt,
                                std::string_view caption) {
  QMessageBox box(this);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(FromBytes(caption));
  // The prompt is shown as it stands, never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(FromBytes(prompt));
  box.setStandardButtons(QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  // The box wants an answer: show the ordinary pointer over it even while
  // the window is busy.
  const bool arrow = busy_;
  if (arrow) QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  if (arrow) QApplication::restoreOverrideCursor();
}

void MainWindow::SetBusy(bool busy) {
  // The override cursor is a stack; keep exactly one entry while busy.
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void MainWindow::Beep() { QApplication::beep(); }

bool MainWindow::UseAlternateTicked() const {
  return use_alt_site_->isChecked();
}

bool MainWindow::UpdateFromFtpTicked() const {
  return update_from_ftp_->isChecked();
}

void MainWindow::SetUseAlternateEnabled(bool enabled) {
  use_alt_site_->setEnabled(enabled);
}

void MainWindow::ShowProgress(int64_t done, int64_t total) {
  QLocale locale;
  if (total < 0) {
    progress_bar_->setRange(0, 0);  // size unknown: busy indicator
    progress_text_->setText(
        QString("%1 bytes").arg(locale.toString(qlonglong(done))));
  } else {
    const int64_t clamped = std::clamp<int64_t>(done, 0, total);
    const int steps =
        total == 0
            ? kProgressSteps
            : static_cast<int>(static_cast<double>(clamped) /
                               static_cast<double>(total) * kProgressSteps);
    progress_bar_->setRange(0, kProgressSteps);
    progress_bar_->setValue(steps);
    progress_text_->setText(QString("%1 of %2 bytes")
                                .arg(locale.toString(qlonglong(done)),
                                     locale.toString(qlonglong(total))));
  }
  progress_text_->show();
  progress_bar_->show();
}

void MainWindow::HideProgress() {
  progress_text_->hide();
  progress_bar_->hide();
}

void MainWindow::DoEvents() { QCoreApplication::processEvents(); }

void MainWindow::WaitForEvents(std::chrono::milliseconds bound) {
  if (bound.count() <= 0) {
    DoEvents();
    return;
  }
  // The timer is the upper bound: its expiry is itself an event, so the
  // blocking wait below returns at the latest when it fires.
  QTimer limit;
  limit.setSingleShot(true);
  limit.setTimerType(Qt::PreciseTimer);
  limit.start(static_cast<int>(std::min<int64_t>(bound.count(), INT32_MAX)));
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace mv
