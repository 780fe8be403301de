// The WAV-writing slave module out_wave.so, driven through its record as a host
// would, and the command-line player sonavel-play, run as a program.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "config/Config.h"
#include "engine/BinauralTable.h"
#include "host/OutputModule.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "support/Paths.h"
#include "support/PlayerRun.h"

namespace fs = std::filesystem;

namespace {

using sn::test::BinDir;
using sn::test::EnvGuard;
using sn::test::RunPlay;
using sn::test::RunResult;
using sn::test::TempDir;

struct Fmt {
  int formatTag = -1;
  uint32_t channelMask = 0;
};

// Walks the RIFF chunks to the "fmt " chunk: its format tag and, for
// WAVE_FORMAT_EXTENSIBLE, its channel mask.
Fmt ReadFmt(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  auto u16 = [&](size_t o) { return static_cast<uint32_t>(b[o] | b[o + 1] << 8); };
  auto u32 = [&](size_t o) { return u16(o) | u16(o + 2) << 16; };
  Fmt r;
  if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
      std::string(b.begin() + 8, b.begin() + 12) != "WAVE")
    return r;
  for (size_t o = 12; o + 8 <= b.size();) {
    const std::string id(b.begin() + o, b.begin() + o + 4);
    const uint32_t size = u32(o + 4);
    if (id == "fmt " && o + 8 + size <= b.size() && size >= 16) {
      r.formatTag = static_cast<int>(u16(o + 8));
      if (r.formatTag == 0xFFFE && size >= 24) r.channelMask = u32(o + 8 + 20);
      return r;
    }
    o += 8 + size + (size & 1);
  }
  return r;
}

struct Audio {
  SF_INFO info{};
  std::vector<int32_t> samples;  // full-scale ints, as sf_readf_int gives them
};

bool ReadAudio(const std::string& path, Audio& a) {
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &a.info);
  if (!f) return false;
  a.samples.assign(static_cast<size_t>(a.info.frames) * a.info.channels, 0);
  const sf_count_t got = sf_readf_int(f, a.samples.data(), a.info.frames);
  sf_close(f);
  return got == a.info.frames;
}

// Little-endian PCM of `bits` (8-bit unsigned) from full-scale ints, and the
// full-scale int that each stored sample reads back as.
std::vector<char> ToPcm(const std::vector<int32_t>& v, int bits) {
  std::vector<char> out;
  for (int32_t s : v) {
    const uint32_t u = static_cast<uint32_t>(s);
    switch (bits) {
      case 8: out.push_back(static_cast<char>((s >> 24) + 128)); break;
      case 16: out.push_back(static_cast<char>(u >> 16)); out.push_back(static_cast<char>(u >> 24)); break;
      case 24:
        for (int k = 1; k < 4; ++k) out.push_back(static_cast<char>(u >> (8 * k)));
        break;
      default:
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>(u >> (8 * k)));
    }
  }
  return out;
}
int32_t Quantise(int32_t s, int bits) {
  const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - bits)) - 1);
  return static_cast<int32_t>(static_cast<uint32_t>(s) & mask);
}

std::vector<int32_t> RandomSamples(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int32_t> v(n);
  for (auto& s : v) s = static_cast<int32_t>(rng());
  v[0] = INT32_MIN;  // the extremes survive every format
  if (n > 1) v[1] = INT32_MAX;
  return v;
}

// ---------------------------------------------------------------------------
// out_wave.so through its record.

class OutWave : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = sn::platform::LoadModule(sn::platform::FromUtf8(BinDir() + "/out_wave.so").c_str());
    ASSERT_NE(module_, nullptr) << "out_wave.so not found in " << BinDir();
    auto get = reinterpret_cast<GetOutModuleFn>(sn::platform::FindExport(module_, "winampGetOutModule"));
    ASSERT_NE(get, nullptr);
    rec_ = get();
  }
  static void TearDownTestSuite() {
    if (rec_) rec_->Quit();
    sn::platform::UnloadModule(module_);
    module_ = nullptr;
    rec_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(rec_, nullptr);
    ASSERT_FALSE(dir_.path.empty());
    out_ = dir_ / "out.wav";
    setenv("OUT_WAVE_PATH", out_.c_str(), 1);
    rec_->Init();
  }
  void TearDown() override {
    rec_->Pause(0);
    rec_->Close();
  }
  int Write(const std::vector<char>& b) { return rec_->Write(const_cast<char*>(b.data()), static_cast<int>(b.size())); }

  static inline sn::platform::Module* module_ = nullptr;
  static inline OutputModuleRecord* rec_ = nullptr;
  EnvGuard env_{"OUT_WAVE_PATH"};
  TempDir dir_;
  std::string out_;
};

TEST_F(OutWave, RecordDescribesAWriterThatIsNotSonavel) {
  EXPECT_EQ(rec_->version, OUT_MODULE_VERSION);
  EXPECT_STREQ(rec_->description, "Sonavel WAV writer v1.00");
  EXPECT_NE(rec_->id, 6546551);
  for (auto fn : {(void*)rec_->Config, (void*)rec_->About, (void*)rec_->Init, (void*)rec_->Quit, (void*)rec_->Open,
                  (void*)rec_->Close, (void*)rec_->Write, (void*)rec_->CanWrite, (void*)rec_->IsPlaying,
                  (void*)rec_->Pause, (void*)rec_->SetVolume, (void*)rec_->SetPan, (void*)rec_->Flush,
                  (void*)rec_->GetOutputTime, (void*)rec_->GetWrittenTime})
    EXPECT_NE(fn, nullptr);
}

struct RoundTripCase {
  int channels;
  int bits;
  int subtype;
};

std::ostream& operator<<(std::ostream& o, const RoundTripCase& c) {
  return o << c.channels << " channels, " << c.bits << " bits";
}

class OutWaveRoundTrip : public OutWave, public ::testing::WithParamInterface<RoundTripCase> {};

// Known frames written in uneven whole-frame pieces come back sample for sample,
// in the format that matches the stream, with the 5.1 mask on six channels.
TEST_P(OutWaveRoundTrip, WritesTheSamplesItIsGiven) {
  const RoundTripCase c = GetParam();
  const int frames = 3001;
  const std::vector<int32_t> src = RandomSamples(static_cast<size_t>(frames) * c.channels, 7u + c.bits);
  const std::vector<char> pcm = ToPcm(src, c.bits);
  const size_t frameBytes = static_cast<size_t>(c.channels) * (c.bits / 8);

  ASSERT_GE(rec_->Open(48000, c.channels, c.bits, 2000, 500), 0);
  size_t at = 0;
  for (size_t piece : {1, 576, 17, 1000}) {
    while (at < static_cast<size_t>(frames)) {
      const size_t n = std::min(piece, frames - at);
      std::vector<char> b(pcm.begin() + at * frameBytes, pcm.begin() + (at + n) * frameBytes);
      ASSERT_EQ(Write(b), 0);
      at += n;
      if (piece != 1000) break;
    }
  }
  ASSERT_EQ(at, static_cast<size_t>(frames));
  rec_->Close();

  Audio a;
  ASSERT_TRUE(ReadAudio(out_, a));
  EXPECT_EQ(a.info.channels, c.channels);
  EXPECT_EQ(a.info.samplerate, 48000);
  EXPECT_EQ(a.info.frames, frames);
  EXPECT_EQ(a.info.format & SF_FORMAT_SUBMASK, c.subtype);
  ASSERT_EQ(a.samples.size(), src.size());
  for (size_t i = 0; i < src.size(); ++i)
    ASSERT_EQ(a.samples[i], Quantise(src[i], c.bits)) << "sample " << i;

  const Fmt fmt = ReadFmt(out_);
  if (c.channels == 6) {
    EXPECT_EQ(fmt.formatTag, 0xFFFE);
    EXPECT_EQ(fmt.channelMask, 0x3Fu) << std::hex << fmt.channelMask;
  } else {
    EXPECT_NE(fmt.formatTag, -1);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, OutWaveRoundTrip,
                         ::testing::Values(RoundTripCase{6, 16, SF_FORMAT_PCM_16}, RoundTripCase{6, 24, SF_FORMAT_PCM_24},
                                           RoundTripCase{6, 32, SF_FORMAT_PCM_32}, RoundTripCase{2, 16, SF_FORMAT_PCM_16},
                                           RoundTripCase{1, 8, SF_FORMAT_PCM_U8}),
                         [](const auto& i) {
                           return std::to_string(i.param.channels) + "ch" + std::to_string(i.param.bits);
                         });

TEST_F(OutWave, TrailingBytesOfAPartialFrameAreDropped) {
  ASSERT_GE(rec_->Open(48000, 6, 16, 2000, 500), 0);
  std::vector<char> b(12 * 2 + 7, 1);
  EXPECT_EQ(Write(b), 0);
  EXPECT_EQ(Write(std::vector<char>(5, 1)), 0);  // less than a frame: nothing
  rec_->Close();
  Audio a;
  ASSERT_TRUE(ReadAudio(out_, a));
  EXPECT_EQ(a.info.frames, 2);
}

TEST_F(OutWave, OpenFailsWithAMessageWhenTheFileCannotBeCreated) {
  const std::string bad = dir_ / "missing-dir/out.wav";
  setenv("OUT_WAVE_PATH", bad.c_str(), 1);
  ::testing::internal::CaptureStderr();
  const int r = rec_->Open(44100, 6, 16, 2000, 500);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r, -1);
  EXPECT_NE(err.find("out_wave Error"), std::string::npos) << err;
  EXPECT_NE(err.find("Could not create the output file " + bad + ":"), std::string::npos) << err;
  EXPECT_EQ(rec_->CanWrite(), 0);
  std::vector<char> b(12, 0);
  EXPECT_EQ(Write(b), 1);
  EXPECT_FALSE(fs::exists(bad));
}

TEST_F(OutWave, UnsupportedFormatsAreRefused) {
  for (auto [rate, ch, bits] : {std::tuple{44100, 2, 12}, {44100, 0, 16}, {0, 2, 16}, {-1, 6, 24}, {44100, 6, 0}}) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(rec_->Open(rate, ch, bits, 2000, 500), -1) << rate << " " << ch << " " << bits;
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(rec_->CanWrite(), 0);
  }
}

// Calls out of order are refused without harm.
TEST_F(OutWave, BadCallsAreHarmless) {
  std::vector<char> b(64, 0);
  EXPECT_EQ(Write(b), 1);  // before Open
  EXPECT_EQ(rec_->Write(nullptr, 0), 1);
  EXPECT_EQ(rec_->CanWrite(), 0);
  EXPECT_EQ(rec_->IsPlaying(), 0);
  rec_->Close();
  rec_->Close();
  rec_->Flush(0);
  rec_->SetVolume(-5);
  rec_->SetPan(300);
  (void)rec_->GetOutputTime();
  (void)rec_->GetWrittenTime();

  ASSERT_GE(rec_->Open(44100, 2, 16, 2000, 500), 0);
  EXPECT_EQ(rec_->Write(nullptr, 64), 1);
  EXPECT_EQ(rec_->Write(b.data(), -4), 1);
  EXPECT_EQ(rec_->Write(b.data(), 0), 0);
  ASSERT_GE(rec_->Open(44100, 2, 16, 2000, 500), 0);  // again, without Close
  EXPECT_EQ(Write(b), 0);
  rec_->Quit();
  EXPECT_EQ(Write(b), 1);  // Quit closed the file
  rec_->Close();
  Audio a;
  ASSERT_TRUE(ReadAudio(out_, a));
  EXPECT_EQ(a.info.frames, 16);
}

TEST_F(OutWave, TimesCountWrittenFramesFromTheFlushBase) {
  ASSERT_GE(rec_->Open(48000, 6, 24, 2000, 500), 0);
  EXPECT_EQ(rec_->GetWrittenTime(), 0);
  std::vector<char> b(4800 * 18, 0);  // 100 ms
  ASSERT_EQ(Write(b), 0);
  EXPECT_EQ(rec_->GetWrittenTime(), 100);
  EXPECT_EQ(rec_->GetOutputTime(), 100);
  EXPECT_EQ(rec_->IsPlaying(), 0);

  rec_->Flush(5000);  // a seek to 5 s
  EXPECT_EQ(rec_->GetWrittenTime(), 5000);
  std::vector<char> c(480 * 18 + 18 * 47, 0);  // 10.98 ms
  ASSERT_EQ(Write(c), 0);
  EXPECT_EQ(rec_->GetWrittenTime(), 5010);
  EXPECT_EQ(rec_->GetOutputTime(), 5010);

  rec_->Close();
  ASSERT_GE(rec_->Open(44100, 2, 16, 2000, 500), 0);  // a new stream starts at 0
  EXPECT_EQ(rec_->GetOutputTime(), 0);
  std::vector<char> d(44100 * 4 * 3, 0);
  ASSERT_EQ(Write(d), 0);
  EXPECT_EQ(rec_->GetOutputTime(), 3000);
}

TEST_F(OutWave, PauseStopsCanWriteAndReportsThePreviousState) {
  ASSERT_GE(rec_->Open(44100, 6, 16, 2000, 500), 0);
  const int free = rec_->CanWrite();
  EXPECT_GE(free, 8192);
  EXPECT_EQ(rec_->Pause(1), 0);
  EXPECT_EQ(rec_->CanWrite(), 0);
  EXPECT_EQ(rec_->Pause(1), 1);
  EXPECT_EQ(rec_->CanWrite(), 0);
  EXPECT_EQ(rec_->Pause(0), 1);
  EXPECT_EQ(rec_->CanWrite(), free);
  EXPECT_EQ(rec_->Pause(0), 0);
}

// The output path: $OUT_WAVE_PATH, else the "Output Path" setting, else
// out_wave.wav in the current directory.
TEST_F(OutWave, OutputPathComesFromEnvironmentThenRegistryThenDefault) {
  EnvGuard reg("SONAVEL_REGISTRY");
  setenv("SONAVEL_REGISTRY", (dir_ / "hive.reg").c_str(), 1);
  const std::string fromReg = dir_ / "from-registry.wav";
  {
    long status = -1;
    auto key = sn::platform::RegistryKey::Create("SOFTWARE\\Tamberlin\\out_wave", &status);
    ASSERT_NE(key, nullptr) << status;
    ASSERT_EQ(key->SetString("Output Path", sn::platform::FromUtf8(fromReg).c_str()), sn::platform::kRegOk);
    ASSERT_EQ(key->Close(), sn::platform::kRegOk);
  }
  std::vector<char> b(4 * 10, 0);

  ASSERT_GE(rec_->Open(44100, 2, 16, 2000, 500), 0);
  ASSERT_EQ(Write(b), 0);
  rec_->Close();
  EXPECT_TRUE(fs::exists(out_));
  EXPECT_FALSE(fs::exists(fromReg));

  unsetenv("OUT_WAVE_PATH");
  ASSERT_GE(rec_->Open(44100, 2, 16, 2000, 500), 0);
  ASSERT_EQ(Write(b), 0);
  rec_->Close();
  EXPECT_TRUE(fs::exists(fromReg));

  setenv("SONAVEL_REGISTRY", (dir_ / "empty.reg").c_str(), 1);
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_.path);
  const int r = rec_->Open(44100, 2, 16, 2000, 500);
  rec_->Close();
  fs::current_path(cwd);
  ASSERT_GE(r, 0);
  EXPECT_TRUE(fs::exists(dir_.path / "out_wave.wav"));
}

// ---------------------------------------------------------------------------
// sonavel-play as a program.

// A stereo 16-bit file of `frames` frames; returns its samples as full-scale ints.
std::vector<int32_t> WriteStereoInput(const std::string& path, int frames, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  std::vector<short> s(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    s[2 * i] = static_cast<short>(std::lround(20000.0 * std::sin(2 * M_PI * 440.0 * i / rate)));
    s[2 * i + 1] = static_cast<short>(std::lround(-12000.0 * std::sin(2 * M_PI * 1000.0 * i / rate)));
  }
  s[0] = -32768;
  s[3] = 32767;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return {};
  sf_writef_short(f, s.data(), frames);
  sf_close(f);
  std::vector<int32_t> v(s.size());
  for (size_t i = 0; i < s.size(); ++i) v[i] = static_cast<int32_t>(s[i]) * 65536;
  return v;
}

TEST(SonavelPlayArgs, NoArgumentsPrintsUsageAndExits2) {
  const RunResult r = RunPlay({});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("usage: sonavel-play"), std::string::npos) << r.output;
}

TEST(SonavelPlayArgs, MissingInputIsAClearError) {
  TempDir dir;
  const std::string missing = dir / "no-such-input.wav";
  const RunResult r = RunPlay({"--registry", dir / "hive.reg", missing});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("sonavel-play: cannot read " + missing + ": "), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir / "hive.reg"));  // nothing stored for a run that cannot play
}

TEST(SonavelPlayArgs, BadOptionsExit2WithAMessage) {
  TempDir dir;
  const std::string in = dir / "in.wav";
  ASSERT_FALSE(WriteStereoInput(in, 100, 44100).empty());
  const std::string hive = dir / "hive.reg";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--mode", "loud", in}, "unknown mode 'loud'"},
      {{"--mode", "5", in}, "unknown mode '5'"},
      {{"--bits", "12", in}, "--bits must be 8, 16, 24 or 32"},
      {{"--slave-res", "20", in}, "--slave-res must be 16 or 24"},
      {{"--block", "0", in}, "--block must be"},
      {{"--volume", "256", in}, "--volume must be 0..255"},
      {{"--set", "Master Gain", in}, "--set needs NAME=VALUE"},
      {{"--registry", hive, "--set", "No Such Setting=1", in}, "unknown setting 'No Such Setting'"},
      {{"--registry", hive, "--set", "Master Gain=loud", in}, "setting 'Master Gain' needs a number"},
      {{"--frobnicate", in}, "unknown option --frobnicate"},
      {{in, in}, "only one input file"},
      {{"--mode"}, "option --mode needs a value"},
  };
  for (const auto& [args, message] : cases) {
    const RunResult r = RunPlay(args);
    EXPECT_EQ(r.status, 2) << message << "\n" << r.output;
    EXPECT_NE(r.output.find("sonavel-play: " + message), std::string::npos) << r.output;
  }
}

TEST(SonavelPlayArgs, AModuleThatCannotBeLoadedIsAClearError) {
  TempDir dir;
  const std::string in = dir / "in.wav";
  ASSERT_FALSE(WriteStereoInput(in, 100, 44100).empty());
  const std::string missing = dir / "no-such-module.so";
  RunResult r = RunPlay({"--registry", dir / "hive.reg", "--module", missing, in});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("sonavel-play: cannot load module " + missing), std::string::npos) << r.output;

  // A shared object that is not an output module.
  const std::string notModule = BinDir() + "/sonavel-play";
  r = RunPlay({"--registry", dir / "hive.reg", "--module", notModule, in});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("sonavel-play: cannot load module " + notModule), std::string::npos) << r.output;
}

// The options reach the settings store as the settings window would write them.
TEST(SonavelPlayArgs, SettingsAreStoredBeforeTheModuleLoads) {
  TempDir dir;
  const std::string in = dir / "in.wav";
  ASSERT_FALSE(WriteStereoInput(in, 100, 44100).empty());
  const std::string hive = dir / "hive.reg";
  // out_wave.so as the module itself: the player drives it directly.
  const RunResult r = RunPlay({"--registry", hive, "--module", BinDir() + "/out_wave.so", "--out", dir / "o.wav",
                               "--mode", "headphones", "--set", "Master Gain=-3", "--set", "delay c=0xFFFFFFFF",
                               "--set", "Trim SR=+2", "--slave-res", "24", "--slave", "/opt/x/out_test.so", in});
  ASSERT_EQ(r.status, 0) << r.output;

  EnvGuard env("SONAVEL_REGISTRY");
  setenv("SONAVEL_REGISTRY", hive.c_str(), 1);
  sn::Config c = sn::DefaultConfig();
  sn::LoadConfig(c);
  EXPECT_EQ(c.Mode, sn::kModeHeadphones);
  EXPECT_EQ(c.MasterGain, -3);
  EXPECT_EQ(c.DelayC, 100);  // 0xFFFFFFFF was stored; loading caps it
  EXPECT_EQ(c.TrimSR, 2);
  EXPECT_EQ(c.SlaveRes, 24);
  char16_t path[sn::kSlavePathChars];
  sn::GetSlavePath(c, path);
  EXPECT_EQ(sn::platform::ToUtf8(path), "/opt/x/out_test.so");
  EXPECT_EQ(c.CentreWeight, 100);  // untouched settings keep their values

  // Without --slave the slave is the out_wave.so beside the program.
  ASSERT_EQ(RunPlay({"--registry", hive, "--module", BinDir() + "/out_wave.so", "--out", dir / "o.wav", in}).status, 0);
  sn::LoadConfig(c);
  sn::GetSlavePath(c, path);
  EXPECT_EQ(fs::path(sn::platform::ToUtf8(path)).filename(), "out_wave.so");
  EXPECT_TRUE(fs::exists(sn::platform::ToUtf8(path)));
  EXPECT_EQ(c.MasterGain, -3);  // kept from the store
}

// With out_wave.so as the module, the player's stream reaches the file
// unchanged: the sample conversion for every --bits and the block loop.
TEST(SonavelPlayArgs, PlaysIntoOutWaveDirectlyInEveryFormat) {
  TempDir dir;
  const std::string in = dir / "in.wav";
  const int frames = 5000;
  const std::vector<int32_t> src = WriteStereoInput(in, frames, 44100);
  ASSERT_FALSE(src.empty());
  for (int bits : {8, 16, 24, 32}) {
    const std::string out = dir / ("out" + std::to_string(bits) + ".wav");
    const RunResult r = RunPlay({"--registry", dir / "hive.reg", "--module", BinDir() + "/out_wave.so", "--out", out,
                                 "--bits", std::to_string(bits), "--block", "333", in});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("5000 frames in, " + std::to_string(frames * 2 * bits / 8) + " bytes written"),
              std::string::npos) << r.output;
    Audio a;
    ASSERT_TRUE(ReadAudio(out, a)) << out;
    EXPECT_EQ(a.info.channels, 2);
    EXPECT_EQ(a.info.samplerate, 44100);
    ASSERT_EQ(a.samples.size(), src.size());
    for (size_t i = 0; i < src.size(); ++i) ASSERT_EQ(a.samples[i], Quantise(src[i], bits)) << bits << " " << i;
  }
}

// ---------------------------------------------------------------------------
// The whole chain: sonavel-play -> out_sonavel.so -> out_wave.so.

bool HostAvailable() {
  sn::platform::Module* m = sn::platform::LoadModule(sn::platform::FromUtf8(BinDir() + "/out_sonavel.so").c_str());
  if (!m) return false;
  const bool ok = sn::platform::FindExport(m, "winampGetOutModule") != nullptr;
  sn::platform::UnloadModule(m);
  return ok;
}

struct ChainCase {
  int slaveRes;
  double fullScale;  // of the output samples
};

std::ostream& operator<<(std::ostream& o, const ChainCase& c) { return o << c.slaveRes << "-bit output"; }

class SonavelPlayChain : public ::testing::TestWithParam<ChainCase> {};

// In bypass a stereo source comes out as six channels of the same length: L and
// R at the engine's 0.707 headroom, the other four silent.
TEST_P(SonavelPlayChain, BypassCarriesStereoIntoSixChannels) {
  ASSERT_TRUE(HostAvailable()) << "out_sonavel.so must load and export winampGetOutModule";
  const ChainCase c = GetParam();
  TempDir dir;
  const std::string in = dir / "in.wav";
  const std::string out = dir / "out.wav";
  const int frames = 44100 / 2 + 123;
  const std::vector<int32_t> src = WriteStereoInput(in, frames, 44100);
  ASSERT_FALSE(src.empty());

  const RunResult r = RunPlay({"--registry", dir / "hive.reg", "--out", out, "--mode", "bypass", "--slave-res",
                               std::to_string(c.slaveRes), in});
  ASSERT_EQ(r.status, 0) << r.output;
  Audio a;
  ASSERT_TRUE(ReadAudio(out, a)) << r.output;
  EXPECT_EQ(a.info.channels, 6);
  EXPECT_EQ(a.info.samplerate, 44100);
  ASSERT_EQ(a.info.frames, frames);
  EXPECT_EQ(a.info.format & SF_FORMAT_SUBMASK, c.slaveRes == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
  EXPECT_EQ(ReadFmt(out).channelMask, 0x3Fu);

  // One output code in sf_readf_int units. The engine scales by the float
  // nearest 0.707; rounding to float and to an output code (truncated or
  // rounded, by back end) stays within 1.5 codes.
  const double step = 2147483648.0 / c.fullScale;
  const double headroom = static_cast<double>(0.707f);
  for (int i = 0; i < frames; ++i) {
    for (int ch = 0; ch < 6; ++ch) {
      const double got = a.samples[static_cast<size_t>(i) * 6 + ch] / step;
      const double want = ch < 2 ? headroom * (src[static_cast<size_t>(i) * 2 + ch] / 2147483648.0) * c.fullScale : 0.0;
      ASSERT_NEAR(got, want, 1.5) << "frame " << i << " channel " << ch;
    }
  }
}

// A clip shorter than one headphone block comes out whole: the player's wait
// at the end plays out the held frames and the responses' tail, so the file
// holds the clip's length plus the tail, and the output time the player reads
// afterwards is the slave's time for what it received.
TEST(SonavelPlayHeadphones, AShortClipComesOutWhole) {
  ASSERT_TRUE(HostAvailable()) << "out_sonavel.so must load and export winampGetOutModule";
  TempDir dir;
  const std::string in = dir / "in.wav";
  const std::string out = dir / "out.wav";
  const int frames = 4410;  // 0.1 s
  ASSERT_FALSE(WriteStereoInput(in, frames, 44100).empty());
  const RunResult r = RunPlay({"--registry", dir / "hive.reg", "--out", out, "--mode", "headphones", in});
  ASSERT_EQ(r.status, 0) << r.output;
  // The last non-zero tap of the 44.1 kHz table's responses.
  int tail = 0;
  for (int i = 0; i < sn::kBinauralResponses * sn::kBinauralTaps; ++i)
    if (sn::BinauralTable44100[i] != 0.0f) tail = std::max(tail, i % sn::kBinauralTaps);
  Audio a;
  ASSERT_TRUE(ReadAudio(out, a)) << r.output;
  EXPECT_EQ(a.info.channels, 6);
  ASSERT_EQ(a.info.frames, frames + tail);
  const int64_t ms = (static_cast<int64_t>(frames) + tail) * 1000 / 44100;
  EXPECT_NE(r.output.find("output time " + std::to_string(ms) + " ms"), std::string::npos) << r.output;
  double early = 0.0;
  for (int i = 0; i < frames; ++i) early += std::fabs(static_cast<double>(a.samples[static_cast<size_t>(i) * 6]));
  EXPECT_GT(early / frames, 1e6) << "the clip's own frames are heard";
}

INSTANTIATE_TEST_SUITE_P(SlaveRes, SonavelPlayChain,
                         ::testing::Values(ChainCase{16, 32768.0}, ChainCase{24, 8388608.0}),
                         [](const auto& i) { return std::to_string(i.param.slaveRes) + "bit"; });

}  // namespace
