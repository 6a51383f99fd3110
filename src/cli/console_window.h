// The window seam on a terminal: list lines go to standard output as they
// are added, message boxes and the outcome of each command to standard
// error. On a terminal, Error lines are red and Warning lines yellow (their
// text unchanged); into a file or a pipe everything goes plain.
#ifndef MVUPDATE_CLI_CONSOLE_WINDOW_H_
#define MVUPDATE_CLI_CONSOLE_WINDOW_H_

#include <cstdio>

#include "system/window.h"

namespace mv {

class ConsoleWindow : public Window {
 public:
  ConsoleWindow(std::FILE* out, std::FILE* err);

  void AddLine(std::string_view text) override;
  void AddMarkedLine(std::string_view text, LineMark mark) override;
  void ClearLines() override {}
  // A terminal cannot rewrite a line: the new text is printed again.
  void ReplaceLastLine(std::string_view text) override;
  void ShowMessageBox(std::string_view prompt,
                      std::string_view caption) override;
  void SetBusy(bool) override {}
  void Beep() override;
  bool UseAlternateTicked() const override { return use_alternate_; }
  bool UpdateFromFtpTicked() const override { return update_from_ftp_; }
  void SetUseAlternateEnabled(bool enabled) override {
    use_alternate_enabled_ = enabled;
  }
  void DoEvents() override {}
  void WaitForEvents(std::chrono::milliseconds bound) override;
  void ShowOutcome(std::string_view text) override;

  // The check boxes as the command line sets them.
  void TickUseAlternate(bool on) { use_alternate_ = on; }
  void TickUpdateFromFtp(bool on) { update_from_ftp_ = on; }
  bool use_alternate_enabled() const { return use_alternate_enabled_; }

 private:
  std::FILE* out_;
  std::FILE* err_;
  bool colour_;  // standard output is a terminal that takes colour
  bool use_alternate_ = false;
  bool update_from_ftp_ = false;
  bool use_alternate_enabled_ = false;
};

}  // namespace mv

#endif  // MVUPDATE_CLI_CONSOLE_WINDOW_H_
