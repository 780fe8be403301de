// Auto-reset events on Win32 event objects.
//
// An Event* is the event's HANDLE. WaitForMultipleObjects already has the
// semantics the interface asks for: when several objects are signalled the
// lowest index satisfies the wait and only that auto-reset event is reset. The
// user-interface thread waits with MsgWaitForMultipleObjectsEx, which also ends
// on input in the thread's queue; MWMO_INPUTAVAILABLE makes input that arrived
// before the wait count too, so nothing pending is slept over.
#include <windows.h>

#include "platform/Platform.h"
#include "platform/win32/Wide.h"

namespace sn::platform {
namespace {

HANDLE H(Event* e) { return reinterpret_cast<HANDLE>(e); }

uint32_t Result(DWORD r, uint32_t count) {
  if (r < WAIT_OBJECT_0 + count) return r - WAIT_OBJECT_0;
  if (r == WAIT_TIMEOUT) return kWaitTimeout;
  return kWaitFailed;
}

}  // namespace

Event* NewEvent() { return reinterpret_cast<Event*>(CreateEventW(nullptr, FALSE, FALSE, nullptr)); }

void DestroyEvent(Event* e) {
  if (e) CloseHandle(H(e));
}

void SignalEvent(Event* e) {
  if (e) SetEvent(H(e));
}

uint32_t WaitEvent(Event* e, uint32_t timeoutMs) { return WaitAny(&e, 1, timeoutMs); }

uint32_t WaitAny(Event* const* events, uint32_t count, uint32_t timeoutMs, UiInput input) {
  // One slot of the system's 64 is taken by the message queue.
  const uint32_t limit = input.messages ? kMaxWaitEvents - 1 : kMaxWaitEvents;
  if ((!events && count > 0) || count > limit || (count == 0 && !input.messages)) return kWaitFailed;
  HANDLE handles[kMaxWaitEvents];
  for (uint32_t i = 0; i < count; ++i) {
    if (!events[i]) return kWaitFailed;
    handles[i] = H(events[i]);
  }
  if (!input.messages) {
    auto wait = [&](DWORD ms) { return WaitForMultipleObjects(count, handles, FALSE, ms); };
    return Result(detail::WaitFully(timeoutMs, wait, wait), count);
  }
  auto wait = [&](DWORD ms) {
    return MsgWaitForMultipleObjectsEx(count, count ? handles : nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  };
  DWORD r = detail::WaitFully(timeoutMs, wait, wait);
  if (r == WAIT_OBJECT_0 + count && count > 0) {
    // Input was pending: an event signalled at the same time still wins.
    const DWORD e = WaitForMultipleObjects(count, handles, FALSE, 0);
    if (e < WAIT_OBJECT_0 + count) r = e;
  }
  return r == WAIT_OBJECT_0 + count ? count : Result(r, count);
}

uint32_t SignalAndWait(Event* toSignal, Event* toWait, uint32_t timeoutMs) {
  if (!toSignal || !toWait) return kWaitFailed;
  const DWORD r = detail::WaitFully(
      timeoutMs, [&](DWORD ms) { return SignalObjectAndWait(H(toSignal), H(toWait), ms, FALSE); },
      [&](DWORD ms) { return WaitForSingleObject(H(toWait), ms); });
  return Result(r, 1);
}

UiInput ThreadUiInput() { return UiInput{true}; }

// WM_QUIT is not ours to act on: the thread ends on its quit event.
void DispatchUiInput() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace sn::platform
