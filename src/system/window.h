// The window as the core sees it: the platform's window toolkit reduced to
// what the utility uses. Three implementations: the Qt window (src/gui), the
// console (src/cli) and a recording fake for tests. All calls come from the
// one thread that runs the commands.
#ifndef MVUPDATE_SYSTEM_WINDOW_H_
#define MVUPDATE_SYSTEM_WINDOW_H_

#include <chrono>
#include <cstdint>
#include <string_view>

namespace mv {

// How a list line is marked: Error and Warning lines stand out from the
// rest without any change to their text.
enum class LineMark { kNone, kWarning, kError };

// The list box and the message box: where the run log shows its lines.
class ListBox {
 public:
  virtual ~ListBox() = default;

  // Lines are byte strings (UTF-8 or the Windows code page); front ends
  // decode them for display.
  virtual void AddLine(std::string_view text) = 0;
  // A line with its mark; a list that cannot mark lines just adds it.
  virtual void AddMarkedLine(std::string_view text, LineMark mark) {
    (void)mark;
    AddLine(text);
  }
  virtual void ClearLines() = 0;
  // Overwrites the text of the last line (adds one when the box is empty).
  virtual void ReplaceLastLine(std::string_view text) = 0;
  // A modal message box with an OK button; returns when it is closed.
  virtual void ShowMessageBox(std::string_view prompt,
                              std::string_view caption) = 0;
};

// The window's event loop, for long waits that must keep the window alive.
class EventPump {
 public:
  virtual ~EventPump() = default;

  // Runs the pending window events once and returns (DoEvents).
  virtual void DoEvents() = 0;
  // Blocks until a window event arrives or `bound` has passed, running the
  // events that arrived. Never spins.
  virtual void WaitForEvents(std::chrono::milliseconds bound) = 0;

  // What the long step going on is doing, in words, beside its progress
  // ("Patch1.zip: 12.0 MB of 64.0 MB, 4.1 MB/s, 13 s left", "waiting for
  // the database (8 s)"); empty when nothing is going on.
  virtual void ShowActivity(std::string_view text) { (void)text; }
  // True once the person asked the running command to stop. The command
  // looks at it only where stopping leaves nothing half done.
  virtual bool StopRequested() const { return false; }
};

class Window : public ListBox, public EventPump {
 public:
  // The hourglass (true) or the default pointer (false).
  virtual void SetBusy(bool busy) = 0;
  virtual void Beep() = 0;

  // The check boxes, read at the moment of use.
  virtual bool UseAlternateTicked() const = 0;   // "Use Alternate"
  virtual bool UpdateFromFtpTicked() const = 0;  // "Update from FTP Site"
  virtual void SetUseAlternateEnabled(bool enabled) = 0;

  // Progress of a running transfer; `total` < 0 when the size is unknown.
  virtual void ShowProgress(int64_t done, int64_t total) {
    (void)done;
    (void)total;
  }
  virtual void HideProgress() {}

  // How the command that just ended came out, in one line ("Update System
  // finished: updates 3 to 5 installed"); shown until the next command.
  virtual void ShowOutcome(std::string_view text) { (void)text; }
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_WINDOW_H_
