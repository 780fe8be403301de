// The ALSA slave module out_alsa.so through real ALSA without a sound card, and
// sonavel-play as a player: its default output, its progress line, its level
// table, its exit codes and Ctrl-C.
//
// A scratch ALSA configuration (ALSA_CONFIG_PATH) routes every device to ALSA's
// file plugin over its null device, which takes frames as fast as they come
// and reports no delay; the bytes that reached "the card" are read back from
// the file.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/Config.h"
#include "host/OutputModule.h"
#include "platform/Platform.h"
#include "support/Paths.h"
#include "support/PlayerRun.h"
#include "tools/OutputStats.h"

namespace fs = std::filesystem;

namespace {

using sn::test::BinDir;
using sn::test::EnvGuard;
using sn::test::RunPlay;
using sn::test::RunPlayOnPty;
using sn::test::RunResult;
using sn::test::TempDir;

using Bytes = std::vector<unsigned char>;

Bytes ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
  const Bytes b = ReadBytes(path);
  return std::string(b.begin(), b.end());
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<unsigned char>(rng());
  return b;
}

Bytes Concat(std::initializer_list<const Bytes*> parts) {
  Bytes out;
  for (const Bytes* p : parts) out.insert(out.end(), p->begin(), p->end());
  return out;
}

// A scratch ALSA configuration: device NAME writes the raw stream to
// NAME.raw in a scratch directory. "default" reports no channel map, "mapped"
// reports the map L, R, C, LFE, SL (RL), SR (RR); "stereo_only" takes two
// channels and nothing else.
class AlsaScratch {
 public:
  AlsaScratch() {
    const std::string conf = dir_ / "asound.conf";
    std::ofstream f(conf);
    // The map comes from an identity route: the null device's own map option
    // is not freed by ALSA at close.
    f << Device("!default", Raw("default"), "{ type null }")
      << Device("mapped", Raw("mapped"),
                "{\n    type route\n    slave { pcm { type null } channels 6 }\n"
                "    ttable { 0.0 1 1.1 1 2.2 1 3.3 1 4.4 1 5.5 1 }\n"
                "    chmap [ \"FL,FR,FC,LFE,RL,RR\" ]\n  }")
      << "pcm.stereo_only {\n  type multi\n  slaves.a { pcm { type null } channels 2 }\n"
         "  bindings.0 { slave a channel 0 }\n  bindings.1 { slave a channel 1 }\n}\n";
    f.close();
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
    unsetenv("SONAVEL_ALSA_DEVICE");
  }
  std::string Raw(const std::string& device) const { return dir_ / (device + ".raw"); }
  bool Ok() const { return !dir_.path.empty(); }

 private:
  static std::string Device(const std::string& name, const std::string& file, const std::string& slave) {
    return "pcm." + name + " {\n  type file\n  slave.pcm " + slave + "\n  file \"" + file + "\"\n  format \"raw\"\n}\n";
  }
  EnvGuard config_{"ALSA_CONFIG_PATH"};
  EnvGuard device_{"SONAVEL_ALSA_DEVICE"};
  TempDir dir_;
};

// Where ALSA's usual 5.1 order puts our L, R, C, LFE, SL, SR.
constexpr int kAlsa51[6] = {0, 1, 4, 5, 2, 3};
constexpr int kInOrder[6] = {0, 1, 2, 3, 4, 5};

// The stream with channel c of every frame moved to slot[c].
Bytes Placed(const Bytes& src, int channels, int sampleBytes, const int* slot) {
  Bytes out(src.size());
  const size_t fb = static_cast<size_t>(channels) * sampleBytes;
  for (size_t f = 0; f < src.size() / fb; ++f)
    for (int c = 0; c < channels; ++c)
      std::copy_n(src.begin() + f * fb + c * sampleBytes, sampleBytes, out.begin() + f * fb + slot[c] * sampleBytes);
  return out;
}

// ---------------------------------------------------------------------------
// out_alsa.so through its record.

class OutAlsa : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = sn::platform::LoadModule(sn::platform::FromUtf8(BinDir() + "/out_alsa.so").c_str());
    ASSERT_NE(module_, nullptr) << "out_alsa.so: " << sn::platform::ModuleLoadError();
    auto get = reinterpret_cast<GetOutModuleFn>(sn::platform::FindExport(module_, "winampGetOutModule"));
    ASSERT_NE(get, nullptr);
    rec_ = get();
    stats_ = reinterpret_cast<OutputStatsFn>(sn::platform::FindExport(module_, OUTPUT_STATS_EXPORT));
  }
  static void TearDownTestSuite() {
    if (rec_) rec_->Quit();
    sn::platform::UnloadModule(module_);
    module_ = nullptr;
    rec_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(rec_, nullptr);
    ASSERT_TRUE(alsa_.Ok());
    rec_->Init();
  }
  void TearDown() override {
    rec_->Pause(0);
    rec_->Close();
    rec_->SetVolume(255);
    rec_->SetPan(0);
  }
  int Open(const char* device, int rate, int channels, int bits, int bufferMs = 2000) {
    setenv("SONAVEL_ALSA_DEVICE", device, 1);
    return rec_->Open(rate, channels, bits, bufferMs, 500);
  }
  // Writes the whole stream in pieces of `pieceFrames`, waiting (bounded) for
  // room before each as a player does.
  static ::testing::AssertionResult WriteAll(const Bytes& pcm, int frameBytes, size_t pieceFrames) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (size_t at = 0; at < pcm.size();) {
      const size_t n = std::min(pieceFrames * frameBytes, pcm.size() - at);
      while (rec_->CanWrite() < static_cast<int>(n)) {
        if (std::chrono::steady_clock::now() > deadline)
          return ::testing::AssertionFailure() << "no room for " << n << " bytes at byte " << at;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (rec_->Write(reinterpret_cast<char*>(const_cast<unsigned char*>(pcm.data() + at)), static_cast<int>(n)) != 0)
        return ::testing::AssertionFailure() << "Write refused at byte " << at;
      at += n;
    }
    return ::testing::AssertionSuccess();
  }
  // Waits (bounded) until everything written has been played.
  static ::testing::AssertionResult Drain() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (rec_->IsPlaying()) {
      if (std::chrono::steady_clock::now() > deadline)
        return ::testing::AssertionFailure() << "still playing; output time " << rec_->GetOutputTime();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ::testing::AssertionSuccess();
  }

  static inline sn::platform::Module* module_ = nullptr;
  static inline OutputModuleRecord* rec_ = nullptr;
  static inline OutputStatsFn stats_ = nullptr;
  AlsaScratch alsa_;
};

TEST_F(OutAlsa, RecordDescribesAnOutputThatIsNotSonavel) {
  EXPECT_EQ(rec_->version, OUT_MODULE_VERSION);
  EXPECT_STREQ(rec_->description, "Sonavel ALSA output v1.00");
  EXPECT_NE(rec_->id, 6546551);
  for (auto fn : {(void*)rec_->Config, (void*)rec_->About, (void*)rec_->Init, (void*)rec_->Quit, (void*)rec_->Open,
                  (void*)rec_->Close, (void*)rec_->Write, (void*)rec_->CanWrite, (void*)rec_->IsPlaying,
                  (void*)rec_->Pause, (void*)rec_->SetVolume, (void*)rec_->SetPan, (void*)rec_->Flush,
                  (void*)rec_->GetOutputTime, (void*)rec_->GetWrittenTime})
    EXPECT_NE(fn, nullptr);
  EXPECT_NE(stats_, nullptr);
}

struct StreamCase {
  const char* device;
  int channels;
  int bits;
  const int* slots;  // where the device gets each channel
};

std::ostream& operator<<(std::ostream& o, const StreamCase& c) {
  return o << c.device << ", " << c.channels << " channels, " << c.bits << " bits";
}

class OutAlsaStream : public OutAlsa, public ::testing::WithParamInterface<StreamCase> {};

// Known bytes written in uneven pieces reach the device complete and in order,
// each channel in its slot; the clock ends at the stream's length.
TEST_P(OutAlsaStream, TheDeviceReceivesWhatWasWritten) {
  const StreamCase c = GetParam();
  const int rate = 48000;
  const int frameBytes = c.channels * c.bits / 8;
  const size_t frames = rate / 2 + 7;
  const Bytes src = RandomBytes(frames * frameBytes, 11u * c.bits + c.channels);

  const int latency = Open(c.device, rate, c.channels, c.bits);
  ASSERT_GE(latency, 2000) << "the ring alone holds the 2000 ms asked for";
  ASSERT_TRUE(WriteAll(Bytes(src.begin(), src.begin() + frameBytes), frameBytes, 1));
  ASSERT_TRUE(WriteAll(Bytes(src.begin() + frameBytes, src.begin() + 18 * frameBytes), frameBytes, 17));
  ASSERT_TRUE(WriteAll(Bytes(src.begin() + 18 * frameBytes, src.end()), frameBytes, 576));
  ASSERT_TRUE(Drain());
  EXPECT_EQ(rec_->GetWrittenTime(), 500);
  EXPECT_EQ(rec_->GetOutputTime(), 500);
  rec_->Close();

  const Bytes got = ReadBytes(alsa_.Raw(c.device));
  ASSERT_EQ(got.size(), src.size());
  const Bytes want = Placed(src, c.channels, c.bits / 8, c.slots);
  for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, OutAlsaStream,
    ::testing::Values(StreamCase{"mapped", 6, 16, kInOrder}, StreamCase{"mapped", 6, 24, kInOrder},
                      StreamCase{"default", 6, 16, kAlsa51}, StreamCase{"default", 6, 24, kAlsa51},
                      StreamCase{"default", 2, 16, kInOrder}, StreamCase{"default", 1, 8, kInOrder},
                      StreamCase{"default", 4, 32, kInOrder}),
    [](const auto& i) {
      return std::string(i.param.device) + "_" + std::to_string(i.param.channels) + "ch" +
             std::to_string(i.param.bits);
    });

constexpr int kRate = 48000;
constexpr int kFrame6x16 = 12;

Bytes Frames6x16(size_t frames, uint32_t seed) { return RandomBytes(frames * kFrame6x16, seed); }

// While paused nothing more is played and what is written waits; on resume it
// plays, and the clock counts it once.
TEST_F(OutAlsa, PauseHoldsTheStreamAndTheClock) {
  const Bytes a = Frames6x16(4800, 1), b = Frames6x16(2400, 2);  // 100 ms, 50 ms
  ASSERT_GE(Open("mapped", kRate, 6, 16), 0);
  ASSERT_TRUE(WriteAll(a, kFrame6x16, 576));
  ASSERT_TRUE(Drain());
  EXPECT_EQ(rec_->GetOutputTime(), 100);

  EXPECT_EQ(rec_->Pause(1), 0);
  ASSERT_TRUE(WriteAll(b, kFrame6x16, 576));
  EXPECT_EQ(rec_->GetWrittenTime(), 150);
  // A window in which a feeder that ignored the pause would have played b.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (std::chrono::steady_clock::now() < until) {
    ASSERT_EQ(rec_->GetOutputTime(), 100);
    ASSERT_EQ(rec_->IsPlaying(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(rec_->Pause(1), 1);
  EXPECT_EQ(rec_->Pause(0), 1);
  ASSERT_TRUE(Drain());
  EXPECT_EQ(rec_->GetOutputTime(), 150);
  EXPECT_EQ(rec_->GetWrittenTime(), 150);
  rec_->Close();
  EXPECT_EQ(ReadBytes(alsa_.Raw("mapped")), Concat({&a, &b}));
}

// Flush drops what is queued (here held back by a pause), keeps the pause,
// and restarts both times at the given time.
TEST_F(OutAlsa, FlushDropsWhatIsQueuedAndRestartsTheClock) {
  const Bytes a = Frames6x16(4800, 3), b = Frames6x16(2400, 4), c = Frames6x16(4800, 5), d = Frames6x16(480, 6);
  ASSERT_GE(Open("mapped", kRate, 6, 16), 0);
  ASSERT_TRUE(WriteAll(a, kFrame6x16, 576));
  ASSERT_TRUE(Drain());

  EXPECT_EQ(rec_->Pause(1), 0);
  ASSERT_TRUE(WriteAll(b, kFrame6x16, 576));
  rec_->Flush(5000);
  EXPECT_EQ(rec_->GetWrittenTime(), 5000);
  EXPECT_EQ(rec_->GetOutputTime(), 5000);
  EXPECT_EQ(rec_->IsPlaying(), 0);
  EXPECT_EQ(rec_->Pause(0), 1) << "Flush keeps the pause";

  ASSERT_TRUE(WriteAll(c, kFrame6x16, 576));
  ASSERT_TRUE(Drain());
  EXPECT_EQ(rec_->GetOutputTime(), 5100);
  EXPECT_EQ(rec_->GetWrittenTime(), 5100);

  rec_->Flush(0);  // nothing queued: only the clock moves
  EXPECT_EQ(rec_->GetOutputTime(), 0);
  ASSERT_TRUE(WriteAll(d, kFrame6x16, 576));
  ASSERT_TRUE(Drain());
  EXPECT_EQ(rec_->GetOutputTime(), 10);
  rec_->Close();
  EXPECT_EQ(ReadBytes(alsa_.Raw("mapped")), Concat({&a, &c, &d}));
}

// Volume (amplitude (v/255)^2) and pan (the far side's channels fade) are
// applied on the way to the device; the level figures are of what was written.
TEST_F(OutAlsa, VolumeAndPanScaleInSoftware) {
  struct Case {
    int volume;
    int pan;
  };
  const Case cases[] = {{255, 0}, {128, 0}, {0, 0}, {255, -128}, {255, 127}, {255, -64}, {200, 64}};
  const int16_t level[6] = {16000, -16000, 8000, 12000, -20000, 20000};
  const size_t frames = 480;
  Bytes block(frames * kFrame6x16);
  for (size_t f = 0; f < frames; ++f)
    for (int ch = 0; ch < 6; ++ch) {
      block[f * 12 + ch * 2] = static_cast<unsigned char>(level[ch] & 0xFF);
      block[f * 12 + ch * 2 + 1] = static_cast<unsigned char>((level[ch] >> 8) & 0xFF);
    }

  ASSERT_GE(Open("mapped", kRate, 6, 16), 0);
  for (const Case& c : cases) {
    rec_->SetVolume(c.volume);
    rec_->SetPan(c.pan);
    ASSERT_TRUE(WriteAll(block, kFrame6x16, 576));
    ASSERT_TRUE(Drain());
  }
  OutputStats st{};
  ASSERT_EQ(stats_(&st), 1);
  rec_->Close();

  EXPECT_EQ(st.channels, 6);
  EXPECT_EQ(st.bitsPerSample, 16);
  EXPECT_EQ(st.frames, static_cast<int64_t>(frames * std::size(cases)));
  for (int ch = 0; ch < 6; ++ch) EXPECT_EQ(st.peak[ch], std::abs(level[ch])) << ch;

  const Bytes got = ReadBytes(alsa_.Raw("mapped"));
  ASSERT_EQ(got.size(), block.size() * std::size(cases));
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Case c = cases[k];
    const double master = (c.volume / 255.0) * (c.volume / 255.0);
    const double leftSide = c.pan > 0 ? (127 - c.pan) / 127.0 : 1.0;
    const double rightSide = c.pan < 0 ? (128 + c.pan) / 128.0 : 1.0;
    const double side[6] = {leftSide, rightSide, 1, 1, leftSide, rightSide};
    for (size_t f = 0; f < frames; ++f)
      for (int ch = 0; ch < 6; ++ch) {
        const size_t at = (k * frames + f) * 12 + ch * 2;
        const int16_t v = static_cast<int16_t>(got[at] | got[at + 1] << 8);
        ASSERT_NEAR(v, level[ch] * master * side[ch], 1.0)
            << "volume " << c.volume << " pan " << c.pan << " channel " << ch << " frame " << f;
      }
  }
}

// More than there is room for waits at most about one device buffer, then
// keeps what fits and says so.
TEST_F(OutAlsa, AWriteBeyondTheRoomKeepsWhatFitsAndReturns1) {
  ASSERT_GE(Open("default", kRate, 2, 16, 250), 0);
  EXPECT_EQ(rec_->Pause(1), 0);  // nothing drains
  const int room = rec_->CanWrite();
  EXPECT_EQ(room, kRate / 4 * 4);
  Bytes pcm = RandomBytes(static_cast<size_t>(room) + 4000, 9);
  EXPECT_EQ(rec_->Write(reinterpret_cast<char*>(pcm.data()), static_cast<int>(pcm.size())), 1);
  EXPECT_EQ(rec_->CanWrite(), 0);
  EXPECT_EQ(rec_->GetWrittenTime(), 250);
  EXPECT_EQ(rec_->Pause(0), 1);
  ASSERT_TRUE(Drain());
  EXPECT_EQ(rec_->GetOutputTime(), 250);
  rec_->Close();
  const Bytes got = ReadBytes(alsa_.Raw("default"));
  EXPECT_EQ(got, Bytes(pcm.begin(), pcm.begin() + room));
}

struct OpenFailure {
  const char* device;
  const char* message;
};

class OutAlsaOpenFailure : public OutAlsa, public ::testing::WithParamInterface<OpenFailure> {};

// A device that cannot be opened, or cannot take the stream, fails the Open
// with one line that names it and gives ALSA's reason; the module then refuses
// everything quietly.
TEST_P(OutAlsaOpenFailure, OpenReturnsMinus1AndNamesTheDevice) {
  ::testing::internal::CaptureStderr();
  const int r = Open(GetParam().device, 44100, 6, 16);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r, -1);
  EXPECT_NE(err.find(std::string("out_alsa Error: ") + GetParam().message), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "ALSA's own messages are folded into ours:\n" << err;
  EXPECT_EQ(rec_->CanWrite(), 0);
  EXPECT_EQ(rec_->IsPlaying(), 0);
  Bytes b(12, 0);
  EXPECT_EQ(rec_->Write(reinterpret_cast<char*>(b.data()), 12), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, OutAlsaOpenFailure,
    ::testing::Values(OpenFailure{"no_such_device",
                                  "Could not open the ALSA device \"no_such_device\": No such file or directory "
                                  "(Unknown PCM no_such_device)"},
                      OpenFailure{"stereo_only", "The ALSA device \"stereo_only\" cannot play 44100 Hz, 6 channels, "
                                                 "16 bits (channel count: Invalid argument)"}),
    [](const auto& i) { return std::string(i.param.device); });

TEST_F(OutAlsa, UnsupportedFormatsAreRefused) {
  for (auto [rate, ch, bits] : {std::tuple{44100, 2, 12}, {44100, 0, 16}, {0, 2, 16}, {-1, 6, 24}, {44100, 65, 16}}) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Open("default", rate, ch, bits), -1) << rate << " " << ch << " " << bits;
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("out_alsa Error: Unsupported stream format"), std::string::npos) << err;
    EXPECT_EQ(rec_->CanWrite(), 0);
  }
}

// Calls out of order are refused without harm.
TEST_F(OutAlsa, BadCallsAreHarmless) {
  Bytes b(64, 0);
  char* p = reinterpret_cast<char*>(b.data());
  EXPECT_EQ(rec_->Write(p, 64), 1);  // before Open
  EXPECT_EQ(rec_->CanWrite(), 0);
  EXPECT_EQ(rec_->IsPlaying(), 0);
  rec_->Close();
  rec_->Close();
  rec_->Flush(0);
  EXPECT_EQ(rec_->Pause(1), 0);
  EXPECT_EQ(rec_->Pause(0), 1);
  rec_->SetVolume(-5);
  rec_->SetPan(300);
  (void)rec_->GetOutputTime();
  (void)rec_->GetWrittenTime();
  rec_->SetVolume(255);
  rec_->SetPan(0);

  ASSERT_GE(Open("default", 44100, 2, 16), 0);
  EXPECT_EQ(rec_->Write(nullptr, 64), 1);
  EXPECT_EQ(rec_->Write(p, -4), 1);
  EXPECT_EQ(rec_->Write(p, 0), 0);
  ASSERT_GE(Open("default", 44100, 2, 16), 0);  // again, without Close
  EXPECT_EQ(rec_->Write(p, 64), 0);
  ASSERT_TRUE(Drain());
  rec_->Quit();
  EXPECT_EQ(rec_->Write(p, 64), 1);  // Quit closed the device
  EXPECT_EQ(ReadBytes(alsa_.Raw("default")).size(), 64u);
}

// ---------------------------------------------------------------------------
// sonavel-play as a player.

// A stereo 16-bit file whose samples are left(i) and right(i).
bool WriteInput(const std::string& path, int frames, int rate, const std::function<int(int)>& left,
                const std::function<int(int)>& right) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  std::vector<short> s(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    s[2 * i] = static_cast<short>(left(i));
    s[2 * i + 1] = static_cast<short>(right(i));
  }
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return false;
  const bool ok = sf_writef_short(f, s.data(), frames) == frames;
  sf_close(f);
  return ok;
}

int Sine(int i, double amplitude, double hz, int rate) {
  return static_cast<int>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate)));
}

bool WriteMusic(const std::string& path, int frames, int rate = 44100) {
  return WriteInput(
      path, frames, rate, [rate](int i) { return Sine(i, 20000, 440, rate); },
      [rate](int i) { return Sine(i, 12000, 1000, rate); });
}

// The 16-bit codes of a six-channel WAV, frame by frame.
std::vector<int16_t> ReadCodes16(const std::string& path, SF_INFO& info) {
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  std::vector<int16_t> v(static_cast<size_t>(info.frames) * info.channels);
  sf_readf_short(f, v.data(), info.frames);
  sf_close(f);
  return v;
}

sn::Config StoredSettings(const std::string& hive) {
  EnvGuard env("SONAVEL_REGISTRY");
  setenv("SONAVEL_REGISTRY", hive.c_str(), 1);
  sn::Config c = sn::DefaultConfig();
  sn::LoadConfig(c);
  return c;
}

std::string SlaveOf(const sn::Config& c) {
  char16_t path[sn::kSlavePathChars];
  sn::GetSlavePath(c, path);
  return sn::platform::ToUtf8(path);
}

class PlayToAlsa : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(alsa_.Ok());
    ASSERT_FALSE(dir_.path.empty());
    in_ = dir_ / "in.wav";
    hive_ = dir_ / "hive.reg";
  }
  AlsaScratch alsa_;
  TempDir dir_;
  std::string in_;
  std::string hive_;
};

// Without --out the player plays to out_alsa.so on the default device; the
// card gets the very samples that --out writes to a file.
TEST_F(PlayToAlsa, PlaysToTheSoundCardByDefault) {
  const int frames = 22050 + 11;
  ASSERT_TRUE(WriteMusic(in_, frames));
  RunResult r = RunPlay({"--registry", hive_, "--mode", "bypass", in_});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(fs::path(SlaveOf(StoredSettings(hive_))).filename(), "out_alsa.so");
  const Bytes card = ReadBytes(alsa_.Raw("default"));
  ASSERT_EQ(card.size(), static_cast<size_t>(frames) * 12) << r.output;

  const std::string wav = dir_ / "out.wav";
  r = RunPlay({"--registry", hive_, "--mode", "bypass", "--out", wav, in_});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(fs::path(SlaveOf(StoredSettings(hive_))).filename(), "out_wave.so");
  SF_INFO info{};
  const std::vector<int16_t> file = ReadCodes16(wav, info);
  ASSERT_EQ(info.frames, frames);
  const Bytes want =
      Placed(Bytes(reinterpret_cast<const unsigned char*>(file.data()),
                   reinterpret_cast<const unsigned char*>(file.data() + file.size())),
             6, 2, kAlsa51);
  EXPECT_EQ(card, want);
}

TEST_F(PlayToAlsa, ExitCodesSayWhatWentWrong) {
  ASSERT_TRUE(WriteMusic(in_, 4410));
  setenv("SONAVEL_ALSA_DEVICE", "no_such_device", 1);
  RunResult r = RunPlay({"--registry", hive_, in_});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("out_alsa Error: Could not open the ALSA device \"no_such_device\": "), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("sonavel-play: the output module could not open the stream"), std::string::npos)
      << r.output;

  // A slave that cannot be loaded: the message box's fixed text, then why.
  const std::string missing = dir_ / "no_such_slave.so";
  r = RunPlay({"--registry", hive_, "--slave", missing, in_});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("Sonavel Error: Slave module could not be opened.\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Sonavel: slave module \"" + missing + "\" could not be loaded (tried " + missing + ": " +
                          missing + ": cannot open shared object file: No such file or directory)"),
            std::string::npos)
      << r.output;

  EXPECT_EQ(RunPlay({"--quiet", "--frobnicate", in_}).status, 2);
  unsetenv("SONAVEL_ALSA_DEVICE");
  r = RunPlay({"--registry", hive_, "--quiet", in_});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "") << "--quiet prints nothing on success";
}

// One line from `text` that begins with `prefix`, up to its end.
std::string LineFrom(const std::string& text, const std::string& prefix) {
  const size_t at = text.find(prefix);
  if (at == std::string::npos) return {};
  const size_t end = text.find_first_of("\r\n", at + prefix.size());
  return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// On a terminal: one progress line, rewritten in place, that ends at the
// stream's length; then the summary and the level table. Not on a pipe, and
// not with --quiet.
TEST_F(PlayToAlsa, ProgressAndLevelsOnATerminal) {
  ASSERT_TRUE(WriteMusic(in_, 44100));  // 1.0 s
  const std::string wav = dir_ / "out.wav";
  RunResult r = RunPlayOnPty({"--registry", hive_, "--mode", "bypass", "--out", wav, in_});
  ASSERT_EQ(r.status, 0) << r.output;
  std::string line = LineFrom(r.output, "\r0:01.0 / 0:01.0 | Bypass | ");
  ASSERT_FALSE(line.empty()) << r.output;
  const std::string tail = line.substr(line.find("Bypass | ") + 9);
  EXPECT_TRUE(tail.rfind("SSE2 | ", 0) == 0 || tail.rfind("x87 | ", 0) == 0) << line;
  EXPECT_NE(line.find(" | " + wav + " | "), std::string::npos) << line;
  EXPECT_NE(line.find("x realtime\x1b[K"), std::string::npos) << line;
  EXPECT_NE(r.output.find("channel   peak dBFS   RMS dBFS    clipped"), std::string::npos) << r.output;

  setenv("SONAVEL_ALSA_DEVICE", "mapped", 1);
  r = RunPlayOnPty({"--registry", hive_, "--mode", "active", in_});
  ASSERT_EQ(r.status, 0) << r.output;
  line = LineFrom(r.output, "\r0:01.0 / 0:01.0 | Sonavel-SN Music | ");
  ASSERT_FALSE(line.empty()) << r.output;
  EXPECT_NE(line.find(" | ALSA mapped\x1b[K"), std::string::npos) << line;
  EXPECT_EQ(line.find("realtime"), std::string::npos) << "no speed for a sound card: " << line;
  EXPECT_EQ(ReadBytes(alsa_.Raw("mapped")).size(), 44100u * 12);

  r = RunPlayOnPty({"--registry", hive_, "--quiet", in_});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "");

  r = RunPlay({"--registry", hive_, "--mode", "bypass", in_});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find('\r'), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find(" / 0:01.0"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("peak dBFS"), std::string::npos) << r.output;
}

struct Figures {
  std::string peak, rms;
  long long clipped = -1;
};

// The level table's rows by channel name.
std::map<std::string, Figures> ParseTable(const std::string& output) {
  std::map<std::string, Figures> rows;
  std::istringstream in(output);
  std::string line;
  bool inTable = false;
  while (std::getline(in, line)) {
    if (line.rfind("channel ", 0) == 0) {
      inTable = true;
      continue;
    }
    if (!inTable) continue;
    std::istringstream l(line);
    std::string name;
    Figures f;
    if (l >> name >> f.peak >> f.rms >> f.clipped) rows[name] = f;
  }
  return rows;
}

// Peak and RMS of one channel of 16-bit codes in dBFS, and its clipped samples.
struct Measured {
  double peakDb, rmsDb;
  long long clipped;
};

Measured Measure(const std::vector<int16_t>& codes, int channels, int ch) {
  double peak = 0, sum = 0;
  long long clipped = 0;
  const size_t frames = codes.size() / channels;
  for (size_t f = 0; f < frames; ++f) {
    const double v = codes[f * channels + ch];
    peak = std::max(peak, std::abs(v));
    sum += v * v;
    clipped += codes[f * channels + ch] == 32767 || codes[f * channels + ch] == -32768;
  }
  const double rms = std::sqrt(sum / frames);
  return {peak > 0 ? 20 * std::log10(peak / 32768) : -INFINITY, rms > 0 ? 20 * std::log10(rms / 32768) : -INFINITY,
          clipped};
}

void ExpectDb(const std::string& printed, double want, const std::string& what) {
  if (std::isinf(want)) {
    EXPECT_EQ(printed, "-inf") << what;
  } else {
    EXPECT_NEAR(std::stod(printed), want, 0.006) << what;
  }
}

// The table's figures are those of the stream that reached the slave: checked
// against the WAV that out_wave wrote from it, and against the input.
TEST_F(PlayToAlsa, TheLevelTableMeasuresTheOutput) {
  const int frames = 44100;
  // L a square wave, R a sine: plain figures after bypass's 0.707 headroom.
  ASSERT_TRUE(WriteInput(
      in_, frames, 44100, [](int i) { return (i / 50) % 2 ? 30000 : -30000; },
      [](int i) { return Sine(i, 10000, 1000, 44100); }));
  const std::string wav = dir_ / "out.wav";

  struct Run {
    const char* gain;
    long long clippedL;  // every sample of L, or none
  };
  for (const Run run : {Run{"Master Gain=0", 0}, Run{"Master Gain=6", frames}}) {
    // At +6 dB, 30000 x 0.707 x 2 is past full scale: all of L clips, R does not.
    const RunResult r = RunPlay({"--registry", hive_, "--mode", "bypass", "--set", run.gain, "--out", wav, in_});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto rows = ParseTable(r.output);
    ASSERT_EQ(rows.size(), 6u) << r.output;
    SF_INFO info{};
    const std::vector<int16_t> codes = ReadCodes16(wav, info);
    ASSERT_EQ(info.frames, frames);
    const char* names[6] = {"L", "R", "C", "LFE", "SL", "SR"};
    for (int ch = 0; ch < 6; ++ch) {
      const Measured m = Measure(codes, 6, ch);
      const Figures& f = rows.at(names[ch]);
      const std::string what = std::string(run.gain) + ", channel " + names[ch];
      ExpectDb(f.peak, m.peakDb, what);
      ExpectDb(f.rms, m.rmsDb, what);
      EXPECT_EQ(f.clipped, m.clipped) << what;
    }
    EXPECT_EQ(rows.at("L").clipped, run.clippedL);
    EXPECT_EQ(rows.at("R").clipped, 0);
    if (run.clippedL == 0) {
      // 30000 and 10000 at 0.707: a square's RMS is its peak, a sine's 3 dB less.
      const double l = 20 * std::log10(30000 * 0.707 / 32768), r = 20 * std::log10(10000 * 0.707 / 32768);
      EXPECT_NEAR(std::stod(rows.at("L").peak), l, 0.01);
      EXPECT_NEAR(std::stod(rows.at("L").rms), l, 0.01);
      EXPECT_NEAR(std::stod(rows.at("R").peak), r, 0.01);
      EXPECT_NEAR(std::stod(rows.at("R").rms), r - 3.0103, 0.01);
    }
  }
}

// Ctrl-C at the terminal stops playback cleanly: the module is closed and
// quit (and stores the settings as it quits), and the exit status is 130.
TEST_F(PlayToAlsa, CtrlCClosesQuitsAndStoresTheSettings) {
  ASSERT_TRUE(WriteMusic(in_, 44100));
  const std::string log = dir_ / "slave.log";
  EnvGuard logEnv("STALL_SLAVE_LOG");
  setenv("STALL_SLAVE_LOG", log.c_str(), 1);
  // The stalling slave never has room, so the player waits until it is told.
  bool removed = false;
  const RunResult r = RunPlayOnPty(
      {"--registry", hive_, "--mode", "passive", "--slave", BinDir() + "/stall_slave.so", in_},
      [&](const std::string& out) -> std::string {
        if (out.find(" / 0:01.0 | Passive decoding | ") == std::string::npos) return {};
        if (ReadText(log).find("Open\n") == std::string::npos) return {};
        if (!removed) removed = fs::remove(hive_);  // Quit must store it again
        return "\x03";
      },
      60);
  EXPECT_FALSE(r.timedOut) << r.output;
  EXPECT_EQ(r.status, 130) << r.output;
  EXPECT_NE(r.output.find("sonavel-play: interrupted, stopped at 0:00.0"), std::string::npos) << r.output;
  EXPECT_EQ(ReadText(log), "Init\nOpen\nClose\nQuit\n");
  ASSERT_TRUE(removed);
  ASSERT_TRUE(fs::exists(hive_));
  EXPECT_EQ(StoredSettings(hive_).Mode, sn::kModePassive);
}

}  // namespace
