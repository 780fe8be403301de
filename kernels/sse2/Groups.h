// Four-frame groups for the SSE2 kernels that work across frames.
//
// ForEachGroup calls fn(frames, first) for every group of four frames of the
// chunk, in order; a last partial group is staged through a local group whose
// missing frames are silent, and only the chunk's own frames are copied back,
// so no frame past the chunk's count is read or written.
#pragma once

#include <cstring>

#include "kernels/SNFn.h"

namespace sn::sse2 {

struct alignas(16) FrameGroup {
  SNCHUNK_INTCHUNK f[4];
};

template <class Fn>
inline void ForEachGroup(SNChunk& chunk, Fn&& fn) {
  const uint32_t n = chunk.count;
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) fn(chunk.data + i, i);
  if (i < n) {
    FrameGroup g{};
    const size_t bytes = static_cast<size_t>(n - i) * sizeof(SNCHUNK_INTCHUNK);
    std::memcpy(static_cast<void*>(g.f), chunk.data + i, bytes);
    fn(g.f, i);
    std::memcpy(static_cast<void*>(chunk.data + i), g.f, bytes);
  }
}

}  // namespace sn::sse2
