// What every window of the utility shows after the same calls on the Window
// seam and the same keys and clicks: one table for the Qt window (tests/gui)
// and the Win32 window (tests/win32). Each test makes a fresh window per
// row, runs the row's calls, then its actions, and compares what its window
// shows with the row's view. A row that runs in a command does all that
// inside Update System; the window's test then lets the command end, and
// starts a second window to see what the next start shows.
#ifndef MVUPDATE_TESTS_SUPPORT_WINDOW_CONTRACT_H_
#define MVUPDATE_TESTS_SUPPORT_WINDOW_CONTRACT_H_

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "system/window.h"

namespace mv {

// "Use Alternate"'s tooltip while no alternate site is known.
inline constexpr char kNoAlternateTip[] =
    "No alternate FTP site is known: the customer record names none, or it "
    "could not be read from the database.";

// What a person does to the window.
enum class Action {
  kNextError,      // F8
  kPreviousError,  // Shift+F8
  kEscape,
  kStop,   // a click on Stop
  kClose,  // the title bar's close button
  // The buttons of the question that closing during a command asks.
  kStopThenClose,
  kCloseWhenFinished,
  kKeepTheWindow,
};

// A pane of a status bar: the text it shows, the whole text it stands for,
// and whether the pane has room for what it shows.
struct Pane {
  std::string shown, whole;
  bool has_room;
};

// The whole texts of the panes that show less (their first words and
// "...", or nothing), and "cut: " with the text of a pane that reads wrong:
// wider than its pane, or a word cut in half (it reads as another word).
inline std::vector<std::string> Shortened(const std::vector<Pane>& panes) {
  std::vector<std::string> shortened;
  for (const Pane& pane : panes) {
    if (pane.shown == pane.whole && pane.has_room) continue;
    const std::string& shown = pane.shown;
    const size_t words = shown.size() > 3 ? shown.size() - 3 : 0;
    const bool after_a_word =
        shown.empty() ||
        (shown.ends_with("...") && words > 0 && words < pane.whole.size() &&
         pane.whole.compare(0, words, shown, 0, words) == 0 &&
         std::string(" ,:;.").find(pane.whole[words]) != std::string::npos);
    shortened.push_back(after_a_word && pane.has_room ? pane.whole
                                                      : "cut: " + shown);
  }
  return shortened;
}

// What a person sees: the list's lines (UTF-8) and their marks, the status
// bar (note, count of marked lines, the progress text and bar, and which of
// their texts are shortened for want of room), whether
// "Use Alternate" can be ticked (not before start-up has found an
// alternate site) and its tooltip, and Stop.
struct WindowView {
  std::vector<std::string> lines{};
  std::string note{};
  bool use_alternate_enabled = false;
  bool progress_shown = false;
  std::string marks{};  // a letter a line (E, W, -); empty when none marked
  std::string mark_count{};              // empty while hidden
  int current_row = -1;                  // the list's chosen line
  std::string progress_text{};           // empty while hidden
  std::vector<std::string> shortened{};  // see Shortened()
  std::string use_alternate_tip = kNoAlternateTip;
  bool stop_enabled = false;
  bool stop_requested = false;  // what the running command is told
  bool question_open = false;   // the close question
  // Rows run in a command: after it has ended.
  bool closed = false;
  std::vector<std::string> next_start{};  // the next start's lines

  bool operator==(const WindowView&) const = default;
};

// How a test failure shows a view.
inline void PrintTo(const WindowView& v, std::ostream* out) {
  auto lines = [out](const std::vector<std::string>& all) {
    for (const std::string& line : all) *out << " [" << line << "]";
  };
  *out << "lines:";
  lines(v.lines);
  *out << " note: [" << v.note << "] alternate: " << v.use_alternate_enabled
       << " [" << v.use_alternate_tip << "] progress: " << v.progress_shown
       << " [" << v.progress_text << "] marks: [" << v.marks << "] ["
       << v.mark_count << "] row: " << v.current_row
       << " stop: " << v.stop_enabled << v.stop_requested << " shortened:";
  lines(v.shortened);
  *out << " question: " << v.question_open << " closed: " << v.closed
       << " next start:";
  lines(v.next_start);
}

// The commands of a row's window: Update System runs the row.
struct RowCommands : Commands {
  void Load() override {}
  void UpdateSystem() override { during(); }
  void CheckSystem() override {}
  void ResetLastUpdate() override {}
  std::function<void()> during;
};

struct WindowContractRow {
  const char* name;
  std::function<void(Window&)> calls;
  std::vector<Action> actions;
  bool in_command;
  WindowView view;
};

inline const std::vector<WindowContractRow>& WindowContractRows() {
  using enum Action;
  using enum LineMark;
  auto nothing = [](Window&) {};
  auto marked = [](Window& w) {
    w.AddLine("plain");
    w.AddMarkedLine("!!! Update 2 was not installed", kError);
    w.AddMarkedLine("53-File not found", kWarning);
    w.AddLine("PATH             : C:\\Merivane");
    w.AddMarkedLine("1012-\"\" is not a valid FTP site address.", kError);
  };
  const std::vector<std::string> marked_lines = {
      "plain", "!!! Update 2 was not installed", "53-File not found",
      "PATH             : C:\\Merivane",
      "1012-\"\" is not a valid FTP site address."};
  const std::string running = "Update System is running...";
  const std::string stopping =
      "Stopping Update System at the next safe point...";
  static const std::vector<WindowContractRow> rows = {
      {"lines added, the last replaced, code page bytes decoded",
       [](Window& w) {
         w.AddLine("[Directory Info]");
         w.AddLine("...Downloading 10%");
         w.ReplaceLastLine("Caf\xe9 \x80 5");
       },
       {},
       false,
       {.lines = {"[Directory Info]", "Caf\u00e9 \u20ac 5"}}},
      {"an empty list gets the replaced line",
       [](Window& w) { w.ReplaceLastLine("...Downloading 10%"); },
       {},
       false,
       {.lines = {"...Downloading 10%"}}},
      {"cleared, marks and their count too",
       [](Window& w) {
         w.AddMarkedLine("from the command before", kError);
         w.ClearLines();
       },
       {},
       false,
       {}},
      {"an alternate site known",
       [](Window& w) { w.SetUseAlternateEnabled(true); },
       {},
       false,
       {.use_alternate_enabled = true,
        .use_alternate_tip = "Update from the alternate FTP site"}},
      {"no alternate site known any more, and the tooltip says why",
       [](Window& w) {
         w.SetUseAlternateEnabled(true);
         w.SetUseAlternateEnabled(false);
       },
       {},
       false,
       {}},
      {"the outcome in the status bar",
       [](Window& w) {
         w.ShowOutcome("Update System finished: updates 1 to 2 installed");
       },
       {},
       false,
       {.note = "Update System finished: updates 1 to 2 installed"}},
      {"progress shown during a transfer, in bytes without an activity",
       [](Window& w) { w.ShowProgress(5, 10); },
       {},
       false,
       {.progress_shown = true, .progress_text = "5 of 10 bytes"}},
      {"a narrow status bar shortens the note after a word, the rest whole",
       [](Window& w) {
         w.AddMarkedLine("!!! Updates are not verified", kWarning);
         w.AddMarkedLine("53-File not found", kWarning);
         w.ShowActivity(
             "Downloading Patch1.zip: 25.5 MB of 64.0 MB, 4.1 MB/s, 10 s left");
         w.ShowProgress(25, 64);
       },
       {},
       true,
       {.lines = {"!!! Updates are not verified", "53-File not found"},
        .note = running,
        .progress_shown = true,
        .marks = "WW",
        .mark_count = "0 errors, 2 warnings",
        .progress_text =
            "Downloading Patch1.zip: 25.5 MB of 64.0 MB, 4.1 MB/s, 10 s left",
        .shortened = {running},
        .stop_enabled = true}},
      {"progress hidden after it",
       [](Window& w) {
         w.ShowProgress(2048, -1);  // size unknown
         w.HideProgress();
       },
       {},
       false,
       {}},
      {"the activity beside the progress",
       [](Window& w) {
         w.ShowActivity("Patch1.zip: 12.0 MB of 64.0 MB, 4.1 MB/s, 13 s left");
         w.ShowProgress(12, 64);
       },
       {},
       false,
       {.progress_shown = true,
        .progress_text =
            "Patch1.zip: 12.0 MB of 64.0 MB, 4.1 MB/s, 13 s left"}},
      {"a wait without a transfer, still shown after the progress",
       [](Window& w) {
         w.ShowProgress(1, 2);
         w.ShowActivity("waiting for the database (8 s)");
         w.HideProgress();
       },
       {},
       false,
       {.progress_text = "waiting for the database (8 s)"}},
      {"the activity over",
       [](Window& w) {
         w.ShowActivity("waiting 10 s after RUN");
         w.ShowActivity("");
       },
       {},
       false,
       {}},
      {"Error and Warning lines marked, text unchanged, counted",
       marked,
       {},
       false,
       {.lines = marked_lines,
        .marks = "-EW-E",
        .mark_count = "2 errors, 1 warning"}},
      {"F8 walks the Error lines, wrapping around",
       marked,
       {kNextError, kNextError, kNextError},
       false,
       {.lines = marked_lines,
        .marks = "-EW-E",
        .mark_count = "2 errors, 1 warning",
        .current_row = 1}},
      {"Shift+F8 walks back from the end",
       marked,
       {kPreviousError},
       false,
       {.lines = marked_lines,
        .marks = "-EW-E",
        .mark_count = "2 errors, 1 warning",
        .current_row = 4}},
      {"F8 without an Error line says so",
       [](Window& w) { w.AddMarkedLine("53-File not found", kWarning); },
       {kNextError},
       false,
       {.lines = {"53-File not found"},
        .note = "There is no Error line in the list.",
        .marks = "W",
        .mark_count = "0 errors, 1 warning"}},
      {"Esc with nothing running stops nothing", nothing, {kEscape}, false, {}},
      {"Stop can be pressed while a command runs",
       nothing,
       {},
       true,
       {.note = running, .stop_enabled = true}},
      {"Stop asks the command to stop, once",
       nothing,
       {kStop},
       true,
       {.note = stopping, .stop_requested = true}},
      {"Esc asks the command to stop",
       nothing,
       {kEscape},
       true,
       {.note = stopping, .stop_requested = true}},
      {"closing during a command asks",
       nothing,
       {kClose},
       true,
       {.note = running, .stop_enabled = true, .question_open = true}},
      {"asked, the window is kept",
       nothing,
       {kClose, kKeepTheWindow},
       true,
       {.note = running, .stop_enabled = true}},
      {"asked, the window closes when the command has finished",
       [](Window& w) { w.ShowOutcome("Update System finished with errors"); },
       {kClose, kCloseWhenFinished},
       true,
       {.note = "The window closes when Update System has finished.",
        .stop_enabled = true,
        .closed = true,
        .next_start = {"The last run ended after its window was closed: "
                       "Update System finished with errors"}}},
      {"asked, the command stops and the window closes",
       nothing,
       {kClose, kStopThenClose},
       true,
       {.note = "The window closes when Update System has stopped.",
        .stop_requested = true,
        .closed = true,
        .next_start = {"The last run ended after its window was closed: "
                       "Update System finished"}}},
  };
  return rows;
}

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_WINDOW_CONTRACT_H_
