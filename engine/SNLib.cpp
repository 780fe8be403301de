#include "engine/SNLib.h"

#include <cstring>

#include "engine/HeadphoneData.h"

namespace sn {

namespace {

// The settings the engine reads before a host has pointed it at its own.
Config g_DefaultSettings = DefaultConfig();

}  // namespace

CSNLib::CSNLib() {
  Config* none = nullptr;
  Dsp.ActiveConfig.compare_exchange_strong(none, &g_DefaultSettings, std::memory_order_relaxed);
}

CSNLib::~CSNLib() {
  ReleaseHeadphoneData();
}

void CSNLib::CalcStaticConstants(unsigned sampleRate) { CSNFn::CalcStaticConstants(sampleRate); }

bool CSNLib::ConvertToInternal(int channels, int bits, const uint8_t* source, uint32_t frames, SNChunk& chunk) {
  CSNFn& k = ActiveKernels();
  const InputConversion conv = FindInputConversion(channels, bits);
  if (!conv || (!source && frames)) {
    k.ConvertSilence(frames, chunk);
    return false;
  }
  (k.*conv)(source, frames, chunk);
  return true;
}

void CSNLib::ProcessChunk(int channels, SNChunk& chunk) {
  Dsp.Constants.Latch();
  const Config& cfg = Dsp.Cfg();
  const int32_t mode = CfgGet(cfg.Mode);
  CSNFn& k = ActiveKernels();

  switch (mode) {
    case kModePassive:
      if (channels == 2) k.DecodePassive(chunk);
      break;
    case kModeActive:
      if (channels == 2) k.DecodeActive(chunk);
      break;
    case kModeHeadphones:
      if (channels == 1 || channels == 2 || channels == 5 || channels == 6) k.RenderHeadphones(channels, chunk);
      break;
    case kModeEncoder:
      if (channels == 5 || channels == 6) k.EncodeMatrix(channels, chunk);
      break;
    default:
      break;
  }

  if (mode == kModeHeadphones) {
    k.ApplyGain(chunk, 0);
    return;
  }

  // Leaving headphone rendering with frames still held: the output keeps the
  // frame total of the input, the held frames come back as silence.
  const uint32_t held = Dsp.HeadphoneFill.load(std::memory_order_relaxed);
  if (held) {
    chunk.Extend(held);
    Dsp.HeadphoneFill.store(0, std::memory_order_relaxed);
  }
  if (CfgGet(cfg.LFERedir)) k.RedirectBass(Dsp.K().LfeCrossoverHp, Dsp.BassState, chunk);
  k.ApplyGain(chunk, 1);
  k.DelayChannels(chunk, 1);
}

void CSNLib::ResetDSP() {
  DecoderBufferSet& b = Dsp.DecoderBuffers;
  b.HighBand.Release();
  b.Complement.Release();
  b.SteerLR1.Release();
  b.SteerCS1.Release();
  b.SteerLR2.Release();
  b.SteerCS2.Release();
  std::memset(Dsp.DecoderState, 0, sizeof(Dsp.DecoderState));
  if (Dsp.HeadphoneTail.data)
    std::memset(static_cast<void*>(Dsp.HeadphoneTail.data), 0, Dsp.HeadphoneTail.count * sizeof(SNComplex));
  Dsp.HeadphoneFill.store(0, std::memory_order_relaxed);
  std::memset(Dsp.EncoderState, 0, sizeof(Dsp.EncoderState));
  for (auto& line : Dsp.DelayLines) line.Release();
  std::memset(&Dsp.BassState, 0, sizeof(Dsp.BassState));
  // The delay lengths are constants of the published set and survive the reset,
  // so a seek keeps the user's delays.
}

}  // namespace sn
