// The registry key on the system registry under HKEY_CURRENT_USER. Every call
// is the system call of the same meaning; status codes are the system's own.
#include <windows.h>

#include <memory>
#include <string>

#include "platform/Registry.h"
#include "platform/win32/Wide.h"

namespace sn::platform {

struct RegistryKey::Impl {
  HKEY key = nullptr;
};

RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

RegistryKey::~RegistryKey() { Close(); }

std::unique_ptr<RegistryKey> RegistryKey::Open(const std::string& path) {
  try {
    auto impl = std::make_unique<Impl>();
    if (RegOpenKeyExW(HKEY_CURRENT_USER, detail::Wide(path).c_str(), 0, KEY_QUERY_VALUE, &impl->key) !=
        ERROR_SUCCESS) {
      return nullptr;
    }
    return std::unique_ptr<RegistryKey>(new RegistryKey(std::move(impl)));
  } catch (...) {
    return nullptr;
  }
}

std::unique_ptr<RegistryKey> RegistryKey::Create(const std::string& path, long* status) {
  long result = kRegAccessDenied;
  std::unique_ptr<RegistryKey> key;
  try {
    auto impl = std::make_unique<Impl>();
    result = RegCreateKeyExW(HKEY_CURRENT_USER, detail::Wide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &impl->key, nullptr);
    if (result == ERROR_SUCCESS) key.reset(new RegistryKey(std::move(impl)));
  } catch (...) {
    result = kRegAccessDenied;
  }
  if (status) *status = result;
  return key;
}

long RegistryKey::Query(const std::string& name, RegType* type, void* data, uint32_t* size) const {
  try {
    if (!impl_->key) return ERROR_INVALID_HANDLE;
    if (data && !size) return kRegInvalidParameter;
    DWORD t = 0;
    DWORD bytes = size ? *size : 0;
    const LONG r = RegQueryValueExW(impl_->key, detail::Wide(name).c_str(), nullptr, &t,
                                    static_cast<BYTE*>(data), size ? &bytes : nullptr);
    if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) {
      if (type) *type = static_cast<RegType>(t);
      if (size) *size = bytes;
    }
    return r;
  } catch (...) {
    return kRegNotFound;
  }
}

long RegistryKey::SetDword(const std::string& name, uint32_t value) {
  try {
    if (!impl_->key) return ERROR_INVALID_HANDLE;
    const DWORD v = value;
    return RegSetValueExW(impl_->key, detail::Wide(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                          sizeof v);
  } catch (...) {
    return kRegAccessDenied;
  }
}

// The length counts the terminator, in bytes.
long RegistryKey::SetString(const std::string& name, const char16_t* value) {
  try {
    if (!impl_->key) return ERROR_INVALID_HANDLE;
    const std::u16string w = value ? std::u16string(value) : std::u16string();
    return RegSetValueExW(impl_->key, detail::Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(w.c_str()),
                          static_cast<DWORD>((w.size() + 1) * sizeof(char16_t)));
  } catch (...) {
    return kRegAccessDenied;
  }
}

long RegistryKey::Close() {
  if (!impl_ || !impl_->key) return kRegOk;
  const LONG r = RegCloseKey(impl_->key);
  impl_->key = nullptr;
  return r;
}

}  // namespace sn::platform
