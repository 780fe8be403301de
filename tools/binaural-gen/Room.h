// The room part of the responses: early reflections from a shoebox
// image-source model and a decaying diffuse tail.
#pragma once

#include <cstdint>
#include <vector>

#include "Fft.h"
#include "Hrtf.h"

namespace bgen {

// Octave bands of the tail's decay: centres 125 Hz .. 16 kHz.
inline constexpr int kOctaves = 8;

struct RoomParams {
  const char* name;
  Vec3 size;                 // metres along x (ahead), y (left), z (up)
  Vec3 listener;             // centre of the head, metres from the room's corner
  double speakerDistance;    // metres, loudspeakers at ear height
  Vec3 wallGain;             // pressure factor per bounce off the x, y and z walls
  int maxOrder;              // bounces per image at most
  double maxDelayMs;         // later images are left to the tail
  int smearBase;             // taps of the Hann kernel that smears a first-order image,
  int smearPerOrder;         // plus this per further bounce
  double t60[kOctaves];      // reverberation time per octave band, seconds
  double tailLevel;          // tail RMS per tap once fully built up (equalised units)
  double tailTiltDb;         // tail level per octave above 1 kHz, dB (negative: darker)
  double tailStartMs;        // tail onset after the direct sound
  double tailRampMs;         // rise time of the tail to full level
  int fadeStart, fadeEnd;    // taps: cosine fade of the tail, exact zero from fadeEnd
};

struct Reflection {
  double delay;  // taps after the direct sound reaches the head centre
  double gain;   // relative to the direct sound
  Vec3 dir;      // arrival direction in the listener frame
  int order;
};

// Every image of `source` up to p.maxOrder bounces and p.maxDelayMs, in a
// fixed order (by image index).
std::vector<Reflection> ImageSources(const RoomParams& p, const Vec3& source, double rate);

// Unit-sum Hann kernel of `taps` taps (odd).
std::vector<double> HannKernel(int taps);

// Adds the diffuse tail to `left` and `right` (equal lengths, a power of two
// matching fft.Size()): two Gaussian noises from `seed`, mixed per frequency to
// the diffuse-field coherence of two ears 0.18 m apart, split into octave bands
// that decay with their own t60, with the onset ramp and the final fade.
void AddDiffuseTail(const RoomParams& p, const Fft& fft, uint32_t seed, double rate,
                    std::vector<double>& left, std::vector<double>& right);

}  // namespace bgen
