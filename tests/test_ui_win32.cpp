// The Windows settings window, icon menu and about box, through the x86-64
// module's exported record under Wine on a virtual display: the test finds the
// windows the module makes on its own threads and drives their controls with
// the messages the controls themselves send and take, then checks the live
// settings by what the recording slave receives and the stored ones in the
// registry (support/WindowDriver.h says how a message stands for a click).
// Messages that open a box on the window's thread are posted, since a sent one
// would return only as the box closes.
#include <windows.h>

#include <commctrl.h>
#include <dlgs.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/ModuleFixture.h"
#include "support/WindowDriver.h"
#include "ui/ConfigView.h"
#include "ui/win32/Resource.h"

namespace sn {
namespace {

using test::FindOwnWindow;
using test::ModuleTest;
using namespace ui;  // the tabs

constexpr double kIn = 0.707;  // full-scale headroom of the input conversion

// Polls `ready` for up to `ms`; true once it holds.
bool Within(int ms, const std::function<bool()>& ready) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (ready()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(10);
  }
}

std::wstring TextOf(HWND w) {
  wchar_t text[512] = {};
  GetWindowTextW(w, text, 512);
  return text;
}

// A visible top-level window of this process with the class and caption.
HWND FindShown(const wchar_t* cls, const wchar_t* caption) {
  HWND w = FindOwnWindow(cls, caption);
  return w && IsWindowVisible(w) ? w : nullptr;
}

// True when a box shows the system's icon `which` (a static control of the
// icon style holding it).
bool ShowsIcon(HWND box, const wchar_t* which) {
  struct Search {
    HICON icon;
    bool found;
  } s{LoadIconW(nullptr, which), false};
  EnumChildWindows(
      box,
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if ((GetWindowLongW(w, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            reinterpret_cast<HICON>(SendMessageW(w, STM_GETICON, 0, 0)) == s->icon)
          s->found = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

class UiWin32Test : public ModuleTest {
 protected:
  // Init with the stored `values`, then Config; the window must come up.
  void OpenWindow(std::initializer_list<std::pair<const char*, uint32_t>> values = {}) {
    Init(values);
    rec_->Config(nullptr);
    ASSERT_TRUE(Within(5000, [&] { return (dlg_ = FindShown(L"#32770", L"Sonavel Configuration")) != nullptr; }))
        << "Config showed no settings window";
  }
  void ShowAgain() {
    rec_->Config(nullptr);
    ASSERT_TRUE(Within(5000, [&] { return IsWindowVisible(dlg_) != FALSE; }));
  }

  HWND Item(int id) const { return test::FindItem(dlg_, id); }
  HWND Tabs() const { return Item(IDC_TABS); }
  int CurrentTab() const { return static_cast<int>(SendMessageW(Tabs(), TCM_GETCURSEL, 0, 0)); }
  void SelectTab(int index) { test::SelectTab(dlg_, index); }
  void Choose(int id, int index) { test::Choose(dlg_, id, index); }
  int Chosen(int id) const { return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
  void SetNumber(int id, int value) { test::SetNumber(dlg_, id, value); }
  int Number(int id) const { return static_cast<int>(SendMessageW(Item(id + 1), UDM_GETPOS32, 0, 0)); }
  void Click(int id) { SendMessageW(Item(id), BM_CLICK, 0, 0); }
  void ClickLater(int id) { PostMessageW(Item(id), BM_CLICK, 0, 0); }
  bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void ClickLink(int id) {
    HWND link = Item(id);
    NMHDR n{link, static_cast<UINT_PTR>(id), static_cast<UINT>(NM_CLICK)};
    SendMessageW(GetParent(link), WM_NOTIFY, id, reinterpret_cast<LPARAM>(&n));
  }
  void Key(HWND to, WPARAM key) {
    PostMessageW(to, WM_KEYDOWN, key, 1);
    PostMessageW(to, WM_KEYUP, key, 0xC0000001);
  }

  // A stored value, or -1 when there is none.
  static int64_t Stored(const char* name) {
    auto key = platform::RegistryKey::Open(kRegistryKey);
    if (!key) return -1;
    uint32_t v = 0, size = sizeof v;
    platform::RegType type{};
    return key->Query(name, &type, &v, &size) == platform::kRegOk ? static_cast<int32_t>(v) : -1;
  }

  // Plays `frames` of a constant stereo stream (left, right) and returns the
  // six lanes of its last frame.
  std::vector<int32_t> Play(int left, int right, int frames = 4608) {
    slave_->Clear();
    EXPECT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
    Write16(frames, 2, [&](int, int c) { return c == 0 ? left : right; });
    rec_->Close();
    std::vector<int32_t> last(6);
    for (int c = 0; c < 6; ++c) last[c] = Out(OutFrames() - 1, c);
    return last;
  }

  HWND dlg_ = nullptr;
};

TEST_F(UiWin32Test, ConfigShowsTheFixedTopmostWindowWithItsSixTabs) {
  OpenWindow({{"Last Tab", 4}});
  EXPECT_EQ(TextOf(dlg_), L"Sonavel Configuration");
  const LONG_PTR style = GetWindowLongPtrW(dlg_, GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0) << "neither resizable nor minimisable";
  EXPECT_NE(style & WS_SYSMENU, 0);
  EXPECT_NE(GetWindowLongPtrW(dlg_, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  EXPECT_NE(SendMessageW(dlg_, WM_GETICON, ICON_SMALL, 0), 0) << "the window icon";

  RECT r, work;
  GetWindowRect(dlg_, &r);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((r.left + r.right) / 2, (work.left + work.right) / 2, 2) << "centred";
  EXPECT_NEAR((r.top + r.bottom) / 2, (work.top + work.bottom) / 2, 2) << "centred";

  const wchar_t* names[] = {L"Main", L"Surround", L"Headphones", L"Room", L"System", L"About"};
  ASSERT_EQ(SendMessageW(Tabs(), TCM_GETITEMCOUNT, 0, 0), 6);
  for (int i = 0; i < 6; ++i) {
    wchar_t text[32] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 32;
    SendMessageW(Tabs(), TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(std::wstring(text), names[i]);
  }
  EXPECT_EQ(CurrentTab(), 4) << "the stored tab";
  EXPECT_TRUE(IsWindowVisible(Item(IDC_SSE2))) << "its page is shown";
  EXPECT_FALSE(IsWindowVisible(Item(IDC_MODE))) << "the others are not";
  EXPECT_FALSE(IsWindowEnabled(Item(IDC_APPLY)));
  EXPECT_EQ(Chosen(IDC_MODE), 0) << "the stored mode";
  EXPECT_EQ(TextOf(Item(IDC_SSE2_LABEL)), L"SSE2 is supported");
  EXPECT_TRUE(Within(1000, [&] { return TextOf(Item(IDC_ABOUT_DESCRIPTION)) == L"Tamberlin Sonavel v1.00"; }));
  EXPECT_EQ(TextOf(Item(IDC_ABOUT_BUILT)).rfind(L"Built on: ", 0), 0u);

  wchar_t status[64] = {};
  SendMessageW(Item(IDC_STATUS), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(status));
  EXPECT_EQ(std::wstring(status), L"Inactive");
}

// The mode list, a numeric box and the precision list are heard at once; the
// registry changes only at Apply.
TEST_F(UiWin32Test, EditsAreHeardAtOnceAndStoredAtApply) {
  OpenWindow();
  const std::vector<int32_t> plain = Play(20000, 20000);
  ASSERT_NEAR(plain[0], 20000 * kIn, 2) << "bypass";

  SetNumber(IDC_MASTER_GAIN, -6);
  EXPECT_EQ(Number(IDC_MASTER_GAIN), -6);
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_APPLY)));
  const std::vector<int32_t> quieter = Play(20000, 20000);
  EXPECT_NEAR(quieter[0], 20000 * kIn * std::pow(10.0, -6 / 20.0), 2) << "master gain -6 dB";

  // Passive decoding sends the difference of the two inputs to the surround.
  Choose(IDC_MODE, 1);
  const std::vector<int32_t> passive = Play(10000, -10000);
  EXPECT_GT(std::abs(passive[4]), 1000) << "the surround carries the anti-phase signal";
  EXPECT_LT(std::abs(passive[2]), 50) << "and the centre none of it";

  SelectTab(kTabSystem);
  Choose(IDC_PRECISION, 1);
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  EXPECT_EQ(slave_->open[2], 24) << "the slave opens at 24 bits";
  rec_->Close();

  EXPECT_EQ(Stored("Mode"), 0) << "nothing is stored before Apply";
  Click(IDC_APPLY);
  EXPECT_EQ(Stored("Mode"), 1);
  EXPECT_EQ(Stored("Master Gain"), -6);
  EXPECT_EQ(Stored("Slave Res"), 24);
  EXPECT_EQ(Stored("Last Tab"), kTabSystem);
  EXPECT_FALSE(IsWindowEnabled(Item(IDC_APPLY)));
  EXPECT_TRUE(IsWindowVisible(dlg_)) << "Apply keeps the window";
}

// Cancel (the button or Escape) restores the settings as shown; the close
// button hides the window and keeps the edits live; Enter is OK.
TEST_F(UiWin32Test, CancelRestoresCloseKeepsAndEnterConfirms) {
  OpenWindow({{"Trim L", 0}});
  SelectTab(kTabRoom);
  SetNumber(IDC_TRIM_L, -6);
  EXPECT_NEAR(Play(20000, 0)[0], 20000 * kIn * std::pow(10.0, -6 / 20.0), 2);
  Click(IDCANCEL);
  EXPECT_TRUE(IsWindow(dlg_));
  EXPECT_FALSE(IsWindowVisible(dlg_)) << "hidden, never destroyed";
  EXPECT_NEAR(Play(20000, 0)[0], 20000 * kIn, 2) << "Cancel restored the trim";

  ShowAgain();
  EXPECT_EQ(Number(IDC_TRIM_L), 0);
  SetNumber(IDC_TRIM_L, -3);
  Key(Item(IDC_TRIM_L), VK_ESCAPE);
  ASSERT_TRUE(Within(2000, [&] { return !IsWindowVisible(dlg_); })) << "Escape closes";
  EXPECT_NEAR(Play(20000, 0)[0], 20000 * kIn, 2) << "Escape cancels";

  ShowAgain();
  SetNumber(IDC_TRIM_L, -6);
  SendMessageW(dlg_, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(IsWindow(dlg_));
  EXPECT_FALSE(IsWindowVisible(dlg_));
  EXPECT_NEAR(Play(20000, 0)[0], 20000 * kIn * std::pow(10.0, -6 / 20.0), 2) << "the close button keeps the edit";
  EXPECT_EQ(Stored("Trim L"), 0) << "and stores nothing";

  ShowAgain();
  EXPECT_EQ(Number(IDC_TRIM_L), -6);
  Key(Item(IDC_TABS), VK_RETURN);
  ASSERT_TRUE(Within(2000, [&] { return !IsWindowVisible(dlg_); })) << "Enter is OK";
  EXPECT_EQ(Stored("Trim L"), -6);
}

// Default asks first, in a Yes/No box with the question icon owned by the
// window; No changes nothing, Yes loads the defaults without storing them.
TEST_F(UiWin32Test, DefaultAsksThenLoadsTheDefaults) {
  OpenWindow({{"Master Gain", 3}, {"Last Tab", 3}});
  for (const bool yes : {false, true}) {
    ClickLater(IDC_DEFAULT);
    HWND box = nullptr;
    ASSERT_TRUE(Within(5000, [&] { return (box = FindShown(L"#32770", L"Sonavel")) != nullptr; }));
    EXPECT_EQ(GetWindow(box, GW_OWNER), dlg_);
    EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), L"Are you sure you want to load all default values?");
    ASSERT_NE(GetDlgItem(box, IDYES), nullptr);
    ASSERT_NE(GetDlgItem(box, IDNO), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    EXPECT_TRUE(ShowsIcon(box, IDI_QUESTION)) << "the question icon";
    PostMessageW(GetDlgItem(box, yes ? IDYES : IDNO), BM_CLICK, 0, 0);
    ASSERT_TRUE(Within(5000, [&] { return !IsWindow(box); }));
    // The box's answer has been handled once the window answers again.
    SendMessageW(dlg_, WM_NULL, 0, 0);
    EXPECT_EQ(Number(IDC_MASTER_GAIN), yes ? 0 : 3);
    EXPECT_EQ(Chosen(IDC_MODE), yes ? 2 : 0);
    EXPECT_EQ(IsWindowEnabled(Item(IDC_APPLY)) != FALSE, yes);
  }
  EXPECT_EQ(CurrentTab(), 3) << "the tab stays";
  EXPECT_EQ(Stored("Master Gain"), 3) << "nothing stored before Apply";
}

// "Configure" shows for the decoders with settings of their own and leads to
// their tab.
TEST_F(UiWin32Test, TheModeLinkLeadsToTheModesTab) {
  OpenWindow();
  SelectTab(kTabMain);
  EXPECT_FALSE(IsWindowVisible(Item(IDC_LINK_MAIN))) << "Bypass has nothing to configure";
  const std::pair<int, int> cases[] = {{2, kTabSurround}, {3, kTabHeadphones}};
  for (const auto& [mode, tab] : cases) {
    SelectTab(kTabMain);
    Choose(IDC_MODE, mode);
    ASSERT_TRUE(IsWindowVisible(Item(IDC_LINK_MAIN))) << mode;
    ClickLink(IDC_LINK_MAIN);
    EXPECT_EQ(CurrentTab(), tab) << mode;
    EXPECT_TRUE(IsWindowVisible(Item(tab == kTabSurround ? IDC_SURR_MUSIC : IDC_HP_MUSIC)));
  }
  ClickLink(IDC_LINK_HP_MOVIE);
  EXPECT_EQ(CurrentTab(), kTabSurround);
}

// Select opens the open-file box with its title and filter; the module chosen
// there is checked before it is taken. Configure and About call the slave's own
// boxes.
TEST_F(UiWin32Test, SelectChecksTheModuleAndTheSlaveButtonsCallIt) {
  OpenWindow();
  SelectTab(kTabSystem);
  const struct {
    std::string module;
    bool taken;
  } picks[] = {{test::ModulePath("no_export_slave"), false}, {test::ModulePath("rec_slave"), true}};
  for (const auto& pick : picks) {
    ClickLater(IDC_SLAVE_SELECT);
    HWND box = nullptr;
    ASSERT_TRUE(Within(5000, [&] { return (box = FindShown(L"#32770", L"Select Slave Module File")) != nullptr; }));
    HWND filter = GetDlgItem(box, cmb1);
    wchar_t shown[64] = {};
    SendMessageW(filter, CB_GETLBTEXT, SendMessageW(filter, CB_GETCURSEL, 0, 0), reinterpret_cast<LPARAM>(shown));
    EXPECT_EQ(std::wstring(shown), L"DLL files (*.dll)");
    HWND name = GetDlgItem(box, cmb13);
    if (!name) name = GetDlgItem(box, edt1);
    ASSERT_NE(name, nullptr);
    std::u16string path = platform::FromUtf8(pick.module);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    SetWindowTextW(name, reinterpret_cast<const wchar_t*>(path.c_str()));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(Within(5000, [&] { return !IsWindow(box); })) << pick.module;
    if (!pick.taken) {
      HWND error = nullptr;
      ASSERT_TRUE(Within(5000, [&] { return (error = FindShown(L"#32770", L"Sonavel Error")) != nullptr; }));
      EXPECT_EQ(GetWindow(error, GW_OWNER), dlg_);
      EXPECT_TRUE(ShowsIcon(error, IDI_EXCLAMATION));
      PostMessageW(error, WM_COMMAND, IDOK, 0);
      ASSERT_TRUE(Within(5000, [&] { return !IsWindow(error); }));
    }
    SendMessageW(dlg_, WM_NULL, 0, 0);
    EXPECT_EQ(IsWindowEnabled(Item(IDC_APPLY)) != FALSE, pick.taken) << pick.module;
  }
  EXPECT_NE(TextOf(Item(IDC_SLAVE_FILE)).find(L"rec_slave.dll"), std::wstring::npos);

  slave_->Clear();
  Click(IDC_SLAVE_CONFIGURE);
  Click(IDC_SLAVE_ABOUT);
  EXPECT_EQ(slave_->calls, (std::vector<std::string>{"Config", "About"}));
}

// The centre-weight picture: at 40 % the C box is grey 153 and the arrows 102.
TEST_F(UiWin32Test, TheCentreWeightPictureFollowsTheWeight) {
  OpenWindow();
  SelectTab(kTabSurround);
  SetNumber(IDC_CENTRE_WEIGHT, 40);
  HWND page = GetParent(Item(IDC_CW_C));
  HDC dc = CreateCompatibleDC(nullptr);
  SendMessageW(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(Item(IDC_CW_C)));
  EXPECT_EQ(GetBkColor(dc), RGB(153, 153, 153));
  EXPECT_EQ(GetTextColor(dc), RGB(255, 255, 255));
  SendMessageW(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(Item(IDC_CW_ARROW_R)));
  EXPECT_EQ(GetTextColor(dc), RGB(102, 102, 102));
  DeleteDC(dc);
}

// The icon's menu: "Configuration" bold (the default item), a separator and
// the five modes as a radio group on the current one. A mode chosen there is
// heard and shown in the window's list, but is not an edit of the window.
TEST_F(UiWin32Test, TheIconMenuChoosesTheModeWithoutApply) {
  OpenWindow({{"Mode", 4}});
  PostMessageW(dlg_, WM_SONAVEL_ICON, 1, WM_RBUTTONUP);
  HWND popup = nullptr;
  ASSERT_TRUE(Within(5000, [&] {
    popup = FindWindowW(L"#32768", nullptr);
    return popup && IsWindowVisible(popup);
  }));
  const auto menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 7);
  const wchar_t* modes[] = {L"Bypass", L"Passive decoding (3/1) = L,R,C,S", L"Sonavel-SN (3/2) = L,R,C,SL,SR",
                            L"Sonavel Headphone (2/0) = L,R", L"Sonavel Encoder (2/0) = L,R"};
  for (int i = 0; i < 7; ++i) {
    wchar_t text[64] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING | MIIM_ID;
    item.dwTypeData = text;
    item.cch = 64;
    ASSERT_TRUE(GetMenuItemInfoW(menu, i, TRUE, &item)) << i;
    if (i == 0) {
      EXPECT_EQ(std::wstring(text), L"Configuration");
      EXPECT_NE(item.fState & MFS_DEFAULT, 0u) << "shown in bold";
    } else if (i == 1) {
      EXPECT_NE(item.fType & MFT_SEPARATOR, 0u);
    } else {
      EXPECT_EQ(std::wstring(text), modes[i - 2]);
      EXPECT_NE(item.fType & MFT_RADIOCHECK, 0u);
      EXPECT_EQ((item.fState & MFS_CHECKED) != 0, i - 2 == 4) << modes[i - 2];
    }
  }
  Key(popup, VK_ESCAPE);
  ASSERT_TRUE(Within(5000, [&] { return !IsWindowVisible(popup); }));

  SendMessageW(dlg_, WM_COMMAND, IDM_MODE_FIRST + 1, 0);
  EXPECT_EQ(Chosen(IDC_MODE), 1);
  EXPECT_FALSE(IsWindowEnabled(Item(IDC_APPLY))) << "not an edit of the window";
  const std::vector<int32_t> passive = Play(10000, -10000);
  EXPECT_GT(std::abs(passive[4]), 1000) << "passive decoding is heard";

  Click(IDCANCEL);
  ASSERT_FALSE(IsWindowVisible(dlg_));
  PostMessageW(dlg_, WM_SONAVEL_ICON, 1, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(Within(5000, [&] { return IsWindowVisible(dlg_) != FALSE; })) << "a double-click opens the window";
  SendMessageW(dlg_, WM_COMMAND, IDM_CONFIGURATION, 0);
  EXPECT_TRUE(IsWindowVisible(dlg_));
}

// The status line and its tool tip follow the open stream within the timer's
// period.
TEST_F(UiWin32Test, TheStatusFollowsTheStream) {
  OpenWindow({{"Mode", 3}});
  HWND bar = Item(IDC_STATUS);
  auto status = [&] {
    wchar_t text[128] = {};
    SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    return std::wstring(text);
  };
  ASSERT_EQ(rec_->Open(96000, 2, 16, 2000, 500), 0);
  EXPECT_TRUE(Within(2000, [&] { return status() == L"Sonavel Headphone - Invalid format, bypass active"; }))
      << status();
  HWND tip = nullptr;
  EnumThreadWindows(
      GetWindowThreadProcessId(dlg_, nullptr),
      [](HWND w, LPARAM p) -> BOOL {
        wchar_t cls[64] = {};
        GetClassNameW(w, cls, 64);
        if (std::wstring(cls) == TOOLTIPS_CLASSW) *reinterpret_cast<HWND*>(p) = w;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&tip));
  ASSERT_NE(tip, nullptr);
  wchar_t text[128] = {};
  TTTOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.hwnd = dlg_;
  ti.uId = reinterpret_cast<UINT_PTR>(bar);
  ti.lpszText = text;
  SendMessageW(tip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&ti));
  EXPECT_EQ(std::wstring(text), L"Source must have a sample rate of 44.1 or 48 KHz");
  rec_->Close();
  EXPECT_TRUE(Within(2000, [&] { return status() == L"Inactive"; }));
}

// About opens its own box, modal on the calling thread and independent of the
// settings window; Escape closes it like OK.
TEST_F(UiWin32Test, AboutShowsItsBoxOnTheCallingThreadAndEscapeClosesIt) {
  OpenWindow();
  std::atomic<bool> returned{false};
  DWORD aboutThread = 0;
  std::thread caller([&] {
    aboutThread = GetCurrentThreadId();
    rec_->About(nullptr);
    returned = true;
  });
  HWND box = nullptr;
  ASSERT_TRUE(Within(5000, [&] { return (box = FindShown(L"#32770", L"About")) != nullptr; }));
  EXPECT_EQ(GetWindowThreadProcessId(box, nullptr), aboutThread) << "the caller's thread";
  EXPECT_NE(GetWindowLongPtrW(box, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0) << "not in the taskbar";
  EXPECT_EQ(TextOf(GetDlgItem(box, IDC_ABOUT_DESCRIPTION)), L"Tamberlin Sonavel v1.00");
  EXPECT_EQ(TextOf(GetDlgItem(box, IDC_ABOUT_COPYRIGHT)), L"Copyright \u00A9 2009 Tamberlin. All rights reserved.");
  EXPECT_EQ(TextOf(GetDlgItem(box, IDC_ABOUT_WEB)), L"www.tamberlin.example");
  EXPECT_EQ(TextOf(GetDlgItem(box, IDC_ABOUT_BUILT)).rfind(L"Built on: ", 0), 0u);
  EXPECT_NE(SendMessageW(GetDlgItem(box, IDC_ABOUT_LOGO), STM_GETIMAGE, IMAGE_BITMAP, 0), 0) << "the logo";

  // The settings window still answers while the box is up.
  Click(IDC_APPLY);
  SelectTab(kTabAbout);
  EXPECT_EQ(CurrentTab(), kTabAbout);
  EXPECT_FALSE(returned.load());

  Key(GetDlgItem(box, IDOK), VK_ESCAPE);
  EXPECT_TRUE(Within(5000, [&] { return returned.load(); })) << "Escape closed the box";
  caller.join();
}

// Quit does not wait for the user: a box the window shows is ended, and the
// window goes with the user-interface thread.
TEST_F(UiWin32Test, QuitEndsTheWindowAndItsBoxes) {
  OpenWindow();
  ClickLater(IDC_DEFAULT);
  HWND box = nullptr;
  ASSERT_TRUE(Within(5000, [&] { return (box = FindShown(L"#32770", L"Sonavel")) != nullptr; }));
  rec_->Quit();
  initialised_ = false;
  // A thread still in the box's loop would have been given up with its windows.
  EXPECT_FALSE(IsWindow(box));
  EXPECT_FALSE(IsWindow(dlg_)) << "the user-interface thread ended";
}

}  // namespace
}  // namespace sn
