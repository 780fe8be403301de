// UTF-16 at the Win32 edge of the platform layer: the wide-character API takes
// our char16_t text as it is. Internal to platform/win32.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

#include "platform/Platform.h"

namespace sn::platform::detail {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide characters are UTF-16 units");

inline const wchar_t* Wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline std::wstring Wide(const std::string& utf8) {
  const std::u16string w = FromUtf8(utf8);
  return std::wstring(w.begin(), w.end());
}
inline std::string Narrow(const std::wstring& w) {
  return ToUtf8(std::u16string(w.begin(), w.end()).c_str());
}

// A time-out in the form the waits take it.
inline DWORD Millis(uint32_t timeoutMs) { return timeoutMs == kInfinite ? INFINITE : static_cast<DWORD>(timeoutMs); }

// Runs `wait(ms)` (a Win32 wait returning WAIT_*) until it ends for another
// reason than its time-out or `timeoutMs` has really passed: the system's waits
// may end up to a clock tick early, and the contract is "no earlier than asked".
// `again` is the wait for the repeats (SignalObjectAndWait must not signal twice).
template <class First, class Again>
DWORD WaitFully(uint32_t timeoutMs, First&& first, Again&& again) {
  if (timeoutMs == kInfinite) return first(INFINITE);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  DWORD r = first(static_cast<DWORD>(timeoutMs));
  for (;;) {
    if (r != WAIT_TIMEOUT) return r;
    const auto left = end - Clock::now();
    if (left <= left.zero()) return WAIT_TIMEOUT;
    r = again(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
  }
}

}  // namespace sn::platform::detail
