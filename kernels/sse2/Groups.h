// Four-frame groups for the SSE2 kernels that work across frames.
//
// ForEachGroup calls fn(frames, first) for every group of four frames of the
// chunk, in order; a last partial group is staged through a local group whose
// missing frames are silent, and only the chunk's own frames are copied back,
// so no frame past the chunk's count is read or written.
#pragma once

#include <cstring>

// For the per-group bodies: inlined into their loop, the loop-invariant vector
// constants are built once per call rather than once per group.
#if defined(__GNUC__)
#define SN_GROUP_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define SN_GROUP_INLINE __forceinline
#else
#define SN_GROUP_INLINE inline
#endif

#include "kernels/SNFn.h"

namespace sn::sse2 {

struct alignas(16) FrameGroup {
  SNCHUNK_INTCHUNK f[4];
};

template <class Fn>
SN_GROUP_INLINE void ForEachGroup(SNChunk& chunk, Fn&& fn) {
  const uint32_t n = chunk.count;
  FrameGroup staged;
  for (uint32_t i = 0; i < n; i += 4) {
    SNCHUNK_INTCHUNK* f = chunk.data + i;
    const size_t partial = n - i < 4 ? static_cast<size_t>(n - i) * sizeof(SNCHUNK_INTCHUNK) : 0;
    if (partial) {
      std::memset(static_cast<void*>(staged.f), 0, sizeof(staged.f));
      std::memcpy(static_cast<void*>(staged.f), f, partial);
      f = staged.f;
    }
    fn(f, i);  // one call site, so the body is inlined into the loop
    if (partial) std::memcpy(static_cast<void*>(chunk.data + i), staged.f, partial);
  }
}

}  // namespace sn::sse2
