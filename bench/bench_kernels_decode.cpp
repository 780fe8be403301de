// Throughput of the loudspeaker-processing kernels (filter primitives,
// decoders, encoder, bass redirection) in both back ends, on 576-frame chunks,
// and of whole chunks through CSNLib::ProcessChunk per mode.
//
// Items are frames: items_per_second is frames per second on one core, and
// "realtime" is that divided by 48000, how many 48 kHz streams one core keeps
// up with. Every iteration first restores the chunk from its source (an
// 18 KiB copy, measured alone as Copy576) so that repeated in-place processing
// never decays into denormals.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "config/Config.h"
#include "engine/Backend.h"
#include "engine/DspState.h"
#include "engine/SNLib.h"

namespace sn {
namespace {

constexpr uint32_t kFrames = 576;
constexpr double kRate = 48000.0;

Config& Settings() {
  static Config cfg = DefaultConfig();
  return cfg;
}

// Engine set-up and a source chunk of noise at -3 dB full scale whose r
// follows l loosely, so the active decoder steers.
struct Setup {
  SNChunk source{}, work{}, band{}, rest{};
  SNBuffer<float> vec{};
  Setup() {
    Dsp.ActiveConfig.store(&Settings(), std::memory_order_relaxed);
    CSNLib::CalcStaticConstants(48000);
    Dsp.Constants.Latch();
    source.Resize(kFrames);
    work.Resize(kFrames);
    vec.Resize(kFrames);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> d(-0.707f, 0.707f);
    for (uint32_t i = 0; i < kFrames; ++i) {
      float* f = source.data[i].lane;
      for (int l = 0; l < 8; ++l) f[l] = d(rng);
      f[1] = 0.6f * f[0] + 0.4f * f[1];
    }
  }
  void Refill() { std::memcpy(static_cast<void*>(work.data), source.data, kFrames * sizeof(SNCHUNK_INTCHUNK)); }
};

Setup& S() {
  static Setup s;
  return s;
}

CSNFn& Kernels(int sse2) {
  return sse2 ? static_cast<CSNFn&>(*sn::KernelsOf(sn::BackEnd::Sse2)) : static_cast<CSNFn&>(*sn::KernelsOf(sn::BackEnd::Scalar));
}

void Finish(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kFrames / kRate, benchmark::Counter::kIsRate);
}

void Copy576(benchmark::State& state) {
  Setup& s = S();
  for (auto _ : state) {
    s.Refill();
    benchmark::DoNotOptimize(s.work.data);
    benchmark::ClobberMemory();
  }
  Finish(state);
}
BENCHMARK(Copy576);

template <class Op>
void RunKernel(benchmark::State& state, Op op) {
  Setup& s = S();
  CSNLib::ResetDSP();
  CSNFn& k = Kernels(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    s.Refill();
    op(k, s);
    benchmark::ClobberMemory();
  }
  Finish(state);
  state.SetLabel(state.range(0) ? "SSE2" : "scalar");
}

void DecodeActive(benchmark::State& st) {
  RunKernel(st, [](CSNFn& k, Setup& s) { CSNLib::DecodeActive(k, s.work); });
}
void ComputeSteering(benchmark::State& st) {
  RunKernel(st, [](CSNFn& k, Setup& s) {
    k.ComputeSteering(Dsp.K().SteerLp795, Dsp.DecoderState[4], Dsp.DecoderState[3], s.work, Dsp.DecoderBuffers.SteerLR1, Dsp.DecoderBuffers.SteerCS1);
  });
}
void DecodePassive(benchmark::State& st) {
  RunKernel(st, [](CSNFn& k, Setup& s) { k.DecodePassive(s.work); });
}
void EncodeMatrix(benchmark::State& st) {
  RunKernel(st, [](CSNFn& k, Setup& s) { CSNLib::EncodeMatrix(k, s.work); });
}
void SurroundPhaseShift(benchmark::State& st) {
  RunKernel(st, [](CSNFn& k, Setup& s) { k.SurroundPhaseShift(Dsp.EncoderState[0], s.work); });
}
void FilterMono(benchmark::State& st) {
  RunKernel(st, [](CSNFn& k, Setup& s) {
    for (uint32_t i = 0; i < kFrames; ++i) s.vec.data[i] = s.work.data[i].lane[0];
    k.FilterMono(Dsp.K().SteerHp1200, Dsp.EncoderState[1], s.vec);
  });
}
void FilterSurround(benchmark::State& st) {
  RunKernel(st, [](CSNFn& k, Setup& s) { k.FilterSurround(Dsp.K().SurroundHp100, Dsp.EncoderState[2], s.work); });
}
void SplitFront(benchmark::State& st) {
  RunKernel(st, [](CSNFn& k, Setup& s) {
    k.SplitFront(Dsp.K().SteerHp1200, Dsp.DecoderState[5], s.work, s.band, s.rest);
  });
}
void RedirectBass(benchmark::State& st) {
  RunKernel(st, [](CSNFn& k, Setup& s) { k.RedirectBass(Dsp.K().LfeCrossoverHp, Dsp.BassState, s.work); });
}

BENCHMARK(DecodeActive)->Arg(0)->Arg(1);
BENCHMARK(ComputeSteering)->Arg(0)->Arg(1);
BENCHMARK(DecodePassive)->Arg(0)->Arg(1);
BENCHMARK(EncodeMatrix)->Arg(0)->Arg(1);
BENCHMARK(SurroundPhaseShift)->Arg(0)->Arg(1);
BENCHMARK(FilterMono)->Arg(0)->Arg(1);
BENCHMARK(FilterSurround)->Arg(0)->Arg(1);
BENCHMARK(SplitFront)->Arg(0)->Arg(1);
BENCHMARK(RedirectBass)->Arg(0)->Arg(1);

// Whole chunks through the engine: args are mode, SSE2 on/off, source channels,
// Music (1) or Movie (0), bass redirection on/off.
void ProcessChunk(benchmark::State& state) {
  Setup& s = S();
  Config& cfg = Settings();
  CfgSet(cfg.Mode, static_cast<int32_t>(state.range(0)));
  CfgSet(cfg.SSE2Enable, static_cast<int32_t>(state.range(1)));
  const int channels = static_cast<int>(state.range(2));
  CfgSet(cfg.SurroundMode, static_cast<int32_t>(state.range(3)));
  CfgSet(cfg.LFERedir, static_cast<int32_t>(state.range(4)));
  CSNLib::CalcStaticConstants(48000);
  CSNLib::ResetDSP();
  CSNLib engine;
  for (auto _ : state) {
    s.Refill();
    engine.ProcessChunk(channels, s.work);
    benchmark::ClobberMemory();
  }
  Finish(state);
  static const char* const kModes[] = {"bypass", "passive", "active", "headphones", "encoder"};
  std::string label = std::string(kModes[state.range(0)]) + (state.range(1) ? " SSE2" : " scalar");
  if (state.range(0) == kModeActive) label += state.range(3) ? " music" : " movie";
  if (state.range(4)) label += " +bass";
  state.SetLabel(label);
  CfgSet(cfg.LFERedir, 0);
}

BENCHMARK(ProcessChunk)
    ->ArgNames({"mode", "sse2", "ch", "music", "bass"})
    ->Args({0, 0, 2, 0, 0})->Args({0, 1, 2, 0, 0})
    ->Args({1, 0, 2, 0, 0})->Args({1, 1, 2, 0, 0})
    ->Args({2, 0, 2, 0, 0})->Args({2, 1, 2, 0, 0})
    ->Args({2, 0, 2, 1, 0})->Args({2, 1, 2, 1, 0})
    ->Args({4, 0, 6, 0, 0})->Args({4, 1, 6, 0, 0})
    ->Args({2, 0, 2, 0, 1})->Args({2, 1, 2, 0, 1})
    ->Args({4, 0, 6, 0, 1})->Args({4, 1, 6, 0, 1});

}  // namespace
}  // namespace sn
