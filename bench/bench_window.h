// The window of the benchmarks: it keeps nothing, so that the figures are
// the core's own, and sleeps out a bounded wait as a window without events
// would (a wait that returned at once would make waits spin).
#ifndef MVUPDATE_BENCH_BENCH_WINDOW_H_
#define MVUPDATE_BENCH_BENCH_WINDOW_H_

#include <chrono>
#include <cstdio>
#include <string_view>
#include <thread>

#include "system/window.h"

namespace mv {

class BenchWindow : public Window {
 public:
  // With `print_lines`, list lines go to standard output (a benchmark's
  // failures are seen).
  explicit BenchWindow(bool print_lines = false) : print_lines_(print_lines) {}

  void AddLine(std::string_view text) override {
    if (print_lines_) {
      std::printf("  | %.*s\n", static_cast<int>(text.size()), text.data());
    }
  }
  void ClearLines() override {}
  void ReplaceLastLine(std::string_view) override {}
  void ShowMessageBox(std::string_view, std::string_view) override {}
  void SetBusy(bool) override {}
  void Beep() override {}
  bool UseAlternateTicked() const override { return false; }
  bool UpdateFromFtpTicked() const override { return false; }
  void SetUseAlternateEnabled(bool) override {}
  void DoEvents() override {}
  void WaitForEvents(std::chrono::milliseconds bound) override {
    std::this_thread::sleep_for(bound);
  }

 private:
  bool print_lines_;
};

}  // namespace mv

#endif  // MVUPDATE_BENCH_BENCH_WINDOW_H_
