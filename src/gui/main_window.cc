#include "gui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QStyleOptionComplex>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <string>

#include "app/status_text.h"
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
// Text on the window's grey when its control is disabled: dark enough to
// read (contrast above 4.5:1), lighter than enabled text.
constexpr QRgb kDisabledText = 0x4a4a4a;
// Characters the list moves sideways per arrow key press or wheel notch.
constexpr int kSidewaysChars = 4;
// The scroll bars' handle, which the window's style draws hardly darker
// than the groove.
constexpr QRgb kHandle = 0x7a7a7a;
constexpr QRgb kHandlePressed = 0x505050;
// Error and Warning lines on the list's white: both read at more than 7:1.
constexpr QRgb kErrorText = 0xa00000;
constexpr QRgb kWarningText = 0x6b4400;
// The keyboard focus: a frame of this colour and width around the control.
constexpr QRgb kFocusFrame = 0x0040c0;
constexpr int kFocusWidth = 2;
// The window's first size, when the screen has room for it.
constexpr QSize kFirstSize(720, 540);
// Where the outcome of a run whose window was closed waits for the next
// start (QSettings of the program, per user).
constexpr char kUnseenOutcomeKey[] = "window/unseenOutcome";
// The item data role that holds a line's mark.
constexpr int kMarkRole = Qt::UserRole;

QString FromBytes(std::string_view bytes) {
  return QString::fromStdString(ToDisplayUtf8(bytes));
}

QFont PointFont(const char* family, qreal points) {
  QFont font(QString::fromLatin1(family));
  font.setPointSizeF(points);
  return font;
}

// Rows share one size, which keeps adding lines cheap in long runs (the
// view sizes every row like the last one); that size is the widest line's,
// so the horizontal scroll bar reaches the end of every line.
class WidestLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    int text = option.fontMetrics.horizontalAdvance(index.data().toString());
    return {size.width() + std::max(0, widest - text), size.height()};
  }

  int widest = 0;  // advance of the widest line's text
};

// The window's style, with a scroll bar handle that stands out from its
// groove.
class ScrollBarStyle : public QProxyStyle {
 public:
  void drawComplexControl(ComplexControl control,
                          const QStyleOptionComplex* option, QPainter* painter,
                          const QWidget* widget) const override {
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if (control != CC_ScrollBar || !(option->state & State_Enabled)) return;
    QRect handle = subControlRect(control, option, SC_ScrollBarSlider, widget);
    if (handle.isEmpty()) return;
    const bool pressed = (option->activeSubControls & SC_ScrollBarSlider) &&
                         (option->state & State_Sunken);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(pressed ? kHandlePressed : kHandle));
    painter->drawRoundedRect(QRectF(handle).adjusted(2, 2, -2, -2), 3, 3);
    painter->restore();
  }
};

}  // namespace

// The list box. One row per line, never wrapped or shortened, so that
// values stay in their columns; a long line is reached with the horizontal
// scroll bar, Shift+wheel or the arrow keys. While the view is at its end it
// follows new lines, like a terminal; scrolled up, it stays where it is.
class OutputList : public QListWidget {
 public:
  explicit OutputList(QWidget* parent)
      : QListWidget(parent), widths_(new WidestLineDelegate(this)) {
    setItemDelegate(widths_);
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSelectionMode(QAbstractItemView::SingleSelection);
    QScrollBar* bar = verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
      if (follow_) bar->setValue(max);
    });
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { follow_ = value == bar->maximum(); });
  }

  void Add(const QString& line, LineMark mark = LineMark::kNone) {
    Widen(line);
    auto* row = new QListWidgetItem(line, this);
    Mark(row, mark);
  }

  void ReplaceLast(const QString& line) {
    if (count() == 0) return Add(line);
    // Rows are laid out again when lines are added; a wider last line
    // needs it now.
    if (Widen(line)) scheduleDelayedItemsLayout();
    QListWidgetItem* last = item(count() - 1);
    last->setText(line);
    Mark(last, LineMark::kNone);
  }

  static LineMark MarkOf(const QListWidgetItem* row) {
    return static_cast<LineMark>(row->data(kMarkRole).toInt());
  }

  void Clear() {
    clear();
    widths_->widest = 0;
  }

 protected:
  void changeEvent(QEvent* event) override {
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
      horizontalScrollBar()->setSingleStep(
          fontMetrics().horizontalAdvance(QString(kSidewaysChars, 'x')));
      const int side = fontMetrics().height();
      setIconSize({side, side});
    }
  }

  void keyPressEvent(QKeyEvent* event) override {
    // A list of one column has nothing to the left or right to move to.
    const bool left = event->key() == Qt::Key_Left;
    if ((left || event->key() == Qt::Key_Right) &&
        event->modifiers() == Qt::NoModifier) {
      horizontalScrollBar()->triggerAction(
          left ? QAbstractSlider::SliderSingleStepSub
               : QAbstractSlider::SliderSingleStepAdd);
      return;
    }
    QListWidget::keyPressEvent(event);
  }

  void wheelEvent(QWheelEvent* event) override {
    if (!(event->modifiers() & Qt::ShiftModifier)) {
      QListWidget::wheelEvent(event);
      return;
    }
    // Shift+wheel scrolls sideways, down to the right.
    const QPoint angle = event->angleDelta();
    const int eighths = angle.y() != 0 ? angle.y() : angle.x();
    QScrollBar* bar = horizontalScrollBar();
    bar->setValue(bar->value() - eighths * bar->singleStep() / 120);
    event->accept();
  }

 private:
  // Notes the width of `line`; true when it is the widest so far.
  bool Widen(const QString& line) {
    const int width = fontMetrics().horizontalAdvance(line);
    if (width <= widths_->widest) return false;
    widths_->widest = width;
    return true;
  }

  // Error and Warning lines get an icon, a colour and a description for
  // screen readers; their text stays as logged. Every row has an icon (a
  // blank one for plain lines), so that columns line up across them.
  void Mark(QListWidgetItem* row, LineMark mark) {
    static const QIcon blank = [] {
      QPixmap none(16, 16);
      none.fill(Qt::transparent);
      return QIcon(none);
    }();
    row->setData(kMarkRole, static_cast<int>(mark));
    switch (mark) {
      case LineMark::kError:
        row->setIcon(style()->standardIcon(QStyle::SP_MessageBoxCritical));
        row->setForeground(QColor(kErrorText));
        row->setData(Qt::AccessibleDescriptionRole, "Error");
        break;
      case LineMark::kWarning:
        row->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
        row->setForeground(QColor(kWarningText));
        row->setData(Qt::AccessibleDescriptionRole, "Warning");
        break;
      case LineMark::kNone:
        row->setIcon(blank);
        row->setData(Qt::ForegroundRole, QVariant());
        row->setData(Qt::AccessibleDescriptionRole, QVariant());
        break;
    }
  }

  WidestLineDelegate* widths_;
  bool follow_ = true;
};

// A frame drawn around whichever control of the window has the keyboard
// focus, plainer to see than the style's own hint. It lets every click
// through.
class FocusFrame : public QWidget {
 public:
  explicit FocusFrame(QWidget* window) : QWidget(window) {
    setObjectName("focusFrame");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { Follow(now); });
  }

  void Follow(QWidget* target) {
    if (target_ != target) {
      if (target_) target_->removeEventFilter(this);
      if (target) target->installEventFilter(this);
    }
    target_ = target;
    if (target == nullptr || target->window() != parentWidget() ||
        !target->isVisible()) {
      hide();
      return;
    }
    const int m = kFocusWidth + 1;
    QRect area(target->mapTo(parentWidget(), QPoint(0, 0)), target->size());
    setGeometry(area.adjusted(-m, -m, m, m));
    raise();
    show();
  }

  void Refresh() { Follow(target_); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == target_ &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
         event->type() == QEvent::Hide || event->type() == QEvent::Show)) {
      Refresh();
    }
    return false;
  }

  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QPen pen(QColor(kFocusFrame), kFocusWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    const qreal half = kFocusWidth / 2.0;
    painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
  }

 private:
  QPointer<QWidget> target_;
};

// A one-line note that never pushes its neighbours aside: cut after a
// whole word with "..." to the width it gets, the whole text in its
// tooltip.
class NoteLabel : public QLabel {
 public:
  explicit NoteLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
  }

  void SetNote(const QString& text) {
    if (text == full_ && !text.isEmpty()) return;  // progress repeats itself
    full_ = text;
    updateGeometry();
    setToolTip(text);
    setAccessibleDescription(text);
    Elide();
  }

  QSize minimumSizeHint() const override {
    return {0, QLabel::minimumSizeHint().height()};
  }
  // The width the whole text wants, for a label that is given what it
  // asks for when there is room.
  QSize sizeHint() const override {
    const int margins = contentsMargins().left() + contentsMargins().right();
    return {fontMetrics().horizontalAdvance(full_) + margins,
            QLabel::sizeHint().height()};
  }
  const QString& full() const { return full_; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Elide();
  }

 private:
  void Elide() {
    const QFontMetrics metrics = fontMetrics();
    setText(QString::fromStdU16String(FitWords(
        full_.toStdU16String(), contentsRect().width(),
        [&metrics](const std::u16string& text) {
          return metrics.horizontalAdvance(QString::fromStdU16String(text));
        })));
  }

  QString full_;
};

MainWindow::MainWindow() {
  setObjectName("frmMain");
  setWindowTitle(kCaption);
  setWindowIcon(ProgramIcon());
  BuildControls();
  FitToScreen();
}

void MainWindow::FitToScreen() {
  // At 200 % on a small screen the first size would be larger than the
  // screen; the window then takes the screen's free area, less room for
  // the window manager's frame, and never asks for a minimum beyond it.
  QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
  if (where == nullptr) return resize(kFirstSize);
  const QSize room = where->availableGeometry().size() - QSize(16, 40);
  setMinimumSize(minimumSizeHint().boundedTo(room));
  resize(kFirstSize.boundedTo(room).expandedTo(minimumSize()));
}

MainWindow::~MainWindow() {
  if (busy_) QApplication::restoreOverrideCursor();
}

void MainWindow::BuildControls() {
  QPalette grey = palette();
  grey.setColor(QPalette::Window, QColor(192, 192, 192));
  for (QPalette::ColorRole role :
       {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
    grey.setColor(QPalette::Disabled, role, QColor(kDisabledText));
  }
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
  use_alt_site_ = new QCheckBox("Use &Alternate", central);
  use_alt_site_->setObjectName("chkUseAltSite");
  update_ = new QPushButton("&Update System", central);
  update_->setObjectName("cmdUpdate");
  check_system_ = new QPushButton("&Check System", central);
  check_system_->setObjectName("cmdCheckSystem");
  reset_last_update_ = new QPushButton("&Reset Last Update", central);
  reset_last_update_->setObjectName("cmdResetLastUpdate");
  update_from_ftp_ = new QCheckBox("Update from &FTP Site", central);
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
  stop_ = new QPushButton("&Stop", central);
  stop_->setObjectName("cmdStop");
  stop_->setToolTip(
      "Stop the running command where that leaves nothing "
      "half done (Esc)");
  stop_->setEnabled(false);
  row->addWidget(stop_);
  // Enter presses the button that has the focus, as Space does.
  for (QPushButton* b : {update_, check_system_, reset_last_update_, stop_}) {
    b->setAutoDefault(true);
  }
  body->addLayout(row);
  // The window is never so small that the description is cut: it gets the
  // height it needs at the narrowest the row of controls allows.
  description->setMinimumHeight(
      description->heightForWidth(row->minimumSize().width()));

  output_ = new OutputList(central);
  output_->setObjectName("lstOutput");
  output_->setAccessibleName("Lines of the run");
  output_->setAccessibleDescription(
      "Error and Warning lines are marked; F8 goes to the next Error line, "
      "Shift+F8 to the one before.");
  QFont fixed = PointFont("Courier New", 8.25);
  fixed.setStyleHint(QFont::TypeWriter);
  fixed.setFixedPitch(true);
  output_->setFont(fixed);
  auto* bars = new ScrollBarStyle;
  bars->setParent(this);
  output_->verticalScrollBar()->setStyle(bars);
  output_->horizontalScrollBar()->setStyle(bars);
  body->addWidget(output_, 1);

  setCentralWidget(central);

  // The note takes what the progress leaves, so the two never overlap.
  note_ = new NoteLabel(this);
  note_->setObjectName("statusNote");
  note_->setAccessibleName("Status");
  statusBar()->addWidget(note_, 1);
  note_timer_ = new QTimer(this);
  note_timer_->setSingleShot(true);
  connect(note_timer_, &QTimer::timeout, this,
          [this] { note_->SetNote(outcome_); });
  progress_text_ = new NoteLabel(this);
  progress_text_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  progress_text_->setObjectName("progressText");
  progress_text_->setAccessibleName("Progress");
  progress_bar_ = new QProgressBar(this);
  progress_bar_->setObjectName("progressBar");
  progress_bar_->setAccessibleName("Transfer progress");
  progress_bar_->setTextVisible(false);
  progress_bar_->setFixedWidth(140);
  marks_ = new QLabel(this);
  marks_->setObjectName("markCount");
  marks_->setToolTip("F8: next Error line, Shift+F8: the one before");
  statusBar()->addPermanentWidget(marks_);
  statusBar()->addPermanentWidget(progress_text_);
  statusBar()->addPermanentWidget(progress_bar_);
  marks_->hide();
  progress_text_->hide();
  progress_bar_->hide();

  // The chosen box only counts while it can be chosen.
  SetUseAlternateEnabled(false);

  new FocusFrame(this);
  connect(stop_, &QPushButton::clicked, this, [this] { RequestStop(); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { RequestStop(); });
  auto* next = new QShortcut(QKeySequence(Qt::Key_F8), this);
  connect(next, &QShortcut::activated, this, [this] { GoToError(true); });
  auto* back = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F8), this);
  connect(back, &QShortcut::activated, this, [this] { GoToError(false); });

  connect(update_, &QPushButton::clicked, this, [this] {
    RunCommand("Update System", [this] { commands_->UpdateSystem(); });
  });
  connect(check_system_, &QPushButton::clicked, this, [this] {
    RunCommand("Check System", [this] { commands_->CheckSystem(); });
  });
  connect(reset_last_update_, &QPushButton::clicked, this, [this] {
    RunCommand("Reset Last Update", [this] { commands_->ResetLastUpdate(); });
  });
}

void MainWindow::RunLoad() {
  RunCommand("Start-up", [this] { commands_->Load(); });
  ShowUnseenOutcome();
}

void MainWindow::ShowUnseenOutcome() {
  QSettings settings;
  const QString unseen = settings.value(kUnseenOutcomeKey).toString();
  if (unseen.isEmpty()) return;
  settings.remove(kUnseenOutcomeKey);
  const QString line =
      "The last run ended after its window was closed: " + unseen;
  output_->Add(line,
               unseen.contains("error") ? LineMark::kError : LineMark::kNone);
  CountMarks();
  outcome_ = line;
  Note(outcome_, 0);
}

void MainWindow::RunCommand(const QString& what,
                            const std::function<void()>& command) {
  if (commands_ == nullptr) return;
  if (command_running()) {
    // Starting a second command inside the first one's wait would run two
    // update runs on the same work folders at once. The note leads with
    // what matters, in case the status bar has to cut it.
    Note(
        QString("\"%1\" was ignored: %2 is still running.").arg(what, running_),
        kNoteMs);
    return;
  }
  running_ = what;
  stop_requested_ = false;
  stop_->setEnabled(true);
  outcome_shown_ = false;
  outcome_ = what + " is running...";
  Note(outcome_, 0);
  command();
  running_.clear();
  stop_->setEnabled(false);
  ShowActivity("");
  HideProgress();
  if (!outcome_shown_) ShowOutcome((what + " finished").toStdString());
  if (close_pending_) {
    // The window goes before anyone can read how the command ended: the
    // next start shows it.
    QSettings().setValue(kUnseenOutcomeKey, outcome_);
    close();
    close_pending_ = false;
  }
}

void MainWindow::RequestStop() {
  if (!command_running() || stop_requested_) return;
  stop_requested_ = true;
  stop_->setEnabled(false);
  Note(QString("Stopping %1 at the next safe point...").arg(running_), 0);
}

bool MainWindow::GoToError(bool forward) {
  const int n = output_->count();
  // Nothing chosen yet: forward starts at the top, backward at the end.
  const int from = output_->currentRow() >= 0 ? output_->currentRow()
                   : forward                  ? -1
                                              : n;
  for (int step = 1; step <= n; ++step) {
    int row = forward ? from + step : from - step;
    row = ((row % n) + n) % n;
    if (OutputList::MarkOf(output_->item(row)) != LineMark::kError) continue;
    output_->setCurrentRow(row);
    output_->scrollToItem(output_->item(row));
    return true;
  }
  Note("There is no Error line in the list.", kNoteMs);
  return false;
}

void MainWindow::CountMarks() {
  if (errors_ == 0 && warnings_ == 0) return marks_->hide();
  marks_->setText(QString("%1 error%2, %3 warning%4")
                      .arg(errors_)
                      .arg(errors_ == 1 ? "" : "s")
                      .arg(warnings_)
                      .arg(warnings_ == 1 ? "" : "s"));
  marks_->show();
}

void MainWindow::Note(const QString& text, int ms) {
  note_->SetNote(text);
  if (ms > 0) {
    note_timer_->start(ms);
  } else {
    note_timer_->stop();
  }
}

void MainWindow::ShowOutcome(std::string_view text) {
  outcome_shown_ = true;
  outcome_ = FromBytes(text);
  // A passing note (a click that was ignored) is read to its end first.
  if (!note_timer_->isActive()) note_->SetNote(outcome_);
}

void MainWindow::RevealUpdateFromFtp() { update_from_ftp_->setVisible(true); }

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!command_running() || close_pending_) {
    event->setAccepted(!command_running());
    return;
  }
  // Ending the program in the middle of a command could leave a half
  // installed update: the window asks whether to stop at the next safe
  // point or to let the command finish, and closes when it has ended. The
  // question does not block (a nested event loop inside the command's own
  // wait would not paint it); the command goes on while it is open.
  event->ignore();
  if (findChild<QMessageBox*>("closeQuestion") != nullptr) return;
  auto* ask = new QMessageBox(this);
  ask->setObjectName("closeQuestion");
  ask->setAttribute(Qt::WA_DeleteOnClose);
  ask->setIcon(QMessageBox::Question);
  ask->setWindowTitle(kCaption);
  ask->setTextFormat(Qt::PlainText);
  ask->setText(QString("%1 is still running.").arg(running_));
  ask->setInformativeText(
      "Stop it where that leaves nothing half done, or let it finish? The "
      "window closes when it has ended; how it ended is shown at the next "
      "start.");
  QPushButton* stop =
      ask->addButton("&Stop, then close", QMessageBox::AcceptRole);
  QPushButton* wait =
      ask->addButton("Close when &finished", QMessageBox::AcceptRole);
  ask->addButton("&Keep the window", QMessageBox::RejectRole);
  ask->setDefaultButton(wait);
  connect(ask, &QMessageBox::buttonClicked, this,
          [this, stop, wait](QAbstractButton* answer) {
            if (answer != stop && answer != wait) return;
            if (!command_running()) {
              close();  // it ended while the question was open
              return;
            }
            close_pending_ = true;
            if (answer == stop) RequestStop();
            Note(QString("The window closes when %1 has %2.")
                     .arg(running_, stop_requested_ ? "stopped" : "finished"),
                 0);
          });
  ask->open();
}

void MainWindow::AddLine(std::string_view text) {
  AddMarkedLine(text, LineMark::kNone);
}

void MainWindow::AddMarkedLine(std::string_view text, LineMark mark) {
  output_->Add(FromBytes(text), mark);
  if (mark != LineMark::kNone) {
    ++(mark == LineMark::kError ? errors_ : warnings_);
    CountMarks();
  }
  ShowNewLines();
}

void MainWindow::ClearLines() {
  output_->Clear();
  errors_ = warnings_ = 0;
  CountMarks();
}

void MainWindow::ReplaceLastLine(std::string_view text) {
  output_->ReplaceLast(FromBytes(text));
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
  // A box ticked while an alternate site was known does not count once
  // none is.
  return use_alt_site_->isChecked() && use_alt_site_->isEnabled();
}

bool MainWindow::UpdateFromFtpTicked() const {
  return update_from_ftp_->isChecked();
}

void MainWindow::SetUseAlternateEnabled(bool enabled) {
  use_alt_site_->setEnabled(enabled);
  use_alt_site_->setToolTip(
      enabled ? "Update from the alternate FTP site"
              : "No alternate FTP site is known: the customer record names "
                "none, or it could not be read from the database.");
}

void MainWindow::ShowProgress(int64_t done, int64_t total) {
  QLocale locale;
  if (total < 0) {
    progress_bar_->setRange(0, 0);  // size unknown: busy indicator
    if (activity_.isEmpty()) {
      progress_text_->SetNote(
          QString("%1 bytes").arg(locale.toString(qlonglong(done))));
    }
  } else {
    progress_bar_->setRange(0, kProgressSteps);
    progress_bar_->setValue(ProgressPosition(done, total, kProgressSteps));
    if (activity_.isEmpty()) {
      progress_text_->SetNote(QString("%1 of %2 bytes")
                                  .arg(locale.toString(qlonglong(done)),
                                       locale.toString(qlonglong(total))));
    }
  }
  progress_text_->show();
  progress_bar_->show();
}

void MainWindow::HideProgress() {
  if (activity_.isEmpty()) progress_text_->hide();
  progress_bar_->hide();
}

void MainWindow::ShowActivity(std::string_view text) {
  activity_ = FromBytes(text);
  if (activity_.isEmpty()) {
    if (!progress_bar_->isVisible()) progress_text_->hide();
    return;
  }
  progress_text_->SetNote(activity_);
  progress_text_->show();
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
