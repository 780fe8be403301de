#include "config/Config.h"

#include <cstring>

#include "platform/Registry.h"

namespace sn {

namespace {

using platform::RegistryKey;
using platform::RegType;

// How a stored DWORD becomes a field.
enum class Rule {
  AsStored,
  Bool,          // non-zero: 1
  ClampGain,     // signed, clamped to [lo, hi]
  CapUnsigned,   // above hi (unsigned): hi
  CapThenFloor,  // above hi (unsigned): hi, then below lo: lo
  AboveToDefault,  // above hi (unsigned): default
  MaxToDefault,    // hi or more (unsigned): default
  OutsideToDefault,  // outside [lo, hi] (unsigned): default
  OneOf,           // lo or hi, else default
};

struct FieldRule {
  const char* name;
  int32_t Config::*field;
  int32_t def;
  Rule rule;
  int32_t lo;
  int32_t hi;
};

// The trims load with the range the settings window offers (-12..+12 dB), so
// a saved trim comes back as it was saved; the master gain keeps -6..+6. An
// "LFE Cutoff" below the window's 20 Hz loads as the default, like one above 200.
constexpr FieldRule kFields[] = {
    {"Mode", &Config::Mode, 2, Rule::AboveToDefault, 0, 4},
    {"Master Gain", &Config::MasterGain, 0, Rule::ClampGain, -6, 6},
    {"Surround Mode", &Config::SurroundMode, 1, Rule::AboveToDefault, 0, 1},
    {"Centre Weight", &Config::CentreWeight, 100, Rule::CapUnsigned, 0, 100},
    {"Surround Delay Music", &Config::SurroundDelayMusic, 0, Rule::CapUnsigned, 0, 100},
    {"Surround Delay Movie", &Config::SurroundDelayMovie, 10, Rule::CapThenFloor, 10, 100},
    {"Music Surround Shelf", &Config::MusicSurroundShelf, 0, Rule::Bool, 0, 1},
    {"Headphones Mode", &Config::HeadphonesMode, 0, Rule::MaxToDefault, 0, 2},
    {"Headphones Decode Music", &Config::HeadphonesDecodeMusic, 1, Rule::Bool, 0, 1},
    {"Headphones Decode Movie", &Config::HeadphonesDecodeMovie, 1, Rule::Bool, 0, 1},
    {"Delay L", &Config::DelayL, 0, Rule::CapUnsigned, 0, 100},
    {"Delay R", &Config::DelayR, 0, Rule::CapUnsigned, 0, 100},
    {"Delay C", &Config::DelayC, 0, Rule::CapUnsigned, 0, 100},
    {"Delay Sub", &Config::DelaySub, 0, Rule::CapUnsigned, 0, 100},
    {"Delay SL", &Config::DelaySL, 0, Rule::CapUnsigned, 0, 100},
    {"Delay SR", &Config::DelaySR, 0, Rule::CapUnsigned, 0, 100},
    {"Trim L", &Config::TrimL, 0, Rule::ClampGain, -12, 12},
    {"Trim R", &Config::TrimR, 0, Rule::ClampGain, -12, 12},
    {"Trim C", &Config::TrimC, 0, Rule::ClampGain, -12, 12},
    {"Trim Sub", &Config::TrimSub, 0, Rule::ClampGain, -12, 12},
    {"Trim SL", &Config::TrimSL, 0, Rule::ClampGain, -12, 12},
    {"Trim SR", &Config::TrimSR, 0, Rule::ClampGain, -12, 12},
    {"LFE Redir", &Config::LFERedir, 0, Rule::Bool, 0, 1},
    {"LFE Invert", &Config::LFEInvert, 0, Rule::Bool, 0, 1},
    {"LFE Cutoff", &Config::LFECutoff, 120, Rule::OutsideToDefault, 20, 200},
    {"SSE2 Enable", &Config::SSE2Enable, 1, Rule::Bool, 0, 1},
    {"CUDA Enable", &Config::CUDAEnable, 1, Rule::Bool, 0, 1},
    {"Slave Res", &Config::SlaveRes, 16, Rule::OneOf, 16, 24},
    {"Last Tab", &Config::LastTab, 0, Rule::AsStored, 0, 0},
    {"Show Icon", &Config::ShowIcon, 1, Rule::Bool, 0, 1},
    {"Show Icon Playing", &Config::ShowIconPlaying, 0, Rule::Bool, 0, 1},
    {"Show Decoder Inactive", &Config::ShowDecoderInactive, 1, Rule::Bool, 0, 1},
};

constexpr const char* kSlaveValue = "Slave Module";

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

void LoadConfig(Config& c) {
  std::unique_ptr<RegistryKey> key = RegistryKey::Open(kRegistryKey);
  for (const FieldRule& f : kFields) {
    uint32_t raw = 0;
    uint32_t size = sizeof(raw);
    RegType type{};
    const bool ok = key && key->Query(f.name, &type, &raw, &size) == platform::kRegOk && size == sizeof(raw);
    CfgSet(c.*(f.field), ok ? ApplyRule(f, raw) : f.def);
  }
  char16_t path[kSlavePathChars] = {};
  uint32_t size = sizeof(path);
  RegType type{};
  if (key && key->Query(kSlaveValue, &type, path, &size) == platform::kRegOk) {
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
