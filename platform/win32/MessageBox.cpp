// Message boxes on MessageBoxW.
//
// A box that may be dismissed watches its event from a thread timer: the box's
// own modal loop dispatches WM_TIMER to the timer procedure, which checks the
// event every kDismissPollMs without blocking, puts the signal back for the
// caller and ends the box. A CBT hook on the calling thread notes the box's
// window as it is activated.
#include <windows.h>

#include "platform/Platform.h"
#include "platform/win32/Wide.h"

namespace sn::platform {
namespace {

constexpr UINT kDismissPollMs = 50;

struct Dismissable {
  HANDLE event;
  HHOOK hook;
  HWND box;
};

thread_local Dismissable* t_box = nullptr;

// True when `e` is signalled; the signal stays.
bool Signalled(HANDLE e) {
  if (WaitForSingleObject(e, 0) != WAIT_OBJECT_0) return false;
  SetEvent(e);
  return true;
}

LRESULT CALLBACK NoteBox(int code, WPARAM w, LPARAM l) {
  // The first window activated while the box is up is the box itself.
  if (code == HCBT_ACTIVATE && t_box && !t_box->box) t_box->box = reinterpret_cast<HWND>(w);
  return CallNextHookEx(nullptr, code, w, l);
}

void CALLBACK CheckDismiss(HWND, UINT, UINT_PTR, DWORD) {
  if (t_box && t_box->box && Signalled(t_box->event)) EndDialog(t_box->box, IDOK);
}

}  // namespace

void ShowMessage(void* owner, const char16_t* text, const char16_t* caption, Event* dismiss) {
  const wchar_t* t = detail::Wide(text ? text : u"");
  const wchar_t* c = detail::Wide(caption ? caption : u"");
  const UINT style = MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND;
  HWND parent = static_cast<HWND>(owner);
  if (!dismiss || t_box) {
    MessageBoxW(parent, t, c, style);
    return;
  }
  HANDLE event = reinterpret_cast<HANDLE>(dismiss);
  if (Signalled(event)) return;
  Dismissable box{event, SetWindowsHookExW(WH_CBT, NoteBox, nullptr, GetCurrentThreadId()), nullptr};
  const UINT_PTR timer = SetTimer(nullptr, 0, kDismissPollMs, CheckDismiss);
  t_box = &box;
  MessageBoxW(parent, t, c, style);
  t_box = nullptr;
  if (timer) KillTimer(nullptr, timer);
  if (box.hook) UnhookWindowsHookEx(box.hook);
}

}  // namespace sn::platform
