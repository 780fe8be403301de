// Dynamic modules on the Win32 loader.
//
// A Module* is the HMODULE. A bare file name is looked up beside the module that
// holds this code first: the player keeps its output modules in its Plugins
// folder, which its own search does not cover, and the slave is installed
// there next to us. Everything else goes to the system's search; a full path
// loads with the altered search path, so that the module's own dependencies are
// found beside it. Failing loads never put up the system's error dialogs.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Platform.h"
#include "platform/win32/Wide.h"

namespace sn::platform {
namespace {

bool IsBareName(const std::wstring& p) { return p.find_first_of(L"\\:") == std::wstring::npos; }

// "X:\..." or "\\server\...".
bool IsFullPath(const std::wstring& p) {
  return (p.size() >= 3 && p[1] == L':' && p[2] == L'\\') || (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\');
}

// The reason of the last failed LoadModule on this thread, cut to the buffer.
// Plain characters: a thread-local with a destructor would tie the player's
// threads to this module's code after it is unloaded.
thread_local char t_loadError[1024];

void SetLoadError(const std::string& reason) {
  const size_t n = std::min(reason.size(), sizeof t_loadError - 1);
  std::memcpy(t_loadError, reason.data(), n);
  t_loadError[n] = '\0';
}

// The system's text for a loader error, with its number.
std::string SystemReason(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : std::wstring();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  std::string reason = "error " + std::to_string(code);
  if (!message.empty()) reason += ": " + detail::Narrow(message);
  return reason;
}

// The file name of `module`, however long.
std::wstring ModuleFileName(HMODULE module) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return std::wstring();
    if (n < name.size()) {
      name.resize(n);
      return name;
    }
    if (name.size() >= 32768) return std::wstring();
    name.resize(name.size() * 2);
  }
}

std::wstring DirectoryOf(const std::wstring& file) {
  const size_t slash = file.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : file.substr(0, slash + 1);
}

std::wstring OwnDirectory() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&OwnDirectory), &self)) {
    return std::wstring();
  }
  return DirectoryOf(ModuleFileName(self));
}

}  // namespace

// When the copy beside us exists but does not load (a missing dependency, a
// file that is no DLL), its reason is the one that matters, not the search's.
Module* LoadModule(const char16_t* path) {
  try {
    t_loadError[0] = '\0';
    if (!path || !*path) {
      SetLoadError("no path given");
      return nullptr;
    }
    std::wstring file = detail::Wide(path);
    // The loader wants backslashes; a path written with slashes means the same.
    std::replace(file.begin(), file.end(), L'/', L'\\');
    DWORD oldMode = 0;
    const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode) != 0;
    HMODULE h = nullptr;
    std::string tried;
    std::string besideReason;
    if (IsBareName(file)) {
      const std::wstring dir = OwnDirectory();
      if (!dir.empty()) {
        const std::wstring beside = dir + file;
        tried = "tried " + detail::Narrow(beside) + ", then the system's search";
        if (GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) {
          h = LoadLibraryExW(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
          if (!h) besideReason = SystemReason(GetLastError());
        }
      }
    }
    if (!h) {
      h = IsFullPath(file) ? LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                           : LoadLibraryW(file.c_str());
      if (!h) {
        const std::string reason = SystemReason(GetLastError());
        if (tried.empty()) tried = "tried " + detail::Narrow(file);
        SetLoadError(tried + ": " + (besideReason.empty() ? reason : besideReason));
      }
    }
    if (quiet) SetThreadErrorMode(oldMode, nullptr);
    return reinterpret_cast<Module*>(h);
  } catch (...) {
    return nullptr;
  }
}

std::string ModuleLoadError() { return t_loadError; }

void* FindExport(Module* m, const char* name) {
  if (!m || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(m), name));
}

void UnloadModule(Module* m) {
  if (m) FreeLibrary(reinterpret_cast<HMODULE>(m));
}

std::string ModuleDirectory(const void* addressInside) {
  try {
    HMODULE module = nullptr;
    if (!addressInside ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(addressInside), &module)) {
      return std::string();
    }
    return detail::Narrow(DirectoryOf(ModuleFileName(module)));
  } catch (...) {
    return std::string();
  }
}

}  // namespace sn::platform
