#include "engine/HeadphoneRenderer.h"

#include <cstring>
#include <new>

#include "engine/BinauralTable.h"
#include "engine/CpuConvolver.h"
#include "engine/GpuConvolver.h"
#include "engine/SNLib.h"

namespace sn {

namespace {

// Never destroyed: the engine's destructor (a static object elsewhere, whose
// order of destruction relative to this file's is unknown) releases its memory.
// It lives in the module's own storage, not on the heap, so that unloading the
// module leaves nothing behind.
CpuBlockConvolver& Cpu() {
  alignas(CpuBlockConvolver) static unsigned char storage[sizeof(CpuBlockConvolver)];
  static CpuBlockConvolver* const convolver = new (storage) CpuBlockConvolver;
  return *convolver;
}

// Stores `count` frames from `src` into the feeds at block positions pos,
// pos + 1, ...: lane 0 + 2.235 lane 3, lane 1 + 2.235 lane 3, lane 2, lane 4,
// lane 5. Evaluated in double, rounded to float where stored.
void StoreFeeds(const SNCHUNK_INTCHUNK* src, uint32_t count, uint32_t pos) {
  float* f0 = Dsp.ChannelFifo[0].data + pos;
  float* f1 = Dsp.ChannelFifo[1].data + pos;
  float* f2 = Dsp.ChannelFifo[2].data + pos;
  float* f3 = Dsp.ChannelFifo[3].data + pos;
  float* f4 = Dsp.ChannelFifo[4].data + pos;
  const double lfe = kLfeFoldGain;
  for (uint32_t i = 0; i < count; ++i) {
    const float* l = src[i].lane;
    f0[i] = static_cast<float>(static_cast<double>(l[0]) + lfe * l[3]);
    f1[i] = static_cast<float>(static_cast<double>(l[1]) + lfe * l[3]);
    f2[i] = l[2];
    f3[i] = l[4];
    f4[i] = l[5];
  }
}

// One block's convolutions into EarL / EarR: on the GPU while its path is in
// use, else on the CPU, which also takes over a block the GPU fails (the feeds
// are still intact, so the stream goes on without a gap).
void ConvolveBlock(int set) {
  const float* feeds[kConvolverFeeds];
  for (int f = 0; f < kConvolverFeeds; ++f) feeds[f] = Dsp.ChannelFifo[f].data;
  if (GpuPathInUse() && GpuConvolver().ConvolveBlock(set, feeds, Dsp.EarL.data, Dsp.EarR.data)) return;
  Cpu().ConvolveBlock(set, feeds, Dsp.EarL.data, Dsp.EarR.data);
}

}  // namespace

IBlockConvolver& CpuConvolver() { return Cpu(); }

bool GpuPathInUse() {
  const Config* cfg = Dsp.ActiveConfig.load(std::memory_order_relaxed);
  return cfg && CfgGet(cfg->CUDAEnable) && GpuConvolver().Ready();
}

// The last non-zero tap of any response of `table`.
uint32_t LastNonZeroTap(const float* table) {
  uint32_t last = 0;
  for (int r = 0; r < kBinauralResponses; ++r) {
    const float* x = table + static_cast<size_t>(r) * kBinauralTaps;
    for (uint32_t i = kBinauralTaps; i-- > last + 1;)
      if (x[i] != 0.0f) {
        last = i;
        break;
      }
  }
  return last;
}

bool PrepareHeadphones(uint32_t sampleRate) {
  const float* table = BinauralTableFor(sampleRate);
  if (!table) return false;
  if (Dsp.HeadphoneReady && Dsp.HeadphoneRate == sampleRate) return true;
  bool ok = true;
  for (auto& fifo : Dsp.ChannelFifo) ok = fifo.Resize(kHeadphoneBlock, true) && ok;
  ok = Dsp.EarL.Resize(kHeadphoneFft, true) && ok;
  ok = Dsp.EarR.Resize(kHeadphoneFft, true) && ok;
  ok = Dsp.HeadphoneTail.Resize(kHeadphoneBlock, true) && ok;
  ok = Dsp.HeadphoneOut.Reserve(kHeadphoneBlock) && ok;
  const BinauralFilterSet filters{table, kBinauralTaps};
  ok = ok && Cpu().Prepare(filters);
  if (ok) PrepareGpuConvolver(filters);
  Dsp.HeadphoneTailFrames = ok ? LastNonZeroTap(table) : 0;
  Dsp.HeadphoneFill.store(0, std::memory_order_relaxed);
  // Short of memory the renderer stays unprepared and passes chunks through;
  // the next stream tries again.
  Dsp.HeadphoneRate = ok ? sampleRate : 0;
  Dsp.HeadphoneReady = ok ? 1 : 0;
  return ok;
}

bool HeadphonesRendering(int sourceChannels) {
  const uint32_t rate = Dsp.K().SampleRate;
  return (rate == 44100 || rate == 48000) && Dsp.HeadphoneReady &&
         (sourceChannels == 1 || sourceChannels == 2 || sourceChannels == 5 || sourceChannels == 6);
}

uint32_t HeadphoneFramesOwed(uint32_t delayed) {
  const uint32_t fill = Dsp.HeadphoneFill.load(std::memory_order_relaxed);
  if (fill == 0 && delayed == 0) {
    bool silent = true;
    const SNComplex* tail = Dsp.HeadphoneTail.data;
    for (uint32_t i = 0; silent && tail && i < Dsp.HeadphoneTail.count; ++i)
      silent = tail[i].re == 0.0f && tail[i].im == 0.0f;
    if (silent) return 0;
  }
  return fill + delayed + Dsp.HeadphoneTailFrames;
}

void ReleaseHeadphones() {
  Cpu().Release();
  GpuConvolver().Release();
  for (auto& fifo : Dsp.ChannelFifo) fifo.Release();
  Dsp.EarL.Release();
  Dsp.EarR.Release();
  Dsp.HeadphoneTail.Release();
  Dsp.HeadphoneOut.Release();
  Dsp.HeadphoneFill.store(0, std::memory_order_relaxed);
  Dsp.HeadphoneReady = 0;
  Dsp.HeadphoneRate = 0;
  Dsp.HeadphoneTailFrames = 0;
}

void CSNLib::RenderHeadphones(CSNFn& k, int sourceChannels, SNChunk& chunk) {
  const uint32_t rate = Dsp.K().SampleRate;
  if ((rate != 44100 && rate != 48000) || !Dsp.HeadphoneReady) {
    // No binaural filters for this rate (or no memory for them): the source
    // still reaches both ears, folded down, rather than losing its centre and
    // surrounds.
    FoldToEarsShared(chunk);
    return;
  }

  const Config& cfg = Dsp.Cfg();
  const int set = CfgGet(cfg.HeadphonesMode) == 0 ? 0 : 1;
  const int32_t decode = set == 0 ? CfgGet(cfg.HeadphonesDecodeMusic) : CfgGet(cfg.HeadphonesDecodeMovie);
  if (sourceChannels == 2 && decode) {
    DecodeActive(k, chunk);
    DelayChannels(k, chunk, false);
  }

  const uint32_t frames = chunk.data ? chunk.count : 0;
  uint32_t fill = Dsp.HeadphoneFill.load(std::memory_order_relaxed);
  if (fill >= kHeadphoneBlock) fill = 0;  // never more than a block's worth is held
  const uint64_t blocks = (static_cast<uint64_t>(frames) + fill) / kHeadphoneBlock;
  const uint32_t emit = static_cast<uint32_t>(blocks * kHeadphoneBlock);

  // Within the reserved block for every chunk the host hands in.
  SNComplex* out = Dsp.HeadphoneOut.Resize(emit);
  if (emit && !out) return;
  uint32_t used = 0;
  for (uint64_t b = 0; b < blocks; ++b) {
    const uint32_t take = kHeadphoneBlock - fill;
    StoreFeeds(chunk.data + used, take, fill);
    used += take;
    fill = 0;
    ConvolveBlock(set);
    k.MixHeadphoneBlock(Dsp.EarL.data, Dsp.EarR.data, kHeadphoneGain, Dsp.HeadphoneTail.data,
                        out + b * kHeadphoneBlock);
  }
  StoreFeeds(chunk.data + used, frames - used, fill);
  Dsp.HeadphoneFill.store(fill + (frames - used), std::memory_order_relaxed);

  if (blocks == 0) {
    chunk.count = 0;
    chunk.position = 0;
    return;
  }
  SNCHUNK_INTCHUNK* dst = chunk.Resize(emit);
  if (!dst) return;
  k.WriteHeadphoneFrames(out, emit, dst);
}

}  // namespace sn
