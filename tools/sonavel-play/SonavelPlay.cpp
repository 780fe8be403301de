// sonavel-play: a command-line player that does what the media player does with
// an output module. It reads a sound file with libsndfile, writes the chosen
// settings to the registry store (as the settings window would), loads
// out_sonavel.so, and drives its record from one playback thread: Init,
// SetVolume, Open, CanWrite/Write in blocks, Close, Quit.
//
// The slave is out_alsa.so next to this program, which plays on the sound
// card, or out_wave.so with --out, which writes the processed stream to a WAV
// file. While it plays, the main thread shows the position on a terminal; at
// the end it prints the level of every output channel, as the slave measured
// what reached it (OutputStats.h). Ctrl-C stops the playback thread, which
// then closes and quits the module as a player does (the module stores the
// settings at Quit).

#include <sndfile.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "config/Config.h"
#include "config/ConfigFields.h"
#include "host/OutputModule.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "tools/OutputStats.h"

namespace {

constexpr const char* kProg = "sonavel-play";

void Usage(FILE* to) {
  std::fprintf(to,
      "usage: sonavel-play [options] INPUT\n"
      "Plays INPUT (any file libsndfile reads) through out_sonavel.so on the sound card,\n"
      "or into a WAV file with --out.\n"
      "\n"
      "  --module PATH        the output module to load (default: out_sonavel.so next to this program)\n"
      "  --mode M             bypass|passive|active|headphones|encoder, or 0..4\n"
      "  --set NAME=VALUE     a setting by its registry value name, e.g. --set \"Master Gain=3\";\n"
      "                       numbers are signed decimal or 0x hex; repeatable\n"
      "  --slave PATH         the slave module (default: out_alsa.so next to this program,\n"
      "                       which plays on $SONAVEL_ALSA_DEVICE or ALSA's \"default\";\n"
      "                       out_wave.so with --out)\n"
      "  --slave-res 16|24    output bits per sample towards the slave\n"
      "  --out PATH           write the output to this WAV file through out_wave.so (sets OUT_WAVE_PATH)\n"
      "  --registry FILE      use FILE as the settings hive (sets SONAVEL_REGISTRY)\n"
      "  --bits 8|16|24|32    sample format handed to the module (default 16)\n"
      "  --block N            frames per Write (default 576)\n"
      "  --volume N           volume 0..255 (default 255)\n"
      "  --quiet              no progress line and no level table\n"
      "  --config             open the settings window as playback starts (needs a display);\n"
      "                       it stays usable until playback ends\n"
      "  --help               this text\n"
      "\n"
      "Exit status: 0 played, 1 could not play, 2 bad arguments, 128+N stopped by signal N (Ctrl-C: 130).\n");
}

// Registry value names compare case-insensitively.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A DWORD as signed decimal or 0x hex (optionally negated); the whole text must be a number.
std::optional<int32_t> ParseDword(const std::string& text) {
  std::string_view v = text;
  bool negative = false;
  if (!v.empty() && (v[0] == '-' || v[0] == '+')) {
    negative = v[0] == '-';
    v.remove_prefix(1);
  }
  int base = 10;
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    base = 16;
    v.remove_prefix(2);
  }
  if (v.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : v) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    value = value * base + d;
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (base == 10 && !negative && value > 0x7FFFFFFFull) return std::nullopt;
  if (base == 10 && negative && value > 0x80000000ull) return std::nullopt;
  const uint32_t bits = static_cast<uint32_t>(negative ? (0 - value) : value);
  return static_cast<int32_t>(bits);
}

std::optional<int> ParseInt(const std::string& text, int lo, int hi) {
  std::optional<int32_t> v = ParseDword(text);
  if (!v || *v < lo || *v > hi) return std::nullopt;
  return *v;
}

struct Options {
  std::string input;
  std::string module;
  std::string slave;
  std::string out;
  std::string registry;
  std::optional<int32_t> mode;
  std::optional<int32_t> slaveRes;
  std::vector<std::pair<std::string, std::string>> sets;
  int bits = 16;
  int block = 576;
  int volume = 255;
  bool quiet = false;
  bool config = false;
};

// The directory of this executable, with a trailing separator.
std::string ProgramDir() {
#if !defined(_WIN32)
  std::vector<char> buf(4096);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n > 0) {
    std::string path(buf.data(), static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) return path.substr(0, slash + 1);
  }
#endif
  return sn::platform::ModuleDirectory(reinterpret_cast<const void*>(&Usage));
}

[[noreturn]] void Fail(int status, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kProg, text.c_str());
  std::exit(status);
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  auto value = [&](int& i) -> std::string {
    if (i + 1 >= argc) Fail(2, std::string("option ") + argv[i] + " needs a value (see --help)");
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      Usage(stdout);
      std::exit(0);
    } else if (a == "--module") {
      o.module = value(i);
    } else if (a == "--mode") {
      static constexpr const char* kModes[] = {"bypass", "passive", "active", "headphones", "encoder"};
      const std::string m = value(i);
      for (int k = 0; k < 5; ++k)
        if (SameName(m, kModes[k])) o.mode = k;
      if (!o.mode) {
        if (auto n = ParseInt(m, 0, 4)) o.mode = *n;
        else Fail(2, "unknown mode '" + m + "' (bypass, passive, active, headphones, encoder or 0..4)");
      }
    } else if (a == "--set") {
      const std::string s = value(i);
      const size_t eq = s.find('=');
      if (eq == std::string::npos || eq == 0) Fail(2, "--set needs NAME=VALUE, got '" + s + "'");
      o.sets.emplace_back(s.substr(0, eq), s.substr(eq + 1));
    } else if (a == "--slave") {
      o.slave = value(i);
      if (o.slave.empty()) Fail(2, "--slave needs a path");
    } else if (a == "--out") {
      o.out = value(i);
      if (o.out.empty()) Fail(2, "--out needs a path");
    } else if (a == "--slave-res") {
      const std::string v = value(i);
      auto n = ParseInt(v, 16, 24);
      if (!n || (*n != 16 && *n != 24)) Fail(2, "--slave-res must be 16 or 24, got '" + v + "'");
      o.slaveRes = *n;
    } else if (a == "--registry") {
      o.registry = value(i);
      if (o.registry.empty()) Fail(2, "--registry needs a file");
    } else if (a == "--bits") {
      const std::string v = value(i);
      auto n = ParseInt(v, 8, 32);
      if (!n || (*n != 8 && *n != 16 && *n != 24 && *n != 32)) Fail(2, "--bits must be 8, 16, 24 or 32, got '" + v + "'");
      o.bits = *n;
    } else if (a == "--block") {
      const std::string v = value(i);
      auto n = ParseInt(v, 1, 1 << 20);
      if (!n) Fail(2, "--block must be a frame count from 1 to 1048576, got '" + v + "'");
      o.block = *n;
    } else if (a == "--volume") {
      const std::string v = value(i);
      auto n = ParseInt(v, 0, 255);
      if (!n) Fail(2, "--volume must be 0..255, got '" + v + "'");
      o.volume = *n;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (a == "--config") {
      o.config = true;
    } else if (a.size() > 1 && a[0] == '-') {
      Fail(2, "unknown option " + a + " (see --help)");
    } else if (o.input.empty()) {
      o.input = a;
    } else {
      Fail(2, "only one input file, got '" + o.input + "' and '" + a + "'");
    }
  }
  if (o.input.empty()) Fail(2, "no input file (see --help)");
  return o;
}

// Loads the stored settings, applies the options and stores them back, so that
// the module's Init reads them from the store. Returns what was stored.
sn::Config WriteSettings(const Options& o, const std::string& programDir) {
  sn::Config c = sn::DefaultConfig();
  sn::LoadConfig(c);

  std::string slave = programDir + (o.out.empty() ? "out_alsa.so" : "out_wave.so");
  for (const auto& [name, text] : o.sets) {
    if (SameName(name, sn::detail::kSlaveValue)) {
      slave = text;
      continue;
    }
    const sn::detail::FieldRule* found = nullptr;
    for (const sn::detail::FieldRule& f : sn::detail::kFields)
      if (SameName(name, f.name)) found = &f;
    if (!found) Fail(2, "unknown setting '" + name + "'");
    std::optional<int32_t> v = ParseDword(text);
    if (!v) Fail(2, "setting '" + name + "' needs a number (decimal or 0x hex), got '" + text + "'");
    sn::CfgSet(c.*(found->field), *v);
  }
  if (o.mode) sn::CfgSet(c.Mode, *o.mode);
  if (o.slaveRes) sn::CfgSet(c.SlaveRes, *o.slaveRes);
  if (!o.slave.empty()) slave = o.slave;
  const std::u16string slave16 = sn::platform::FromUtf8(slave);
  if (slave16.size() >= static_cast<size_t>(sn::kSlavePathChars))
    Fail(2, "slave path is longer than " + std::to_string(sn::kSlavePathChars - 1) + " characters");
  sn::SetSlavePath(c, slave16.c_str());

  if (const long rc = sn::StoreConfig(c); rc != 0)
    Fail(1, "cannot store the settings in " + sn::platform::RegistryPath() + " (error " + std::to_string(rc) + ")");
  return c;
}

// Turns libsndfile's full-scale ints into little-endian PCM of `bits`; 8-bit is
// unsigned with 128 as zero.
void Pack(const int32_t* in, size_t samples, int bits, unsigned char* out) {
  for (size_t i = 0; i < samples; ++i) {
    const int32_t v = in[i];
    switch (bits) {
      case 8: *out++ = static_cast<unsigned char>((v >> 24) + 128); break;
      case 16: {
        const int32_t s = v >> 16;
        *out++ = static_cast<unsigned char>(s);
        *out++ = static_cast<unsigned char>(s >> 8);
        break;
      }
      case 24: {
        const int32_t s = v >> 8;
        *out++ = static_cast<unsigned char>(s);
        *out++ = static_cast<unsigned char>(s >> 8);
        *out++ = static_cast<unsigned char>(s >> 16);
        break;
      }
      default: {
        const uint32_t s = static_cast<uint32_t>(v);
        *out++ = static_cast<unsigned char>(s);
        *out++ = static_cast<unsigned char>(s >> 8);
        *out++ = static_cast<unsigned char>(s >> 16);
        *out++ = static_cast<unsigned char>(s >> 24);
        break;
      }
    }
  }
}

struct PlayResult {
  int status = 0;
  std::string error;
  int64_t framesIn = 0;
  int64_t bytesWritten = 0;
  int64_t refused = 0;  // Writes that returned non-zero
  int outputMs = 0;
  bool interrupted = false;
};

// Set by SIGINT or SIGTERM: the signal's number.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int sig) { g_stopSignal.store(sig, std::memory_order_relaxed); }

bool StopRequested() { return g_stopSignal.load(std::memory_order_relaxed) != 0; }

// What the playback thread and the display share. The display asks the module
// for its position only between Open and Close, under `lock`.
struct Session {
  std::mutex lock;
  bool streamOpen = false;
  bool finished = false;
  std::condition_variable changed;
};

// How long the playback thread waits for room before giving up.
constexpr auto kStallLimit = std::chrono::seconds(10);
constexpr auto kWaitStep = std::chrono::milliseconds(2);

// The playback thread: everything the player does with the module.
void Play(OutputModuleRecord* rec, SNDFILE* in, const SF_INFO& info, const Options& o, Session& session,
          PlayResult& r) {
  const int ch = info.channels;
  const size_t frameBytes = static_cast<size_t>(ch) * (o.bits / 8);
  std::vector<int32_t> samples(static_cast<size_t>(o.block) * ch);
  std::vector<unsigned char> bytes(static_cast<size_t>(o.block) * frameBytes);

  if (rec->Init) rec->Init();
  // As the player's configuration entry does: the window opens on the module's
  // own user-interface thread and this call returns at once.
  if (o.config && rec->Config) rec->Config(nullptr);
  if (rec->SetVolume) rec->SetVolume(o.volume);
  const int opened = rec->Open ? rec->Open(info.samplerate, ch, o.bits, 2000, 500) : -1;
  if (opened < 0) {
    r.status = 1;
    r.error = "the output module could not open the stream (Open returned " + std::to_string(opened) + ")";
    if (rec->Quit) rec->Quit();
    return;
  }
  {
    std::lock_guard<std::mutex> g(session.lock);
    session.streamOpen = true;
  }

  for (;;) {
    if (StopRequested()) break;
    const sf_count_t got = sf_readf_int(in, samples.data(), o.block);
    if (got <= 0) break;
    r.framesIn += got;
    Pack(samples.data(), static_cast<size_t>(got) * ch, o.bits, bytes.data());
    const int len = static_cast<int>(static_cast<size_t>(got) * frameBytes);

    // Wait for room for the whole block, as the player does; bounded.
    auto waited = std::chrono::steady_clock::duration::zero();
    while (rec->CanWrite() < len && !StopRequested()) {
      if (waited >= kStallLimit) {
        r.status = 1;
        r.error = "the module reported no room for " + std::to_string(len) + " bytes for " +
                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kStallLimit).count()) +
                  " s; giving up";
        break;
      }
      std::this_thread::sleep_for(kWaitStep);
      waited += kWaitStep;
    }
    if (r.status != 0 || StopRequested()) break;
    if (rec->Write(reinterpret_cast<char*>(bytes.data()), len) != 0) ++r.refused;
    r.bytesWritten += len;
  }

  // Let the output play out what it still holds.
  auto waited = std::chrono::steady_clock::duration::zero();
  while (!StopRequested() && rec->IsPlaying && rec->IsPlaying() && waited < kStallLimit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    waited += std::chrono::milliseconds(10);
  }
  r.interrupted = StopRequested();
  if (rec->GetOutputTime) r.outputMs = rec->GetOutputTime();
  {
    std::lock_guard<std::mutex> g(session.lock);
    session.streamOpen = false;
  }
  if (rec->Close) rec->Close();
  if (rec->Quit) rec->Quit();
}

// "m:ss.t", or "h:mm:ss.t" from an hour on.
std::string Clock(int64_t ms) {
  if (ms < 0) ms = 0;
  const int64_t tenths = ms / 100;
  const int64_t s = tenths / 10;
  char buf[40];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60),
                  static_cast<long long>(tenths % 10));
  else
    std::snprintf(buf, sizeof buf, "%lld:%02lld.%lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60), static_cast<long long>(tenths % 10));
  return buf;
}

// The processing mode as the notification icon names it, with its variant.
std::string ModeLabel(const sn::Config& c) {
  switch (c.Mode) {
    case sn::kModeBypass: return "Bypass";
    case sn::kModePassive: return "Passive decoding";
    case sn::kModeActive: return c.SurroundMode == 1 ? "Sonavel-SN Music" : "Sonavel-SN Movie";
    case sn::kModeHeadphones: return c.HeadphonesMode == 1 ? "Sonavel Headphone Movie" : "Sonavel Headphone Music";
    case sn::kModeEncoder: return "Sonavel Encoder";
    default: return "mode " + std::to_string(c.Mode);
  }
}

// The back end the engine chooses: SSE2 where enabled and the processor has it.
std::string BackEndLabel(const sn::Config& c) {
  bool sse2 = false;
#if defined(__x86_64__) || defined(__i386__)
  sse2 = __builtin_cpu_supports("sse2");
#endif
  return c.SSE2Enable && sse2 ? "SSE2" : "x87";
}

// Where the sound goes, for the progress line.
std::string OutputLabel(const Options& o, const std::string& slavePath) {
  const std::string file = slavePath.substr(slavePath.rfind('/') + 1);
  if (file == "out_alsa.so") {
    const char* dev = std::getenv("SONAVEL_ALSA_DEVICE");
    return std::string("ALSA ") + (dev && *dev ? dev : "default");
  }
  if (file == "out_wave.so" && !o.out.empty()) return o.out;
  return file;
}

std::string Decibels(double ratio) {
  if (!(ratio > 0)) return "-inf";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", 20.0 * std::log10(ratio));
  return buf;
}

// Peak and RMS in dBFS (a full-scale square wave reads 0 dB on both) and the
// clipped samples of every output channel.
void PrintLevels(const OutputStats& st) {
  if (st.frames <= 0) {
    std::printf("no audio reached the output\n");
    return;
  }
  static constexpr const char* k51[] = {"L", "R", "C", "LFE", "SL", "SR"};
  const double fullScale = std::ldexp(1.0, st.bitsPerSample - 1);
  const int shown = std::min(st.channels, OUTPUT_STATS_CHANNELS);
  std::printf("%-8s %10s %10s %10s\n", "channel", "peak dBFS", "RMS dBFS", "clipped");
  for (int c = 0; c < shown; ++c) {
    std::string name = st.channels == 6 ? k51[c] : st.channels == 2 ? (c == 0 ? "L" : "R") : std::to_string(c + 1);
    const double rms = std::sqrt(st.sumSquares[c] / static_cast<double>(st.frames));
    std::printf("%-8s %10s %10s %10lld\n", name.c_str(), Decibels(st.peak[c] / fullScale).c_str(),
                Decibels(rms / fullScale).c_str(), static_cast<long long>(st.clipped[c]));
  }
  if (shown < st.channels) std::printf("(the first %d of %d channels)\n", shown, st.channels);
}

}  // namespace

static int Run(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  const Options o = ParseArgs(argc, argv);

  // Ctrl-C and SIGTERM only set a flag, and only the main thread takes them:
  // every thread started from here on (ours and the modules') keeps them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  // The environment is set before anything reads the store or loads a module.
  if (!o.registry.empty()) setenv("SONAVEL_REGISTRY", o.registry.c_str(), 1);
  if (!o.out.empty()) setenv("OUT_WAVE_PATH", o.out.c_str(), 1);

  SF_INFO info{};
  SNDFILE* in = sf_open(o.input.c_str(), SFM_READ, &info);
  if (!in) Fail(1, "cannot read " + o.input + ": " + sf_strerror(nullptr));
  if (info.channels <= 0 || info.samplerate <= 0) {
    sf_close(in);
    Fail(1, "cannot read " + o.input + ": no audio stream");
  }
  if (static_cast<int64_t>(o.block) * info.channels * (o.bits / 8) > (int64_t{1} << 30)) {
    sf_close(in);
    Fail(2, "--block " + std::to_string(o.block) + " is too large for " + std::to_string(info.channels) + " channels");
  }

  const std::string programDir = ProgramDir();
  const sn::Config settings = WriteSettings(o, programDir);
  char16_t slave16[sn::kSlavePathChars];
  sn::GetSlavePath(settings, slave16);
  const std::string slavePath = sn::platform::ToUtf8(slave16);

  const std::string modulePath = o.module.empty() ? programDir + "out_sonavel.so" : o.module;
  sn::platform::Module* module = sn::platform::LoadModule(sn::platform::FromUtf8(modulePath).c_str());
  if (!module) {
    std::string reason;
#if !defined(_WIN32)
    if (const char* e = dlerror()) reason = std::string(": ") + e;
#endif
    sf_close(in);
    Fail(1, "cannot load module " + modulePath + reason);
  }
  auto getModule = reinterpret_cast<GetOutModuleFn>(sn::platform::FindExport(module, "winampGetOutModule"));
  OutputModuleRecord* rec = getModule ? getModule() : nullptr;
  if (!rec || !rec->Open || !rec->Write || !rec->CanWrite) {
    sn::platform::UnloadModule(module);
    sf_close(in);
    Fail(1, "cannot load module " + modulePath + ": not an output module (no usable winampGetOutModule)");
  }
  rec->hMainWindow = nullptr;
  rec->hDllInstance = module;

  // The level figures come from the module that receives the output: the
  // module itself when it is an output of its own, else its slave, which we
  // hold loaded so that its figures outlive the module's Quit.
  auto stats = reinterpret_cast<OutputStatsFn>(sn::platform::FindExport(module, OUTPUT_STATS_EXPORT));
  sn::platform::Module* slaveRef = nullptr;
  if (!stats) {
    slaveRef = sn::platform::LoadModule(slave16);
    if (slaveRef) stats = reinterpret_cast<OutputStatsFn>(sn::platform::FindExport(slaveRef, OUTPUT_STATS_EXPORT));
  }

  const bool showProgress = !o.quiet && isatty(STDOUT_FILENO);
  const bool fileOutput = !o.out.empty();
  const int64_t durationMs = info.frames > 0 ? info.frames * 1000 / info.samplerate : 0;
  const std::string fixedPart = " | " + ModeLabel(settings) + " | " + BackEndLabel(settings) + " | " +
                                OutputLabel(o, slavePath);
  auto progressLine = [&](int64_t positionMs, double elapsed) {
    std::string line = Clock(positionMs) + " / " + Clock(durationMs) + fixedPart;
    if (fileOutput && elapsed > 0) {
      char buf[48];
      std::snprintf(buf, sizeof buf, " | %.1fx realtime", positionMs / 1000.0 / elapsed);
      line += buf;
    }
    std::printf("\r%s\033[K", line.c_str());
    std::fflush(stdout);
  };

  PlayResult r;
  Session session;
  const auto start = std::chrono::steady_clock::now();
  auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  std::thread playback([&] {
    Play(rec, in, info, o, session, r);
    std::lock_guard<std::mutex> g(session.lock);
    session.finished = true;
    session.changed.notify_all();
  });
  pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);

  // The display: ten times a second, the position the module reports.
  for (;;) {
    std::unique_lock<std::mutex> g(session.lock);
    session.changed.wait_for(g, std::chrono::milliseconds(100));
    if (session.finished) break;
    if (showProgress && session.streamOpen && rec->GetOutputTime) progressLine(rec->GetOutputTime(), seconds());
  }
  playback.join();
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const double elapsed = seconds();

  OutputStats levels{};
  const bool haveLevels = stats && stats(&levels) != 0;
  if (slaveRef) sn::platform::UnloadModule(slaveRef);
  sn::platform::UnloadModule(module);
  sf_close(in);

  if (r.status != 0) {
    if (showProgress) std::printf("\n");
    std::fprintf(stderr, "%s: %s\n", kProg, r.error.c_str());
    return r.status;
  }
  if (showProgress) {
    progressLine(r.outputMs, elapsed);
    std::printf("\n");
  }
  if (!o.quiet) {
    std::printf("%s: %lld frames in, %lld bytes written, output time %d ms, %.3f s elapsed", kProg,
                static_cast<long long>(r.framesIn), static_cast<long long>(r.bytesWritten), r.outputMs, elapsed);
    if (r.refused) std::printf(", %lld writes refused", static_cast<long long>(r.refused));
    std::printf("\n");
    if (haveLevels) PrintLevels(levels);
  }
  std::fflush(stdout);
  if (r.interrupted) {
    const int sig = g_stopSignal.load(std::memory_order_relaxed);
    std::fprintf(stderr, "%s: interrupted, stopped at %s\n", kProg, Clock(r.outputMs).c_str());
    return 128 + sig;
  }
  return 0;
}

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kProg, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected error\n", kProg);
  }
  return 1;
}
