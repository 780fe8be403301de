#include "ui/win32/AboutBox.h"

#include <commctrl.h>

#include "ui/Texts.h"
#include "ui/win32/Resource.h"

namespace sn::ui::win32 {

namespace {

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

// The process's one activation context for the module's manifest: made on first
// use and kept, since windows made under it may outlive any one scope.
HANDLE ControlsContext() {
  static const HANDLE context = [] {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(ResourceModule(), path, MAX_PATH);
    ACTCTXW ctx = {};
    ctx.cbSize = sizeof(ctx);
    ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.lpSource = path;
    ctx.hModule = ResourceModule();
    ctx.lpResourceName = MAKEINTRESOURCEW(IDR_COMCTL6);
    return CreateActCtxW(&ctx);
  }();
  return context;
}

INT_PTR CALLBACK AboutProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      FillAboutPanel(w);
      const auto icon = static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(IDI_SONAVEL), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
      if (icon) SendMessageW(w, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
      SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(icon));
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(AboutPanelColours(reinterpret_cast<HWND>(lp), reinterpret_cast<HDC>(wp)));
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) EndDialog(w, IDOK);
      return TRUE;
    case WM_CLOSE:
      EndDialog(w, IDOK);
      return TRUE;
    case WM_DESTROY:
      if (auto icon = reinterpret_cast<HICON>(GetWindowLongPtrW(w, GWLP_USERDATA))) DestroyIcon(icon);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

HINSTANCE ResourceModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ResourceModule), &module);
  return module;
}

ControlsScope::ControlsScope() {
  const HANDLE context = ControlsContext();
  if (context != INVALID_HANDLE_VALUE) active_ = ActivateActCtx(context, &cookie_) != FALSE;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_TAB_CLASSES | ICC_UPDOWN_CLASS | ICC_BAR_CLASSES |
                                               ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
  InitCommonControlsEx(&icc);
}

ControlsScope::~ControlsScope() {
  if (active_) DeactivateActCtx(0, cookie_);
}

void FillAboutPanel(HWND parent) {
  SetDlgItemTextW(parent, IDC_ABOUT_DESCRIPTION, W(kDescription));
  SetDlgItemTextW(parent, IDC_ABOUT_COPYRIGHT, W(kCopyright));
  SetDlgItemTextW(parent, IDC_ABOUT_WEB, W(kWebAddress));
  SetDlgItemTextW(parent, IDC_ABOUT_BUILT, W(BuiltOn().c_str()));
}

HBRUSH AboutPanelColours(HWND control, HDC dc) {
  const int id = GetDlgCtrlID(control);
  if (id < IDC_ABOUT_LOGO || id > IDC_ABOUT_PANEL) return nullptr;
  SetBkColor(dc, RGB(255, 255, 255));
  SetTextColor(dc, RGB(0, 0, 0));
  return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
}

void ShowAboutBox() {
  ControlsScope controls;
  if (DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(IDD_ABOUT), nullptr, AboutProc, 0) == -1) {
    // No box from the template: the information in a plain one.
    MessageBoxW(nullptr, W(kDescription), W(kAboutTitle), MB_OK | MB_ICONINFORMATION);
  }
}

}  // namespace sn::ui::win32
