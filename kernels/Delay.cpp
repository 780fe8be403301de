// The channel delay stage, shared by both back ends (bit-identical: it only
// moves samples).
//
// Each lane 0..5 has a delay line: count N is the delay in samples (0: none),
// position the slot of the oldest sample. Per frame a line swaps the lane's
// sample with data[position] and advances the position modulo N, so its first
// N outputs after being set are what the line held (silence after the engine
// sets or clears it) and then the input of N frames earlier. The engine sets
// the lengths; this stage never allocates.
#include <algorithm>

#include "kernels/SNFn.h"

namespace sn {

namespace {

// One lane through its line, in runs up to the wrap point.
void DelayLane(DelayLine& line, SNCHUNK_INTCHUNK* frames, uint32_t count, int lane) {
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

void DelayChannelsShared(DelayLine lines[6], SNChunk& chunk) {
  if (!chunk.data) return;
  for (int l = 0; l < 6; ++l) DelayLane(lines[l], chunk.data, chunk.count, l);
}

}  // namespace sn
