// sonavel-play: a command-line player that does what the media player does with
// an output module. It reads a sound file with libsndfile, writes the chosen
// settings to the registry store (as the settings window would), loads
// out_sonavel.so, and drives its record from one playback thread: Init,
// SetVolume, Open, CanWrite/Write in blocks, Close, Quit.
//
// With the default slave (out_wave.so next to this program) the processed
// stream ends up in a WAV file, so the whole chain runs without a sound card.

#include <sndfile.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <dlfcn.h>
#include <unistd.h>
#endif

#include "config/Config.h"
#include "config/ConfigFields.h"
#include "host/OutputModule.h"
#include "platform/Platform.h"
#include "platform/Registry.h"

namespace {

constexpr const char* kProg = "sonavel-play";

void Usage(FILE* to) {
  std::fprintf(to,
      "usage: sonavel-play [options] INPUT\n"
      "Plays INPUT (any file libsndfile reads) through out_sonavel.so.\n"
      "\n"
      "  --module PATH        the output module to load (default: out_sonavel.so next to this program)\n"
      "  --mode M             bypass|passive|active|headphones|encoder, or 0..4\n"
      "  --set NAME=VALUE     a setting by its registry value name, e.g. --set \"Master Gain=3\";\n"
      "                       numbers are signed decimal or 0x hex; repeatable\n"
      "  --slave PATH         the slave module (default: out_wave.so next to this program)\n"
      "  --slave-res 16|24    output bits per sample towards the slave\n"
      "  --out PATH           the WAV file out_wave writes (sets OUT_WAVE_PATH)\n"
      "  --registry FILE      use FILE as the settings hive (sets SONAVEL_REGISTRY)\n"
      "  --bits 8|16|24|32    sample format handed to the module (default 16)\n"
      "  --block N            frames per Write (default 576)\n"
      "  --volume N           volume 0..255 (default 255)\n"
      "  --help               this text\n");
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
// the module's Init reads them from the store.
void WriteSettings(const Options& o, const std::string& programDir) {
  sn::Config c = sn::DefaultConfig();
  sn::LoadConfig(c);

  std::string slave = programDir + "out_wave.so";
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
};

// How long the playback thread waits for room before giving up.
constexpr auto kStallLimit = std::chrono::seconds(10);
constexpr auto kWaitStep = std::chrono::milliseconds(2);

// The playback thread: everything the player does with the module.
void Play(OutputModuleRecord* rec, SNDFILE* in, const SF_INFO& info, const Options& o, PlayResult& r) {
  const int ch = info.channels;
  const size_t frameBytes = static_cast<size_t>(ch) * (o.bits / 8);
  std::vector<int32_t> samples(static_cast<size_t>(o.block) * ch);
  std::vector<unsigned char> bytes(static_cast<size_t>(o.block) * frameBytes);

  if (rec->Init) rec->Init();
  if (rec->SetVolume) rec->SetVolume(o.volume);
  const int opened = rec->Open ? rec->Open(info.samplerate, ch, o.bits, 2000, 500) : -1;
  if (opened < 0) {
    r.status = 1;
    r.error = "Open failed (" + std::to_string(opened) + ")";
    if (rec->Quit) rec->Quit();
    return;
  }

  for (;;) {
    const sf_count_t got = sf_readf_int(in, samples.data(), o.block);
    if (got <= 0) break;
    r.framesIn += got;
    Pack(samples.data(), static_cast<size_t>(got) * ch, o.bits, bytes.data());
    const int len = static_cast<int>(static_cast<size_t>(got) * frameBytes);

    // Wait for room for the whole block, as the player does; bounded.
    auto waited = std::chrono::steady_clock::duration::zero();
    while (rec->CanWrite() < len) {
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
    if (r.status != 0) break;
    if (rec->Write(reinterpret_cast<char*>(bytes.data()), len) != 0) ++r.refused;
    r.bytesWritten += len;
  }

  // Let the output play out what it still holds.
  auto waited = std::chrono::steady_clock::duration::zero();
  while (rec->IsPlaying && rec->IsPlaying() && waited < kStallLimit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    waited += std::chrono::milliseconds(10);
  }
  if (rec->GetOutputTime) r.outputMs = rec->GetOutputTime();
  if (rec->Close) rec->Close();
  if (rec->Quit) rec->Quit();
}

}  // namespace

static int Run(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  const Options o = ParseArgs(argc, argv);

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
  WriteSettings(o, programDir);

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

  PlayResult r;
  const auto start = std::chrono::steady_clock::now();
  std::thread playback(Play, rec, in, std::cref(info), std::cref(o), std::ref(r));
  playback.join();
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  sn::platform::UnloadModule(module);
  sf_close(in);

  if (r.status != 0) {
    std::fprintf(stderr, "%s: %s\n", kProg, r.error.c_str());
    return r.status;
  }
  std::printf("%s: %lld frames in, %lld bytes written, output time %d ms, %.3f s elapsed", kProg,
              static_cast<long long>(r.framesIn), static_cast<long long>(r.bytesWritten), r.outputMs,
              elapsed);
  if (r.refused) std::printf(", %lld writes refused", static_cast<long long>(r.refused));
  std::printf("\n");
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
