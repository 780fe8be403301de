// The six-channel 48 kHz stream the headphone benchmarks render: one chunk of
// noise handed to ProcessChunk again and again in the host's 576-frame size,
// after a warm-up of two blocks. Construct it after the settings are in place.
#pragma once

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/SNLib.h"

namespace sn::bench {

class HeadphoneStream {
 public:
  static constexpr uint32_t kRate = 48000;
  static constexpr uint32_t kChunk = 576;                 // frames per Write of a typical decoder
  static constexpr uint32_t kChunksPerIteration = 128;  // 73728 frames, exactly nine blocks

  HeadphoneStream() : source_(kChunk) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-0.707f, 0.707f);
    for (auto& f : source_)
      for (int l = 0; l < 8; ++l) f.lane[l] = l < 6 ? dist(rng) : 0.0f;
    chunk_.Init();
    for (uint32_t c = 0; c < 2 * kHeadphoneBlock / kChunk + 1; ++c) Step();
  }
  ~HeadphoneStream() {
    chunk_.Release();
    CSNLib::ResetDSP();
  }
  HeadphoneStream(const HeadphoneStream&) = delete;
  HeadphoneStream& operator=(const HeadphoneStream&) = delete;

  // One benchmark iteration: kChunksPerIteration chunks.
  void Iteration() {
    for (uint32_t c = 0; c < kChunksPerIteration; ++c) {
      Step();
      benchmark::DoNotOptimize(chunk_.data);
    }
  }
  // Frames rendered and the "realtime" counter (seconds of audio per second).
  static void Report(benchmark::State& state) {
    const double frames = static_cast<double>(state.iterations()) * kChunksPerIteration * kChunk;
    state.counters["realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(static_cast<int64_t>(frames));
  }

 private:
  void Step() {
    chunk_.Resize(kChunk);
    std::memcpy(static_cast<void*>(chunk_.data), source_.data(), kChunk * sizeof(SNCHUNK_INTCHUNK));
    engine_.ProcessChunk(6, chunk_);
  }

  std::vector<SNCHUNK_INTCHUNK> source_;
  SNChunk chunk_;
  CSNLib engine_;
};

}  // namespace sn::bench
