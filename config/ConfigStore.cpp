#include <memory>

#include "config/Config.h"
#include "config/ConfigFields.h"
#include "platform/Registry.h"

namespace sn {

using detail::FieldRule;
using detail::kFields;
using detail::kSlaveValue;
using detail::Rule;
using platform::RegistryKey;
using platform::RegType;

namespace {

int32_t ApplyRule(const FieldRule& f, uint32_t raw) {
  const int32_t s = static_cast<int32_t>(raw);
  switch (f.rule) {
    case Rule::AsStored: return s;
    case Rule::Bool: return raw != 0 ? 1 : 0;
    case Rule::ClampGain: return s < f.lo ? f.lo : (s > f.hi ? f.hi : s);
    case Rule::CapUnsigned: return raw > static_cast<uint32_t>(f.hi) ? f.hi : s;
    case Rule::CapThenFloor: {
      uint32_t v = raw > static_cast<uint32_t>(f.hi) ? static_cast<uint32_t>(f.hi) : raw;
      return v < static_cast<uint32_t>(f.lo) ? f.lo : static_cast<int32_t>(v);
    }
    case Rule::AboveToDefault: return raw > static_cast<uint32_t>(f.hi) ? f.def : s;
    case Rule::MaxToDefault: return raw >= static_cast<uint32_t>(f.hi) ? f.def : s;
    case Rule::OutsideToDefault:
      return (raw < static_cast<uint32_t>(f.lo) || raw > static_cast<uint32_t>(f.hi)) ? f.def : s;
    case Rule::OneOf: return (s == f.lo || s == f.hi) ? s : f.def;
  }
  return f.def;
}

}  // namespace

void LoadConfig(Config& c) {
  std::unique_ptr<RegistryKey> key = RegistryKey::Open(kRegistryKey);
  for (const FieldRule& f : kFields) {
    uint32_t raw = 0;
    uint32_t size = sizeof(raw);
    RegType type{};
    // A number is a DWORD (or four bytes of binary data); a value of any other
    // type, a string above all, loads as the default like an out-of-range one.
    const bool ok = key && key->Query(f.name, &type, &raw, &size) == platform::kRegOk && size == sizeof(raw) &&
                    (type == RegType::Dword || type == RegType::Binary);
    CfgSet(c.*(f.field), ok ? ApplyRule(f, raw) : f.def);
  }
  char16_t path[kSlavePathChars] = {};
  uint32_t size = sizeof(path);
  RegType type{};
  // A string, and not an empty one: a path of nothing names no module.
  if (key && key->Query(kSlaveValue, &type, path, &size) == platform::kRegOk && type == RegType::Sz && path[0]) {
    path[kSlavePathChars - 1] = 0;
    SetSlavePath(c, path);
  } else {
    SetSlavePath(c, SN_DEF_SLAVEMODULE);
  }
  if (key) key->Close();
}

long StoreConfig(const Config& c) {
  long status = platform::kRegOk;
  std::unique_ptr<RegistryKey> key = RegistryKey::Create(kRegistryKey, &status);
  if (!key) return status != platform::kRegOk ? status : platform::kRegAccessDenied;
  for (const FieldRule& f : kFields) key->SetDword(f.name, static_cast<uint32_t>(CfgGet(c.*(f.field))));
  char16_t path[kSlavePathChars];
  GetSlavePath(c, path);
  key->SetString(kSlaveValue, path);
  return key->Close();
}

}  // namespace sn
