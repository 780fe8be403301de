// Threads on the C runtime's _beginthreadex, so that the runtime sets up and
// frees its per-thread state.
//
// A Thread* is the thread's HANDLE. Each thread holds a reference to the module
// that holds this code (the plug-in) while it runs and gives it back with
// FreeLibraryAndExitThread, which never returns into the module. A player that
// unloads the plug-in while one of its threads is still running therefore only
// drops its own reference; the code is unmapped after the thread has left it.
#include <windows.h>
#include <process.h>

#include <new>

#include "platform/Platform.h"
#include "platform/win32/Wide.h"

namespace sn::platform {
namespace {

HANDLE H(Thread* t) { return reinterpret_cast<HANDLE>(t); }

struct Start {
  ThreadProc proc;
  void* arg;
  HMODULE module;  // null for code in the program itself, which is never unloaded
};

unsigned __stdcall Run(void* p) {
  const Start s = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  uint32_t code = 0;
  try {
    code = s.proc(s.arg);
  } catch (...) {
    // An entry that throws ends its thread, not the process.
  }
  if (s.module) FreeLibraryAndExitThread(s.module, code);
  return code;
}

HMODULE HoldOwnModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Run), &module)) {
    return nullptr;
  }
  if (module == GetModuleHandleW(nullptr)) {
    FreeLibrary(module);
    return nullptr;
  }
  return module;
}

}  // namespace

Thread* StartThread(ThreadProc proc, void* arg) {
  if (!proc) return nullptr;
  Start* s = new (std::nothrow) Start{proc, arg, HoldOwnModule()};
  if (!s) return nullptr;
  const uintptr_t h = _beginthreadex(nullptr, 0, &Run, s, 0, nullptr);
  if (h == 0) {
    if (s->module) FreeLibrary(s->module);
    delete s;
    return nullptr;
  }
  return reinterpret_cast<Thread*>(h);
}

bool JoinThread(Thread* t, uint32_t timeoutMs) {
  if (!t) return false;
  auto wait = [&](DWORD ms) { return WaitForSingleObject(H(t), ms); };
  return detail::WaitFully(timeoutMs, wait, wait) == WAIT_OBJECT_0;
}

void CloseThread(Thread* t) {
  if (t) CloseHandle(H(t));
}

}  // namespace sn::platform
