// Throughput of the sample-format conversions and the room stages (gain and
// trims, delays) in both back ends, in frames per second, on the engine's usual
// chunk of 576 frames and on a long block of 8192.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "config/Config.h"
#include "engine/Backend.h"
#include "engine/DspState.h"
#include "engine/SNLib.h"

namespace {

using namespace sn;

// The settings these benchmarks run under: defaults, the LFE inverted (so not
// every factor is 1), delays of 5 to 30 ms on the six channels.
Config& BenchConfig() {
  static Config cfg = [] {
    Config c = DefaultConfig();
    c.LFEInvert = 1;
    c.DelayL = 5, c.DelayR = 10, c.DelayC = 15, c.DelaySub = 20, c.DelaySL = 25, c.DelaySR = 30;
    return c;
  }();
  return cfg;
}

void UseSettings(bool delays = true) {
  Config& c = BenchConfig();
  const int32_t on = delays ? 1 : 0;
  c.DelayL = 5 * on, c.DelayR = 10 * on, c.DelayC = 15 * on, c.DelaySub = 20 * on, c.DelaySL = 25 * on,
  c.DelaySR = 30 * on, c.SurroundDelayMovie = 10 * on;
  Dsp.ActiveConfig.store(&c, std::memory_order_relaxed);
  CSNLib::CalcStaticConstants(48000);
  Dsp.Constants.Latch();
}

struct Chunk {
  SNChunk buf{};
  explicit Chunk(uint32_t n, uint32_t seed = 1) {
    buf.Init();
    buf.Resize(n);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.9f, 0.9f);
    for (uint32_t i = 0; i < n; ++i)
      for (float& x : buf.data[i].lane) x = d(rng);
  }
  ~Chunk() { buf.Release(); }
};

struct BackEndRef {
  const char* name;
  CSNFn& k;
};
BackEndRef BackEnds(int i) { return i ? BackEndRef{"SSE2", *sn::KernelsOf(sn::BackEnd::Sse2)} : BackEndRef{"x87", *sn::KernelsOf(sn::BackEnd::Scalar)}; }

using Format = InputFormat;
constexpr auto& kFormats = kInputFormats;

void Frames(benchmark::State& state, uint32_t n) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}

void Register(const std::string& name, void (*body)(benchmark::State&, int, int), int backEnd, int what) {
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) { body(s, backEnd, what); })
      ->Arg(576)
      ->Arg(8192);
}

void Input(benchmark::State& state, int b, int f) {
  UseSettings();
  const Format& fmt = kFormats[f];
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  std::mt19937 rng(3);
  std::vector<uint8_t> src(static_cast<size_t>(n) * fmt.channels * (fmt.bits / 8));
  for (auto& x : src) x = static_cast<uint8_t>(rng());
  Chunk out(n);
  CSNFn& k = BackEnds(b).k;
  for (auto _ : state) {
    (k.*fmt.convert)(src.data(), n, out.buf);
    benchmark::DoNotOptimize(out.buf.data);
    benchmark::ClobberMemory();
  }
  Frames(state, n);
}

void Silence(benchmark::State& state, int b, int) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  Chunk out(n);
  CSNFn& k = BackEnds(b).k;
  for (auto _ : state) {
    k.ConvertSilence(n, out.buf);
    benchmark::ClobberMemory();
  }
  Frames(state, n);
}

void Output(benchmark::State& state, int b, int bits) {
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  Chunk in(n);
  CSNFn& k = BackEnds(b).k;
  SNBuffer<OutFrame16> o16{};
  SNBuffer<OutFrame24> o24{};
  for (auto _ : state) {
    if (bits == 16)
      k.ConvertToOutput16(in.buf, o16);
    else
      k.ConvertToOutput24(in.buf, o24);
    benchmark::ClobberMemory();
  }
  o16.Release();
  o24.Release();
  Frames(state, n);
}

void Gain(benchmark::State& state, int b, int withTrims) {
  UseSettings();
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  Chunk c(n);
  CSNFn& k = BackEnds(b).k;
  for (auto _ : state) {
    CSNLib::ApplyGain(k, c.buf, withTrims);
    benchmark::ClobberMemory();
  }
  Frames(state, n);
}

// The delay stage is one routine for both back ends; `delays` 0 measures the
// stage with every line at length 0.
void Delay(benchmark::State& state, int, int delays) {
  CSNLib::ResetDSP();
  UseSettings(delays != 0);
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  Chunk c(n);
  for (auto _ : state) {
    CSNLib::DelayChannels(*sn::KernelsOf(sn::BackEnd::Scalar), c.buf, true);
    benchmark::ClobberMemory();
  }
  Frames(state, n);
  CSNLib::ResetDSP();
}

const bool kRegistered = [] {
  for (int b = 0; b < 2; ++b) {
    const std::string be = BackEnds(b).name;
    for (int f = 0; f < static_cast<int>(std::size(kFormats)); ++f)
      Register(std::string("Room/Convert") + kFormats[f].name + "/" + be, Input, b, f);
    Register("Room/ConvertSilence/" + be, Silence, b, 0);
    Register("Room/ConvertToOutput16/" + be, Output, b, 16);
    Register("Room/ConvertToOutput24/" + be, Output, b, 24);
    Register("Room/ApplyGain/trims/" + be, Gain, b, 1);
    Register("Room/ApplyGain/headphones/" + be, Gain, b, 0);
  }
  Register("Room/DelayChannels/5-40ms/shared", Delay, 0, 1);
  Register("Room/DelayChannels/none/shared", Delay, 0, 0);
  return true;
}();

}  // namespace
