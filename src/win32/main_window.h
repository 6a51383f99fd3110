// The utility's one window on Windows, frmMain, made of the system's own
// controls (user32 and comctl32 version 6, visual styles, aware of each
// monitor's DPI). Like the Qt window it is the core's Window and turns the
// window's load and the clicks of its three buttons into calls on a
// Commands; a command runs on the window's thread, and every long step of
// the core lets the window's messages through (DoEvents, WaitForEvents), so
// the window never freezes. A click that arrives while a command runs is
// not acted on and the status bar says so. Stop (or Esc) asks the running
// command to stop where that leaves nothing half done; closing the window
// during a command asks whether to stop or to wait, and an outcome the
// window did not live to show is shown at the next start. Error and Warning
// lines are marked in the list (F8 goes to the next Error line). The status
// bar holds the note (the outcome of the last command, or a passing
// remark), the count of marked lines and, during a long step, what it is
// doing and its progress.
#ifndef MVUPDATE_WIN32_MAIN_WINDOW_H_
#define MVUPDATE_WIN32_MAIN_WINDOW_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "system/window.h"

namespace mv {

class Win32Window : public Window {
 public:
  Win32Window();
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // The commands the window's messages start; set before Show.
  void SetCommands(Commands* commands) { commands_ = commands; }

  // Shows the window at its first size (fitted to the screen's work area)
  // and posts the load, which runs start-up from the message loop.
  void Show(int show_command);
  // The window's load: start-up, then the outcome of a run whose window
  // closed before it ended.
  void RunLoad();
  HWND hwnd() const { return hwnd_; }
  bool command_running() const { return !running_.empty(); }

  // One message, as the loop of main() and DoEvents hand it on: dialog keys
  // (Tab, mnemonics, Enter) first.
  void Dispatch(MSG& msg);

  // Called once when the load has run (the pictures of the documentation).
  std::function<void()> after_load;

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

  // What the window shows now, as a person or a screen reader reads it.
  std::vector<std::wstring> ListLines() const;
  std::vector<LineMark> Marks() const;
  int CurrentRow() const;  // the list's chosen line, -1 for none
  // The status bar's texts, whole (a part without room for all of its
  // text shows its first words; its tooltip holds all of it).
  std::wstring Note() const;
  std::wstring MarkCount() const;     // empty while hidden
  std::wstring ProgressText() const;  // empty while hidden
  bool UseAlternateEnabled() const;
  std::wstring UseAlternateTip() const;
  // The tip of a part of the status bar, empty for none.
  std::wstring PartTip(int part) const;
  bool progress_shown() const { return progress_shown_; }
  // The question closing during a command asks, while it is open.
  HWND close_question() const { return question_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  static LRESULT CALLBACK QuestionProc(HWND hwnd, UINT message, WPARAM wparam,
                                       LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls();
  void MakeFonts();
  void ApplyFonts(BOOL redraw);
  void Layout();
  void LayoutStatusBar();
  // Shows `text` in a part of the status bar, its first words if the part
  // has no room for all of it, and the part's tip.
  void ShowPart(int part, const std::wstring& text);
  int Scale(int pixels) const;
  void OnCommand(int id);
  void RunCommand(const std::wstring& what,
                  const std::function<void()>& command);
  void Note(const std::wstring& text, UINT ms);
  void ShowNewLines();
  void WidenList(const std::wstring& line);
  int LinesInView() const;  // whole lines the list shows
  void DrawLine(const DRAWITEMSTRUCT& item);
  void CountMarks();
  // Shows `text` beside the progress (hidden when empty).
  void SetProgressText(const std::wstring& text);
  void AddTip(HWND tool, UINT_PTR id, const wchar_t* text);
  void AskBeforeClosing();
  void Answer(int id);
  void ShowUnseenOutcome();

  Commands* commands_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND banner_ = nullptr, title_ = nullptr, description_ = nullptr;
  HWND use_alt_site_ = nullptr, update_ = nullptr, check_system_ = nullptr;
  HWND reset_last_update_ = nullptr, update_from_ftp_ = nullptr;
  HWND stop_ = nullptr, output_ = nullptr, status_ = nullptr;
  HWND progress_bar_ = nullptr, tips_ = nullptr, question_ = nullptr;
  HFONT font_ = nullptr, title_font_ = nullptr, list_font_ = nullptr;
  HBRUSH grey_ = nullptr;
  HICON icon_ = nullptr, small_icon_ = nullptr;
  HICON error_icon_ = nullptr, warning_icon_ = nullptr;
  UINT dpi_ = 96;

  std::wstring running_;  // the running command's name, empty when idle
  std::wstring outcome_;  // the note that stays
  std::wstring note_;     // the status bar's, whole
  bool outcome_shown_ = false;
  bool note_passing_ = false;
  bool close_pending_ = false;
  bool stop_requested_ = false;
  bool owner_destroys_ = false;
  bool quitting_ = false;  // WM_QUIT seen, kept for the loop of main()
  bool busy_ = false;
  bool progress_shown_ = false;
  bool progress_marquee_ = false;
  int widest_line_ = 0;  // pixels, at the list font
  int errors_ = 0, warnings_ = 0;
  // The status bar's texts beside the note, empty while hidden, and the
  // parts that show them (-1 while hidden).
  std::wstring mark_count_, progress_text_, activity_;
  int mark_part_ = -1, text_part_ = -1;
  int progress_text_width_ = 0;  // grows while shown, so it does not jitter
  ULONGLONG pumped_ = 0;  // GetTickCount64 at the last pass for new lines
};

}  // namespace mv

#endif  // MVUPDATE_WIN32_MAIN_WINDOW_H_
