// Level figures of the stream an output module received, for a player that
// shows them. A module offers them through one optional export beside
// winampGetOutModule:
//
//   extern "C" int sonavelOutputStats(OutputStats* out);
//
// It fills `out` with the figures of the stream opened last (they stay after
// Close, until the next Open) and returns 1, or returns 0 before any Open.
// The figures are of the bytes as the module received them, before its own
// volume or pan.
#pragma once

#include <stdint.h>

#define OUTPUT_STATS_EXPORT "sonavelOutputStats"
#define OUTPUT_STATS_CHANNELS 8  // figures for the first eight channels

typedef struct OutputStats {
  int32_t channels;       // of the stream
  int32_t bitsPerSample;  // 8 (unsigned), 16, 24 or 32 (signed little-endian)
  int64_t frames;         // whole frames received
  // Per channel: the largest magnitude in codes (the most negative code counts
  // as 2^(bits-1)), the sum of the squared codes, and the samples at either
  // end of the code range.
  int64_t peak[OUTPUT_STATS_CHANNELS];
  double sumSquares[OUTPUT_STATS_CHANNELS];
  int64_t clipped[OUTPUT_STATS_CHANNELS];
} OutputStats;

typedef int (*OutputStatsFn)(OutputStats* out);

#ifdef __cplusplus
#include <atomic>
#include <cstddef>

// The accumulator behind the export. Reset and Add run on the thread that
// writes the stream; Read may run on any thread at any time (the figures are
// relaxed atomics, so a read during a Write may mix that Write's figures with
// the previous ones). Never allocates, never locks.
class LevelMeter {
 public:
  void Reset(int channels, int bits) {
    for (int c = 0; c < OUTPUT_STATS_CHANNELS; ++c) {
      peak_[c].store(0, std::memory_order_relaxed);
      sum_[c].store(0.0, std::memory_order_relaxed);
      clipped_[c].store(0, std::memory_order_relaxed);
    }
    frames_.store(0, std::memory_order_relaxed);
    bits_.store(bits, std::memory_order_relaxed);
    channels_.store(channels, std::memory_order_relaxed);
  }

  // Interleaved little-endian PCM of the format given to Reset; whole frames only.
  void Add(const unsigned char* pcm, size_t frames) {
    const int channels = channels_.load(std::memory_order_relaxed);
    const int bits = bits_.load(std::memory_order_relaxed);
    const int bytes = bits / 8;
    if (channels <= 0 || bytes < 1 || bytes > 4) return;
    const int64_t lo = -(int64_t{1} << (bits - 1));
    const int64_t hi = (int64_t{1} << (bits - 1)) - 1;
    const int used = channels < OUTPUT_STATS_CHANNELS ? channels : OUTPUT_STATS_CHANNELS;
    int64_t peak[OUTPUT_STATS_CHANNELS] = {};
    double sum[OUTPUT_STATS_CHANNELS] = {};
    int64_t clipped[OUTPUT_STATS_CHANNELS] = {};
    const size_t frameBytes = static_cast<size_t>(channels) * bytes;
    for (size_t f = 0; f < frames; ++f) {
      const unsigned char* p = pcm + f * frameBytes;
      for (int c = 0; c < used; ++c, p += bytes) {
        const int64_t v = Code(p, bits);
        const int64_t mag = v < 0 ? -v : v;
        if (mag > peak[c]) peak[c] = mag;
        sum[c] += static_cast<double>(v) * static_cast<double>(v);
        clipped[c] += (v == lo || v == hi);
      }
    }
    for (int c = 0; c < used; ++c) {
      if (peak[c] > peak_[c].load(std::memory_order_relaxed)) peak_[c].store(peak[c], std::memory_order_relaxed);
      sum_[c].store(sum_[c].load(std::memory_order_relaxed) + sum[c], std::memory_order_relaxed);
      clipped_[c].store(clipped_[c].load(std::memory_order_relaxed) + clipped[c], std::memory_order_relaxed);
    }
    frames_.store(frames_.load(std::memory_order_relaxed) + static_cast<int64_t>(frames),
                  std::memory_order_relaxed);
  }

  // 0 before the first Reset.
  int Read(OutputStats* out) const {
    if (!out) return 0;
    *out = OutputStats{};
    out->channels = channels_.load(std::memory_order_relaxed);
    if (out->channels <= 0) return 0;
    out->bitsPerSample = bits_.load(std::memory_order_relaxed);
    out->frames = frames_.load(std::memory_order_relaxed);
    for (int c = 0; c < OUTPUT_STATS_CHANNELS; ++c) {
      out->peak[c] = peak_[c].load(std::memory_order_relaxed);
      out->sumSquares[c] = sum_[c].load(std::memory_order_relaxed);
      out->clipped[c] = clipped_[c].load(std::memory_order_relaxed);
    }
    return 1;
  }

  // One sample as a signed code; 8-bit PCM is unsigned with 128 as zero.
  static int64_t Code(const unsigned char* p, int bits) {
    switch (bits) {
      case 8: return static_cast<int64_t>(p[0]) - 128;
      case 16: return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
      case 24: {
        const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) << 8);
        return v >> 8;
      }
      default:
        return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                    static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
    }
  }

 private:
  std::atomic<int32_t> channels_{0};
  std::atomic<int32_t> bits_{0};
  std::atomic<int64_t> frames_{0};
  std::atomic<int64_t> peak_[OUTPUT_STATS_CHANNELS] = {};
  std::atomic<double> sum_[OUTPUT_STATS_CHANNELS] = {};
  std::atomic<int64_t> clipped_[OUTPUT_STATS_CHANNELS] = {};
};
#endif
