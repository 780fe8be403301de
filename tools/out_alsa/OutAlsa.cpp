// out_alsa: an output module that plays its streams on an ALSA device, the
// default slave on POSIX.
//
// The device is $SONAVEL_ALSA_DEVICE when set, else "default", opened at each
// Open. Streams of 8-bit unsigned, 16-, 24- (packed, three bytes) and 32-bit
// signed little-endian PCM with any channel count the device takes are played
// as they are; 24 bits go out as S24_3LE, or as S32_LE where the device only
// takes that. Six-channel streams arrive in the order L, R, C, LFE, SL, SR and
// are placed on the device by its channel map, or in ALSA's usual 5.1 order
// (FL, FR, RL, RR, FC, LFE) where it reports none.
//
// Structure: Write copies into a ring buffer as long as the Open's buffer
// length and returns. A feeder thread of the stream moves the ring into the
// device, applying volume and pan on the way, and sleeps in poll() on the
// device's descriptors and a wake-up eventfd (bounded by one period). It starts
// the device itself when the ring stays empty for a period with frames queued,
// so that the tail of a short stream plays. Underruns are recovered and the
// feed goes on; a device that fails for good is reported once and the rest of
// the stream is discarded as if played, so that a player never waits on it.
//
// Clock: GetWrittenTime counts the frames written since Open or Flush;
// GetOutputTime the frames handed to the device minus the device's delay, both
// from the Flush time. IsPlaying is 1 while the ring or the device still holds
// frames.
//
// Threads: Open, Close, Quit, Write, Pause and Flush are serialised by the
// control lock (Write holds it only to copy). The pcm handle and the ring's
// read side belong to the device lock, which the feeder holds only around
// non-blocking ALSA calls, never while it sleeps; lock order is control, then
// device. CanWrite, IsPlaying, the times, SetVolume and SetPan touch atomics
// only. No entry blocks for longer than one device buffer. No exception leaves
// an entry; calls out of order are refused with the entry's failure value.
//
// The level figures of what was written are offered through OutputStats.h.

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/OutputModule.h"
#include "platform/Platform.h"
#include "tools/OutputStats.h"

namespace {

constexpr intptr_t kModuleId = 0x4F414C31;  // "OAL1"
constexpr const char* kDefaultDevice = "default";
constexpr unsigned kDeviceBufferUs = 200000;  // asked of the device; it may round
constexpr unsigned kDevicePeriodUs = 50000;
constexpr int kMinRingMs = 250;
constexpr int kMaxRingMs = 10000;
constexpr int kMaxChannels = 64;
constexpr int32_t kUnityGain = 32768;  // Q15

// ALSA's usual order of 5.1 (the surround51 devices, the sound servers'
// plug-ins): where our L, R, C, LFE, SL, SR go when the device has no map.
constexpr int kAlsa51Slots[6] = {0, 1, 4, 5, 2, 3};

void ShowError(const std::string& text) {
  sn::platform::ShowMessage(nullptr, sn::platform::FromUtf8(text).c_str(), u"out_alsa Error");
}

std::string DeviceName() {
  if (const char* env = std::getenv("SONAVEL_ALSA_DEVICE"); env && *env) return env;
  return kDefaultDevice;
}

// ALSA reports the cause of a failure on its own error channel, by default
// printed to standard error. While alive, this keeps the first such message of
// the calling thread for our own message instead.
thread_local std::string* t_alsaDetail = nullptr;

void KeepAlsaMessage(const char* /*file*/, int /*line*/, const char* /*func*/, int err, const char* fmt,
                     va_list arg) {
  if (!t_alsaDetail || !t_alsaDetail->empty()) return;
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, arg);
  *t_alsaDetail = buf;
  if (err) *t_alsaDetail += std::string(": ") + snd_strerror(err);
}

// The thread-local handler's setter, looked up at run time: some versions of
// the header declare it without C linkage, and old libraries lack it (then
// ALSA's messages go to standard error as usual).
using SetLocalHandlerFn = snd_local_error_handler_t (*)(snd_local_error_handler_t);

SetLocalHandlerFn LocalHandlerSetter() {
  static const SetLocalHandlerFn fn = [] {
    void* lib = dlopen("libasound.so.2", RTLD_LAZY | RTLD_NOLOAD);
    SetLocalHandlerFn f = lib ? reinterpret_cast<SetLocalHandlerFn>(dlsym(lib, "snd_lib_error_set_local")) : nullptr;
    if (lib) dlclose(lib);  // we stay linked to it
    return f;
  }();
  return fn;
}

class AlsaMessages {
 public:
  AlsaMessages() {
    if (SetLocalHandlerFn set = LocalHandlerSetter()) {
      previous_ = set(KeepAlsaMessage);
      t_alsaDetail = &detail_;
    }
  }
  ~AlsaMessages() {
    if (SetLocalHandlerFn set = LocalHandlerSetter()) {
      set(previous_);
      t_alsaDetail = nullptr;
    }
  }
  AlsaMessages(const AlsaMessages&) = delete;
  AlsaMessages& operator=(const AlsaMessages&) = delete;
  // "reason", or "reason (ALSA's message)".
  std::string Reason(int err) const {
    std::string r = snd_strerror(err);
    if (!detail_.empty() && detail_ != r) r += " (" + detail_ + ")";
    return r;
  }

 private:
  std::string detail_;
  snd_local_error_handler_t previous_ = nullptr;
};

// One sample of the stream as a signed code, and back.
int32_t ReadCode(const unsigned char* p, int bits) { return static_cast<int32_t>(LevelMeter::Code(p, bits)); }

void WriteCode(unsigned char* p, int32_t v, int bytes) {
  if (bytes == 1) {
    p[0] = static_cast<unsigned char>(v + 128);
    return;
  }
  const uint32_t u = static_cast<uint32_t>(v);
  for (int k = 0; k < bytes; ++k) p[k] = static_cast<unsigned char>(u >> (8 * k));
}

struct Stream {
  snd_pcm_t* pcm = nullptr;
  std::string device;
  int rate = 0;
  int channels = 0;
  int bits = 0;
  int frameBytes = 0;  // of the stream
  // The device's sample format: the stream's, or S32_LE for 24-bit streams
  // (codes shifted left by `devShift`).
  int devSampleBytes = 0;
  int devShift = 0;
  int devFrameBytes = 0;
  int slot[kMaxChannels] = {};  // device channel of each stream channel
  bool identity = true;         // slots in order and the same sample format
  bool canPause = false;
  snd_pcm_uframes_t bufferFrames = 0;
  snd_pcm_uframes_t periodFrames = 0;
  int periodMs = 1;

  std::vector<unsigned char> ring;     // whole frames; indices below wrap on its size
  std::vector<unsigned char> scratch;  // one period in the device's format
  std::vector<pollfd> fds;             // [0] the wake-up eventfd, then the device's
  int wakeFd = -1;
  std::thread feeder;

  // Under the device lock.
  int64_t fedFrames = 0;  // handed to the device since Open or Flush
  bool hwPaused = false;
  bool failed = false;
  bool stop = false;
};

struct OutputState {
  std::mutex control;
  std::mutex device;
  std::condition_variable space;  // the feeder freed ring space
  Stream* stream = nullptr;       // under both locks to change
  uint64_t generation = 0;        // of the stream, under the control lock

  std::atomic<int> open{0};
  std::atomic<int> paused{0};
  std::atomic<int> volume{255};
  std::atomic<int> pan{0};
  std::atomic<int> rate{0};
  std::atomic<int> frameBytes{0};
  std::atomic<int64_t> ringBytes{0};
  // Byte positions in the stream since Open: written into the ring, read out
  // of it, and where the last Flush put both.
  std::atomic<uint64_t> writePos{0};
  std::atomic<uint64_t> readPos{0};
  std::atomic<uint64_t> flushPos{0};
  std::atomic<int> baseMs{0};
  std::atomic<int64_t> heardFrames{0};    // since Open or Flush
  std::atomic<int64_t> deviceFrames{0};   // queued in the device, not yet heard
  LevelMeter meter;
};

OutputState& State() {
  static OutputState s;
  return s;
}

void Wake(const Stream& st) {
  const uint64_t one = 1;
  ssize_t n;
  do n = write(st.wakeFd, &one, sizeof one);
  while (n < 0 && errno == EINTR);
}

int64_t RingUsed(const OutputState& s) {
  return static_cast<int64_t>(s.writePos.load(std::memory_order_acquire) - s.readPos.load(std::memory_order_relaxed));
}

// Gain of each stream channel in Q15 from the volume (0..255, amplitude
// (v/255)^2, so that the slider's lower half is not all quiet) and the pan
// (-128 full left .. 127 full right: the other side's channels fade). Pan acts
// on stereo (L, R) and on 5.1 (L, SL and R, SR); other layouts ignore it.
void Gains(const OutputState& s, int channels, int32_t* gain) {
  const int v = std::clamp(s.volume.load(std::memory_order_relaxed), 0, 255);
  const int p = std::clamp(s.pan.load(std::memory_order_relaxed), -128, 127);
  const int64_t master = static_cast<int64_t>(kUnityGain) * v * v / (255 * 255);
  const int64_t left = p > 0 ? master * (127 - p) / 127 : master;
  const int64_t right = p < 0 ? master * (128 + p) / 128 : master;
  for (int c = 0; c < channels; ++c) {
    bool isLeft = false, isRight = false;
    if (channels == 2 || channels == 6) {
      isLeft = c == 0 || (channels == 6 && c == 4);
      isRight = c == 1 || (channels == 6 && c == 5);
    }
    gain[c] = static_cast<int32_t>(isLeft ? left : isRight ? right : master);
  }
}

// Copies `frames` frames from the ring at the read position into the scratch
// buffer in the device's layout, scaled by the gains.
void Convert(OutputState& s, Stream& st, size_t frames) {
  int32_t gain[kMaxChannels];
  Gains(s, st.channels, gain);
  bool unity = true;
  for (int c = 0; c < st.channels; ++c) unity = unity && gain[c] == kUnityGain;

  const size_t ringSize = st.ring.size();
  size_t at = static_cast<size_t>(s.readPos.load(std::memory_order_relaxed) % ringSize);
  unsigned char* out = st.scratch.data();
  if (unity && st.identity) {
    size_t bytes = frames * st.frameBytes;
    const size_t first = std::min(bytes, ringSize - at);
    std::memcpy(out, st.ring.data() + at, first);
    std::memcpy(out + first, st.ring.data(), bytes - first);
    return;
  }
  const int inBytes = st.bits / 8;
  for (size_t f = 0; f < frames; ++f) {
    const unsigned char* in = st.ring.data() + at;
    for (int c = 0; c < st.channels; ++c) {
      int64_t v = ReadCode(in + c * inBytes, st.bits);
      if (gain[c] != kUnityGain) v = (v * gain[c] + (1 << 14)) >> 15;
      WriteCode(out + st.slot[c] * st.devSampleBytes, static_cast<int32_t>(v) * (1 << st.devShift),
                st.devSampleBytes);
    }
    out += st.devFrameBytes;
    at += st.frameBytes;
    if (at == ringSize) at = 0;
  }
}

// A device error that recovery cannot mend: say so once, then play nothing more.
void Fail(Stream& st, int err) {
  if (st.failed) return;
  st.failed = true;
  ShowError("The ALSA device \"" + st.device + "\" stopped playing: " + snd_strerror(err) +
            "; the rest of the stream is dropped");
}

// Underruns and suspends are mended by preparing the device again.
bool Recover(Stream& st, int err) {
  if (err == -EAGAIN) return true;
  const int r = snd_pcm_recover(st.pcm, err, 1);
  if (r < 0) {
    Fail(st, r);
    return false;
  }
  return true;
}

// Moves what the ring holds into the device while it has room, at most one
// period at a time (a plug-in that blocks in its writes, such as a file on a
// pipe, must not hold the lock and the clock for longer). Device lock held.
// Returns the frames moved.
int64_t Pump(OutputState& s, Stream& st) {
  int64_t moved = 0;
  for (int attempts = 0; attempts < 8 && moved < static_cast<int64_t>(st.periodFrames); ++attempts) {
    const int64_t ringFrames = RingUsed(s) / st.frameBytes;
    if (ringFrames <= 0) break;
    if (st.failed) {  // discard as if played
      s.readPos.fetch_add(static_cast<uint64_t>(ringFrames) * st.frameBytes, std::memory_order_release);
      st.fedFrames += ringFrames;
      moved += ringFrames;
      break;
    }
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(st.pcm);
    if (avail < 0) {
      Recover(st, static_cast<int>(avail));  // a failed device is drained above next time
      continue;
    }
    const int64_t n = std::min<int64_t>({avail, ringFrames, static_cast<int64_t>(st.periodFrames) - moved});
    if (n <= 0) break;
    Convert(s, st, static_cast<size_t>(n));
    const snd_pcm_sframes_t w = snd_pcm_writei(st.pcm, st.scratch.data(), static_cast<snd_pcm_uframes_t>(n));
    if (w == -EAGAIN) break;
    if (w < 0) {
      Recover(st, static_cast<int>(w));
      continue;
    }
    s.readPos.fetch_add(static_cast<uint64_t>(w) * st.frameBytes, std::memory_order_release);
    st.fedFrames += w;
    moved += w;
  }
  return moved;
}

// Publishes what has been heard: fed minus what the device still holds.
void PublishClock(OutputState& s, Stream& st) {
  snd_pcm_sframes_t delay = 0;
  if (!st.failed) {
    const snd_pcm_state_t state = snd_pcm_state(st.pcm);
    if (state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_PAUSED || state == SND_PCM_STATE_PREPARED ||
        state == SND_PCM_STATE_DRAINING) {
      if (snd_pcm_delay(st.pcm, &delay) < 0) delay = 0;
    }
  }
  delay = std::clamp<snd_pcm_sframes_t>(delay, 0, st.fedFrames);
  s.deviceFrames.store(delay, std::memory_order_relaxed);
  s.heardFrames.store(st.fedFrames - delay, std::memory_order_relaxed);
}

void FeedLoop(OutputState& s, Stream& st) {
  bool idle = false;        // the last sleep ran its full time
  bool deviceWoke = false;  // the last sleep was ended by the device
  for (;;) {
    nfds_t nfds = 1;
    int timeoutMs = st.periodMs;
    {
      std::lock_guard<std::mutex> g(s.device);
      if (st.stop) return;
      int64_t moved = 0;
      if (!s.paused.load(std::memory_order_relaxed)) {
        moved = Pump(s, st);
        // The ring stayed empty for a period: start what is queued.
        if (idle && RingUsed(s) == 0 && !st.failed && snd_pcm_state(st.pcm) == SND_PCM_STATE_PREPARED) {
          snd_pcm_sframes_t queued = 0;
          if (snd_pcm_delay(st.pcm, &queued) == 0 && queued > 0) snd_pcm_start(st.pcm);
        }
        // Frames left over: wait for room in the device. A device that woke us
        // and then took nothing is given a short pause instead of a spin.
        if (RingUsed(s) > 0 && !st.failed) {
          if (deviceWoke && moved == 0) timeoutMs = std::min(timeoutMs, 2);
          else nfds = st.fds.size();
        }
      }
      PublishClock(s, st);
      if (moved > 0) s.space.notify_all();
    }
    for (auto& p : st.fds) p.revents = 0;
    const int n = poll(st.fds.data(), nfds, timeoutMs);
    const bool woken = n > 0 && (st.fds[0].revents & POLLIN);
    idle = n == 0;
    deviceWoke = n > 0 && !woken;
    if (woken) {
      uint64_t count;
      while (read(st.wakeFd, &count, sizeof count) > 0) {
      }
    }
  }
}

// Closes the open stream, dropping what it still holds. Control lock held.
void CloseLocked(OutputState& s) {
  Stream* st = s.stream;
  if (!st) return;
  s.open.store(0, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> g(s.device);
    st->stop = true;
  }
  Wake(*st);
  if (st->feeder.joinable()) st->feeder.join();
  {
    std::lock_guard<std::mutex> g(s.device);
    s.stream = nullptr;
  }
  snd_pcm_drop(st->pcm);
  snd_pcm_close(st->pcm);
  close(st->wakeFd);
  s.deviceFrames.store(0, std::memory_order_relaxed);
  s.space.notify_all();
  delete st;
}

// Sets the device up for the stream; on failure returns a message and leaves
// the pcm for the caller to close.
std::string Configure(Stream& st, const AlsaMessages& msgs) {
  const std::string format = std::to_string(st.rate) + " Hz, " + std::to_string(st.channels) + " channels, " +
                             std::to_string(st.bits) + " bits";
  auto refused = [&](const char* what, int err) {
    return "The ALSA device \"" + st.device + "\" cannot play " + format + " (" + what + ": " + msgs.Reason(err) +
           ")";
  };
  snd_pcm_hw_params_t* hw;
  snd_pcm_hw_params_alloca(&hw);
  int err = snd_pcm_hw_params_any(st.pcm, hw);
  if (err < 0) return refused("parameters", err);
  if ((err = snd_pcm_hw_params_set_access(st.pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
    return refused("interleaved access", err);

  snd_pcm_format_t fmt = SND_PCM_FORMAT_S16_LE;
  switch (st.bits) {
    case 8: fmt = SND_PCM_FORMAT_U8; break;
    case 16: fmt = SND_PCM_FORMAT_S16_LE; break;
    case 24: fmt = SND_PCM_FORMAT_S24_3LE; break;
    default: fmt = SND_PCM_FORMAT_S32_LE; break;
  }
  st.devSampleBytes = st.bits / 8;
  st.devShift = 0;
  err = snd_pcm_hw_params_set_format(st.pcm, hw, fmt);
  if (err < 0 && st.bits == 24 && snd_pcm_hw_params_set_format(st.pcm, hw, SND_PCM_FORMAT_S32_LE) == 0) {
    err = 0;
    st.devSampleBytes = 4;
    st.devShift = 8;
  }
  if (err < 0) return refused("sample format", err);
  if ((err = snd_pcm_hw_params_set_channels(st.pcm, hw, static_cast<unsigned>(st.channels))) < 0)
    return refused("channel count", err);
  if ((err = snd_pcm_hw_params_set_rate_resample(st.pcm, hw, 1)) < 0) return refused("resampling", err);
  if ((err = snd_pcm_hw_params_set_rate(st.pcm, hw, static_cast<unsigned>(st.rate), 0)) < 0)
    return refused("sample rate", err);
  unsigned bufferUs = kDeviceBufferUs;
  unsigned periodUs = kDevicePeriodUs;
  snd_pcm_hw_params_set_buffer_time_near(st.pcm, hw, &bufferUs, nullptr);
  snd_pcm_hw_params_set_period_time_near(st.pcm, hw, &periodUs, nullptr);
  if ((err = snd_pcm_hw_params(st.pcm, hw)) < 0) return refused("set-up", err);
  st.canPause = snd_pcm_hw_params_can_pause(hw) != 0;
  snd_pcm_hw_params_get_buffer_size(hw, &st.bufferFrames);
  snd_pcm_hw_params_get_period_size(hw, &st.periodFrames, nullptr);
  if (st.periodFrames == 0 || st.bufferFrames < st.periodFrames) return refused("buffer size", -EINVAL);
  st.periodMs = std::max<int>(1, static_cast<int>(st.periodFrames * 1000 / static_cast<unsigned>(st.rate)));

  // Start once half the buffer is queued (or when the ring runs dry, see FeedLoop).
  snd_pcm_sw_params_t* sw;
  snd_pcm_sw_params_alloca(&sw);
  if ((err = snd_pcm_sw_params_current(st.pcm, sw)) < 0 ||
      (err = snd_pcm_sw_params_set_start_threshold(st.pcm, sw, st.bufferFrames / 2)) < 0 ||
      (err = snd_pcm_sw_params_set_avail_min(st.pcm, sw, st.periodFrames)) < 0 ||
      (err = snd_pcm_sw_params(st.pcm, sw)) < 0)
    return refused("start threshold", err);

  // Channel placement.
  st.devFrameBytes = st.channels * st.devSampleBytes;
  for (int c = 0; c < st.channels; ++c) st.slot[c] = c;
  if (st.channels == 6) {
    for (int c = 0; c < 6; ++c) st.slot[c] = kAlsa51Slots[c];
    if (snd_pcm_chmap_t* map = snd_pcm_get_chmap(st.pcm)) {
      if (map->channels == 6) {
        const unsigned wanted[6][2] = {{SND_CHMAP_FL, SND_CHMAP_FL}, {SND_CHMAP_FR, SND_CHMAP_FR},
                                       {SND_CHMAP_FC, SND_CHMAP_FC}, {SND_CHMAP_LFE, SND_CHMAP_LFE},
                                       {SND_CHMAP_SL, SND_CHMAP_RL}, {SND_CHMAP_SR, SND_CHMAP_RR}};
        int found[6];
        bool all = true;
        for (int c = 0; c < 6 && all; ++c) {
          found[c] = -1;
          for (unsigned k = 0; k < 6; ++k)
            if (map->pos[k] == wanted[c][0] || map->pos[k] == wanted[c][1]) found[c] = static_cast<int>(k);
          all = found[c] >= 0;
          for (int d = 0; d < c && all; ++d) all = found[d] != found[c];
        }
        if (all)
          for (int c = 0; c < 6; ++c) st.slot[c] = found[c];
      }
      std::free(map);
    }
  }
  st.identity = st.devShift == 0;
  for (int c = 0; c < st.channels; ++c) st.identity = st.identity && st.slot[c] == c;
  return {};
}

// --- entries -----------------------------------------------------------------

void AlsaConfig(void*) {
  std::fputs("out_alsa: plays on the ALSA device $SONAVEL_ALSA_DEVICE (else \"default\"); nothing to configure\n",
             stderr);
}

void AlsaAbout(void*) { std::fputs("out_alsa: Sonavel ALSA output v1.00\n", stderr); }

void AlsaInit() {}

void AlsaQuit() {
  try {
    OutputState& s = State();
    std::lock_guard<std::mutex> g(s.control);
    CloseLocked(s);
  } catch (...) {
  }
}

int AlsaOpen(int sampleRate, int channels, int bitsPerSample, int bufferMs, int /*prebufferMs*/) {
  try {
    OutputState& s = State();
    std::lock_guard<std::mutex> g(s.control);
    CloseLocked(s);

    const bool bitsOk = bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24 || bitsPerSample == 32;
    if (sampleRate <= 0 || channels <= 0 || channels > kMaxChannels || !bitsOk) {
      ShowError("Unsupported stream format: " + std::to_string(sampleRate) + " Hz, " + std::to_string(channels) +
                " channels, " + std::to_string(bitsPerSample) + " bits");
      return -1;
    }

    auto st = std::make_unique<Stream>();
    st->device = DeviceName();
    st->rate = sampleRate;
    st->channels = channels;
    st->bits = bitsPerSample;
    st->frameBytes = channels * (bitsPerSample / 8);
    {
      AlsaMessages msgs;
      // Non-blocking, so that a device held by someone else fails at once.
      const int err = snd_pcm_open(&st->pcm, st->device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
      if (err < 0) {
        ShowError("Could not open the ALSA device \"" + st->device + "\": " + msgs.Reason(err));
        return -1;
      }
      const std::string refused = Configure(*st, msgs);
      if (!refused.empty()) {
        snd_pcm_close(st->pcm);
        ShowError(refused);
        return -1;
      }
    }

    const int ringMs = std::clamp(bufferMs, kMinRingMs, kMaxRingMs);
    const size_t ringFrames = std::max<size_t>(static_cast<size_t>(sampleRate) * ringMs / 1000, st->periodFrames);
    st->ring.assign(ringFrames * st->frameBytes, 0);
    st->scratch.assign(st->periodFrames * st->devFrameBytes, 0);
    st->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int devFds = snd_pcm_poll_descriptors_count(st->pcm);
    if (st->wakeFd < 0 || devFds < 0) {
      if (st->wakeFd >= 0) close(st->wakeFd);
      snd_pcm_close(st->pcm);
      ShowError("Could not set up playback on the ALSA device \"" + st->device + "\": " + std::strerror(errno));
      return -1;
    }
    st->fds.assign(1 + static_cast<size_t>(devFds), pollfd{});
    st->fds[0] = pollfd{st->wakeFd, POLLIN, 0};
    if (devFds > 0) snd_pcm_poll_descriptors(st->pcm, st->fds.data() + 1, static_cast<unsigned>(devFds));

    s.rate.store(sampleRate, std::memory_order_relaxed);
    s.frameBytes.store(st->frameBytes, std::memory_order_relaxed);
    s.ringBytes.store(static_cast<int64_t>(st->ring.size()), std::memory_order_relaxed);
    s.writePos.store(0, std::memory_order_relaxed);
    s.readPos.store(0, std::memory_order_relaxed);
    s.flushPos.store(0, std::memory_order_relaxed);
    s.baseMs.store(0, std::memory_order_relaxed);
    s.heardFrames.store(0, std::memory_order_relaxed);
    s.deviceFrames.store(0, std::memory_order_relaxed);
    s.paused.store(0, std::memory_order_relaxed);
    s.meter.Reset(channels, bitsPerSample);
    const int latencyMs = ringMs + static_cast<int>(st->bufferFrames * 1000 / static_cast<unsigned>(sampleRate));

    Stream* raw = st.release();
    {
      std::lock_guard<std::mutex> d(s.device);
      s.stream = raw;
      ++s.generation;
    }
    try {
      raw->feeder = std::thread([&s, raw] { FeedLoop(s, *raw); });
    } catch (...) {
      {
        std::lock_guard<std::mutex> d(s.device);
        s.stream = nullptr;
      }
      snd_pcm_close(raw->pcm);
      close(raw->wakeFd);
      delete raw;
      ShowError("Could not start the playback thread for the ALSA device");
      return -1;
    }
    s.open.store(1, std::memory_order_relaxed);
    return latencyMs;
  } catch (...) {
    return -1;
  }
}

void AlsaClose() {
  try {
    OutputState& s = State();
    std::lock_guard<std::mutex> g(s.control);
    CloseLocked(s);
  } catch (...) {
  }
}

// Queues the whole frames of the buffer (a trailing partial frame is dropped).
// More than CanWrite allowed waits up to one device buffer for room; what still
// does not fit is dropped and the Write returns 1.
int AlsaWrite(char* buffer, int length) {
  try {
    OutputState& s = State();
    std::unique_lock<std::mutex> g(s.control);
    Stream* st = s.stream;
    if (!st || !s.open.load(std::memory_order_relaxed)) return 1;
    const uint64_t generation = s.generation;
    if (length == 0) return 0;
    if (length < 0 || !buffer) return 1;
    const size_t frames = static_cast<size_t>(length) / st->frameBytes;
    const size_t ringSize = st->ring.size();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::microseconds(st->bufferFrames * 1000000 / st->rate);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(buffer);
    size_t left = frames * st->frameBytes;
    while (left > 0) {
      const uint64_t w = s.writePos.load(std::memory_order_relaxed);
      const size_t freeBytes = ringSize - static_cast<size_t>(w - s.readPos.load(std::memory_order_acquire));
      const size_t n = std::min(left, freeBytes);
      if (n == 0) {
        if (std::chrono::steady_clock::now() >= deadline) break;
        s.space.wait_for(g, std::chrono::milliseconds(5));
        if (s.generation != generation || !s.stream) return 1;  // closed meanwhile
        continue;
      }
      const size_t at = static_cast<size_t>(w % ringSize);
      const size_t first = std::min(n, ringSize - at);
      std::memcpy(st->ring.data() + at, in, first);
      std::memcpy(st->ring.data(), in + first, n - first);
      s.meter.Add(in, n / st->frameBytes);
      s.writePos.store(w + n, std::memory_order_release);
      Wake(*st);
      in += n;
      left -= n;
    }
    return left == 0 ? 0 : 1;
  } catch (...) {
    return 1;
  }
}

int AlsaCanWrite() {
  OutputState& s = State();
  if (!s.open.load(std::memory_order_relaxed)) return 0;
  const int64_t frameBytes = s.frameBytes.load(std::memory_order_relaxed);
  if (frameBytes <= 0) return 0;
  const int64_t freeBytes = s.ringBytes.load(std::memory_order_relaxed) - RingUsed(s);
  const int64_t whole = std::max<int64_t>(freeBytes, 0) / frameBytes * frameBytes;
  return static_cast<int>(std::min<int64_t>(whole, INT_MAX / frameBytes * frameBytes));
}

int AlsaIsPlaying() {
  const OutputState& s = State();
  if (!s.open.load(std::memory_order_relaxed)) return 0;
  return RingUsed(s) > 0 || s.deviceFrames.load(std::memory_order_relaxed) > 0;
}

// Returns the previous state. Where the device cannot pause, the feed stops and
// what the device already holds plays out; nothing is lost either way.
int AlsaPause(int pause) {
  try {
    OutputState& s = State();
    std::lock_guard<std::mutex> g(s.control);
    const int want = pause != 0 ? 1 : 0;
    const int was = s.paused.load(std::memory_order_relaxed);
    Stream* st = s.stream;
    if (!st || want == was) {
      s.paused.store(want, std::memory_order_relaxed);
      return was;
    }
    {
      std::lock_guard<std::mutex> d(s.device);
      s.paused.store(want, std::memory_order_relaxed);
      if (!st->failed) {
        if (want) {
          if (st->canPause && snd_pcm_state(st->pcm) == SND_PCM_STATE_RUNNING && snd_pcm_pause(st->pcm, 1) == 0)
            st->hwPaused = true;
        } else if (st->hwPaused) {
          st->hwPaused = false;
          if (snd_pcm_pause(st->pcm, 0) < 0) snd_pcm_prepare(st->pcm);
        }
      }
      PublishClock(s, *st);
    }
    Wake(*st);
    return was;
  } catch (...) {
    return 0;
  }
}

void AlsaSetVolume(int volume) { State().volume.store(volume, std::memory_order_relaxed); }

void AlsaSetPan(int pan) { State().pan.store(pan, std::memory_order_relaxed); }

// A seek: what is queued is dropped and the clock restarts at `timeMs`. The
// pause state stays as it was.
void AlsaFlush(int timeMs) {
  try {
    OutputState& s = State();
    std::lock_guard<std::mutex> g(s.control);
    Stream* st = s.stream;
    if (!st) {
      s.baseMs.store(timeMs, std::memory_order_relaxed);
      return;
    }
    {
      std::lock_guard<std::mutex> d(s.device);
      if (!st->failed) {
        snd_pcm_drop(st->pcm);
        snd_pcm_prepare(st->pcm);
      }
      st->hwPaused = false;
      const uint64_t w = s.writePos.load(std::memory_order_acquire);
      s.readPos.store(w, std::memory_order_release);
      s.flushPos.store(w, std::memory_order_relaxed);
      s.baseMs.store(timeMs, std::memory_order_relaxed);
      st->fedFrames = 0;
      s.heardFrames.store(0, std::memory_order_relaxed);
      s.deviceFrames.store(0, std::memory_order_relaxed);
    }
    s.space.notify_all();
    Wake(*st);
  } catch (...) {
  }
}

int TimeMs(const OutputState& s, int64_t frames) {
  const int rate = s.rate.load(std::memory_order_relaxed);
  const int64_t base = s.baseMs.load(std::memory_order_relaxed);
  if (rate <= 0) return static_cast<int>(base);
  const int64_t ms = base + std::max<int64_t>(frames, 0) * 1000 / rate;
  return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

int AlsaWrittenTime() {
  const OutputState& s = State();
  const int64_t frameBytes = s.frameBytes.load(std::memory_order_relaxed);
  if (frameBytes <= 0) return TimeMs(s, 0);
  const uint64_t bytes = s.writePos.load(std::memory_order_relaxed) - s.flushPos.load(std::memory_order_relaxed);
  return TimeMs(s, static_cast<int64_t>(bytes) / frameBytes);
}

int AlsaOutputTime() {
  const OutputState& s = State();
  return TimeMs(s, s.heardFrames.load(std::memory_order_relaxed));
}

OutputModuleRecord g_record = {
    OUT_MODULE_VERSION,
    "Sonavel ALSA output v1.00",
    kModuleId,
    nullptr,
    nullptr,
    AlsaConfig,
    AlsaAbout,
    AlsaInit,
    AlsaQuit,
    AlsaOpen,
    AlsaClose,
    AlsaWrite,
    AlsaCanWrite,
    AlsaIsPlaying,
    AlsaPause,
    AlsaSetVolume,
    AlsaSetPan,
    AlsaFlush,
    AlsaOutputTime,
    AlsaWrittenTime,
};

// A host that unloads us without Quit must not leave the feeder running in
// unmapped code.
struct CloseAtUnload {
  ~CloseAtUnload() { AlsaQuit(); }
} g_closeAtUnload;

}  // namespace

extern "C" OUT_MODULE_EXPORT OutputModuleRecord* winampGetOutModule() { return &g_record; }
extern "C" OUT_MODULE_EXPORT int sonavelOutputStats(OutputStats* out) { return State().meter.Read(out); }
