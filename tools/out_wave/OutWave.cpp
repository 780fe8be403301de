// out_wave: an output module that plays nothing and writes every stream it is
// opened with to a WAV file, so that the whole chain runs on a machine without a
// sound card.
//
// The output path is chosen at each Open: $OUT_WAVE_PATH when set, else the
// string value "Output Path" of the key SOFTWARE\Tamberlin\out_wave, else
// "out_wave.wav" in the current directory. The file holds the stream's bytes
// unchanged (16-, 24- and 32-bit signed or 8-bit unsigned little-endian PCM);
// six-channel streams are written as WAVE_FORMAT_EXTENSIBLE with the 5.1 channel
// mask 0x3F (L, R, C, LFE, back left, back right).
//
// Threads: Open, Write, Close and Quit come from the host's playback thread and
// are serialised by one mutex (the file is only touched under it). The time,
// pause and volume entries may come from any thread and only touch atomics.
// The level figures of what was written are offered through OutputStats.h.
// No exception leaves an entry; bad calls (Write before Open, double Close, null
// buffers) are refused with the entry's failure value.

#include <sndfile.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "host/OutputModule.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "tools/OutputStats.h"

namespace {

constexpr intptr_t kModuleId = 0x4F575631;  // "OWV1"
constexpr int kCanWriteBytes = 65536;
constexpr const char* kRegistryKey = "SOFTWARE\\Tamberlin\\out_wave";
constexpr const char* kDefaultPath = "out_wave.wav";

struct WriterState {
  std::mutex lock;               // guards the file and the stream format
  SNDFILE* file = nullptr;
  int frameBytes = 0;

  std::atomic<int> open{0};
  std::atomic<int> rate{0};
  std::atomic<int64_t> framesWritten{0};
  std::atomic<int> timeBaseMs{0};
  std::atomic<int> paused{0};
  std::atomic<int> volume{255};
  std::atomic<int> pan{0};
  LevelMeter meter;  // written under the lock, read from any thread
};

WriterState& State() {
  static WriterState s;
  return s;
}

std::string OutputPath() {
  if (const char* env = std::getenv("OUT_WAVE_PATH"); env && *env) return env;
  if (auto key = sn::platform::RegistryKey::Open(kRegistryKey)) {
    char16_t buf[1024] = {};
    uint32_t size = sizeof(buf);
    sn::platform::RegType type{};
    const long rc = key->Query("Output Path", &type, buf, &size);
    key->Close();
    if (rc == sn::platform::kRegOk && type == sn::platform::RegType::Sz) {
      buf[sizeof(buf) / sizeof(buf[0]) - 1] = 0;
      std::string path = sn::platform::ToUtf8(buf);
      if (!path.empty()) return path;
    }
  }
  return kDefaultPath;
}

void ShowError(const std::string& text) {
  sn::platform::ShowMessage(nullptr, sn::platform::FromUtf8(text).c_str(), u"out_wave Error");
}

int Subtype(int bits) {
  switch (bits) {
    case 8: return SF_FORMAT_PCM_U8;
    case 16: return SF_FORMAT_PCM_16;
    case 24: return SF_FORMAT_PCM_24;
    case 32: return SF_FORMAT_PCM_32;
    default: return 0;
  }
}

// Finalises the file (the header's sizes are written on close). Caller holds the lock.
void CloseFileLocked(WriterState& s) {
  if (s.file) {
    sf_close(s.file);
    s.file = nullptr;
  }
  s.frameBytes = 0;
  s.open.store(0, std::memory_order_relaxed);
}

void WaveConfig(void*) {
  std::fputs("out_wave: writes the stream to $OUT_WAVE_PATH (or the \"Output Path\" setting, "
             "else out_wave.wav); nothing to configure\n", stderr);
}

void WaveAbout(void*) { std::fputs("out_wave: Sonavel WAV writer v1.00\n", stderr); }

void WaveInit() {}

void WaveQuit() {
  try {
    WriterState& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    CloseFileLocked(s);
  } catch (...) {
  }
}

int WaveOpen(int sampleRate, int channels, int bitsPerSample, int /*bufferMs*/, int /*prebufferMs*/) {
  try {
    WriterState& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    CloseFileLocked(s);

    const int subtype = Subtype(bitsPerSample);
    if (sampleRate <= 0 || channels <= 0 || channels > 64 || subtype == 0) {
      ShowError("Unsupported stream format: " + std::to_string(sampleRate) + " Hz, " +
                std::to_string(channels) + " channels, " + std::to_string(bitsPerSample) + " bits");
      return -1;
    }

    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = (channels == 6 ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | subtype;
    const std::string path = OutputPath();
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
      ShowError("Could not create the output file " + path + ": " + sf_strerror(nullptr));
      return -1;
    }
    if (channels == 6) {
      int map[6] = {SF_CHANNEL_MAP_LEFT,     SF_CHANNEL_MAP_RIGHT,     SF_CHANNEL_MAP_CENTER,
                    SF_CHANNEL_MAP_LFE,      SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT};
      sf_command(f, SFC_SET_CHANNEL_MAP_INFO, map, sizeof(map));
    }

    s.file = f;
    s.frameBytes = channels * (bitsPerSample / 8);
    s.rate.store(sampleRate, std::memory_order_relaxed);
    s.framesWritten.store(0, std::memory_order_relaxed);
    s.timeBaseMs.store(0, std::memory_order_relaxed);
    s.paused.store(0, std::memory_order_relaxed);
    s.meter.Reset(channels, bitsPerSample);
    s.open.store(1, std::memory_order_relaxed);
    return 0;  // nothing is buffered: no latency
  } catch (...) {
    return -1;
  }
}

void WaveClose() {
  try {
    WriterState& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    CloseFileLocked(s);
  } catch (...) {
  }
}

// Writes the whole frames of the buffer; the bytes of a trailing partial frame
// are dropped. Returns 0 when everything was written, 1 when nothing could be
// (not open, bad buffer) or the file refused part of it.
int WaveWrite(char* buffer, int length) {
  try {
    WriterState& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    if (!s.file || s.frameBytes <= 0) return 1;
    if (length == 0) return 0;
    if (length < 0 || !buffer) return 1;
    const sf_count_t frames = length / s.frameBytes;
    if (frames == 0) return 0;
    const sf_count_t bytes = frames * s.frameBytes;
    const sf_count_t done = sf_write_raw(s.file, buffer, bytes);
    const sf_count_t doneFrames = done > 0 ? done / s.frameBytes : 0;
    s.framesWritten.fetch_add(doneFrames, std::memory_order_relaxed);
    s.meter.Add(reinterpret_cast<const unsigned char*>(buffer), static_cast<size_t>(doneFrames));
    return done == bytes ? 0 : 1;
  } catch (...) {
    return 1;
  }
}

int WaveCanWrite() {
  WriterState& s = State();
  if (s.paused.load(std::memory_order_relaxed)) return 0;
  if (!s.open.load(std::memory_order_relaxed)) return 0;
  return kCanWriteBytes;
}

int WaveIsPlaying() { return 0; }

int WavePause(int pause) {
  return State().paused.exchange(pause != 0 ? 1 : 0, std::memory_order_relaxed);
}

void WaveSetVolume(int volume) { State().volume.store(volume, std::memory_order_relaxed); }

void WaveSetPan(int pan) { State().pan.store(pan, std::memory_order_relaxed); }

// A seek: the output time continues from `timeMs`.
void WaveFlush(int timeMs) {
  WriterState& s = State();
  s.framesWritten.store(0, std::memory_order_relaxed);
  s.timeBaseMs.store(timeMs, std::memory_order_relaxed);
}

int WaveWrittenTime() {
  const WriterState& s = State();
  const int rate = s.rate.load(std::memory_order_relaxed);
  const int64_t base = s.timeBaseMs.load(std::memory_order_relaxed);
  if (rate <= 0) return static_cast<int>(base);
  const int64_t ms = base + s.framesWritten.load(std::memory_order_relaxed) * 1000 / rate;
  return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

// Nothing is held back: what was written has been "played".
int WaveOutputTime() { return WaveWrittenTime(); }

OutputModuleRecord g_record = {
    OUT_MODULE_VERSION,
    "Sonavel WAV writer v1.00",
    kModuleId,
    nullptr,
    nullptr,
    WaveConfig,
    WaveAbout,
    WaveInit,
    WaveQuit,
    WaveOpen,
    WaveClose,
    WaveWrite,
    WaveCanWrite,
    WaveIsPlaying,
    WavePause,
    WaveSetVolume,
    WaveSetPan,
    WaveFlush,
    WaveOutputTime,
    WaveWrittenTime,
};

}  // namespace

extern "C" OUT_MODULE_EXPORT OutputModuleRecord* winampGetOutModule() { return &g_record; }
extern "C" OUT_MODULE_EXPORT int sonavelOutputStats(OutputStats* out) { return State().meter.Read(out); }
