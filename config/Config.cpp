#include "config/Config.h"

#include <cstring>

#include "config/ConfigFields.h"

namespace sn {

using detail::FieldRule;
using detail::kFields;

Config DefaultConfig() {
  Config c{};
  for (const FieldRule& f : kFields) c.*(f.field) = f.def;
  const char16_t def[] = SN_DEF_SLAVEMODULE;
  std::memcpy(c.SlaveModulePath, def, sizeof(def));
  return c;
}

void CopyConfig(Config& to, const Config& from) {
  for (const FieldRule& f : kFields) CfgSet(to.*(f.field), CfgGet(from.*(f.field)));
  char16_t path[kSlavePathChars];
  GetSlavePath(from, path);
  SetSlavePath(to, path);
}

void GetSlavePath(const Config& c, char16_t* out) {
  for (int i = 0; i < kSlavePathChars; ++i) out[i] = CfgGet(c.SlaveModulePath[i]);
  out[kSlavePathChars - 1] = 0;
}

void SetSlavePath(Config& c, const char16_t* path) {
  int i = 0;
  for (; i < kSlavePathChars - 1 && path && path[i]; ++i) CfgSet(c.SlaveModulePath[i], path[i]);
  for (; i < kSlavePathChars; ++i) CfgSet(c.SlaveModulePath[i], char16_t{0});
}

}  // namespace sn
