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

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

Module* LoadModule(const char16_t* path) {
  try {
    const std::string file = ToUtf8(path);
    if (file.empty()) return nullptr;
    void* handle = nullptr;
    if (file.find('/') == std::string::npos) {
      const std::string beside = ModuleDirectory(reinterpret_cast<const void*>(&LoadModule));
      if (!beside.empty()) handle = dlopen((beside + file).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    return static_cast<Module*>(handle);
  } catch (...) {
    return nullptr;
  }
}

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
