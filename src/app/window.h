// The visible window as the core sees it. Three implementations: the Qt
// window (src/gui), the console (src/cli) and a recording fake for tests.
// All calls come from the one thread of the program.
#ifndef MVUPDATE_APP_WINDOW_H_
#define MVUPDATE_APP_WINDOW_H_

#include <chrono>
#include <cstdint>
#include <string_view>

namespace mv {

class Window {
 public:
  virtual ~Window() = default;

  // The list box lstOutput. Lines are byte strings (UTF-8 or the Windows
  // code page); front ends decode them for display.
  virtual void AddLine(std::string_view text) = 0;
  virtual void ClearLines() = 0;
  // Overwrites the text of the last line (adds one when the box is empty).
  virtual void ReplaceLastLine(std::string_view text) = 0;

  // A modal message box with an OK button; returns when it is closed.
  virtual void ShowMessageBox(std::string_view prompt,
                              std::string_view caption) = 0;
  // The hourglass (true) or the default pointer (false).
  virtual void SetBusy(bool busy) = 0;
  virtual void Beep() = 0;

  // The check boxes, read at the moment of use.
  virtual bool UseAlternateTicked() const = 0;   // chkUseAltSite
  virtual bool UpdateFromFtpTicked() const = 0;  // chkUpdateFromFTP
  virtual void SetUseAlternateEnabled(bool enabled) = 0;

  // Progress of a running transfer; `total` < 0 when the size is unknown.
  virtual void ShowProgress(int64_t done, int64_t total) {
    (void)done;
    (void)total;
  }
  virtual void HideProgress() {}

  // Runs the pending window events once and returns (DoEvents).
  virtual void DoEvents() = 0;
  // Blocks until a window event arrives or `bound` has passed, running the
  // events that arrived. Never spins.
  virtual void WaitForEvents(std::chrono::milliseconds bound) = 0;
};

}  // namespace mv

#endif  // MVUPDATE_APP_WINDOW_H_
