// Dynamic modules on the dynamic linker.
//
// A module handle is the dlopen() handle itself. A bare file name (no '/') is
// looked up first beside the module that holds this code, then by the system's
// library search, so that a slave installed next to the plug-in is found the way
// the Win32 loader finds a DLL in the application's directory.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/Platform.h"

namespace sn::platform {
namespace {

std::string DirectoryOf(const std::string& file) {
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

// The reason of the last failed LoadModule on this thread.
thread_local std::string t_loadError;

std::string DlReason() {
  const char* e = dlerror();
  return e ? e : "unknown reason";
}

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

// When the copy beside us exists but does not load (a missing dependency, an
// unresolved symbol), its reason is the one that matters, not the search's.
Module* LoadModule(const char16_t* path) {
  try {
    t_loadError.clear();
    const std::string file = ToUtf8(path);
    if (file.empty()) {
      t_loadError = "no path given";
      return nullptr;
    }
    void* handle = nullptr;
    std::string tried;
    std::string besideReason;
    if (file.find('/') == std::string::npos) {
      const std::string beside = ModuleDirectory(reinterpret_cast<const void*>(&LoadModule));
      if (!beside.empty()) {
        handle = dlopen((beside + file).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
          tried = "tried " + beside + file + ", then the library search path";
          const std::string reason = DlReason();
          if (access((beside + file).c_str(), F_OK) == 0) besideReason = reason;
        }
      }
    }
    if (!handle) {
      handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        const std::string reason = DlReason();
        if (tried.empty()) tried = "tried " + file;
        t_loadError = tried + ": " + (besideReason.empty() ? reason : besideReason);
      }
    }
    return static_cast<Module*>(handle);
  } catch (...) {
    return nullptr;
  }
}

std::string ModuleLoadError() { return t_loadError; }

void* FindExport(Module* m, const char* name) {
  if (!m || !name) return nullptr;
  return dlsym(m, name);
}

void UnloadModule(Module* m) {
  if (m) dlclose(m);
}

// The dynamic linker names the main program with an empty string and other
// objects by the path they were loaded from; a relative one is made absolute.
std::string ModuleDirectory(const void* addressInside) {
  try {
    Dl_info info{};
    link_map* map = nullptr;
    if (!addressInside ||
        dladdr1(addressInside, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || !map) {
      return std::string();
    }
    std::string file = map->l_name ? map->l_name : "";
    if (file.empty()) return DirectoryOf(ExecutablePath());
    if (file[0] != '/') {
      char* full = realpath(file.c_str(), nullptr);
      if (!full) return std::string();
      file = full;
      free(full);
    }
    return DirectoryOf(file);
  } catch (...) {
    return std::string();
  }
}

}  // namespace sn::platform
