#include "ui/win32/Win32ConfigView.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "ui/Texts.h"
#include "ui/win32/AboutBox.h"
#include "ui/win32/Resource.h"

namespace sn::ui::win32 {

namespace {

constexpr UINT_PTR kStatusTimer = 1;
constexpr UINT kStatusIntervalMs = 100;
constexpr UINT kIconId = 1;

// What a control is to the view: how a value is set on it and how the user's
// edits of it are reported.
enum class Kind { Number, Check, Radio, Choice, Text, Link, Button, Menu };

struct ControlInfo {
  Ctl ctl;
  int id;
  Kind kind;
  int lo = 0, hi = 0;  // Number: the box's range
};

constexpr ControlInfo kControls[] = {
    {Ctl::ModeList, IDC_MODE, Kind::Choice},
    {Ctl::MasterGain, IDC_MASTER_GAIN, Kind::Number, -6, 6},
    {Ctl::LinkMain, IDC_LINK_MAIN, Kind::Link},
    {Ctl::SurroundMusic, IDC_SURR_MUSIC, Kind::Radio},
    {Ctl::SurroundMovie, IDC_SURR_MOVIE, Kind::Radio},
    {Ctl::SurroundDelayMusic, IDC_SURR_DELAY_MUSIC, Kind::Number, 0, 100},
    {Ctl::CentreWeight, IDC_CENTRE_WEIGHT, Kind::Number, 0, 100},
    {Ctl::MusicShelf, IDC_MUSIC_SHELF, Kind::Check},
    {Ctl::SurroundDelayMovie, IDC_SURR_DELAY_MOVIE, Kind::Number, 10, 100},
    {Ctl::HeadphonesMusic, IDC_HP_MUSIC, Kind::Radio},
    {Ctl::HeadphonesMovie, IDC_HP_MOVIE, Kind::Radio},
    {Ctl::DecodeMusic, IDC_DECODE_MUSIC, Kind::Check},
    {Ctl::DecodeMovie, IDC_DECODE_MOVIE, Kind::Check},
    {Ctl::DelayL, IDC_DELAY_L, Kind::Number, 0, 100},
    {Ctl::DelayR, IDC_DELAY_R, Kind::Number, 0, 100},
    {Ctl::DelayC, IDC_DELAY_C, Kind::Number, 0, 100},
    {Ctl::DelaySub, IDC_DELAY_SUB, Kind::Number, 0, 100},
    {Ctl::DelaySL, IDC_DELAY_SL, Kind::Number, 0, 100},
    {Ctl::DelaySR, IDC_DELAY_SR, Kind::Number, 0, 100},
    {Ctl::TrimL, IDC_TRIM_L, Kind::Number, -12, 12},
    {Ctl::TrimR, IDC_TRIM_R, Kind::Number, -12, 12},
    {Ctl::TrimC, IDC_TRIM_C, Kind::Number, -12, 12},
    {Ctl::TrimSub, IDC_TRIM_SUB, Kind::Number, -12, 12},
    {Ctl::TrimSL, IDC_TRIM_SL, Kind::Number, -12, 12},
    {Ctl::TrimSR, IDC_TRIM_SR, Kind::Number, -12, 12},
    {Ctl::LFERedir, IDC_LFE_REDIR, Kind::Check},
    {Ctl::LFECutoff, IDC_LFE_CUTOFF, Kind::Number, 20, 200},
    {Ctl::LFEInvert, IDC_LFE_INVERT, Kind::Check},
    {Ctl::SlaveFile, IDC_SLAVE_FILE, Kind::Text},
    {Ctl::Precision, IDC_PRECISION, Kind::Choice},
    {Ctl::SSE2Enable, IDC_SSE2, Kind::Check},
    {Ctl::SSE2Label, IDC_SSE2_LABEL, Kind::Text},
    {Ctl::CUDAEnable, IDC_CUDA, Kind::Check},
    {Ctl::CUDALabel, IDC_CUDA_LABEL, Kind::Text},
    {Ctl::ShowIcon, IDC_SHOW_ICON, Kind::Check},
    {Ctl::ShowIconPlaying, IDC_SHOW_ICON_PLAYING, Kind::Check},
    {Ctl::ShowDecoderInactive, IDC_SHOW_DECODER_INACTIVE, Kind::Check},
    {Ctl::AboutDescription, IDC_ABOUT_DESCRIPTION, Kind::Text},
    {Ctl::AboutCopyright, IDC_ABOUT_COPYRIGHT, Kind::Text},
    {Ctl::AboutWeb, IDC_ABOUT_WEB, Kind::Text},
    {Ctl::AboutBuilt, IDC_ABOUT_BUILT, Kind::Text},
    {Ctl::Apply, IDC_APPLY, Kind::Button},
    {Ctl::IconModeList, 0, Kind::Menu},
};

const ControlInfo* InfoOf(Ctl c) {
  for (const ControlInfo& i : kControls)
    if (i.ctl == c) return &i;
  return nullptr;
}

const ControlInfo* InfoOfId(int id) {
  for (const ControlInfo& i : kControls)
    if (i.id == id && i.kind != Kind::Menu) return &i;
  return nullptr;
}

constexpr const wchar_t* kTabNames[kTabCount] = {L"Main", L"Surround", L"Headphones", L"Room", L"System", L"About"};

// Mutes the view's notifications while it sets its own controls.
class Quiet {
 public:
  explicit Quiet(int& depth) : depth_(depth) { ++depth_; }
  ~Quiet() { --depth_; }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;

 private:
  int& depth_;
};

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
std::wstring W(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

// Copies `s` into a fixed field of a shell structure, cut to fit.
template <size_t N>
void CopyField(wchar_t (&field)[N], const std::wstring& s) {
  const size_t n = std::min(s.size(), N - 1);
  std::wmemcpy(field, s.data(), n);
  field[n] = L'\0';
}

// A whole number as a numeric box's edit holds it: optional spaces, an
// optional sign and at least one digit.
bool ParseNumber(const wchar_t* s, int32_t& out) {
  while (*s == L' ') ++s;
  bool negative = false;
  if (*s == L'-' || *s == L'+') negative = *s++ == L'-';
  if (*s < L'0' || *s > L'9') return false;
  int64_t v = 0;
  while (*s >= L'0' && *s <= L'9') {
    v = v * 10 + (*s++ - L'0');
    if (v > 1000000) return false;
  }
  while (*s == L' ') ++s;
  if (*s) return false;
  out = static_cast<int32_t>(negative ? -v : v);
  return true;
}

// EnableThemeDialogTexture, where the system has visual styles: the pages then
// take the tab control's background. Loaded by name, so the module imports
// nothing beyond the system's core libraries.
void ThemePage(HWND page) {
  using EnableTexture = HRESULT(WINAPI*)(HWND, DWORD);
  static const EnableTexture enable = [] {
    HMODULE theme = LoadLibraryW(L"uxtheme.dll");
    return theme ? reinterpret_cast<EnableTexture>(reinterpret_cast<void*>(GetProcAddress(theme, "EnableThemeDialogTexture")))
                 : nullptr;
  }();
  constexpr DWORD kEnableTab = 0x6;  // ETDT_ENABLETAB
  if (enable) enable(page, kEnableTab);
}

}  // namespace

Win32ConfigView::Win32ConfigView(HINSTANCE module) : module_(module) {
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  dlg_ = CreateDialogParamW(module_, MAKEINTRESOURCEW(IDD_CONFIG), nullptr, MainProc, reinterpret_cast<LPARAM>(this));
  if (!dlg_) return;
  Build();
  for (HWND page : pages_) {
    if (!page) {
      DestroyWindow(dlg_);
      dlg_ = nullptr;
      return;
    }
  }
  SetTimer(dlg_, kStatusTimer, kStatusIntervalMs, nullptr);
}

Win32ConfigView::~Win32ConfigView() {
  events_ = nullptr;
  poll_ = nullptr;
  if (iconShown_) NotifyIcon(NIM_DELETE, 0);
  if (dlg_) {
    KillTimer(dlg_, kStatusTimer);
    DestroyWindow(dlg_);  // with its pages and the tool tip it owns
  }
  if (boxBrush_) DeleteObject(boxBrush_);
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

void Win32ConfigView::Build() {
  const Quiet quiet(quiet_);
  bigIcon_ = static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(IDI_SONAVEL), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(IDI_SONAVEL), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(dlg_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageW(dlg_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

  // The tab control parents the pages: they lie over it, take part in the
  // window's keyboard navigation and paint inside it.
  tabs_ = GetDlgItem(dlg_, IDC_TABS);
  SetWindowLongPtrW(tabs_, GWL_EXSTYLE, GetWindowLongPtrW(tabs_, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  SetWindowLongPtrW(tabs_, GWL_STYLE, GetWindowLongPtrW(tabs_, GWL_STYLE) | WS_CLIPCHILDREN);
  for (int i = 0; i < kTabCount; ++i) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(kTabNames[i]);
    SendMessageW(tabs_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  }
  RECT area;
  GetClientRect(tabs_, &area);
  SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  for (int i = 0; i < kTabCount; ++i) {
    pages_[i] = CreateDialogParamW(module_, MAKEINTRESOURCEW(IDD_PAGE_MAIN + i), tabs_, PageProc,
                                   reinterpret_cast<LPARAM>(this));
    if (!pages_[i]) return;
    SetWindowPos(pages_[i], HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOACTIVATE);
  }

  for (const ControlInfo& i : kControls) {
    if (i.kind == Kind::Menu) continue;
    HWND w = GetDlgItem(dlg_, i.id);
    for (HWND page : pages_)
      if (!w) w = GetDlgItem(page, i.id);
    controls_[static_cast<size_t>(i.ctl)] = w;
    if (i.kind == Kind::Number && w) {
      SendMessageW(GetDlgItem(GetParent(w), i.id + 1), UDM_SETRANGE32, i.lo, i.hi);
      SendMessageW(w, EM_LIMITTEXT, 4, 0);
    }
  }
  for (int m = 0; m < kModeCount; ++m)
    SendMessageW(Control(Ctl::ModeList), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(ModeName(m))));
  for (const wchar_t* p : {L"16-bit", L"24-bit"})
    SendMessageW(Control(Ctl::Precision), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(p));

  // The status strip and its tool tip.
  status_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, dlg_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS)), module_, nullptr);
  SendMessageW(status_, WM_SIZE, 0, 0);
  tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dlg_, nullptr, module_, nullptr);
  if (tip_ && status_) {
    TTTOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = dlg_;
    ti.uId = reinterpret_cast<UINT_PTR>(status_);
    ti.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }

  ShowPage(kTabMain);
}

void Win32ConfigView::ShowPage(int index) {
  for (int i = 0; i < kTabCount; ++i) ::ShowWindow(pages_[i], i == index ? SW_SHOWNA : SW_HIDE);
}

void Win32ConfigView::Emit(const std::function<void(ConfigViewEvents&)>& f) {
  if (!events_ || quiet_) return;
  // Nothing may unwind through the system's message dispatch.
  try {
    f(*events_);
  } catch (...) {
  }
}

INT_PTR CALLBACK Win32ConfigView::MainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(w, GWLP_USERDATA, lp);
    reinterpret_cast<Win32ConfigView*>(lp)->dlg_ = w;
    return FALSE;
  }
  auto* self = reinterpret_cast<Win32ConfigView*>(GetWindowLongPtrW(w, GWLP_USERDATA));
  return self ? self->OnMain(msg, wp, lp) : FALSE;
}

INT_PTR CALLBACK Win32ConfigView::PageProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(w, GWLP_USERDATA, lp);
    ThemePage(w);
    return FALSE;
  }
  auto* self = reinterpret_cast<Win32ConfigView*>(GetWindowLongPtrW(w, GWLP_USERDATA));
  return self ? self->OnPage(msg, wp, lp) : FALSE;
}

INT_PTR Win32ConfigView::OnMain(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
      return TRUE;
    case WM_CLOSE:
      Emit([](auto& e) { e.CloseRequested(); });
      return TRUE;
    case WM_NOTIFY: {
      const auto* n = reinterpret_cast<const NMHDR*>(lp);
      if (n->hwndFrom == tabs_ && n->code == TCN_SELCHANGE) {
        const int index = static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0));
        ShowPage(index);
        Emit([index](auto& e) { e.TabSelected(index); });
      }
      return TRUE;
    }
    case WM_TIMER:
      if (wp == kStatusTimer) {
        Emit([](auto& e) { e.TimerTick(); });
        if (poll_) poll_();
      }
      return TRUE;
    case WM_SONAVEL_ICON:
      switch (LOWORD(lp)) {
        case WM_LBUTTONDBLCLK:
          Emit([](auto& e) { e.IconOpenRequested(); });
          break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU:
          ShowIconMenu();
          break;
        default:
          break;
      }
      return TRUE;
    default:
      // The notification area was made anew (the shell started or restarted):
      // the icon, gone with the old one or never added, is put there.
      if (msg == taskbarCreated_ && taskbarCreated_ && iconWanted_) {
        iconShown_ = false;
        SetIconVisible(true);
      }
      return FALSE;
  }
}

INT_PTR Win32ConfigView::OnPage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
      return TRUE;
    case WM_NOTIFY: {
      const auto* n = reinterpret_cast<const NMHDR*>(lp);
      if (n->code != NM_CLICK && n->code != NM_RETURN) return FALSE;
      Link l;
      switch (n->idFrom) {
        case IDC_LINK_MAIN: l = Link::Main; break;
        case IDC_LINK_HP_MUSIC: l = Link::HeadphonesMusic; break;
        case IDC_LINK_HP_MOVIE: l = Link::HeadphonesMovie; break;
        default: return FALSE;
      }
      Emit([l](auto& e) { e.LinkClicked(l); });
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      const auto control = reinterpret_cast<HWND>(lp);
      const auto dc = reinterpret_cast<HDC>(wp);
      if (HBRUSH white = AboutPanelColours(control, dc)) return reinterpret_cast<INT_PTR>(white);
      // The centre-weight picture: boxes of white text on black (C on its grey),
      // and the arrows in their grey on the page's background.
      switch (GetDlgCtrlID(control)) {
        case IDC_CW_L:
        case IDC_CW_R:
          SetTextColor(dc, RGB(255, 255, 255));
          SetBkColor(dc, RGB(0, 0, 0));
          return reinterpret_cast<INT_PTR>(GetStockObject(BLACK_BRUSH));
        case IDC_CW_C:
          SetTextColor(dc, RGB(255, 255, 255));
          SetBkColor(dc, RGB(boxGrey_, boxGrey_, boxGrey_));
          return reinterpret_cast<INT_PTR>(boxBrush_ ? boxBrush_ : GetStockObject(BLACK_BRUSH));
        case IDC_CW_ARROW_L:
        case IDC_CW_ARROW_R:
          SetTextColor(dc, RGB(arrowGrey_, arrowGrey_, arrowGrey_));
          SetBkMode(dc, TRANSPARENT);
          return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
        default:
          return FALSE;
      }
    }
    default:
      return FALSE;
  }
}

void Win32ConfigView::OnCommand(int id, int code, HWND from) {
  switch (id) {
    case IDOK: Emit([](auto& e) { e.ButtonClicked(Button::OK); }); return;
    case IDCANCEL: Emit([](auto& e) { e.ButtonClicked(Button::Cancel); }); return;
    case IDC_DEFAULT: Emit([](auto& e) { e.ButtonClicked(Button::Default); }); return;
    case IDC_APPLY: Emit([](auto& e) { e.ButtonClicked(Button::Apply); }); return;
    case IDC_SLAVE_SELECT: Emit([](auto& e) { e.ButtonClicked(Button::SlaveSelect); }); return;
    case IDC_SLAVE_CONFIGURE: Emit([](auto& e) { e.ButtonClicked(Button::SlaveConfigure); }); return;
    case IDC_SLAVE_ABOUT: Emit([](auto& e) { e.ButtonClicked(Button::SlaveAbout); }); return;
    case IDM_CONFIGURATION: Emit([](auto& e) { e.IconOpenRequested(); }); return;
    default:
      break;
  }
  if (id >= IDM_MODE_FIRST && id < IDM_MODE_FIRST + kModeCount) {
    const int mode = id - IDM_MODE_FIRST;
    if (mode != iconMode_) {
      iconMode_ = mode;
      Emit([mode](auto& e) { e.ValueChanged(Ctl::IconModeList, mode); });
    }
    return;
  }
  const ControlInfo* info = InfoOfId(id);
  if (!info || quiet_) return;
  const Ctl c = info->ctl;
  switch (info->kind) {
    case Kind::Check:
      if (code == BN_CLICKED) {
        const int on = SendMessageW(from, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
        Emit([c, on](auto& e) { e.ValueChanged(c, on); });
      }
      return;
    case Kind::Radio:
      if (code == BN_CLICKED && SendMessageW(from, BM_GETCHECK, 0, 0) == BST_CHECKED)
        Emit([c](auto& e) { e.ValueChanged(c, 1); });
      return;
    case Kind::Choice:
      if (code == CBN_SELCHANGE) {
        const int index = static_cast<int>(SendMessageW(from, CB_GETCURSEL, 0, 0));
        if (index >= 0) Emit([c, index](auto& e) { e.ValueChanged(c, index); });
      }
      return;
    case Kind::Number: {
      int32_t& shown = numbers_[static_cast<size_t>(c)];
      if (code == EN_CHANGE) {
        wchar_t text[16] = {};
        GetWindowTextW(from, text, 16);
        int32_t v = 0;
        if (ParseNumber(text, v) && v >= info->lo && v <= info->hi && v != shown) {
          shown = v;
          Emit([c, v](auto& e) { e.ValueChanged(c, v); });
        }
      } else if (code == EN_KILLFOCUS) {
        // Text that is no number of the box's range gives way to the last one.
        const Quiet quiet(quiet_);
        SendMessageW(GetDlgItem(GetParent(from), id + 1), UDM_SETPOS32, 0, shown);
      }
      return;
    }
    default:
      return;
  }
}

bool Win32ConfigView::PreTranslate(MSG& msg) { return dlg_ && IsDialogMessageW(dlg_, &msg); }

void Win32ConfigView::SetValue(Ctl c, int32_t value) {
  const ControlInfo* info = InfoOf(c);
  if (!info) return;
  if (info->kind == Kind::Menu) {
    iconMode_ = value;
    return;
  }
  HWND w = Control(c);
  if (!w) return;
  const Quiet quiet(quiet_);
  switch (info->kind) {
    case Kind::Number:
      numbers_[static_cast<size_t>(c)] = value;
      SendMessageW(GetDlgItem(GetParent(w), info->id + 1), UDM_SETPOS32, 0, value);
      break;
    case Kind::Check:
    case Kind::Radio:
      SendMessageW(w, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case Kind::Choice: {
      const int count = static_cast<int>(SendMessageW(w, CB_GETCOUNT, 0, 0));
      SendMessageW(w, CB_SETCURSEL, value >= 0 && value < count ? value : -1, 0);
      break;
    }
    default:
      break;
  }
}

void Win32ConfigView::SetText(Ctl c, const std::u16string& text) {
  if (HWND w = Control(c)) {
    const Quiet quiet(quiet_);
    SetWindowTextW(w, W(text).c_str());
  }
}

void Win32ConfigView::SetEnabled(Ctl c, bool enabled) {
  HWND w = Control(c);
  if (!w) return;
  EnableWindow(w, enabled);
  const ControlInfo* info = InfoOf(c);
  if (info && info->kind == Kind::Number) EnableWindow(GetDlgItem(GetParent(w), info->id + 1), enabled);
}

void Win32ConfigView::SetVisible(Ctl c, bool visible) {
  if (HWND w = Control(c)) ::ShowWindow(w, visible ? SW_SHOWNA : SW_HIDE);
}

void Win32ConfigView::SelectTab(int index) {
  if (index < 0 || index >= kTabCount) return;
  SendMessageW(tabs_, TCM_SETCURSEL, index, 0);
  ShowPage(index);
}

void Win32ConfigView::SetCentreGreys(int boxGrey, int arrowGrey) {
  if (boxGrey == boxGrey_ && arrowGrey == arrowGrey_ && boxBrush_) return;
  boxGrey_ = boxGrey;
  arrowGrey_ = arrowGrey;
  if (boxBrush_) DeleteObject(boxBrush_);
  boxBrush_ = CreateSolidBrush(RGB(boxGrey, boxGrey, boxGrey));
  HWND page = pages_[kTabSurround];
  InvalidateRect(GetDlgItem(page, IDC_CW_C), nullptr, TRUE);
  // The arrows are drawn without a background of their own: the page repaints
  // behind them first.
  for (int id : {IDC_CW_ARROW_L, IDC_CW_ARROW_R}) {
    HWND arrow = GetDlgItem(page, id);
    RECT r;
    GetWindowRect(arrow, &r);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
    RedrawWindow(page, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
}

void Win32ConfigView::SetStatus(const std::u16string& text, const std::u16string& tip) {
  const std::wstring t = W(text), p = W(tip);
  if (t != statusText_) {
    statusText_ = t;
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(statusText_.c_str()));
  }
  if (p != statusTip_ && tip_) {
    statusTip_ = p;
    TTTOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = dlg_;
    ti.uId = reinterpret_cast<UINT_PTR>(status_);
    ti.lpszText = const_cast<wchar_t*>(statusTip_.c_str());
    SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

void Win32ConfigView::ShowWindow() {
  ::ShowWindow(dlg_, IsWindowVisible(dlg_) ? SW_SHOWNORMAL : SW_SHOW);
  SetWindowPos(dlg_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(dlg_);
}

void Win32ConfigView::HideWindow() { ::ShowWindow(dlg_, SW_HIDE); }

bool Win32ConfigView::AskYesNo(const std::u16string& text, const std::u16string& caption) {
  return MessageBoxW(dlg_, W(text).c_str(), W(caption).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void Win32ConfigView::ShowError(const std::u16string& text, const std::u16string& caption) {
  MessageBoxW(dlg_, W(text).c_str(), W(caption).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

std::optional<std::u16string> Win32ConfigView::PickFile(const std::u16string& title, const std::u16string& filterName,
                                                        const std::u16string& pattern,
                                                        const std::u16string& initial) {
  // "name\0pattern\0\0", and room for a long path so that the behaviour can
  // refuse it instead of the box cutting it.
  std::wstring filter = W(filterName);
  filter.push_back(L'\0');
  filter += W(pattern);
  filter.push_back(L'\0');
  std::vector<wchar_t> file(32768, L'\0');
  const std::wstring start = W(initial);
  std::copy_n(start.begin(), std::min(start.size(), file.size() - 1), file.begin());
  const std::wstring caption = W(title);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = dlg_;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = caption.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  return std::u16string(file.data(), file.data() + std::wcslen(file.data()));
}

bool Win32ConfigView::HasNotificationArea() const { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }

bool Win32ConfigView::NotifyIcon(DWORD action, UINT flags) {
  NOTIFYICONDATAW nid = {};
  nid.cbSize = sizeof(nid);
  nid.hWnd = dlg_;
  nid.uID = kIconId;
  nid.uFlags = flags;
  nid.uCallbackMessage = WM_SONAVEL_ICON;
  nid.hIcon = smallIcon_;
  CopyField(nid.szTip, iconText_);
  return Shell_NotifyIconW(action, &nid) != FALSE;
}

void Win32ConfigView::SetIconVisible(bool visible) {
  iconWanted_ = visible;
  if (visible == iconShown_ || !dlg_) return;
  if (visible) iconShown_ = NotifyIcon(NIM_ADD, NIF_ICON | NIF_TIP | NIF_MESSAGE);
  else {
    NotifyIcon(NIM_DELETE, 0);
    iconShown_ = false;
  }
}

void Win32ConfigView::SetIconText(const std::u16string& text) {
  iconText_ = W(text);
  if (iconShown_) NotifyIcon(NIM_MODIFY, NIF_TIP);
}

void Win32ConfigView::ShowBalloon(const std::u16string& title, const std::u16string& text) {
  if (!iconShown_) return;
  NOTIFYICONDATAW nid = {};
  nid.cbSize = sizeof(nid);
  nid.hWnd = dlg_;
  nid.uID = kIconId;
  nid.uFlags = NIF_INFO;
  CopyField(nid.szInfoTitle, W(title));
  CopyField(nid.szInfo, W(text));
  nid.dwInfoFlags = NIIF_WARNING;
  nid.uTimeout = 0;  // the system's shortest time
  Shell_NotifyIconW(NIM_MODIFY, &nid);
}

void Win32ConfigView::ShowIconMenu() {
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  AppendMenuW(menu, MF_STRING, IDM_CONFIGURATION, L"Configuration");
  SetMenuDefaultItem(menu, IDM_CONFIGURATION, FALSE);
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  for (int m = 0; m < kModeCount; ++m) {
    MENUITEMINFOW item = {};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
    item.fType = MFT_STRING | MFT_RADIOCHECK;
    item.fState = m == iconMode_ ? MFS_CHECKED : MFS_UNCHECKED;
    item.wID = IDM_MODE_FIRST + m;
    item.dwTypeData = const_cast<wchar_t*>(W(ModeName(m)));
    InsertMenuItemW(menu, GetMenuItemCount(menu), TRUE, &item);
  }
  POINT at;
  GetCursorPos(&at);
  // The menu must belong to the foreground window to close when the user
  // clicks elsewhere; the empty message after it lets it close at once.
  SetForegroundWindow(dlg_);
  TrackPopupMenuEx(menu, TPM_RIGHTBUTTON, at.x, at.y, dlg_, nullptr);
  PostMessageW(dlg_, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

// The thread's other top-level windows are its boxes: the system's and the
// slaves' dialogs are ended, the menu cancelled, anything else owned by the
// window asked to close.
void Win32ConfigView::EndBoxes() {
  struct Walk {
    HWND self;
    static BOOL CALLBACK Visit(HWND w, LPARAM p) {
      const HWND self = reinterpret_cast<Walk*>(p)->self;
      if (w == self || !IsWindowVisible(w)) return TRUE;
      wchar_t cls[32] = {};
      GetClassNameW(w, cls, 32);
      if (std::wcscmp(cls, L"#32770") == 0) EndDialog(w, IDCANCEL);
      else if (std::wcscmp(cls, L"#32768") == 0) EndMenu();
      else if (GetWindow(w, GW_OWNER) == self) PostMessageW(w, WM_CLOSE, 0, 0);
      return TRUE;
    }
  } walk{dlg_};
  EnumThreadWindows(GetCurrentThreadId(), Walk::Visit, reinterpret_cast<LPARAM>(&walk));
}

}  // namespace sn::ui::win32
