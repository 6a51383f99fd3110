// What every window of the utility shows after the same calls on the Window
// seam: one table for the Qt window (tests/gui) and the Win32 window
// (tests/win32). Each test makes a fresh window per row, runs the row's
// calls and compares what its window shows with the row's view.
#ifndef MVUPDATE_TESTS_SUPPORT_WINDOW_CONTRACT_H_
#define MVUPDATE_TESTS_SUPPORT_WINDOW_CONTRACT_H_

#include <functional>
#include <string>
#include <vector>

#include "system/window.h"

namespace mv {

// What a person sees: the list's lines (UTF-8), the status bar's note,
// whether "Use Alternate" can be ticked (not before start-up has found an
// alternate site) and whether progress is shown.
struct WindowView {
  std::vector<std::string> lines;
  std::string note;
  bool use_alternate_enabled = false;
  bool progress_shown = false;

  bool operator==(const WindowView&) const = default;
};

struct WindowContractRow {
  const char* name;
  std::function<void(Window&)> calls;
  WindowView view;
};

inline const std::vector<WindowContractRow>& WindowContractRows() {
  static const std::vector<WindowContractRow> rows = {
      {"lines added, the last replaced, code page bytes decoded",
       [](Window& w) {
         w.AddLine("[Directory Info]");
         w.AddLine("...Downloading 10%");
         w.ReplaceLastLine("Caf\xe9 \x80 5");
       },
       {{"[Directory Info]", "Caf\u00e9 \u20ac 5"}, ""}},
      {"an empty list gets the replaced line",
       [](Window& w) { w.ReplaceLastLine("...Downloading 10%"); },
       {{"...Downloading 10%"}, ""}},
      {"cleared",
       [](Window& w) {
         w.AddLine("from the command before");
         w.ClearLines();
       },
       {}},
      {"an alternate site known",
       [](Window& w) { w.SetUseAlternateEnabled(true); },
       {{}, "", true}},
      {"no alternate site known any more",
       [](Window& w) {
         w.SetUseAlternateEnabled(true);
         w.SetUseAlternateEnabled(false);
       },
       {{}, "", false}},
      {"the outcome in the status bar",
       [](Window& w) {
         w.ShowOutcome("Update System finished: updates 1 to 2 installed");
       },
       {{}, "Update System finished: updates 1 to 2 installed"}},
      {"progress shown during a transfer",
       [](Window& w) { w.ShowProgress(5, 10); },
       {{}, "", false, true}},
      {"progress hidden after it",
       [](Window& w) {
         w.ShowProgress(2048, -1);  // size unknown
         w.HideProgress();
       },
       {}},
  };
  return rows;
}

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_WINDOW_CONTRACT_H_
