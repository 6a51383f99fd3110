#include "cli/console_window.h"

#include <cstdlib>
#include <string>
#include <thread>

#include "system/display_text.h"
#include "system/file_io.h"

namespace mv {

namespace {

// Whether `file` is a terminal that should get colour (NO_COLOR unset, a
// TERM other than "dumb").
bool TakesColour(std::FILE* file) {
  if (!IsTerminal(file)) return false;
  const char* no_colour = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return (no_colour == nullptr || *no_colour == '\0') && term != nullptr &&
         std::string_view(term) != "dumb";
}

}  // namespace

ConsoleWindow::ConsoleWindow(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), colour_(TakesColour(out)) {}

void ConsoleWindow::AddLine(std::string_view text) {
  AddMarkedLine(text, LineMark::kNone);
}

void ConsoleWindow::AddMarkedLine(std::string_view text, LineMark mark) {
  std::string line = ToDisplayUtf8(text);
  if (colour_ && mark != LineMark::kNone) {
    // Bold red for errors, yellow for warnings; reset before the line end.
    line = (mark == LineMark::kError ? "\033[1;31m" : "\033[33m") + line +
           "\033[0m";
  }
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
