#include "cli/console_window.h"

#include <string>
#include <thread>

#include "system/display_text.h"
#include "system/file_io.h"

namespace mv {

void ConsoleWindow::AddLine(std::string_view text) {
  std::string line = ToDisplayUtf8(text);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

void ConsoleWindow::ReplaceLastLine(std::string_view text) { AddLine(text); }

void ConsoleWindow::ShowMessageBox(std::string_view prompt,
                                   std::string_view caption) {
  std::string line = ToDisplayUtf8(caption) + ": " + ToDisplayUtf8(prompt);
  std::fprintf(err_, "%s\n", line.c_str());
  std::fflush(err_);
}

void ConsoleWindow::ShowOutcome(std::string_view text) {
  std::string line = ToDisplayUtf8(text);
  std::fprintf(err_, "%s\n", line.c_str());
  std::fflush(err_);
}

void ConsoleWindow::Beep() {
  if (IsTerminal(err_)) {
    std::fputc('\a', err_);
    std::fflush(err_);
  }
}

void ConsoleWindow::WaitForEvents(std::chrono::milliseconds bound) {
  // A terminal has no window events; waiting means sleeping.
  std::this_thread::sleep_for(bound);
}

}  // namespace mv
