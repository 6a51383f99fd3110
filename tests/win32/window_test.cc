// The Win32 window under Wine (on a virtual X display): the seam's table
// shared with the Qt window, then what only this window has to show: its
// controls in tab order with their names (Wine 8 has no UI Automation to
// ask: screen readers name the controls by these texts), its first size
// within a small screen, one command at a time with Enter pressing the
// focused button, a bounded event wait that sleeps, and the resources of
// mvupdate.exe (version, manifest) as Check System reads them.
#include <windows.h>
// windows.h first
#include <commctrl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/window_contract.h"
#include "tools/pe_version.h"
#include "win32/main_window.h"

namespace mv {
namespace {

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                              static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                      text.data(), n, nullptr, nullptr);
  return text;
}

// A button of the window (or of its close question) by its text.
HWND Button(HWND parent, const wchar_t* text) {
  return FindWindowExW(parent, nullptr, WC_BUTTONW, text);
}

WindowView ViewOf(const Win32Window& w) {
  WindowView view;
  for (const std::wstring& line : w.ListLines()) {
    view.lines.push_back(Utf8(line));
  }
  for (LineMark mark : w.Marks()) {
    view.marks += mark == LineMark::kError     ? 'E'
                  : mark == LineMark::kWarning ? 'W'
                                               : '-';
  }
  if (view.marks.find_first_not_of('-') == std::string::npos) {
    view.marks.clear();
  }
  view.note = Utf8(w.Note());
  view.mark_count = Utf8(w.MarkCount());
  view.current_row = w.CurrentRow();
  view.progress_text = Utf8(w.ProgressText());
  // The status bar's parts from the left: the note, then the count and
  // the progress text while shown.
  HWND bar = FindWindowExW(w.hwnd(), nullptr, STATUSCLASSNAMEW, nullptr);
  std::vector<Pane> panes;
  for (const std::string& whole :
       {view.note, view.mark_count, view.progress_text}) {
    if (whole.empty() && !panes.empty()) continue;
    const auto part = static_cast<WPARAM>(panes.size());
    std::wstring shown(
        LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, part, 0)) + 1u, L'\0');
    SendMessageW(bar, SB_GETTEXTW, part,
                 reinterpret_cast<LPARAM>(shown.data()));
    shown.resize(wcslen(shown.c_str()));
    RECT pane{};
    SendMessageW(bar, SB_GETRECT, part, reinterpret_cast<LPARAM>(&pane));
    HDC dc = GetDC(bar);
    HGDIOBJ old = SelectObject(
        dc, reinterpret_cast<HFONT>(SendMessageW(bar, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()),
                          &size);
    SelectObject(dc, old);
    ReleaseDC(bar, dc);
    // A shortened text is whole in the part's tip (the count's tip goes on
    // to say what F8 does). 8: the part's border and the margin before its
    // text.
    const std::string tip = Utf8(w.PartTip(static_cast<int>(part)));
    panes.push_back(
        {Utf8(shown),
         Utf8(shown) == whole ? whole : tip.substr(0, tip.find('\n')),
         size.cx + 8 <= pane.right - pane.left});
  }
  view.shortened = Shortened(panes);
  view.use_alternate_enabled = w.UseAlternateEnabled();
  view.use_alternate_tip = Utf8(w.UseAlternateTip());
  view.progress_shown = w.progress_shown();
  view.stop_enabled = IsWindowEnabled(Button(w.hwnd(), L"&Stop")) != FALSE;
  view.stop_requested = w.StopRequested();
  view.question_open =
      w.close_question() != nullptr && IsWindowVisible(w.close_question());
  return view;
}

// Keys go to the window as its message loop gets them; Shift is held in
// the thread's keyboard state.
void Press(Win32Window& w, WPARAM key, bool shift = false) {
  BYTE keys[256];
  GetKeyboardState(keys);
  const BYTE was = keys[VK_SHIFT];
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  PostMessageW(w.hwnd(), WM_KEYDOWN, key, 0);
  w.DoEvents();
  keys[VK_SHIFT] = was;
  SetKeyboardState(keys);
}

void Click(Win32Window& w, HWND parent, const wchar_t* text) {
  HWND button = Button(parent, text);
  SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
  w.DoEvents();
}

void Do(Win32Window& w, Action action) {
  switch (action) {
    case Action::kNextError:
      return Press(w, VK_F8);
    case Action::kPreviousError:
      return Press(w, VK_F8, true);
    case Action::kEscape:
      return Press(w, VK_ESCAPE);
    case Action::kStop:
      return Click(w, w.hwnd(), L"&Stop");
    case Action::kClose:
      SendMessageW(w.hwnd(), WM_CLOSE, 0, 0);
      return;
    case Action::kStopThenClose:
      return Click(w, w.close_question(), L"&Stop, then close");
    case Action::kCloseWhenFinished:
      return Click(w, w.close_question(), L"Close when &finished");
    case Action::kKeepTheWindow:
      return Click(w, w.close_question(), L"&Keep the window");
  }
}

TEST(Win32WindowTest, SharedSeamTable) {
  for (const WindowContractRow& row : WindowContractRows()) {
    Win32Window w;
    RowCommands commands;
    w.SetCommands(&commands);
    WindowView view;
    commands.during = [&] {
      row.calls(w);
      for (Action action : row.actions) Do(w, action);
      view = ViewOf(w);
    };
    if (row.in_command) {
      HWND hwnd = w.hwnd();
      Click(w, hwnd, L"&Update System");
      w.DoEvents();
      view.closed = !IsWindow(hwnd);
      MSG quit;  // a closed window ends the program's loop
      EXPECT_EQ(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE),
                view.closed)
          << row.name;
      Win32Window next;
      next.SetCommands(&commands);
      next.RunLoad();
      view.next_start = ViewOf(next).lines;
    } else {
      commands.during();
    }
    EXPECT_EQ(view, row.view) << row.name;
  }
}

struct RecordingCommands : Commands {
  void Load() override { Run("Load"); }
  void UpdateSystem() override { Run("UpdateSystem"); }
  void CheckSystem() override { Run("CheckSystem"); }
  void ResetLastUpdate() override { Run("ResetLastUpdate"); }
  void Run(const std::string& name) {
    calls.push_back(name);
    if (during) std::exchange(during, nullptr)();
  }
  std::vector<std::string> calls;
  std::function<void()> during;
};

// The window's controls that take the focus, in tab order: their texts are
// what screen readers name them by.
std::vector<std::pair<HWND, std::string>> TabStops(HWND parent) {
  std::vector<std::pair<HWND, std::string>> stops;
  for (HWND c = GetWindow(parent, GW_CHILD); c != nullptr;
       c = GetWindow(c, GW_HWNDNEXT)) {
    if ((GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP) == 0) continue;
    wchar_t text[128] = L"";
    GetWindowTextW(c, text, 128);
    stops.emplace_back(c, Utf8(text));
  }
  return stops;
}

TEST(Win32WindowTest, ControlsOneCommandAtATimeAndEnter) {
  RecordingCommands commands;
  Win32Window w;
  w.SetCommands(&commands);
  auto stops = TabStops(w.hwnd());
  std::vector<std::string> names;
  for (auto& [control, name] : stops) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "Use &Alternate", "&Update System", "&Check System",
                       "&Reset Last Update", "Update from &FTP Site", "&Stop",
                       "Lines of the run"}));
  HWND update = stops[1].first;

  // A double click on the banner (the first child) shows the FTP box.
  HWND ftp = stops[4].first;
  EXPECT_FALSE(GetWindowLongW(ftp, GWL_STYLE) & WS_VISIBLE);
  SendMessageW(GetWindow(w.hwnd(), GW_CHILD), WM_LBUTTONDBLCLK, 0, 0);
  w.DoEvents();
  EXPECT_TRUE(GetWindowLongW(ftp, GWL_STYLE) & WS_VISIBLE);

  // A click that arrives while start-up waits for events starts nothing,
  // and the status bar says so; Enter on the focused button presses it.
  commands.during = [&] {
    PostMessageW(update, BM_CLICK, 0, 0);
    w.WaitForEvents(std::chrono::milliseconds(200));
  };
  w.Show(SW_SHOWNORMAL);
  // The screen (tests/win32/with-display) is smaller than the window's
  // first size: the window fits its work area.
  RECT frame;
  GetWindowRect(w.hwnd(), &frame);
  MONITORINFO screen{};
  screen.cbSize = sizeof screen;
  GetMonitorInfoW(MonitorFromWindow(w.hwnd(), MONITOR_DEFAULTTONEAREST),
                  &screen);
  RECT inside;
  IntersectRect(&inside, &frame, &screen.rcWork);
  EXPECT_TRUE(EqualRect(&inside, &frame))
      << frame.left << "," << frame.top << " " << frame.right << ","
      << frame.bottom;
  w.WaitForEvents(std::chrono::milliseconds(100));
  EXPECT_NE(w.Note().find(L"\"Update System\" was ignored"), std::wstring::npos)
      << Utf8(w.Note());
  SetFocus(update);
  SendMessageW(w.hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_EQ(commands.calls, (std::vector<std::string>{"Load", "UpdateSystem"}));

  // A line wider than the list can be scrolled to its end; the view still
  // follows new lines once the horizontal scroll bar has taken its room.
  HWND list = stops[6].first;
  for (int i = 0; i < 40; ++i) w.AddLine("a line");
  w.AddLine(std::string(300, 'x') + " the end");
  w.AddLine("the last line");
  RECT area;
  GetClientRect(list, &area);
  EXPECT_GT(SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0), area.right);
  const LRESULT shown =
      area.bottom / SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
  EXPECT_GE(SendMessageW(list, LB_GETTOPINDEX, 0, 0) + shown,
            SendMessageW(list, LB_GETCOUNT, 0, 0));
}

// The processor time this process has used (std::clock() is the wall
// clock on Windows).
std::chrono::milliseconds ProcessorTime() {
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto ticks = [](FILETIME t) {
    return (uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) / 10000;
  };
  return std::chrono::milliseconds(ticks(kernel) + ticks(user));
}

// Each call blocks, the processor idle, until a message or the bound.
TEST(Win32WindowTest, WaitForEventsIsBoundedAndSleeps) {
  Win32Window w;
  const auto cpu = ProcessorTime();
  const auto start = std::chrono::steady_clock::now();
  int calls = 0;
  while (std::chrono::steady_clock::now() - start <
         std::chrono::milliseconds(400)) {
    w.WaitForEvents(std::chrono::milliseconds(100));
    ++calls;
  }
  EXPECT_LE(calls, 10);
  EXPECT_LT(ProcessorTime() - cpu, std::chrono::milliseconds(100));
}

// Check System reads the program's own version; the manifest asks for the
// common controls 6 and the DPI of each monitor.
TEST(Win32WindowTest, VersionAndManifest) {
  std::optional<VersionInfo> info = ReadVersionInfo(MVUPDATE_WINDOW_EXE);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->QueryString("\\StringFileInfo\\040904B0\\FileDescription"),
            "Merivane Update");
  EXPECT_EQ(info->QueryString("\\StringFileInfo\\040904B0\\FileVersion"),
            MVUPDATE_VERSION);
  HMODULE exe = LoadLibraryExW(L"" MVUPDATE_WINDOW_EXE, nullptr,
                               LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  std::string manifest(
      static_cast<const char*>(LockResource(LoadResource(exe, found))),
      SizeofResource(exe, found));
  FreeLibrary(exe);
  for (const char* part :
       {"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
        ">PerMonitorV2<", ">true/pm<"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

}  // namespace
}  // namespace mv
