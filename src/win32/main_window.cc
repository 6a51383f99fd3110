#include "win32/main_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/status_text.h"
#include "system/display_text.h"

namespace mv {

namespace {

constexpr wchar_t kClass[] = L"MerivaneUpdateMain";
constexpr wchar_t kBannerClass[] = L"MerivaneUpdateBanner";
constexpr wchar_t kQuestionClass[] = L"MerivaneUpdateQuestion";
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
  kStopId,
  // The close question's buttons ("Keep the window" is IDCANCEL, Esc).
  kStopThenCloseId,
  kCloseWhenFinishedId,
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
// Pixels at 96 DPI the status bar gives the progress bar, and the room
// around the texts of its other parts.
constexpr int kProgressBarWidth = 120, kPartPadding = 16;
// The status bar's parts with a text (the note, the count of marked lines,
// the progress text) have tips; so has the count, for F8.
constexpr int kStatusTips = 3;
constexpr wchar_t kMarksTip[] =
    L"F8: next Error line, Shift+F8: the one before";
// Error and Warning lines on the list's white: both read at more than 7:1.
constexpr COLORREF kErrorText = RGB(0xa0, 0x00, 0x00);
constexpr COLORREF kWarningText = RGB(0x6b, 0x44, 0x00);
// Where the outcome of a run whose window was closed waits for the next
// start (HKEY_CURRENT_USER).
constexpr wchar_t kUnseenKey[] = L"Software\\Merivane\\mvupdate\\window";
constexpr wchar_t kUnseenValue[] = L"unseenOutcome";
constexpr wchar_t kNoAlternateTip[] =
    L"No alternate FTP site is known: the customer record names none, or it "
    L"could not be read from the database.";
constexpr wchar_t kStillRunning[] =
    L" is still running.\n\nStop it where that leaves nothing half done, or "
    L"let it finish? The window closes when it has ended; how it ended is "
    L"shown at the next start.";

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                              static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                              static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                      utf8.data(), n, nullptr, nullptr);
  return utf8;
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

// The text of a tooltip control's tool.
std::wstring TipText(HWND tips, HWND owner, UINT_PTR id) {
  wchar_t text[512] = L"";
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = owner;
  tool.uId = id;
  tool.lpszText = text;
  SendMessageW(tips, TTM_GETTEXTW, std::size(text),
               reinterpret_cast<LPARAM>(&tool));
  return text;
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

void RegisterWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc,
                         UINT style, HBRUSH background) {
  WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  c.style = style;
  c.lpfnWndProc = proc;
  c.hInstance = instance;
  c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  c.hbrBackground = background;
  c.lpszClassName = name;
  RegisterClassExW(&c);
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
  RegisterWindowClass(instance, kBannerClass, BannerProc,
                      CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, nullptr);
  RegisterWindowClass(instance, kQuestionClass, QuestionProc, 0,
                      GetSysColorBrush(COLOR_BTNFACE));
  LoadIconMetric(nullptr, IDI_ERROR, LIM_SMALL, &error_icon_);
  LoadIconMetric(nullptr, IDI_WARNING, LIM_SMALL, &warning_icon_);
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
  for (HICON i : {icon_, small_icon_, error_icon_, warning_icon_}) {
    DestroyIcon(i);
  }
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
  // Nothing to stop until a command runs.
  stop_ = child(WC_BUTTONW, L"&Stop", BS_PUSHBUTTON | WS_TABSTOP, kStopId);
  EnableWindow(stop_, FALSE);
  // Drawn by the window, to mark Error and Warning lines (DrawLine).
  output_ = child(WC_LISTBOXW, L"Lines of the run",
                  LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | LBS_OWNERDRAWFIXED |
                      LBS_HASSTRINGS | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
                  kOutputId, WS_EX_CLIENTEDGE);
  SetWindowSubclass(output_, ListProc, 0, 0);
  status_ = child(STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, kStatusId);
  progress_bar_ =
      CreateWindowExW(0, PROGRESS_CLASSW, L"Transfer progress", WS_CHILD, 0, 0,
                      0, 0, status_, nullptr, instance, nullptr);
  SendMessageW(progress_bar_, PBM_SETRANGE32, 0, kProgressSteps);
  tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0, 0,
                          hwnd_, nullptr, instance, nullptr);
  // A disabled control gets no mouse messages, its parent does: "Use
  // Alternate" has a tool of each kind, so that it says why it cannot be
  // ticked.
  AddTip(use_alt_site_, reinterpret_cast<UINT_PTR>(use_alt_site_), L"");
  AddTip(hwnd_, kUseAltSiteId, L"");
  AddTip(stop_, reinterpret_cast<UINT_PTR>(stop_),
         L"Stop the running command where that leaves nothing half done "
         L"(Esc)");
  for (int part = 0; part < kStatusTips; ++part) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = status_;
    tool.uId = static_cast<UINT_PTR>(part);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  SetUseAlternateEnabled(false);
  ApplyFonts(FALSE);
}

void Win32Window::AddTip(HWND tool, UINT_PTR id, const wchar_t* text) {
  TOOLINFOW info{};
  info.cbSize = sizeof info;
  info.uFlags = TTF_SUBCLASS | (tool == hwnd_ ? 0 : TTF_IDISHWND);
  info.hwnd = hwnd_;
  info.uId = id;
  info.lpszText = const_cast<wchar_t*>(text);
  SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void Win32Window::ApplyFonts(BOOL redraw) {
  for (HWND w : {description_, use_alt_site_, update_, check_system_,
                 reset_last_update_, update_from_ftp_, stop_, status_}) {
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_), redraw);
  }
  SendMessageW(title_, WM_SETFONT, reinterpret_cast<WPARAM>(title_font_),
               redraw);
  SendMessageW(output_, WM_SETFONT, reinterpret_cast<WPARAM>(list_font_),
               redraw);
  // Lines as high as the font's, with a little room for their marks.
  HDC dc = GetDC(output_);
  HGDIOBJ old = SelectObject(dc, list_font_);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(output_, dc);
  SendMessageW(output_, LB_SETITEMHEIGHT, 0,
               MAKELPARAM(metrics.tmHeight + Scale(2), 0));
  SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, Scale(360));
  // The close question, when it is open, holds the old font too.
  for (HWND c = question_ ? GetWindow(question_, GW_CHILD) : nullptr;
       c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), redraw);
  }
}

void Win32Window::LayoutStatusBar() {
  RECT client;
  GetClientRect(hwnd_, &client);
  SendMessageW(status_, WM_SIZE, 0, 0);
  const int pad = Scale(kPartPadding);
  // From the right: the progress bar, the count of marked lines and what
  // the long step is doing, each while shown, as wide as their texts; the
  // note takes the rest, as in the Qt window: while a step runs, what it is
  // doing says more than "... is running". A text without room for all of
  // it shows its first words.
  std::vector<std::pair<std::wstring, int>> parts = {{note_, 0}};
  mark_part_ = text_part_ = -1;
  int room = client.right - (progress_shown_ ? Scale(kProgressBarWidth) : 0);
  if (!mark_count_.empty()) {
    mark_part_ = static_cast<int>(parts.size());
    parts.emplace_back(mark_count_,
                       std::min(std::max(room, 0),
                                TextWidth(status_, font_, mark_count_) + pad));
    room -= parts.back().second;
  }
  if (progress_text_.empty()) {
    progress_text_width_ = 0;
  } else {
    text_part_ = static_cast<int>(parts.size());
    progress_text_width_ = std::max(
        0, std::min(room,
                    std::max(progress_text_width_,
                             TextWidth(status_, font_, progress_text_) + pad)));
    parts.emplace_back(progress_text_, progress_text_width_);
  }
  if (progress_shown_) parts.emplace_back(L"", Scale(kProgressBarWidth));
  std::vector<int> edges(parts.size(), -1);
  int right = client.right;
  for (size_t i = parts.size() - 1; i > 0; --i) {
    right -= parts[i].second;
    edges[i - 1] = std::max(0, right);
  }
  SendMessageW(status_, SB_SETPARTS, edges.size(),
               reinterpret_cast<LPARAM>(edges.data()));
  for (int i = 0; i < kStatusTips; ++i) {
    ShowPart(i, i < static_cast<int>(parts.size()) ? parts[i].first : L"");
  }
  if (progress_shown_) {
    RECT area;
    SendMessageW(status_, SB_GETRECT, parts.size() - 1,
                 reinterpret_cast<LPARAM>(&area));
    InflateRect(&area, -Scale(2), -Scale(2));
    MoveWindow(progress_bar_, area.left, area.top, area.right - area.left,
               area.bottom - area.top, TRUE);
  }
  ShowWindow(progress_bar_, progress_shown_ ? SW_SHOWNA : SW_HIDE);
}

void Win32Window::ShowPart(int part, const std::wstring& text) {
  RECT area{};
  SendMessageW(status_, SB_GETRECT, static_cast<WPARAM>(part),
               reinterpret_cast<LPARAM>(&area));
  // The part's rectangle leaves out the gap to the next part, which its
  // width (text and padding) took in.
  int borders[3] = {};
  SendMessageW(status_, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
  const std::wstring shown = FitWords(
      text, area.right - area.left + borders[2] - Scale(kPartPadding),
      [this](const std::wstring& t) { return TextWidth(status_, font_, t); });
  SendMessageW(status_, SB_SETTEXTW, static_cast<WPARAM>(part),
               reinterpret_cast<LPARAM>(shown.c_str()));
  // The status bar's own tips show only for a text it cuts itself: the
  // window's tips hold a shortened text whole, and what F8 does.
  std::wstring tip = shown == text ? L"" : text;
  if (part == mark_part_) tip = (tip.empty() ? L"" : tip + L"\n") + kMarksTip;
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = status_;
  tool.uId = static_cast<UINT_PTR>(part);
  tool.rect = area;
  tool.lpszText = tip.data();
  SendMessageW(tips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
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
  if (GetWindowLongW(update_from_ftp_, GWL_STYLE) & WS_VISIBLE) {
    place(update_from_ftp_,
          TextWidth(update_from_ftp_, font_, L"Update from FTP Site") +
              Scale(24));
  }
  // Stop at the row's right end, past the other controls when it is short.
  const int stop_width = TextWidth(stop_, font_, L"Stop") + Scale(32);
  x = std::max(x, width - margin - stop_width);
  place(stop_, stop_width);
  y += row_height + gap;
  // "Use Alternate"'s tool for when it is disabled covers the box.
  RECT box;
  GetWindowRect(use_alt_site_, &box);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&box), 2);
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = hwnd_;
  tool.uId = kUseAltSiteId;
  tool.rect = box;
  SendMessageW(tips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));

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
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_F8 &&
      (msg.hwnd == hwnd_ || IsChild(hwnd_, msg.hwnd))) {
    GoToError(GetKeyState(VK_SHIFT) >= 0);
    return;
  }
  if (question_ != nullptr && IsDialogMessageW(question_, &msg)) return;
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
    case WM_MEASUREITEM:
      return TRUE;  // the list's lines get their height in ApplyFonts
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item->hwndItem != output_) break;
      DrawLine(*item);
      return TRUE;
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
      RunLoad();
      if (after_load) std::exchange(after_load, nullptr)();
      return 0;
    case kRevealMessage:
      ShowWindow(update_from_ftp_, SW_SHOW);
      Layout();
      return 0;
    case WM_CLOSE:
      if (command_running()) {
        if (question_ != nullptr) {
          SetActiveWindow(question_);  // asked already
        } else if (!close_pending_) {
          AskBeforeClosing();
        }
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
        focus == reset_last_update_ || focus == stop_) {
      id = GetDlgCtrlID(focus);
    }
  }
  switch (id) {
    case kStopId:
    case IDCANCEL:  // Esc
      RequestStop();
      break;
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
    Note(L"\"" + what + L"\" was ignored: " + running_ + L" is still running.",
         kNoteMs);
    return;
  }
  running_ = what;
  stop_requested_ = false;
  EnableWindow(stop_, TRUE);
  outcome_shown_ = false;
  outcome_ = what + L" is running...";
  Note(outcome_, 0);
  command();
  running_.clear();
  if (GetFocus() == stop_) SetFocus(update_);
  EnableWindow(stop_, FALSE);
  ShowActivity("");
  HideProgress();
  if (!outcome_shown_) {
    outcome_ = what + L" finished";
    if (!note_passing_) Note(outcome_, 0);
  }
  if (close_pending_) {
    // The window goes before anyone can read how the command ended: the
    // next start shows it.
    RegSetKeyValueW(
        HKEY_CURRENT_USER, kUnseenKey, kUnseenValue, REG_SZ, outcome_.c_str(),
        static_cast<DWORD>((outcome_.size() + 1) * sizeof(wchar_t)));
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  }
}

void Win32Window::RunLoad() {
  RunCommand(L"Start-up", [this] { commands_->Load(); });
  ShowUnseenOutcome();
}

void Win32Window::ShowUnseenOutcome() {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kUnseenKey, kUnseenValue, RRF_RT_REG_SZ,
                   nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
    return;
  }
  std::wstring unseen(bytes / sizeof(wchar_t), L'\0');
  const LSTATUS read =
      RegGetValueW(HKEY_CURRENT_USER, kUnseenKey, kUnseenValue, RRF_RT_REG_SZ,
                   nullptr, unseen.data(), &bytes);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kUnseenKey, kUnseenValue);
  if (read != ERROR_SUCCESS) return;
  unseen.resize(wcsnlen(unseen.c_str(), unseen.size()));
  if (unseen.empty()) return;
  const std::wstring line =
      L"The last run ended after its window was closed: " + unseen;
  AddMarkedLine(Narrow(line), unseen.find(L"error") != std::wstring::npos
                                  ? LineMark::kError
                                  : LineMark::kNone);
  outcome_ = line;
  Note(outcome_, 0);
}

void Win32Window::RequestStop() {
  if (!command_running() || stop_requested_) return;
  stop_requested_ = true;
  if (GetFocus() == stop_) SetFocus(output_);
  EnableWindow(stop_, FALSE);
  Note(L"Stopping " + running_ + L" at the next safe point...", 0);
}

bool Win32Window::GoToError(bool forward) {
  const auto n = static_cast<int>(SendMessageW(output_, LB_GETCOUNT, 0, 0));
  const auto chosen =
      static_cast<int>(SendMessageW(output_, LB_GETCURSEL, 0, 0));
  // Nothing chosen yet: forward starts at the top, backward at the end.
  const int from = chosen >= 0 ? chosen : forward ? -1 : n;
  for (int step = 1; step <= n; ++step) {
    int row = forward ? from + step : from - step;
    row = ((row % n) + n) % n;
    if (static_cast<LineMark>(SendMessageW(output_, LB_GETITEMDATA,
                                           static_cast<WPARAM>(row), 0)) !=
        LineMark::kError) {
      continue;
    }
    SendMessageW(output_, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
    return true;
  }
  Note(L"There is no Error line in the list.", kNoteMs);
  return false;
}

void Win32Window::AskBeforeClosing() {
  // Ending the program in the middle of a command could leave a half
  // installed update: the window asks whether to stop at the next safe
  // point or to let the command finish, and closes when it has ended. The
  // question is modeless: the command goes on while it is open.
  HINSTANCE instance = GetModuleHandleW(nullptr);
  question_ =
      CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kQuestionClass,
                      kCaption, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 0,
                      hwnd_, nullptr, instance, this);
  const int margin = Scale(12), height = Scale(26), width = Scale(420);
  const std::wstring text = running_ + kStillRunning;
  RECT area{0, 0, width - 2 * margin, 0};
  HDC dc = GetDC(question_);
  HGDIOBJ old = SelectObject(dc, font_);
  DrawTextW(dc, text.c_str(), -1, &area, DT_CALCRECT | DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(question_, dc);
  auto child = [&](const wchar_t* cls, const wchar_t* label, DWORD style,
                   int id) {
    HWND c = CreateWindowExW(
        0, cls, label, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, question_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return c;
  };
  MoveWindow(child(WC_STATICW, text.c_str(), SS_LEFT | SS_NOPREFIX, 0), margin,
             margin, area.right, area.bottom, FALSE);
  // Buttons at the foot, right-aligned, in tab order.
  const std::pair<const wchar_t*, int> answers[] = {
      {L"&Stop, then close", kStopThenCloseId},
      {L"Close when &finished", kCloseWhenFinishedId},
      {L"&Keep the window", IDCANCEL}};
  std::vector<std::pair<HWND, int>> buttons;
  int row = 0;
  for (auto [label, id] : answers) {
    HWND b = child(WC_BUTTONW, label,
                   WS_TABSTOP | (id == kCloseWhenFinishedId ? BS_DEFPUSHBUTTON
                                                            : BS_PUSHBUTTON),
                   id);
    buttons.emplace_back(b, TextWidth(b, font_, label) + Scale(24));
    row += buttons.back().second + Scale(8);
  }
  const int top = 2 * margin + area.bottom;
  int x = std::max(margin, width - margin - row + Scale(8));
  for (auto [b, w] : buttons) {
    MoveWindow(b, x, top, w, height, FALSE);
    x += w + Scale(8);
  }
  RECT frame{0, 0, std::max(width, x + margin - Scale(8)),
             top + height + margin};
  AdjustWindowRectExForDpi(&frame, WS_POPUP | WS_CAPTION | WS_SYSMENU, FALSE,
                           WS_EX_DLGMODALFRAME, dpi_);
  RECT owner;
  GetWindowRect(hwnd_, &owner);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  SetWindowPos(
      question_, nullptr, owner.left + (owner.right - owner.left - w) / 2,
      owner.top + (owner.bottom - owner.top - h) / 2, w, h, SWP_NOZORDER);
  ShowWindow(question_, SW_SHOW);
  SetFocus(buttons[1].first);
}

void Win32Window::Answer(int id) {
  if (id == IDOK) id = GetDlgCtrlID(GetFocus());  // Enter: the focused one
  DestroyWindow(std::exchange(question_, nullptr));
  if (id != kStopThenCloseId && id != kCloseWhenFinishedId) return;
  if (!command_running()) {
    // It ended while the question was open.
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    return;
  }
  close_pending_ = true;
  if (id == kStopThenCloseId) RequestStop();
  Note(L"The window closes when " + running_ +
           (stop_requested_ ? L" has stopped." : L" has finished."),
       0);
}

LRESULT CALLBACK Win32Window::QuestionProc(HWND hwnd, UINT message,
                                           WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self =
      reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (self != nullptr && self->question_ == hwnd) {
        self->Answer(LOWORD(wparam));
      }
      return 0;
    case WM_CLOSE:  // the title bar's close button keeps the window
      if (self != nullptr && self->question_ == hwnd) self->Answer(IDCANCEL);
      return 0;
    case WM_DESTROY:
      if (self != nullptr && self->question_ == hwnd) self->question_ = nullptr;
      return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void Win32Window::Note(const std::wstring& text, UINT ms) {
  note_passing_ = ms > 0;
  note_ = text;
  ShowPart(0, text);
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
  // The text, after the mark's column (as wide as a line is high).
  const auto mark =
      static_cast<int>(SendMessageW(output_, LB_GETITEMHEIGHT, 0, 0));
  const int width = TextWidth(output_, list_font_, line) + mark + Scale(12);
  if (width <= widest_line_) return;
  widest_line_ = width;
  SendMessageW(output_, LB_SETHORIZONTALEXTENT,
               static_cast<WPARAM>(widest_line_), 0);
}

void Win32Window::DrawLine(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  const bool chosen = (item.itemState & ODS_SELECTED) != 0;
  FillRect(dc, &item.rcItem,
           GetSysColorBrush(chosen ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item.itemID != static_cast<UINT>(-1)) {
    // Error and Warning lines get an icon and a colour; their text stays
    // as logged. Plain lines leave the icon's column empty, so that
    // columns line up across them.
    const auto mark = static_cast<LineMark>(item.itemData);
    const int side = item.rcItem.bottom - item.rcItem.top;
    HICON icon = mark == LineMark::kError     ? error_icon_
                 : mark == LineMark::kWarning ? warning_icon_
                                              : nullptr;
    if (icon != nullptr) {
      DrawIconEx(dc, item.rcItem.left + Scale(2), item.rcItem.top + 1, icon,
                 side - 2, side - 2, 0, nullptr, DI_NORMAL);
    }
    COLORREF colour = GetSysColor(COLOR_WINDOWTEXT);
    if (chosen) {
      colour = GetSysColor(COLOR_HIGHLIGHTTEXT);
    } else if (mark != LineMark::kNone) {
      colour = mark == LineMark::kError ? kErrorText : kWarningText;
    }
    std::wstring line(static_cast<size_t>(
                          SendMessageW(output_, LB_GETTEXTLEN, item.itemID, 0)),
                      L'\0');
    SendMessageW(output_, LB_GETTEXT, item.itemID,
                 reinterpret_cast<LPARAM>(line.data()));
    RECT text = item.rcItem;
    text.left += side + Scale(6);
    HGDIOBJ old = SelectObject(dc, list_font_);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &text,
              DT_SINGLELINE | DT_NOPREFIX | DT_VCENTER | DT_NOCLIP);
    SelectObject(dc, old);
  }
  if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &item.rcItem);
}

void Win32Window::AddLine(std::string_view text) {
  AddMarkedLine(text, LineMark::kNone);
}

void Win32Window::AddMarkedLine(std::string_view text, LineMark mark) {
  std::wstring line = FromBytes(text);
  // The view follows new lines while it shows the end, like a terminal.
  const LRESULT count = SendMessageW(output_, LB_GETCOUNT, 0, 0);
  const bool follow =
      SendMessageW(output_, LB_GETTOPINDEX, 0, 0) + LinesInView() >= count;
  WidenList(line);
  const LRESULT added = SendMessageW(output_, LB_ADDSTRING, 0,
                                     reinterpret_cast<LPARAM>(line.c_str()));
  if (mark != LineMark::kNone) {
    SendMessageW(output_, LB_SETITEMDATA, static_cast<WPARAM>(added),
                 static_cast<LPARAM>(mark));
    ++(mark == LineMark::kError ? errors_ : warnings_);
    CountMarks();
  }
  if (follow) {
    // Counted again: a line wider than the list brings the horizontal
    // scroll bar, which takes a line's room.
    SendMessageW(
        output_, LB_SETTOPINDEX,
        static_cast<WPARAM>(std::max<LRESULT>(0, count + 1 - LinesInView())),
        0);
  }
  ShowNewLines();
}

int Win32Window::LinesInView() const {
  RECT area;
  GetClientRect(output_, &area);
  const LRESULT height = SendMessageW(output_, LB_GETITEMHEIGHT, 0, 0);
  return height > 0 ? static_cast<int>(area.bottom / height) : 1;
}

void Win32Window::ClearLines() {
  SendMessageW(output_, LB_RESETCONTENT, 0, 0);
  widest_line_ = 0;
  SendMessageW(output_, LB_SETHORIZONTALEXTENT, 0, 0);
  errors_ = warnings_ = 0;
  CountMarks();
}

void Win32Window::CountMarks() {
  std::wstring count;
  if (errors_ != 0 || warnings_ != 0) {
    count = std::to_wstring(errors_) +
            (errors_ == 1 ? L" error, " : L" errors, ") +
            std::to_wstring(warnings_) +
            (warnings_ == 1 ? L" warning" : L" warnings");
  }
  if (count == mark_count_) return;
  mark_count_ = count;
  LayoutStatusBar();
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
  const wchar_t* tip =
      enabled ? L"Update from the alternate FTP site" : kNoAlternateTip;
  for (UINT_PTR id :
       {reinterpret_cast<UINT_PTR>(use_alt_site_), UINT_PTR{kUseAltSiteId}}) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd_;
    tool.uId = id;
    tool.lpszText = const_cast<wchar_t*>(tip);
    SendMessageW(tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
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
    SendMessageW(
        progress_bar_, PBM_SETPOS,
        static_cast<WPARAM>(ProgressPosition(done, total, kProgressSteps)), 0);
    text = Grouped(done) + L" of " + Grouped(total) + L" bytes";
  }
  if (!progress_shown_) {
    progress_shown_ = true;
    LayoutStatusBar();
  }
  // What the step is doing says more than the bytes.
  if (activity_.empty()) SetProgressText(text);
}

void Win32Window::HideProgress() {
  if (!progress_shown_) return;
  progress_shown_ = false;
  if (activity_.empty()) progress_text_.clear();
  LayoutStatusBar();
}

void Win32Window::ShowActivity(std::string_view text) {
  activity_ = FromBytes(text);
  if (!activity_.empty()) {
    SetProgressText(activity_);
  } else if (!progress_shown_) {
    SetProgressText(L"");
  }
}

void Win32Window::SetProgressText(const std::wstring& text) {
  if (text == progress_text_) return;  // progress repeats itself
  const bool shown = !progress_text_.empty();
  progress_text_ = text;
  // A new part, or one that has to grow, changes the bar's layout; other
  // texts just replace the part's.
  if (shown && !text.empty() &&
      TextWidth(status_, font_, text) + Scale(kPartPadding) <=
          progress_text_width_) {
    ShowPart(text_part_, text);
    return;
  }
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

std::vector<LineMark> Win32Window::Marks() const {
  std::vector<LineMark> marks;
  const LRESULT count = SendMessageW(output_, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    marks.push_back(
        static_cast<LineMark>(SendMessageW(output_, LB_GETITEMDATA, i, 0)));
  }
  return marks;
}

int Win32Window::CurrentRow() const {
  return static_cast<int>(SendMessageW(output_, LB_GETCURSEL, 0, 0));
}

std::wstring Win32Window::MarkCount() const { return mark_count_; }

std::wstring Win32Window::ProgressText() const { return progress_text_; }

std::wstring Win32Window::UseAlternateTip() const {
  return TipText(tips_, hwnd_, kUseAltSiteId);
}

std::wstring Win32Window::PartTip(int part) const {
  return TipText(tips_, status_, static_cast<UINT_PTR>(part));
}

std::wstring Win32Window::Note() const { return note_; }

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
