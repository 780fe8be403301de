// Headphone rendering on the CPU: the cost of one block's convolutions, and
// the realtime factor of a six-channel 48 kHz stream through the engine in the
// host's chunk size, per back end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "config/Config.h"
#include "engine/DspState.h"
#include "engine/HeadphoneRenderer.h"
#include "engine/SNLib.h"

namespace {

using namespace sn;

constexpr uint32_t kRate = 48000;
constexpr uint32_t kChunk = 576;            // frames per Write of a typical decoder
constexpr uint32_t kChunksPerIteration = 128;  // 73728 frames, exactly nine blocks

// Over repetitions, the least disturbed run on a shared machine: "min" for
// times, "max" for rates such as "realtime".
double Smallest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }
double Largest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); }

Config& BenchConfig(int sse2) {
  static Config cfg;
  cfg = DefaultConfig();
  CfgSet(cfg.Mode, static_cast<int32_t>(kModeHeadphones));
  CfgSet(cfg.SSE2Enable, static_cast<int32_t>(sse2));
  Dsp.ActiveConfig.store(&cfg, std::memory_order_relaxed);
  CSNLib::PrepareStream(kRate);
  CSNLib::CalcStaticConstants(kRate);
  Dsp.Constants.Latch();
  return cfg;
}

// The convolutions of one 8192-frame block with five live feeds (5 forward and
// 2 inverse transforms of 16384 points, 10 x 8193 complex products).
void BM_HeadphoneConvolveBlock(benchmark::State& state) {
  BenchConfig(1);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> dist(-0.7f, 0.7f);
  const float* feeds[kConvolverFeeds];
  for (int f = 0; f < kConvolverFeeds; ++f) {
    for (uint32_t i = 0; i < kHeadphoneBlock; ++i) Dsp.ChannelFifo[f].data[i] = dist(rng);
    feeds[f] = Dsp.ChannelFifo[f].data;
  }
  IBlockConvolver& conv = CpuConvolver();
  for (auto _ : state) {
    conv.ConvolveBlock(0, feeds, Dsp.EarL.data, Dsp.EarR.data);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kHeadphoneBlock);
}
BENCHMARK(BM_HeadphoneConvolveBlock)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Smallest);

// A six-channel 48 kHz stream rendered to two ears through ProcessChunk, 576
// frames per call; "realtime" is seconds of audio per second of processing.
void BM_HeadphoneStream6ch48k(benchmark::State& state) {
  const int sse2 = static_cast<int>(state.range(0));
  if (sse2 && !CSNLib::IsSSE2Supported()) {
    state.SkipWithError("no SSE2");
    return;
  }
  BenchConfig(sse2);
  CSNLib engine;
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> dist(-0.707f, 0.707f);
  std::vector<SNCHUNK_INTCHUNK> source(kChunk);
  for (auto& f : source)
    for (int l = 0; l < 8; ++l) f.lane[l] = l < 6 ? dist(rng) : 0.0f;
  SNChunk chunk;
  chunk.Init();
  // Warm up: data built, buffers grown to a block.
  for (uint32_t c = 0; c < 2 * kHeadphoneBlock / kChunk + 1; ++c) {
    chunk.Resize(kChunk);
    std::memcpy(static_cast<void*>(chunk.data), source.data(), kChunk * sizeof(SNCHUNK_INTCHUNK));
    engine.ProcessChunk(6, chunk);
  }
  for (auto _ : state) {
    for (uint32_t c = 0; c < kChunksPerIteration; ++c) {
      chunk.Resize(kChunk);
      std::memcpy(static_cast<void*>(chunk.data), source.data(), kChunk * sizeof(SNCHUNK_INTCHUNK));
      engine.ProcessChunk(6, chunk);
      benchmark::DoNotOptimize(chunk.data);
    }
  }
  const double frames = static_cast<double>(state.iterations()) * kChunksPerIteration * kChunk;
  state.counters["realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
  state.SetItemsProcessed(static_cast<int64_t>(frames));
  chunk.Release();
  CSNLib::ResetDSP();
}
BENCHMARK(BM_HeadphoneStream6ch48k)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("sse2")
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Smallest)
    ->ComputeStatistics("max", Largest);

}  // namespace
