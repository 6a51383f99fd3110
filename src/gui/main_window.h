// The utility's one window, frmMain, as a Qt main window. It is the core's
// Window (list box, message boxes, pointer, check boxes, progress, event
// pump, the outcome of each command) and turns the window's load and the
// clicks of its three buttons into calls on a Commands. Only one command
// runs at a time: a click that arrives while one runs (the core lets window
// events through while it waits) is not acted on, and the status bar says
// so. Stop (or Esc) asks the running command to stop where that leaves
// nothing half done; closing the window during a command asks whether to
// stop or to wait, and an outcome the window did not live to show is shown
// at the next start. The status bar holds a note on the left (the outcome of
// the last command, or a passing remark), the count of Error and Warning
// lines (F8 goes to the next Error line), and, during a long step, what it
// is doing and its progress on the right.
#ifndef MVUPDATE_GUI_MAIN_WINDOW_H_
#define MVUPDATE_GUI_MAIN_WINDOW_H_

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <functional>

#include "app/commands.h"
#include "system/window.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace mv {

class Banner;
class NoteLabel;
class OutputList;

class MainWindow : public QMainWindow, public Window {
  Q_OBJECT

 public:
  MainWindow();
  ~MainWindow() override;

  // The commands the window's events start; must be set before the first
  // event arrives and outlive the window's use of it.
  void SetCommands(Commands* commands) { commands_ = commands; }

  // The window's load: runs start-up. main() calls it right after show().
  void RunLoad();
  bool command_running() const { return !running_.isEmpty(); }

  // Window
  void AddLine(std::string_view text) override;
  void ClearLines() override;
  void ReplaceLastLine(std::string_view text) override;
  void ShowMessageBox(std::string_view prompt,
                      std::string_view caption) override;
  void SetBusy(bool busy) override;
  void Beep() override;
  bool UseAlternateTicked() const override;
  bool UpdateFromFtpTicked() const override;
  void SetUseAlternateEnabled(bool enabled) override;
  void ShowProgress(int64_t done, int64_t total) override;
  void HideProgress() override;
  void DoEvents() override;
  void WaitForEvents(std::chrono::milliseconds bound) override;
  void ShowOutcome(std::string_view text) override;
  void AddMarkedLine(std::string_view text, LineMark mark) override;
  void ShowActivity(std::string_view text) override;
  bool StopRequested() const override { return stop_requested_; }

  // Asks the running command to stop at its next safe point (Stop, Esc).
  void RequestStop();
  // Selects the next (or previous) Error line of the list, wrapping around;
  // false when there is none.
  bool GoToError(bool forward);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  // Runs `command` unless another one is running; `what` names it in the
  // status bar.
  void RunCommand(const QString& what, const std::function<void()>& command);
  void RevealUpdateFromFtp();
  void ShowNewLines();
  // Shows `text` in the status bar's note for `ms` milliseconds, then the
  // outcome again; 0 keeps it until the next note.
  void Note(const QString& text, int ms);
  void CountMarks();
  // Sizes the window to fit the screen it opens on.
  void FitToScreen();
  // Shows the outcome of a run whose window closed before it ended.
  void ShowUnseenOutcome();

  Commands* commands_ = nullptr;
  QString running_;  // name of the running command, empty when idle
  bool close_pending_ = false;
  bool stop_requested_ = false;
  QString activity_;  // what the long step going on is doing
  bool busy_ = false;
  QElapsedTimer pumped_;  // since the list last went through the event loop
  QString outcome_;       // the note that stays
  bool outcome_shown_ = false;  // by the running command

  Banner* banner_ = nullptr;
  QCheckBox* use_alt_site_ = nullptr;
  QPushButton* update_ = nullptr;
  QPushButton* check_system_ = nullptr;
  QPushButton* reset_last_update_ = nullptr;
  QPushButton* stop_ = nullptr;
  QCheckBox* update_from_ftp_ = nullptr;
  OutputList* output_ = nullptr;
  NoteLabel* note_ = nullptr;
  QTimer* note_timer_ = nullptr;
  NoteLabel* progress_text_ = nullptr;
  QLabel* marks_ = nullptr;
  int errors_ = 0, warnings_ = 0;
  QProgressBar* progress_bar_ = nullptr;
};

}  // namespace mv

#endif  // MVUPDATE_GUI_MAIN_WINDOW_H_
