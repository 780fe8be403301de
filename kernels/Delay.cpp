// The channel delay stage, shared by both back ends (bit-identical: it only
// moves samples).
//
// Each lane 0..5 has a delay line in Dsp.DelayLines: count N is the delay in
// samples (0: none), position the slot of the oldest sample. Per frame a line
// swaps the lane's sample with data[position] and advances the position modulo
// N, so its first N outputs after being set are 0.0 and then the input of N
// frames earlier.
//
// Line lengths. All channels (allChannels != 0): the Music table when
// SurroundMode is 1, else the Movie table. Headphone form (allChannels == 0):
// L, R, C and LFE undelayed (count 0, storage kept), SL and SR by the surround
// delay of the headphone variant in use when its decode switch is on, else
// undelayed. A line whose length changes restarts from silence; a line that
// keeps its length keeps its history across chunks and calls.
//
// DSP thread only. Allocates only when a line grows beyond its storage; if that
// fails the line stays at count 0 (undelayed) and is retried on the next chunk.
#include <algorithm>

#include "engine/DspState.h"
#include "kernels/SNFn.h"

namespace sn {

namespace {

void SetLine(SNBuffer<float>& line, uint32_t n) {
  if (line.count != n) line.Resize(n, true);
}

void Bypass(SNBuffer<float>& line) {
  line.count = 0;
  line.position = 0;
}

// One lane through its line, in runs up to the wrap point.
void DelayLane(SNBuffer<float>& line, SNCHUNK_INTCHUNK* frames, uint32_t count, int lane) {
  const uint32_t n = line.count;
  if (n == 0 || !line.data) return;
  float* data = line.data;
  uint32_t pos = static_cast<uint32_t>(line.position);
  if (pos >= n) pos = 0;
  uint32_t i = 0;
  while (i < count) {
    const uint32_t run = std::min(n - pos, count - i);
    for (uint32_t j = 0; j < run; ++j) {
      float& x = frames[i + j].lane[lane];
      const float out = data[pos + j];
      data[pos + j] = x;
      x = out;
    }
    i += run;
    pos += run;
    if (pos == n) pos = 0;
  }
  line.position = static_cast<int32_t>(pos);
}

}  // namespace

void DelayChannelsShared(SNChunk& chunk, int allChannels) {
  const DspConstants& k = Dsp.K();
  const Config& cfg = Dsp.Cfg();
  SNBuffer<float>* lines = Dsp.DelayLines;
  if (allChannels) {
    const uint32_t* lengths = CfgGet(cfg.SurroundMode) == 1 ? k.DelaySamplesMusic : k.DelaySamplesMovie;
    for (int l = 0; l < 6; ++l) SetLine(lines[l], lengths[l]);
  } else {
    for (int l = 0; l < 4; ++l) Bypass(lines[l]);
    const bool movie = CfgGet(cfg.HeadphonesMode) != 0;
    const bool enabled = movie ? CfgGet(cfg.HeadphonesDecodeMovie) != 0 : CfgGet(cfg.HeadphonesDecodeMusic) != 0;
    const uint32_t surround = movie ? k.SurroundDelaySamplesMovie : k.SurroundDelaySamplesMusic;
    for (int l = 4; l < 6; ++l) {
      if (enabled)
        SetLine(lines[l], surround);
      else
        Bypass(lines[l]);
    }
  }
  if (!chunk.data) return;
  for (int l = 0; l < 6; ++l) DelayLane(lines[l], chunk.data, chunk.count, l);
}

}  // namespace sn
