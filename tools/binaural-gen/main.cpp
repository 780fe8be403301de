// binaural-gen: writes the headphone renderer's binaural filter tables, one
// for 44100 Hz and one for 48000 Hz playback, from a set of measured
// head-related impulse responses (a SOFA file; the project's tables come from
// the MIT KEMAR measurements, MIT_KEMAR_normal_pinna.sofa).
//
// Usage: binaural-gen <sofa file> <output 44100 Hz .f32> <output 48000 Hz .f32>
//
// Each table: 20 responses of 8192 taps, 32-bit little-endian floats, one after
// the other; index = set x 10 + channel x 2 + ear, set 0 Music and 1 Movie,
// channel L, R, C, SL, SR, ear 0 left and 1 right. The loudspeakers stand at
// ear height, 30 degrees to the left (L) and right (R), ahead (C), and 110
// degrees to the left (SL) and right (SR).
//
// Recipe, the same for both sets, each with its own room, and the same for both
// rates (times are kept in seconds, so a table at 48000 Hz has more taps for
// the same delay):
//  1. Diffuse-field equalisation. The power spectra of all measured directions
//     and both ears are averaged, each direction weighted by the solid angle
//     it stands for, and smoothed over a third of an octave; the equaliser is
//     the inverse square root, its boost capped 20 dB above its median over
//     200 Hz..10 kHz (the cap acts below about 60 Hz and above 19 kHz). It
//     removes what the dummy head, its ear canals and the measuring chain add
//     in every direction and keeps what depends on the direction.
//  2. Direct sound. Each ear's equalised response is made minimum-phase (real
//     cepstrum, 8192 points), so its largest tap comes first; at a rate other
//     than the measurements' the same magnitude is taken at that rate's
//     frequencies (see HrtfSet::SetOutputRate). The ear nearer the loudspeaker
//     starts at tap 0; the far ear is delayed by the measured difference of
//     the ears' onsets (where each first reaches 10 % of its peak), rounded to
//     whole taps: 11 taps at 30 degrees and 23 at 110 at 44100 Hz, 12 and 25
//     at 48000 Hz.
//  3. Early reflections. A shoebox image-source model (a pressure factor per
//     bounce for each pair of walls, 1/r spreading) gives each loudspeaker's
//     images up to 6 bounces and 40 (Music) or 45 (Movie) ms after the direct
//     sound. Each image arrives through the minimum-phase pair of the measured
//     direction nearest to its arrival direction, with that direction's own
//     onset offsets, smeared by a unit-sum Hann kernel of 7 taps plus 4 per
//     further bounce (at 44100 Hz; as many milliseconds at 48000 Hz).
//  4. Diffuse tail. Two Gaussian noises (std::mt19937 with a fixed seed per set
//     and loudspeaker pair, Box-Muller) are mixed per frequency to the
//     diffuse-field coherence of two ears 0.18 m apart, split into octave bands
//     that decay with their own reverberation times and start darker above
//     1 kHz, raised smoothly from a few milliseconds after the direct sound,
//     and faded by a half cosine from 81.3 ms (tap 3584 at 44100 Hz) to exact
//     zero at 139.3 ms (tap 6144). Its level per tap falls with the square
//     root of the rate, so its spectrum is the same at both rates. A
//     loudspeaker on the right takes the noises of its mirror image on the
//     left with the ears swapped, so the table is exactly left/right symmetric.
//  5. Level. Each set is scaled so that its L left-ear response at 44100 Hz
//     peaks at 0.7324 (Music) or 0.6020 (Movie); the ten responses of a set
//     share the factor, so the levels between loudspeakers and ears stay as
//     measured, and the 48000 Hz table takes the same factor, so both rates
//     play at the same level.
// Everything is computed in double and rounded to float once, so the output
// depends only on the SOFA file. The program prints the measured interaural
// delays, the shape figures of every response and, last, an FNV-1a 64
// checksum line per table ("fnv1a64 <hex> <rate>"): the lines that
// engine/data/binaural_table.sum holds.

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Fft.h"
#include "Hrtf.h"
#include "Room.h"
#include "Fnv1a.h"

namespace bgen {
namespace {

constexpr int kTaps = 8192;
constexpr int kChannels = 5;
constexpr int kResponses = 2 * kChannels * 2;
constexpr const char* kChannelNames[kChannels] = {"L", "R", "C", "SL", "SR"};
constexpr double kSpeakerAzimuth[kChannels] = {30, -30, 0, 110, -110};  // degrees, + left
constexpr double kSetPeak[2] = {0.7324, 0.6020};
// The rates of the tables; the room's figures in taps below are at the first.
constexpr double kRates[2] = {44100, 48000};

// Music: a small, well-damped listening room with the loudspeakers at 1.6 m.
// Movie: a larger room, loudspeakers at 2.6 m, more reflective walls and a
// louder reverberant field. Both tails decay in about 0.2 s at mid frequencies:
// the late-energy bounds of the table (after tap 2048 at most 4 % and 7 % of a
// response's energy, after tap 4096 under 0.4 %) leave no room for longer ones.
const RoomParams kRooms[2] = {
    {"Music", {5.2, 4.1, 2.7}, {2.3, 2.05, 1.2}, 1.6, {0.8, 0.85, 0.72}, 6, 40.0, 7, 4,
     {0.225, 0.21, 0.195, 0.19, 0.18, 0.165, 0.135, 0.105}, 0.0744, -4.5, 2.0, 20.0, 3584, 6144},
    {"Movie", {8.5, 6.4, 3.3}, {3.6, 3.2, 1.2}, 2.6, {0.78, 0.82, 0.75}, 6, 45.0, 7, 4,
     {0.23, 0.21, 0.20, 0.19, 0.175, 0.16, 0.13, 0.097}, 0.112, -3.5, 3.0, 15.0, 3584, 6144},
};

void AddAt(std::vector<double>& out, const std::vector<double>& x, long start, double gain) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    const long t = start + static_cast<long>(i);
    if (t >= 0 && t < static_cast<long>(out.size())) out[t] += gain * x[i];
  }
}

std::vector<double> Convolve(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> y(a.size() + b.size() - 1, 0.0);
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < b.size(); ++j) y[i + j] += a[i] * b[j];
  return y;
}

// A tap count given at 44100 Hz, at `rate`.
int Taps(double taps, double rate) { return static_cast<int>(std::lround(taps * rate / kRates[0])); }
// The same for a kernel length, kept odd.
int OddTaps(double taps, double rate) { return 2 * static_cast<int>(std::lround((taps * rate / kRates[0] - 1) / 2)) + 1; }

// The ten responses of one set at the HRTF set's output rate, unscaled: index
// channel x 2 + ear.
std::vector<std::vector<double>> BuildSet(HrtfSet& hrtf, const Fft& fft, int set) {
  const double rate = hrtf.OutputRate();
  RoomParams room = kRooms[set];
  room.fadeStart = Taps(room.fadeStart, rate);
  room.fadeEnd = Taps(room.fadeEnd, rate);
  room.tailLevel *= std::sqrt(kRates[0] / rate);
  std::vector<std::vector<double>> out(2 * kChannels, std::vector<double>(kTaps, 0.0));
  for (int ch = 0; ch < kChannels; ++ch) {
    const Vec3 dir = FromSpherical(kSpeakerAzimuth[ch], 0);
    const Vec3 source{room.listener.x + room.speakerDistance * dir.x,
                      room.listener.y + room.speakerDistance * dir.y, room.listener.z};
    const int direct = hrtf.Nearest(dir);
    const double t0 = std::min(hrtf.OnsetOffset(direct, 0), hrtf.OnsetOffset(direct, 1));
    for (int ear = 0; ear < 2; ++ear)
      AddAt(out[2 * ch + ear], hrtf.Response(direct, ear), std::lround(hrtf.OnsetOffset(direct, ear) - t0),
            1.0);
    const std::vector<Reflection> images = ImageSources(room, source, rate);
    if (ch == 0 && rate == kRates[0])
      std::printf("%s room %.1f x %.1f x %.1f m, loudspeakers at %.1f m, %zu reflections for L\n", room.name,
                  room.size.x, room.size.y, room.size.z, room.speakerDistance, images.size());
    for (const Reflection& r : images) {
      const int m = hrtf.Nearest(r.dir);
      const std::vector<double> kernel =
          HannKernel(OddTaps(room.smearBase + room.smearPerOrder * (r.order - 1), rate));
      for (int ear = 0; ear < 2; ++ear) {
        const double at = r.delay + hrtf.OnsetOffset(m, ear) - t0;
        AddAt(out[2 * ch + ear], Convolve(hrtf.Response(m, ear), kernel),
              std::lround(at) - static_cast<long>(kernel.size() / 2), r.gain);
      }
    }
    const bool mirrored = kSpeakerAzimuth[ch] < 0;
    const uint32_t pair = mirrored ? ch - 1 : ch;
    std::vector<double>& left = out[2 * ch];
    std::vector<double>& right = out[2 * ch + 1];
    AddDiffuseTail(room, fft, 0x5EB1A000u + 16u * set + pair, rate, mirrored ? right : left,
                   mirrored ? left : right);
  }
  return out;
}

using sn::binaural::Fnv1a64;

void PrintFigures(const std::vector<float>& table) {
  std::printf("index set   ch ear   peak      at  onset  E>2048%%  E>4096%%  E(last1024)\n");
  for (int r = 0; r < kResponses; ++r) {
    const float* x = table.data() + static_cast<std::size_t>(r) * kTaps;
    int at = 0;
    double total = 0, after2048 = 0, after4096 = 0, last = 0;
    for (int i = 0; i < kTaps; ++i) {
      if (std::fabs(x[i]) > std::fabs(x[at])) at = i;
      const double e = static_cast<double>(x[i]) * x[i];
      total += e;
      if (i >= 2048) after2048 += e;
      if (i >= 4096) after4096 += e;
      if (i >= kTaps - 1024) last += e;
    }
    int onset = 0;
    while (std::fabs(x[onset]) < 0.1 * std::fabs(x[at])) ++onset;
    std::printf("%5d %-5s %-3s %3s %8.4f %5d %6d %8.3f %8.4f  %g\n", r, r < 10 ? "Music" : "Movie",
                kChannelNames[(r % 10) / 2], (r % 2) ? "R" : "L", std::fabs(x[at]), at, onset,
                100 * after2048 / total, 100 * after4096 / total, last);
  }
}

bool WriteTable(const std::vector<float>& table, const char* path, uint64_t& checksum) {
  std::vector<unsigned char> bytes(table.size() * 4);
  for (std::size_t i = 0; i < table.size(); ++i) {
    const uint32_t u = std::bit_cast<uint32_t>(table[i]);
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<unsigned char>(u >> (8 * b));
  }
  std::FILE* f = std::fopen(path, "wb");
  bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f && std::fclose(f) != 0) written = false;
  checksum = Fnv1a64(bytes.data(), bytes.size());
  return written;
}

int Run(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: binaural-gen <sofa file> <output 44100 Hz .f32> <output 48000 Hz .f32>\n");
    return 2;
  }
  HrtfSet hrtf;
  std::string error;
  if (!hrtf.Load(argv[1], error)) {
    std::fprintf(stderr, "binaural-gen: %s\n", error.c_str());
    return 1;
  }
  std::printf("%d directions at %.0f Hz\nequaliser, dB:", hrtf.Count(), hrtf.SampleRate());
  for (double hz : {50, 100, 200, 500, 1000, 2000, 3000, 5000, 8000, 12000, 16000, 18000, 20000, 22000})
    std::printf(" %g:%.1f", hz, hrtf.EqualiserDb(hz));
  std::printf("\n");
  // The interaural delays the direct sound keeps: the measured difference of
  // the ears' onsets at the loudspeakers' directions.
  for (int ch : {0, 3}) {
    const int m = hrtf.Nearest(FromSpherical(kSpeakerAzimuth[ch], 0));
    const double taps = std::fabs(hrtf.OnsetOffset(m, 1) - hrtf.OnsetOffset(m, 0));
    std::printf("interaural delay at %g degrees: %.2f us measured (%.2f taps at %.0f Hz)\n",
                kSpeakerAzimuth[ch], 1e6 * taps / hrtf.OutputRate(), taps, hrtf.OutputRate());
  }
  const Fft fft(kTaps);
  double scale[2] = {0, 0};
  std::string sums;
  for (int t = 0; t < 2; ++t) {
    hrtf.SetOutputRate(kRates[t]);
    std::printf("table at %.0f Hz\n", kRates[t]);
    std::vector<float> table(static_cast<std::size_t>(kResponses) * kTaps);
    for (int set = 0; set < 2; ++set) {
      const std::vector<std::vector<double>> responses = BuildSet(hrtf, fft, set);
      // The level reference: the L loudspeaker's left ear, which must peak at tap 0.
      const std::vector<double>& ref = responses[0];
      for (int i = 1; i < kTaps; ++i) {
        if (!(std::fabs(ref[i]) <= ref[0])) {
          std::fprintf(stderr, "binaural-gen: the %s L left-ear response does not peak at tap 0\n",
                       kRooms[set].name);
          return 1;
        }
      }
      if (t == 0) scale[set] = kSetPeak[set] / ref[0];
      for (int r = 0; r < 2 * kChannels; ++r)
        for (int i = 0; i < kTaps; ++i)
          table[(static_cast<std::size_t>(set) * 10 + r) * kTaps + i] = static_cast<float>(scale[set] * responses[r][i]);
    }
    PrintFigures(table);
    uint64_t checksum = 0;
    if (!WriteTable(table, argv[2 + t], checksum)) {
      std::fprintf(stderr, "binaural-gen: cannot write %s\n", argv[2 + t]);
      return 1;
    }
    char line[64];
    std::snprintf(line, sizeof line, "fnv1a64 %016" PRIx64 " %.0f\n", checksum, kRates[t]);
    sums += line;
  }
  std::printf("%s", sums.c_str());
  return 0;
}

}  // namespace
}  // namespace bgen

int main(int argc, char** argv) { return bgen::Run(argc, argv); }
