// The operating-system services the plug-in needs, behind one small interface:
// auto-reset events with signal-and-wait, threads, dynamic modules and message
// boxes. The POSIX implementation lives in platform/posix; a Win32 one maps each
// call onto the kernel object of the same name.
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

// An unnamed auto-reset event, initially non-signalled. A signal wakes exactly one
// waiter (or the next one to wait) and then resets; signalling an event that is
// already signalled has no further effect.
struct Event;
Event* CreateEvent();
void DestroyEvent(Event* e);  // null is allowed
void SignalEvent(Event* e);
// Waits for `e` for at most `timeoutMs`; returns 0 when it was signalled (and
// consumes the signal), kWaitTimeout otherwise.
uint32_t WaitEvent(Event* e, uint32_t timeoutMs);
// Waits until any of `events[0..count)` is signalled. When several are signalled
// the lowest index wins and only that event is consumed. With `extraFd` >= 0 the
// wait also ends when that descriptor becomes readable (a window system's
// connection), returning `count` without consuming anything.
uint32_t WaitAny(Event* const* events, uint32_t count, uint32_t timeoutMs, int extraFd = -1);
// Signals `toSignal` and waits for `toWait` as one step: the acknowledgement
// cannot be missed between the two. Returns as WaitEvent.
uint32_t SignalAndWait(Event* toSignal, Event* toWait, uint32_t timeoutMs);
// A descriptor that becomes readable while the event is signalled (an eventfd on
// Linux), for event loops that watch descriptors; -1 where there is none.
int EventFd(Event* e);

// Threads. The entry runs with `arg`; its return value is the exit code.
struct Thread;
using ThreadProc = uint32_t (*)(void* arg);
Thread* CreateThread(ThreadProc proc, void* arg);  // null on failure
// Waits up to `timeoutMs` for the thread to end; true when it has ended.
bool JoinThread(Thread* t, uint32_t timeoutMs);
// Releases the handle. A thread that has not ended is detached.
void CloseThread(Thread* t);

// Dynamic modules. Paths are UTF-16 as the settings store them; on POSIX they
// are converted to UTF-8.
struct Module;
Module* LoadModule(const char16_t* path);  // null on failure
// Why the last LoadModule on the calling thread failed: the paths it tried and
// the loader's reason. Empty after a successful load.
std::string ModuleLoadError();
void* FindExport(Module* m, const char* name);
void FreeModule(Module* m);
// The directory (with trailing separator) of the module that holds `addressInside`.
std::string ModuleDirectory(const void* addressInside);

// A modal message box with an exclamation icon and an OK button. Without a user
// interface it is one line on standard error: "<caption>: <text>".
void MessageBox(void* owner, const char16_t* text, const char16_t* caption);

// UTF-16 <-> UTF-8 helpers used at the edges of the platform layer.
std::string ToUtf8(const char16_t* s);
std::u16string FromUtf8(const std::string& s);

}  // namespace sn::platform
