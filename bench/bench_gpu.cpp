// Headphone rendering on the GPU: one block's convolutions through the GPU
// helper module, whole and by stage (upload, forward transform, products,
// inverse transform, download, as the device's events time them), and the
// realtime factor of a six-channel 48 kHz stream through the engine with CUDA
// on. The CPU figures are BM_HeadphoneConvolveBlock and BM_HeadphoneStream6ch48k
// (bench_headphones.cpp). Without a CUDA device each reports that it skipped.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "config/Config.h"
#include "engine/DspState.h"
#include "engine/GpuConvolver.h"
#include "engine/HeadphoneRenderer.h"
#include "engine/SNLib.h"

namespace {

using namespace sn;

constexpr uint32_t kRate = 48000;
constexpr uint32_t kChunk = 576;
constexpr uint32_t kChunksPerIteration = 128;  // 73728 frames, exactly nine blocks

double Smallest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }
double Largest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); }

// Headphone settings at 48 kHz with CUDA on, the engine prepared; false (and
// the benchmark skipped) without a GPU.
bool GpuConfig(benchmark::State& state) {
  static Config cfg;
  cfg = DefaultConfig();
  CfgSet(cfg.Mode, static_cast<int32_t>(kModeHeadphones));
  CfgSet(cfg.SSE2Enable, int32_t{1});
  CfgSet(cfg.CUDAEnable, int32_t{1});
  Dsp.ActiveConfig.store(&cfg, std::memory_order_relaxed);
  CSNLib::PrepareStream(kRate);
  CSNLib::CalcStaticConstants(kRate);
  Dsp.Constants.Latch();
  if (!GpuPathInUse()) {
    static const std::string why = std::string("needs a CUDA device; ") + GpuDescription();
    state.SkipWithError(why.c_str());
    return false;
  }
  return true;
}

const float* const* RandomFeeds() {
  static const float* feeds[kConvolverFeeds];
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> dist(-0.7f, 0.7f);
  for (int f = 0; f < kConvolverFeeds; ++f) {
    for (uint32_t i = 0; i < kHeadphoneBlock; ++i) Dsp.ChannelFifo[f].data[i] = dist(rng);
    feeds[f] = Dsp.ChannelFifo[f].data;
  }
  return feeds;
}

// One block of five live feeds on the GPU, as the renderer waits for it.
void BM_GpuConvolveBlock(benchmark::State& state) {
  if (!GpuConfig(state)) return;
  const float* const* feeds = RandomFeeds();
  GpuBlockConvolver& conv = GpuConvolver();
  for (auto _ : state) {
    if (!conv.ConvolveBlock(0, feeds, Dsp.EarL.data, Dsp.EarR.data)) {
      state.SkipWithError("the GPU failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kHeadphoneBlock);
}
BENCHMARK(BM_GpuConvolveBlock)->Unit(benchmark::kMicrosecond)->UseRealTime()->ComputeStatistics("min", Smallest);

// The same block with each stage timed on the device: the mean of each stage
// in microseconds ("upload_us" and so on). Timing adds events between stages,
// so the whole is a little slower than BM_GpuConvolveBlock.
void BM_GpuConvolveBlockStages(benchmark::State& state) {
  if (!GpuConfig(state)) return;
  const float* const* feeds = RandomFeeds();
  GpuBlockConvolver& conv = GpuConvolver();
  double sum[5] = {};
  for (auto _ : state) {
    SnCudaStageTimes t{};
    if (!conv.ConvolveBlockTimed(0, feeds, Dsp.EarL.data, Dsp.EarR.data, &t)) {
      state.SkipWithError("the GPU failed");
      break;
    }
    sum[0] += t.upload;
    sum[1] += t.forward;
    sum[2] += t.products;
    sum[3] += t.inverse;
    sum[4] += t.download;
  }
  const char* names[5] = {"upload_us", "forward_us", "products_us", "inverse_us", "download_us"};
  const double n = state.iterations() ? static_cast<double>(state.iterations()) : 1.0;
  for (int i = 0; i < 5; ++i) state.counters[names[i]] = sum[i] * 1000.0 / n;
}
BENCHMARK(BM_GpuConvolveBlockStages)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A six-channel 48 kHz stream rendered to two ears through ProcessChunk with
// the blocks on the GPU, 576 frames per call; "realtime" is seconds of audio
// per second of processing (wall time: the thread waits for the device).
void BM_HeadphoneStream6ch48kGpu(benchmark::State& state) {
  if (!GpuConfig(state)) return;
  CSNLib engine;
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> dist(-0.707f, 0.707f);
  std::vector<SNCHUNK_INTCHUNK> source(kChunk);
  for (auto& f : source)
    for (int l = 0; l < 8; ++l) f.lane[l] = l < 6 ? dist(rng) : 0.0f;
  SNChunk chunk;
  chunk.Init();
  for (uint32_t c = 0; c < 2 * kHeadphoneBlock / kChunk + 1; ++c) {
    chunk.Resize(kChunk);
    std::memcpy(static_cast<void*>(chunk.data), source.data(), kChunk * sizeof(SNCHUNK_INTCHUNK));
    engine.ProcessChunk(6, chunk);
  }
  const uint64_t blocksBefore = GpuConvolver().BlocksConvolved();
  for (auto _ : state) {
    for (uint32_t c = 0; c < kChunksPerIteration; ++c) {
      chunk.Resize(kChunk);
      std::memcpy(static_cast<void*>(chunk.data), source.data(), kChunk * sizeof(SNCHUNK_INTCHUNK));
      engine.ProcessChunk(6, chunk);
      benchmark::DoNotOptimize(chunk.data);
    }
  }
  if (GpuConvolver().BlocksConvolved() == blocksBefore) state.SkipWithError("no block went to the GPU");
  const double frames = static_cast<double>(state.iterations()) * kChunksPerIteration * kChunk;
  state.counters["realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
  state.SetItemsProcessed(static_cast<int64_t>(frames));
  chunk.Release();
  CSNLib::ResetDSP();
}
BENCHMARK(BM_HeadphoneStream6ch48kGpu)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", Smallest)
    ->ComputeStatistics("max", Largest);

}  // namespace
