// Driving the module's Windows settings window from another thread of the
// same process, as its controls would be clicked: a control set with a message
// does not notify its parent the way a click does, so after TCM_SETCURSEL and
// CB_SETCURSEL the parent is sent the notification the click would have sent.
// Shared by the Windows UI tests and the screenshot program.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "ui/win32/Resource.h"

namespace sn::test {

// The control `id` anywhere below `top` (the pages are nested dialogs); null
// when there is none.
inline HWND FindItem(HWND top, int id) {
  struct Search {
    int id;
    HWND found;
  } s{id, nullptr};
  EnumChildWindows(
      top,
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (GetDlgCtrlID(w) != s->id) return TRUE;
        s->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

inline void SelectTab(HWND dlg, int index) {
  HWND tabs = FindItem(dlg, IDC_TABS);
  SendMessageW(tabs, TCM_SETCURSEL, index, 0);
  NMHDR n{tabs, IDC_TABS, static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageW(dlg, WM_NOTIFY, IDC_TABS, reinterpret_cast<LPARAM>(&n));
}

inline void Choose(HWND dlg, int id, int index) {
  HWND list = FindItem(dlg, id);
  SendMessageW(list, CB_SETCURSEL, index, 0);
  SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

// A numeric box's up-down moved to `value`; it writes the number into its edit.
inline void SetNumber(HWND dlg, int id, int value) { SendMessageW(FindItem(dlg, id + 1), UDM_SETPOS32, 0, value); }

}  // namespace sn::test
