// A settings record with every field in range but off its default (and the
// given slave path), for the store's round-trip tests on every system.
#pragma once

#include "config/Config.h"

namespace sn::test {

inline Config EveryFieldOffDefault(const char16_t* slavePath) {
  Config c = DefaultConfig();
  c.Mode = 4;
  c.MasterGain = -5;
  c.SurroundMode = 0;
  c.CentreWeight = 63;
  c.SurroundDelayMusic = 17;
  c.SurroundDelayMovie = 99;
  c.MusicSurroundShelf = 1;
  c.HeadphonesMode = 1;
  c.HeadphonesDecodeMusic = 0;
  c.HeadphonesDecodeMovie = 0;
  c.DelayL = 1;
  c.DelayR = 2;
  c.DelayC = 3;
  c.DelaySub = 4;
  c.DelaySL = 5;
  c.DelaySR = 100;
  c.TrimL = -12;
  c.TrimR = 12;
  c.TrimC = -1;
  c.TrimSub = 6;
  c.TrimSL = -6;
  c.TrimSR = 3;
  c.LFERedir = 1;
  c.LFEInvert = 1;
  c.LFECutoff = 85;
  c.SSE2Enable = 0;
  c.CUDAEnable = 0;
  SetSlavePath(c, slavePath);
  c.SlaveRes = 24;
  c.LastTab = 5;
  c.ShowIcon = 0;
  c.ShowIconPlaying = 1;
  c.ShowDecoderInactive = 0;
  return c;
}

}  // namespace sn::test
