// The settings' registry names, defaults and load rules, shared by the record's
// defaults and its store.
#pragma once

#include <cstdint>

#include "config/Config.h"

namespace sn::detail {

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
inline constexpr FieldRule kFields[] = {
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

inline constexpr const char* kSlaveValue = "Slave Module";

}  // namespace sn::detail
