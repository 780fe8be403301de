// make-clip: writes a short stereo test clip of our own, so that the demo needs
// no third-party audio. Four seconds at 48 kHz, 16-bit: a centred chord, a
// tone sweeping from left to right, an anti-phase (surround) noise burst and a
// low bass note, each in its own second with a little overlap.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-clip OUTPUT.wav\n");
    return 2;
  }
  constexpr int kRate = 48000;
  constexpr int kFrames = kRate * 4;
  constexpr double kPi = 3.14159265358979323846;
  std::vector<short> pcm(static_cast<size_t>(kFrames) * 2);
  uint32_t noise = 12345;
  for (int i = 0; i < kFrames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    auto window = [t](double from, double to) {
      if (t < from || t >= to) return 0.0;
      const double x = (t - from) / (to - from);
      return std::sin(kPi * x);
    };
    double l = 0.0, r = 0.0;
    const double chord = 0.2 * (std::sin(2 * kPi * 261.63 * t) + std::sin(2 * kPi * 329.63 * t) +
                                std::sin(2 * kPi * 392.0 * t)) * window(0.0, 1.2);
    l += chord;
    r += chord;
    const double pan = std::clamp((t - 1.0) / 1.0, 0.0, 1.0);
    const double sweep = 0.5 * std::sin(2 * kPi * 880.0 * t) * window(0.9, 2.2);
    l += sweep * std::cos(pan * kPi / 2);
    r += sweep * std::sin(pan * kPi / 2);
    noise = noise * 1664525u + 1013904223u;
    const double n = (static_cast<double>(noise >> 8) / 8388608.0 - 1.0) * 0.3 * window(2.0, 3.2);
    l += n;
    r -= n;
    const double bass = 0.5 * std::sin(2 * kPi * 55.0 * t) * window(2.9, 4.0);
    l += bass;
    r += bass;
    pcm[2 * static_cast<size_t>(i)] = static_cast<short>(std::lround(std::clamp(l, -1.0, 1.0) * 32000));
    pcm[2 * static_cast<size_t>(i) + 1] = static_cast<short>(std::lround(std::clamp(r, -1.0, 1.0) * 32000));
  }
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(argv[1], SFM_WRITE, &info);
  if (!f) {
    std::fprintf(stderr, "make-clip: cannot create %s: %s\n", argv[1], sf_strerror(nullptr));
    return 1;
  }
  const sf_count_t written = sf_writef_short(f, pcm.data(), kFrames);
  sf_close(f);
  if (written != kFrames) {
    std::fprintf(stderr, "make-clip: short write to %s\n", argv[1]);
    return 1;
  }
  return 0;
}
