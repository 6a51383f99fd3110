#include "support/recording_window.h"

#include <thread>

namespace mv {

void RecordingWindow::AddLine(std::string_view text) {
  lines.emplace_back(text);
  history.emplace_back(text);
}

void RecordingWindow::AddMarkedLine(std::string_view text, LineMark mark) {
  AddLine(text);
  if (mark != LineMark::kNone) marked.emplace_back(mark, text);
}

void RecordingWindow::ClearLines() { lines.clear(); }

void RecordingWindow::ReplaceLastLine(std::string_view text) {
  if (lines.empty()) lines.emplace_back();
  lines.back() = text;
}

void RecordingWindow::ShowMessageBox(std::string_view prompt,
                                     std::string_view caption) {
  boxes.push_back({std::string(prompt), std::string(caption)});
}

void RecordingWindow::ShowProgress(int64_t, int64_t total) {
  progress_visible = true;
  progress_total = total;
}

void RecordingWindow::WaitForEvents(std::chrono::milliseconds bound) {
  ++waits;
  std::this_thread::sleep_for(bound);
}

}  // namespace mv
