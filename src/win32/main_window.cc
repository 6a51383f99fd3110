#include "win32/main_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "system/display_text.h"

namespace mv {

namespace {

constexpr wchar_t kClass[] = L"MerivaneUpdateMain";
constexpr wchar_t kBannerClass[] = L"MerivaneUpdateBanner";
constexpr wchar_t kCaption[] = L"Merivane Update 2016";
constexpr wchar_t kTitle[] = L"Merivane Update";
constexpr wchar_t kDescription[] =
    L"Use this utility to apply Merivane updates. When this utility is run "
    L"from the server machine, updates are downloaded from the FTP site.  "
    L"When run from the client machine, updates are downloaded from the "
    L"server. Left-Click the Update System button to perform update.";

// Control ids; none is IDOK or IDCANCEL, which the dialog keys send.
enum : int {
  kUpdateId = 101,
  kCheckSystemId,
  kResetLastUpdateId,
  kUseAltSiteId,
  kUpdateFromFtpId,
  kOutputId,
  kStatusId,
};
constexpr UINT kLoadMessage = WM_APP + 1;    // runs start-up
constexpr UINT kRevealMessage = WM_APP + 2;  // the banner was double-clicked
constexpr UINT_PTR kNoteTimer = 1;

// How long a note about an ignored click stays in the status bar.
constexpr UINT kNoteMs = 6000;
// While a command runs, lines up to this many are shown one by one; after
// that the window is brought up to date at most every kPumpIntervalMs.
constexpr int kEagerLines = 200;
constexpr ULONGLONG kPumpIntervalMs = 40;
constexpr int kProgressSteps = 1000;
// The window's first size at 96 DPI, and the banner's height.
constexpr int kWidth = 720, kHeight = 540, kBannerHeight = 64, kIconSize = 48;
constexpr COLORREF kGrey = RGB(192, 192, 192);
constexpr COLORREF kBlue = RGB(0, 0, 255);
// Pixels at 96 DPI the status bar gives the progress text and bar.
constexpr int kProgressTextWidth = 220, kProgressBarWidth = 140;

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                              static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), n);
  return wide;
}

// Lines are bytes (UTF-8 or the Windows code page): shown as the Qt window
// shows them.
std::wstring FromBytes(std::string_view bytes) {
  return Widen(ToDisplayUtf8(bytes));
}

// "1,234,567": digits in groups of three.
std::wstring Grouped(int64_t n) {
  std::wstring digits = std::to_wstring(n < 0 ? -n : n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) {
    digits.insert(static_cast<size_t>(i), L",");
  }
  return n < 0 ? L"-" + digits : digits;
}

HFONT MakeFont(const wchar_t* face, int tenths_of_points, bool bold, UINT dpi) {
  LOGFONTW font{};
  font.lfHeight = -MulDiv(tenths_of_points, static_cast<int>(dpi), 720);
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = CLEARTYPE_QUALITY;
  wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
  return CreateFontIndirectW(&font);
}

// The text's width in pixels at `font`.
int TextWidth(HWND hwnd, HFONT font, const std::wstring& text) {
  HDC dc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return size.cx;
}

// The banner across the top: a gradient from the suite's blue to the
// window's grey with the program's icon. A double click reveals "Update
// from FTP Site".
LRESULT CALLBACK BannerProc(HWND hwnd, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      RECT area;
      GetClientRect(hwnd, &area);
      TRIVERTEX ends[2] = {
          {0, 0, 16 << 8, 45 << 8, 94 << 8, 0},
          {area.right, area.bottom, 192 << 8, 192 << 8, 192 << 8, 0}};
      GRADIENT_RECT span = {0, 1};
      GradientFill(dc, ends, 2, &span, 1, GRADIENT_FILL_RECT_H);
      UINT dpi = GetDpiForWindow(hwnd);
      int size = MulDiv(kIconSize, static_cast<int>(dpi), 96);
      int margin = (area.bottom - size) / 2;
      auto icon = reinterpret_cast<HICON>(
          GetClassLongPtrW(GetParent(hwnd), GCLP_HICON));
      DrawIconEx(dc, margin, margin, icon, size, size, 0, nullptr, DI_NORMAL);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_LBUTTONDBLCLK:
      PostMessageW(GetParent(hwnd), kRevealMessage, 0, 0);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// The list box: left and right arrows and Shift+wheel move it sideways (a
// list of one column has nothing to the left or right to select).
LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                          UINT_PTR, DWORD_PTR) {
  if (message == WM_KEYDOWN && (wparam == VK_LEFT || wparam == VK_RIGHT) &&
      GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_SHIFT) >= 0) {
    SendMessageW(hwnd, WM_HSCROLL,
                 wparam == VK_LEFT ? SB_LINELEFT : SB_LINERIGHT, 0);
    return 0;
  }
  if (message == WM_MOUSEWHEEL && (GET_KEYSTATE_WPARAM(wparam) & MK_SHIFT)) {
    int notches = GET_WHEEL_DELTA_WPARAM(wparam) / WHEEL_DELTA;
    for (int i = 0; i < 4 * std::abs(notches); ++i) {
      SendMessageW(hwnd, WM_HSCROLL, notches > 0 ? SB_LINELEFT : SB_LINERIGHT,
                   0);
    }
    return 0;
  }
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

void RegisterBanner(HINSTANCE instance) {
  WNDCLASSEXW banner{};
  banner.cbSize = sizeof banner;
  banner.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
  banner.lpfnWndProc = BannerProc;
  banner.hInstance = instance;
  banner.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  banner.lpszClassName = kBannerClass;
  RegisterClassExW(&banner);
}

}  // namespace

Win32Window::Win32Window() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES |
                                                     ICC_BAR_CLASSES |
                                                     ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  grey_ = CreateSolidBrush(kGrey);
  LoadIconMetric(instance, MAKEINTRESOURCEW(1), LIM_LARGE, &icon_);
  LoadIconMetric(instance, MAKEINTRESOURCEW(1), LIM_SMALL, &small_icon_);
  RegisterBanner(instance);
  WNDCLASSEXW main{};
  main.cbSize = sizeof main;
  main.lpfnWndProc = WindowProc;
  main.hInstance = instance;
  main.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  main.hbrBackground = grey_;
  main.hIcon = icon_;
  main.hIconSm = small_icon_;
  main.lpszClassName = kClass;
  RegisterClassExW(&main);
  // The window is made at its final size once the DPI of its monitor is
  // known (Show).
  hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClass, kCaption,
                          WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                          CW_USEDEFAULT, kWidth, kHeight, nullptr, nullptr,
                          instance, this);
  dpi_ = GetDpiForWindow(hwnd_);
  MakeFonts();
  CreateControls();
}

Win32Window::~Win32Window() {
  owner_destroys_ = true;
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  for (HFONT f : {font_, title_font_, list_font_}) DeleteObject(f);
  DeleteObject(grey_);
  DestroyIcon(icon_);
  DestroyIcon(small_icon_);
}

int Win32Window::Scale(int pixels) const {
  return MulDiv(pixels, static_cast<int>(dpi_), 96);
}

void Win32Window::MakeFonts() {
  for (HFONT f : {font_, title_font_, list_font_}) {
    if (f != nullptr) DeleteObject(f);
  }
  font_ = MakeFont(L"Tahoma", 90, false, dpi_);
  title_font_ = MakeFont(L"Tahoma", 83, true, dpi_);
  list_font_ = MakeFont(L"Courier New", 83, false, dpi_);
}

void Win32Window::CreateControls() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id,
                   DWORD ex_style = 0) {
    return CreateWindowExW(
        ex_style, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  };
  banner_ = child(kBannerClass, L"", 0, 0);
  title_ = child(WC_STATICW, kTitle, SS_LEFT | SS_NOPREFIX, 0);
  description_ = child(WC_STATICW, kDescription, SS_LEFT | SS_NOPREFIX, 0);
  // Tab order: the order made.
  use_alt_site_ = child(WC_BUTTONW, L"Use &Alternate",
                        BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, kUseAltSiteId);
  // Usable once start-up has found an alternate site.
  EnableWindow(use_alt_site_, FALSE);
  update_ = child(WC_BUTTONW, L"&Update System", BS_PUSHBUTTON | WS_TABSTOP,
                  kUpdateId);
  check_system_ = child(WC_BUTTONW, L"&Check System",
                        BS_PUSHBUTTON | WS_TABSTOP, kCheckSystemId);
  reset_last_update_ = child(WC_BUTTONW, L"&Reset Last Update",
                             BS_PUSHBUTTON | WS_TABSTOP, kResetLastUpdateId);
  update_from_ftp_ = child(WC_BUTTONW, L"Update from &FTP Site",
                           BS_AUTOCHECKBOX | WS_TABSTOP, kUpdateFromFtpId);
  ShowWindow(update_from_ftp_, SW_HIDE);
  output_ = child(
      WC_LISTBOXW, L"Lines of the run",
      LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
      kOutputId, WS_EX_CLIENTEDGE);
  SetWindowSubclass(output_, ListProc, 0, 0);
  status_ =
      child(STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP | SBT_TOOLTIPS, kStatusId);
  progress_bar_ =
      CreateWindowExW(0, PROGRESS_CLASSW, L"Transfer progress", WS_CHILD, 0, 0,
                      0, 0, status_, nullptr, instance, nullptr);
  SendMessageW(progress_bar_, PBM_SETRANGE32, 0, kProgressSteps);
  ApplyFonts(FALSE);
}

void Win32Window::ApplyFonts(BOOL redraw) {
  for (HWND w : {description_, use_alt_site_, update_, check_system_,
                 reset_last_update_, update_from_ftp_, status_}) {
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), redraw);
  }
  SendMessageW(title_, WM_SETFONT, reinterpret_cast<WPARAM>(title_font_),
               redraw);
  SendMessageW(output_, WM_SETFONT, reinterpret_cast<WPARAM>(list_font_),
               redraw);
}

void Win32Window::LayoutStatusBar() {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int width = client.right;
  SendMessageW(status_, WM_SIZE, 0, 0);
  // The note takes what the progress leaves, and the whole bar without it.
  const int text = progress_shown_ ? Scale(kProgressTextWidth) : 0;
  const int bar = progress_shown_ ? Scale(kProgressBarWidth) : 0;
  int parts[3] = {std::max(0, width - text - bar), std::max(0, width - bar),
                  -1};
  SendMessageW(status_, SB_SETPARTS, progress_shown_ ? 3 : 1,
               reinterpret_cast<LPARAM>(parts));
  RECT area;
  SendMessageW(status_, SB_GETRECT, 2, reinterpret_cast<LPARAM>(&area));
  InflateRect(&area, -Scale(2), -Scale(2));
  MoveWindow(progress_bar_, area.left, area.top, area.right - area.left,
             area.bottom - area.top, TRUE);
  ShowWindow(progress_bar_, progress_shown_ ? SW_SHOWNA : SW_HIDE);
}

void Win32Window::Layout() {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int width = client.right;
  LayoutStatusBar();
  RECT status;
  GetWindowRect(status_, &status);
  const int status_height = status.bottom - status.top;

  const int margin = Scale(10), gap = Scale(6);
  int y = Scale(kBannerHeight);
  MoveWindow(banner_, 0, 0, width, y, TRUE);
  y += Scale(2);
  const int title_height = Scale(16);
  MoveWindow(title_, margin, y, width - 2 * margin, title_height, TRUE);
  y += title_height + gap;
  // The description gets the height its text needs at this width.
  RECT text{0, 0, std::max(1, width - 2 * margin), 0};
  HDC dc = GetDC(description_);
  HGDIOBJ old = SelectObject(dc, font_);
  DrawTextW(dc, kDescription, -1, &text, DT_CALCRECT | DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(description_, dc);
  MoveWindow(description_, margin, y, width - 2 * margin, text.bottom, TRUE);
  y += text.bottom + gap;

  // The row: the check box, three buttons of one width, the hidden box.
  const int row_height = Scale(28);
  int button_width = 0;
  for (HWND b : {update_, check_system_, reset_last_update_}) {
    wchar_t label[64];
    GetWindowTextW(b, label, 64);
    button_width = std::max(button_width, TextWidth(b, font_, label));
  }
  button_width += Scale(24);
  int x = margin;
  auto place = [&](HWND w, int w_width) {
    MoveWindow(w, x, y, w_width, row_height, TRUE);
    x += w_width + Scale(8);
  };
  place(use_alt_site_,
        TextWidth(use_alt_site_, font_, L"Use Alternate") + Scale(24));
  for (HWND b : {update_, check_system_, reset_last_update_}) {
    place(b, button_width);
  }
  place(
      update_from_ftp_,
      TextWidth(update_from_ftp_, font_, L"Update from FTP Site") + Scale(24));
  y += row_height + gap;

  const int list_bottom = client.bottom - status_height - Scale(6);
  MoveWindow(output_, margin, y, width - 2 * margin,
             std::max(Scale(40), list_bottom - y), TRUE);
}

void Win32Window::Show(int show_command) {
  // The first size: 720 by 540 at this monitor's scale, within its work
  // area, centred on it.
  HMONITOR monitor = MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(monitor, &info);
  const RECT& work = info.rcWork;
  const int w = std::min<int>(Scale(kWidth), work.right - work.left);
  const int h = std::min<int>(Scale(kHeight), work.bottom - work.top);
  SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - w) / 2,
               work.top + (work.bottom - work.top - h) / 2, w, h,
               SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
  // Keyboard users see where the focus is and which letters are
  // mnemonics from the start.
  SendMessageW(hwnd_, WM_CHANGEUISTATE,
               MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
  ShowWindow(hwnd_, show_command);
  UpdateWindow(hwnd_);
  SetFocus(update_);
  PostMessageW(hwnd_, kLoadMessage, 0, 0);
}

void Win32Window::Dispatch(MSG& msg) {
  if (IsDialogMessageW(hwnd_, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

LRESULT CALLBACK Win32Window::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                         LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<Win32Window*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self =
      reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr || self->status_ == nullptr) {
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return self->Handle(message, wparam, lparam);
}

LRESULT Win32Window::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return 0;
    case WM_GETMINMAXINFO: {
      // The smallest size that shows every control, but never more than
      // the screen's work area (a large scale on a small screen).
      auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
      MONITORINFO screen{};
      screen.cbSize = sizeof screen;
      GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST),
                      &screen);
      const RECT& work = screen.rcWork;
      limits->ptMinTrackSize = {
          std::min<LONG>(Scale(520), work.right - work.left),
          std::min<LONG>(Scale(320), work.bottom - work.top)};
      return 0;
    }
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wparam);
      MakeFonts();
      ApplyFonts(TRUE);
      // The lines' widths at the new font, for the horizontal scroll bar.
      widest_line_ = 0;
      for (const std::wstring& line : ListLines()) WidenList(line);
      const RECT* suggested = reinterpret_cast<RECT*>(lparam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left,
                   suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      auto dc = reinterpret_cast<HDC>(wparam);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, reinterpret_cast<HWND>(lparam) == title_
                           ? kBlue
                           : GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<LRESULT>(grey_);
    }
    case WM_SETCURSOR:
      if (busy_ && LOWORD(lparam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam));
      return 0;
    case WM_TIMER:
      if (wparam == kNoteTimer) {
        KillTimer(hwnd_, kNoteTimer);
        note_passing_ = false;
        Note(outcome_, 0);
      }
      return 0;
    case kLoadMessage:
      RunCommand(L"Start-up", [this] { commands_->Load(); });
      if (after_load) std::exchange(after_load, nullptr)();
      return 0;
    case kRevealMessage:
      ShowWindow(update_from_ftp_, SW_SHOW);
      return 0;
    case WM_CLOSE:
      if (command_running()) {
        // Ending the program in the middle of a command could leave a half
        // installed update; the window closes as soon as the command ends.
        close_pending_ = true;
        Note(L"The window closes when " + running_ + L" has finished.", 0);
        return 0;
      }
      DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      // Closed by the person: the program ends. Destroyed by its owner
      // (the destructor), the thread's loop goes on.
      if (!owner_destroys_) PostQuitMessage(0);
      hwnd_ = nullptr;
      return 0;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

void Win32Window::OnCommand(int id) {
  if (id == IDOK) {
    // Enter presses the button that has the focus.
    HWND focus = GetFocus();
    if (focus == update_ || focus == check_system_ ||
        focus == reset_last_update_) {
      id = GetDlgCtrlID(focus);
    }
  }
  switch (id) {
    case kUpdateId:
      RunCommand(L"Update System", [this] { commands_->UpdateSystem(); });
      break;
    case kCheckSystemId:
      RunCommand(L"Check System", [this] { commands_->CheckSystem(); });
      break;
    case kResetLastUpdateId:
      RunCommand(L"Reset Last Update",
                 [this] { commands_->ResetLastUpdate(); });
      break;
  }
}

void Win32Window::RunCommand(const std::wstring& what,
                             const std::function<void()>& command) {
  if (commands_ == nullptr) return;
  if (command_running()) {
    // Starting a second command inside the first one's wait would run two
    // update runs on the same work folders at once.
    note_passing_ = true;
    Note(L"\"" + what + L"\" was ignored: " + running_ + L" is still running.",
         kNoteMs);
    return;
  }
  running_ = what;
  outcome_shown_ = false;
  outcome_ = what + L" is running...";
  Note(outcome_, 0);
  command();
  running_.clear();
  if (!outcome_shown_) {
    outcome_ = what + L" finished";
    if (!note_passing_) Note(outcome_, 0);
  }
  if (close_pending_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void Win32Window::Note(const std::wstring& text, UINT ms) {
  SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageW(status_, SB_SETTIPTEXTW, 0,
               reinterpret_cast<LPARAM>(text.c_str()));
  if (ms > 0) {
    SetTimer(hwnd_, kNoteTimer, ms, nullptr);
  } else {
    KillTimer(hwnd_, kNoteTimer);
  }
}

void Win32Window::ShowOutcome(std::string_view text) {
  outcome_shown_ = true;
  outcome_ = FromBytes(text);
  // A passing note (a click that was ignored) is read to its end first.
  if (!note_passing_) Note(outcome_, 0);
}

void Win32Window::WidenList(const std::wstring& line) {
  const int width = TextWidth(output_, list_font_, line) + Scale(8);
  if (width <= widest_line_) return;
  widest_line_ = width;
  SendMessageW(output_, LB_SETHORIZONTALEXTENT,
               static_cast<WPARAM>(widest_line_), 0);
}

void Win32Window::AddLine(std::string_view text) {
  std::wstring line = FromBytes(text);
  // The view follows new lines while it shows the end, like a terminal.
  const LRESULT count = SendMessageW(output_, LB_GETCOUNT, 0, 0);
  RECT area;
  GetClientRect(output_, &area);
  const LRESULT item_height = SendMessageW(output_, LB_GETITEMHEIGHT, 0, 0);
  const LRESULT top = SendMessageW(output_, LB_GETTOPINDEX, 0, 0);
  const LRESULT visible = item_height > 0 ? area.bottom / item_height : 1;
  const bool follow = top + visible >= count;
  WidenList(line);
  SendMessageW(output_, LB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(line.c_str()));
  if (follow) {
    SendMessageW(output_, LB_SETTOPINDEX,
                 static_cast<WPARAM>(std::max<LRESULT>(0, count + 1 - visible)),
                 0);
  }
  ShowNewLines();
}

void Win32Window::ClearLines() {
  SendMessageW(output_, LB_RESETCONTENT, 0, 0);
  widest_line_ = 0;
  SendMessageW(output_, LB_SETHORIZONTALEXTENT, 0, 0);
}

void Win32Window::ReplaceLastLine(std::string_view text) {
  const LRESULT count = SendMessageW(output_, LB_GETCOUNT, 0, 0);
  if (count == 0) return AddLine(text);
  std::wstring line = FromBytes(text);
  WidenList(line);
  SendMessageW(output_, WM_SETREDRAW, FALSE, 0);
  SendMessageW(output_, LB_DELETESTRING, static_cast<WPARAM>(count - 1), 0);
  SendMessageW(output_, LB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(line.c_str()));
  SendMessageW(output_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(output_, nullptr, TRUE);
  ShowNewLines();
}

void Win32Window::ShowNewLines() {
  // Let new lines show and keep the window alive while a command works
  // without waiting; clicks that arrive meanwhile meet the running command.
  // Long lists are brought up to date every few hundredths of a second.
  if (!command_running()) return;
  const ULONGLONG now = GetTickCount64();
  if (SendMessageW(output_, LB_GETCOUNT, 0, 0) > kEagerLines &&
      now - pumped_ < kPumpIntervalMs) {
    return;
  }
  DoEvents();
  pumped_ = now;
}

void Win32Window::ShowMessageBox(std::string_view prompt,
                                 std::string_view caption) {
  // The box wants an answer: the ordinary pointer over it.
  const bool was_busy = busy_;
  busy_ = false;
  MessageBoxW(hwnd_, FromBytes(prompt).c_str(), FromBytes(caption).c_str(),
              MB_OK);
  busy_ = was_busy;
}

void Win32Window::SetBusy(bool busy) {
  busy_ = busy;
  POINT at;
  GetCursorPos(&at);
  // The pointer changes now if it is over the window, not at its next move.
  if (WindowFromPoint(at) != nullptr) {
    SendMessageW(hwnd_, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd_),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  }
  if (!busy) SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

void Win32Window::Beep() { MessageBeep(MB_OK); }

bool Win32Window::UseAlternateTicked() const {
  // A box ticked while an alternate site was known does not count once
  // none is.
  return SendMessageW(use_alt_site_, BM_GETCHECK, 0, 0) == BST_CHECKED &&
         IsWindowEnabled(use_alt_site_);
}

bool Win32Window::UpdateFromFtpTicked() const {
  return SendMessageW(update_from_ftp_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Window::SetUseAlternateEnabled(bool enabled) {
  EnableWindow(use_alt_site_, enabled);
}

void Win32Window::ShowProgress(int64_t done, int64_t total) {
  std::wstring text;
  const bool marquee = total < 0;
  if (marquee != progress_marquee_) {
    // Size unknown: the bar moves without saying how far.
    LONG_PTR style = GetWindowLongPtrW(progress_bar_, GWL_STYLE);
    SetWindowLongPtrW(progress_bar_, GWL_STYLE,
                      marquee ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
    SendMessageW(progress_bar_, PBM_SETMARQUEE, marquee, 30);
    progress_marquee_ = marquee;
  }
  if (marquee) {
    text = Grouped(done) + L" bytes";
  } else {
    const int64_t clamped = std::clamp<int64_t>(done, 0, total);
    const int steps =
        total == 0
            ? kProgressSteps
            : static_cast<int>(static_cast<double>(clamped) /
                               static_cast<double>(total) * kProgressSteps);
    SendMessageW(progress_bar_, PBM_SETPOS, static_cast<WPARAM>(steps), 0);
    text = Grouped(done) + L" of " + Grouped(total) + L" bytes";
  }
  if (!progress_shown_) {
    progress_shown_ = true;
    LayoutStatusBar();
  }
  SendMessageW(status_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32Window::HideProgress() {
  if (!progress_shown_) return;
  progress_shown_ = false;
  SendMessageW(status_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L""));
  LayoutStatusBar();
}

std::vector<std::wstring> Win32Window::ListLines() const {
  std::vector<std::wstring> lines;
  const LRESULT count = SendMessageW(output_, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring line(
        static_cast<size_t>(SendMessageW(output_, LB_GETTEXTLEN, i, 0)), L'\0');
    SendMessageW(output_, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
    lines.push_back(std::move(line));
  }
  return lines;
}

std::wstring Win32Window::Note() const {
  std::vector<wchar_t> text(
      LOWORD(SendMessageW(status_, SB_GETTEXTLENGTHW, 0, 0)) + 1u);
  SendMessageW(status_, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
  return text.data();
}

bool Win32Window::UseAlternateEnabled() const {
  return IsWindowEnabled(use_alt_site_) != FALSE;
}

void Win32Window::DoEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // For the loop of main(), once the command has returned.
      quitting_ = true;
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    Dispatch(msg);
  }
}

void Win32Window::WaitForEvents(std::chrono::milliseconds bound) {
  const DWORD ms =
      static_cast<DWORD>(std::min<int64_t>(bound.count(), INFINITE - 1));
  if (bound.count() > 0 && quitting_) {
    // The pending quit message would end every wait at once.
    Sleep(ms);
  } else if (bound.count() > 0) {
    // Returns when input or any other message arrives, or at the bound.
    MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
  DoEvents();
}

}  // namespace mv
