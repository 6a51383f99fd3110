// A window double that records what the core did to it.
#ifndef MVUPDATE_TESTS_SUPPORT_RECORDING_WINDOW_H_
#define MVUPDATE_TESTS_SUPPORT_RECORDING_WINDOW_H_

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "system/window.h"

namespace mv {

class RecordingWindow : public Window {
 public:
  struct MessageBox {
    std::string prompt, caption;
  };

  void AddLine(std::string_view text) override;
  void AddMarkedLine(std::string_view text, LineMark mark) override;
  void ClearLines() override;
  void ReplaceLastLine(std::string_view text) override;
  void ShowMessageBox(std::string_view prompt,
                      std::string_view caption) override;
  void SetBusy(bool) override {}
  void Beep() override { ++beeps; }
  bool UseAlternateTicked() const override { return use_alternate; }
  bool UpdateFromFtpTicked() const override { return false; }
  void SetUseAlternateEnabled(bool enabled) override {
    use_alternate_enabled = enabled;
  }
  void ShowProgress(int64_t done, int64_t total) override;
  void HideProgress() override { progress_visible = false; }
  void DoEvents() override {}
  void WaitForEvents(std::chrono::milliseconds bound) override;
  void ShowOutcome(std::string_view text) override { outcome = text; }
  void ShowActivity(std::string_view text) override {
    if (!text.empty()) activities.emplace_back(text);
  }
  bool StopRequested() const override { return stop_when && stop_when(); }

  // The list box as the user sees it now.
  std::vector<std::string> lines;
  // Every line ever added, also those cleared or replaced since.
  std::vector<std::string> history;
  std::vector<MessageBox> boxes;
  // Error and Warning lines, with their marks.
  std::vector<std::pair<LineMark, std::string>> marked;
  // What the status bar said during long steps, in order.
  std::vector<std::string> activities;
  // The Stop button: pressed once this gives true.
  std::function<bool()> stop_when;
  std::string outcome;  // the last command's
  int beeps = 0;
  int waits = 0;
  bool use_alternate = false;
  bool use_alternate_enabled = false;
  bool progress_visible = false;
  int64_t progress_total = 0;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_RECORDING_WINDOW_H_
