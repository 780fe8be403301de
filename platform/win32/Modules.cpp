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

Module* LoadModule(const char16_t* path) {
  try {
    if (!path || !*path) return nullptr;
    std::wstring file = detail::Wide(path);
    // The loader wants backslashes; a path written with slashes means the same.
    std::replace(file.begin(), file.end(), L'/', L'\\');
    DWORD oldMode = 0;
    const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode) != 0;
    HMODULE h = nullptr;
    if (IsBareName(file)) {
      const std::wstring dir = OwnDirectory();
      const std::wstring beside = dir + file;
      if (!dir.empty() && GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) {
        h = LoadLibraryExW(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      }
    }
    if (!h) {
      h = IsFullPath(file) ? LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                           : LoadLibraryW(file.c_str());
    }
    if (quiet) SetThreadErrorMode(oldMode, nullptr);
    return reinterpret_cast<Module*>(h);
  } catch (...) {
    return nullptr;
  }
}

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
