// The operating-system services the plug-in needs, behind one small interface:
// auto-reset events with signal-and-wait, threads, dynamic modules and message
// boxes. platform/posix implements it on Linux, platform/win32 on the Win32
// kernel objects of the same meaning. The names stay clear of the macros that
// <windows.h> defines (CreateEvent, MessageBox, FreeModule, ...), so both may be
// included together.
//
// Every call is safe from any thread, never throws, and every wait is bounded
// by its time-out (kInfinite waits without one).
#pragma once

#include <cstdint>
#include <string>

namespace sn::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr uint32_t kWaitTimeout = 0xFFFFFFFEu;  // returned by the waits on time-out
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFDu;   // bad handle or argument
// As many events as one wait can watch (the Win32 limit, so both systems agree;
// on Win32 one fewer when the wait also watches the message queue).
inline constexpr uint32_t kMaxWaitEvents = 64;

// An unnamed auto-reset event, initially non-signalled. A signal wakes exactly one
// waiter (or the next one to wait) and then resets; signalling an event that is
// already signalled has no further effect.
struct Event;
Event* NewEvent();  // null on failure
void DestroyEvent(Event* e);  // null is allowed
void SignalEvent(Event* e);

// Input of a user interface that a wait can watch beside its events: on Win32
// the calling thread's message queue (every kind of input), on POSIX a
// descriptor that is readable while a toolkit has input (a window system's
// connection). A default UiInput watches nothing.
struct UiInput {
#if defined(_WIN32)
  bool messages = false;
#else
  int fd = -1;
#endif
};
// The input a thread that owns windows waits for: its message queue on Win32;
// nothing on POSIX, where a toolkit names its own descriptor.
UiInput ThreadUiInput();
// Dispatches every message pending for the calling thread's windows (Win32);
// nothing on POSIX.
void DispatchUiInput();

// Waits for `e` for at most `timeoutMs`; returns 0 when it was signalled (and
// consumes the signal), kWaitTimeout otherwise.
uint32_t WaitEvent(Event* e, uint32_t timeoutMs);
// Waits until any of `events[0..count)` is signalled. When several are signalled
// the lowest index wins and only that event is consumed. When `input` watches
// something, pending input also ends the wait, returning `count` without reading
// any of it; signalled events win over input.
uint32_t WaitAny(Event* const* events, uint32_t count, uint32_t timeoutMs, UiInput input = {});
// Signals `toSignal` and waits for `toWait` as one step: the acknowledgement
// cannot be missed between the two. Returns as WaitEvent.
uint32_t SignalAndWait(Event* toSignal, Event* toWait, uint32_t timeoutMs);
#if !defined(_WIN32)
// A descriptor that is readable while the event is signalled (an eventfd), for
// event loops that watch descriptors; -1 for null. Watching it consumes nothing.
int EventFd(Event* e);
#endif

// Threads. The entry runs with `arg`; its return value is the exit code. On
// Win32 a running thread keeps the module that holds the platform code (the
// plug-in) loaded, so code that a thread still runs is never unmapped under it.
struct Thread;
using ThreadProc = uint32_t (*)(void* arg);
Thread* StartThread(ThreadProc proc, void* arg);  // null on failure
// Waits up to `timeoutMs` for the thread to end; true when it has ended.
bool JoinThread(Thread* t, uint32_t timeoutMs);
// Releases the handle. A thread that has not ended is detached.
void CloseThread(Thread* t);

// Dynamic modules. Paths are UTF-16 as the settings store them (on POSIX they
// are converted to UTF-8). A bare file name is looked up beside the module that
// holds this code first, then by the system's library search.
struct Module;
Module* LoadModule(const char16_t* path);  // null on failure
// Why the last LoadModule on the calling thread failed: the paths it tried and
// the loader's reason. Empty after a successful load.
std::string ModuleLoadError();
void* FindExport(Module* m, const char* name);
void UnloadModule(Module* m);  // null is allowed
// The directory (with trailing separator, UTF-8) of the module that holds
// `addressInside`; empty when there is none.
std::string ModuleDirectory(const void* addressInside);

// A modal message box with an exclamation icon and an OK button, owned by the
// window `owner` (may be null). It returns when the user closes it, or soon after
// `dismiss` (if given) is signalled; that signal is left for the caller's own
// wait. Without a user interface (POSIX) it is one line on standard error,
// "<caption>: <text>", and returns at once.
void ShowMessage(void* owner, const char16_t* text, const char16_t* caption, Event* dismiss = nullptr);

// UTF-16 <-> UTF-8 helpers used at the edges of the platform layer. Invalid
// input never fails: an unpaired surrogate or a malformed sequence becomes U+FFFD.
std::string ToUtf8(const char16_t* s);
std::u16string FromUtf8(const std::string& s);

}  // namespace sn::platform
