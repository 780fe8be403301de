// The GPU path through the real loading path: sonavel-play loads
// out_sonavel.so, which loads the GPU helper module named by
// SONAVEL_CUDA_MODULE (or the one beside it), and renders a six-channel 48 kHz
// stream in headphone mode into a WAV file.
//
// Everywhere: with the helper absent, reporting no device, failing as it makes
// the device side, or failing at a block, the stream plays to its end (exit
// status 0) and its output is byte for byte that of a CUDA-disabled run; a
// failure prints its one line and the GPU is not tried again. A stand-in helper
// that convolves on the CPU shows that the blocks really went through it.
//
// Where a CUDA device exists: the stream with CUDA on against CUDA off.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/GpuConvolver.h"
#include "engine/SNLib.h"
#include "support/Paths.h"
#include "support/PlayerRun.h"

namespace sn::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRate = 48000;
constexpr int kFrames = 3 * kRate;        // 17 complete blocks of 8192 and a part
constexpr int kCompleteBlocks = kFrames / 8192;

// Noise at about -12 dBFS on all six channels, a different tone on each, and a
// few clicks, so every feed and both ears carry signal.
bool WriteSixChannelInput(const std::string& path) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 6;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return false;
  std::vector<short> pcm(static_cast<size_t>(kFrames) * 6);
  uint32_t seed = 12345;
  for (int i = 0; i < kFrames; ++i)
    for (int c = 0; c < 6; ++c) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = (static_cast<int32_t>(seed) / 2147483648.0) * 0.25;
      const double tone = 0.2 * std::sin(2.0 * M_PI * (220.0 + 110.0 * c) * i / kRate);
      const double click = (i % 20000 == 100 * c) ? 0.3 : 0.0;
      pcm[static_cast<size_t>(i) * 6 + c] = static_cast<short>(std::lround((noise + tone + click) * 32767.0));
    }
  const bool ok = sf_writef_short(f, pcm.data(), kFrames) == kFrames;
  sf_close(f);
  return ok;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

int CountLines(const std::string& text, const std::string& line) {
  int n = 0;
  size_t at = 0;
  const std::string want = line + "\n";
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (text.compare(at, end == std::string::npos ? std::string::npos : end + 1 - at, want) == 0) ++n;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return n;
}

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class PlayGpu : public ::testing::Test {
 protected:
  void SetUp() override {
    // Whether this machine has a device, asked of the helper beside the build,
    // before any test changes the environment.
    static const bool device = ProbeGpu();
    deviceHere_ = device;
    in_ = dir_ / "in.wav";
    ASSERT_TRUE(WriteSixChannelInput(in_));
    log_ = dir_ / "helper.log";
    setenv("SONAVEL_FAKE_CUDA_LOG", log_.c_str(), 1);
    unsetenv("SONAVEL_FAKE_CUDA_FAIL");
    unsetenv("SONAVEL_FAKE_CUDA_DEVICES");
  }

  // Renders the input with CUDA on or off into `out`; `module` is the helper
  // module to name, or empty for the one beside the plug-in.
  RunResult Render(const std::string& out, bool cuda, const std::string& module, int slaveRes = 16) {
    if (module.empty())
      unsetenv(kCudaModuleEnv);
    else
      setenv(kCudaModuleEnv, module.c_str(), 1);
    std::error_code ec;
    fs::remove(log_, ec);
    return RunPlay({"--quiet", "--registry", dir_ / "hive.reg", "--mode", "headphones", "--set",
                    std::string("CUDA Enable=") + (cuda ? "1" : "0"), "--slave-res", std::to_string(slaveRes),
                    "--out", out, in_});
  }

  std::string Fake() const { return BinDir() + "/fake_cuda_helper.so"; }

  TempDir dir_;
  EnvGuard moduleEnv_{kCudaModuleEnv};
  EnvGuard logEnv_{"SONAVEL_FAKE_CUDA_LOG"};
  EnvGuard failEnv_{"SONAVEL_FAKE_CUDA_FAIL"};
  EnvGuard devicesEnv_{"SONAVEL_FAKE_CUDA_DEVICES"};
  std::string in_, log_;
  bool deviceHere_ = false;
};

// The reference: CUDA disabled. The GPU side is still made before the stream
// (so that enabling CUDA during playback allocates nothing), but no block goes
// through it.
TEST_F(PlayGpu, CudaDisabledMakesTheGpuSideButConvolvesNothingThere) {
  const RunResult r = Render(dir_ / "off.wav", false, Fake());
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string log = ReadFile(log_);
  EXPECT_EQ(CountLines(log, "probe"), 1) << log;
  EXPECT_EQ(CountLines(log, "create"), 1) << log;
  EXPECT_EQ(CountLines(log, "convolve"), 0) << log;
  EXPECT_EQ(r.output.find("SafeCall"), std::string::npos) << r.output;
}

struct FallbackCase {
  const char* name;
  const char* module;   // "absent", "real" or "fake"
  const char* fail;     // SONAVEL_FAKE_CUDA_FAIL, or null
  const char* devices;  // SONAVEL_FAKE_CUDA_DEVICES, or null
  const char* line;     // the error line expected once on standard error, or null for none
  int gpuBlocks;        // blocks the helper convolved; -1: every complete block or more
  bool failedBlock;     // one block failed
  friend void PrintTo(const FallbackCase& c, std::ostream* os) { *os << c.name; }
};

class PlayGpuFallback : public PlayGpu, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(PlayGpuFallback, OutputIsThatOfACudaDisabledRun) {
  const FallbackCase& c = GetParam();
  std::string module;
  if (std::string(c.module) == "absent") {
    module = dir_ / (std::string("nowhere/") + kCudaModuleName);
  } else if (std::string(c.module) == "real") {
    module = BinDir() + "/" + kCudaModuleName;
    if (!fs::exists(module)) GTEST_SKIP() << "the CUDA helper module is not built here (no CUDA toolkit)";
    if (deviceHere_) GTEST_SKIP() << "this machine has a CUDA device: the helper reports one";
  } else {
    module = Fake();
    if (c.fail) setenv("SONAVEL_FAKE_CUDA_FAIL", c.fail, 1);
    if (c.devices) setenv("SONAVEL_FAKE_CUDA_DEVICES", c.devices, 1);
  }

  const RunResult off = Render(dir_ / "off.wav", false, module);
  ASSERT_EQ(off.status, 0) << off.output;
  const RunResult on = Render(dir_ / "on.wav", true, module);
  ASSERT_EQ(on.status, 0) << on.output;
  EXPECT_EQ(on.signal, 0);
  const std::string want = ReadFile(dir_ / "off.wav");
  ASSERT_GT(want.size(), static_cast<size_t>(kCompleteBlocks) * 8192 * 12) << "the stream came out whole";
  EXPECT_TRUE(ReadFile(dir_ / "on.wav") == want) << "CUDA on gives other output than CUDA off";

  if (c.line) {
    EXPECT_EQ(Occurrences(on.output, c.line), 1) << on.output;
    EXPECT_EQ(Occurrences(on.output, "SafeCall()"), 1) << "one failure, one line:\n" << on.output;
  } else {
    EXPECT_EQ(on.output.find("SafeCall"), std::string::npos) << on.output;
  }

  if (std::string(c.module) != "fake") return;
  const std::string log = ReadFile(log_);
  EXPECT_EQ(CountLines(log, "probe"), 1) << log;
  const int convolved = CountLines(log, "convolve");
  if (c.gpuBlocks < 0)
    EXPECT_GE(convolved, kCompleteBlocks) << log;
  else
    EXPECT_EQ(convolved, c.gpuBlocks) << log;
  EXPECT_EQ(CountLines(log, "convolve failed"), c.failedBlock ? 1 : 0) << log;
  if (c.failedBlock) {
    // Released at once, and never tried again.
    const size_t failedAt = log.find("convolve failed\n");
    EXPECT_EQ(log.find("convolve\n", failedAt), std::string::npos) << log;
    EXPECT_EQ(log.find("destroy\n", failedAt), failedAt + 16) << log;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Helpers, PlayGpuFallback,
    ::testing::Values(
        FallbackCase{"HelperAbsent", "absent", nullptr, nullptr, nullptr, 0, false},
        FallbackCase{"RealHelperWithoutDevice", "real", nullptr, nullptr, nullptr, 0, false},
        FallbackCase{"NoDevice", "fake", nullptr, "0", nullptr, 0, false},
        FallbackCase{"FailsAtTheFirstBlock", "fake", "block:1", nullptr,
                     "cudaSafeCall() Runtime API error in file <.\\SNFn", 0, true},
        FallbackCase{"FailsAtTheThirdBlock", "fake", "block:3", nullptr,
                     ", line 201 : unspecified launch failure.\n", 2, true},
        FallbackCase{"FailsMakingTheDeviceSide", "fake", "create", nullptr,
                     "cufftSafeCall() CUFFT error in file <.\\SNFn>, line 101.\n", 0, false},
        FallbackCase{"FailsReleasing", "fake", "destroy", nullptr,
                     "cudaSafeCall() Runtime API error in file <.\\SNFn>, line 301 : invalid device pointer.\n", -1,
                     false},
        FallbackCase{"NeverFails", "fake", nullptr, nullptr, nullptr, -1, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The plug-in loads and runs where no CUDA library exists: none is among its
// dependencies, direct or indirect.
TEST(PlayGpuModule, ThePlugInLinksNoCudaLibrary) {
  const std::string module = BinDir() + "/out_sonavel.so";
  ASSERT_TRUE(fs::exists(module));
  FILE* p = popen(("ldd '" + module + "' 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string deps;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) deps.append(buf, n);
  ASSERT_EQ(pclose(p), 0) << deps;
  EXPECT_NE(deps.find("libc.so"), std::string::npos) << deps;
  for (const char* lib : {"libcuda", "libcudart", "libcufft", "libnvidia"})
    EXPECT_EQ(deps.find(lib), std::string::npos) << lib << " in\n" << deps;
}

// A failing block names the back end whose renderer asked for it.
TEST_F(PlayGpu, AFailingBlockNamesTheBackEnd) {
  setenv("SONAVEL_FAKE_CUDA_FAIL", "block:1", 1);
  for (const char* sse2 : {"0", "1"}) {
    setenv(kCudaModuleEnv, Fake().c_str(), 1);
    const RunResult r = RunPlay({"--quiet", "--registry", dir_ / "hive.reg", "--mode", "headphones", "--set",
                                 "CUDA Enable=1", "--set", std::string("SSE2 Enable=") + sse2, "--out",
                                 dir_ / "o.wav", in_});
    ASSERT_EQ(r.status, 0) << r.output;
    const bool sse2Runs = *sse2 == '1' && CSNLib::IsSSE2Supported();
    const std::string site = sse2Runs ? "<.\\SNFnSSE2>" : "<.\\SNFnx87>";
    EXPECT_NE(r.output.find("cudaSafeCall() Runtime API error in file " + site + ", line 201"), std::string::npos)
        << r.output;
  }
}

// On a device: the same stream with CUDA on and off. The two paths differ only
// in the rounding of their transforms, about 1e-8 of the Cauchy-Schwarz bound
// of a value (tests/test_gpu_convolver.cpp); for this input that is a few
// millionths of full scale at the very worst, so 24-bit samples may differ by
// a few codes. The allowance, 2^-16 of full scale (-96 dBFS), is far below
// anything audible and far above rounding, while a lost, shifted or repeated
// block, a gap or a click errs by the signal itself (about -12 dBFS).
TEST_F(PlayGpu, StreamWithCudaOnMatchesCudaOff) {
  if (!deviceHere_) GTEST_SKIP() << "needs a CUDA device; " << GpuDescription();
  const RunResult off = Render(dir_ / "off.wav", false, "", 24);
  ASSERT_EQ(off.status, 0) << off.output;
  const RunResult on = Render(dir_ / "on.wav", true, "", 24);
  ASSERT_EQ(on.status, 0) << on.output;
  EXPECT_EQ(on.output.find("SafeCall"), std::string::npos) << on.output;

  auto read = [](const std::string& path, SF_INFO& info) {
    std::vector<int> v;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return v;
    v.resize(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_int(f, v.data(), info.frames);
    sf_close(f);
    return v;
  };
  SF_INFO a{}, b{};
  const std::vector<int> cpu = read(dir_ / "off.wav", a);
  const std::vector<int> gpu = read(dir_ / "on.wav", b);
  ASSERT_EQ(a.frames, b.frames);
  ASSERT_EQ(cpu.size(), gpu.size());
  ASSERT_GE(a.frames, kCompleteBlocks * 8192);
  double worst = 0.0, sum = 0.0, level = 0.0;
  for (size_t i = 0; i < cpu.size(); ++i) {
    const double d = (static_cast<double>(gpu[i]) - cpu[i]) / 2147483648.0;
    worst = std::max(worst, std::fabs(d));
    sum += d * d;
    level += (cpu[i] / 2147483648.0) * (cpu[i] / 2147483648.0);
  }
  EXPECT_GT(level / cpu.size(), 1e-4) << "the ears carry signal";
  EXPECT_LE(worst, 0x1p-16);
  EXPECT_LE(std::sqrt(sum / cpu.size()), 0x1p-20);
}

}  // namespace
}  // namespace sn::test
