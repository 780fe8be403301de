// The current user's registry hive, reduced to what the settings store needs:
// one key of DWORD and string values. Key and value names compare
// case-insensitively; names are UTF-8 here, strings UTF-16. No call throws.
//
// On Win32 this is the system registry under HKEY_CURRENT_USER (RegCreateKeyExW,
// RegQueryValueExW, RegSetValueExW); every write goes to the registry at once.
//
// On POSIX the hive is one text file in the regedit export format ("Windows
// Registry Editor Version 5.00"), at $SONAVEL_REGISTRY when set, else
// $XDG_CONFIG_HOME/sonavel/user.reg ($HOME/.config when XDG_CONFIG_HOME is unset).
// Strings are stored as UTF-8. A missing, unreadable or malformed file reads as
// an empty hive; a malformed line is skipped. Writes are kept by the key and
// saved when it is closed (or dropped): the file is rewritten atomically
// (temporary file, flush, rename) under an advisory lock, keeping every other key
// and value.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace sn::platform {

// Status codes follow the Win32 ones so that callers read the same on both systems.
inline constexpr long kRegOk = 0;
inline constexpr long kRegNotFound = 2;      // ERROR_FILE_NOT_FOUND
inline constexpr long kRegAccessDenied = 5;  // ERROR_ACCESS_DENIED
inline constexpr long kRegInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr long kRegMoreData = 234;    // ERROR_MORE_DATA

enum class RegType : uint32_t { Sz = 1, Binary = 3, Dword = 4 };

// One open key of HKEY_CURRENT_USER, e.g. "SOFTWARE\\Tamberlin\\Sonavel".
class RegistryKey {
 public:
  // Opens an existing key for reading; null when the key or the hive is missing.
  static std::unique_ptr<RegistryKey> Open(const std::string& path);
  // Opens or creates the key for writing; null with `*status` set on failure.
  static std::unique_ptr<RegistryKey> Create(const std::string& path, long* status);
  ~RegistryKey();

  // Reads a value into `data` of `*size` bytes. On success `*size` is the
  // data's size; a value larger than the buffer fails with kRegMoreData. Strings
  // are returned as UTF-16 with their terminator.
  long Query(const std::string& name, RegType* type, void* data, uint32_t* size) const;
  long SetDword(const std::string& name, uint32_t value);
  long SetString(const std::string& name, const char16_t* value);
  // Ends the use of the key (on POSIX: saves its changes); the result of
  // closing it. The destructor closes a key that is still open.
  long Close();

  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

 private:
  struct Impl;
  explicit RegistryKey(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

#if !defined(_WIN32)
// The hive file this process uses (for tools and tests).
std::string RegistryPath();
#endif

}  // namespace sn::platform
