// A GPU that fails in the middle of a stream, through the exported record: the
// GPU helper is the stand-in (tests/slaves/fake_cuda_helper.cpp), which claims
// a device, convolves with the CPU convolver and fails at its sixth block. The
// stream switches CUDA off and on, flushes and switches back end while it
// plays; the failure comes while allocations are counted on every thread.
//
// The failing block prints its one line and is convolved on the CPU, the GPU
// is not used again, nothing allocates, and the output is byte for byte that
// of the same stream played again on the CPU alone.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/Config.h"
#include "engine/GpuConvolver.h"
#include "engine/SNLib.h"
#include "host/Sonavel.h"
#include "support/CountingAllocator.h"
#include "support/HostHarness.h"
#include "support/Paths.h"

namespace sn::test {
namespace {

constexpr int kFailingBlock = 6;

// Before anything probes: this process's GPU is the stand-in.
[[maybe_unused]] const bool g_standIn = [] {
  setenv(kCudaModuleEnv, (BinDir() + "/fake_cuda_helper.so").c_str(), 1);
  setenv("SONAVEL_FAKE_CUDA_FAIL", ("block:" + std::to_string(kFailingBlock)).c_str(), 1);
  unsetenv("SONAVEL_FAKE_CUDA_DEVICES");
  unsetenv("SONAVEL_FAKE_CUDA_LOG");
  return true;
}();

class HostGpuFallback : public HostFixture {
 protected:
  void TearDown() override {
    Sonavel.SetChunkHookForTest(nullptr);
    HostFixture::TearDown();
  }
  // Six channels of 16-bit PCM; sample (f, c) depends on the stream position.
  int WriteBlock(int frames) {
    pcm_.resize(static_cast<size_t>(frames) * 6 * 2);
    for (int f = 0; f < frames; ++f, ++position_)
      for (int c = 0; c < 6; ++c) {
        const uint32_t h = (static_cast<uint32_t>(position_) * 2654435761u) ^ (static_cast<uint32_t>(c) * 40503u);
        const int16_t v = static_cast<int16_t>(static_cast<int32_t>(h >> 16) / 4 - 8192);
        pcm_[(static_cast<size_t>(f) * 6 + c) * 2] = static_cast<char>(v & 0xFF);
        pcm_[(static_cast<size_t>(f) * 6 + c) * 2 + 1] = static_cast<char>((v >> 8) & 0xFF);
      }
    return rec_->Write(pcm_.data(), static_cast<int>(pcm_.size()));
  }

  // One stream at 48 kHz in headphone mode with CUDA on: a first long Write,
  // then 120 of 576 frames with CUDA off and on again, a Flush and a back-end
  // switch, and a last long Write; the allocations of all but the first Write
  // are counted. Returns what reached the slave.
  std::vector<uint8_t> Play(int& refused) {
    position_ = 0;
    CfgSet(Sonavel.m_Config.Mode, int32_t{kModeHeadphones});
    CfgSet(Sonavel.m_Config.CUDAEnable, int32_t{1});
    CfgSet(Sonavel.m_Config.SSE2Enable, int32_t{1});
    slave_->Clear();
    if (rec_->Open(48000, 6, 16, 2000, 500) != 0) return {};
    slave_->calls.reserve(1 << 16);
    slave_->writeSizes.reserve(1 << 16);
    slave_->data.reserve(64u << 20);
    refused = WriteBlock(20000);  // two blocks; this test's buffer grows here
    g_counting.store(true);
    for (int i = 0; i < 120; ++i) {
      refused += WriteBlock(576);
      if (i == 20) Sonavel.SetSetting(&Config::CUDAEnable, 0);
      if (i == 40) Sonavel.SetSetting(&Config::CUDAEnable, 1);
      if (i == 60) rec_->Flush(0);
      if (i == 80) Sonavel.SetSetting(&Config::SSE2Enable, 0);
    }
    refused += WriteBlock(20000);
    g_counting.store(false);
    std::vector<uint8_t> out = slave_->data;
    rec_->Close();
    return out;
  }

  std::vector<char> pcm_;
  int position_ = 0;
};

TEST_F(HostGpuFallback, AFailingGpuHandsItsBlockToTheCpuWithoutAllocating) {
  InitModule();
  // The audio path's threads: this one (the player's) and the DSP thread.
  CountThisThread();
  Sonavel.SetChunkHookForTest(&CountThisThread);
  ASSERT_TRUE(CSNLib::IsCUDASupported()) << GpuDescription();
  EXPECT_EQ(std::string(GpuDescription()).rfind("Fake GPU (device 0 of 1", 0), 0u) << GpuDescription();

  // Standard error into a file while the stream plays.
  const std::string errPath = dir_ + "/stderr.txt";
  const int errFile = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(errFile, 0);
  const int savedErr = dup(2);
  ASSERT_GE(savedErr, 0);
  std::fflush(stderr);
  dup2(errFile, 2);
  int refused = 0;
  const std::vector<uint8_t> first = Play(refused);
  std::fflush(stderr);
  dup2(savedErr, 2);
  close(savedErr);
  close(errFile);

  EXPECT_EQ(refused, 0);
  EXPECT_EQ(g_allocations.exchange(0), 0) << "the audio path allocated";
  ASSERT_GT(first.size(), 100000u);
  EXPECT_TRUE(GpuFailed());
  EXPECT_FALSE(CSNLib::IsCUDASupported()) << "a failed GPU is no longer offered";
  EXPECT_FALSE(GpuConvolver().Ready()) << "the GPU side is released";
  EXPECT_EQ(GpuConvolver().BlocksConvolved(), static_cast<uint64_t>(kFailingBlock - 1));

  std::ifstream errIn(errPath);
  const std::string err((std::istreambuf_iterator<char>(errIn)), std::istreambuf_iterator<char>());
  // One line, naming the back end whose renderer asked (test_play_gpu checks which).
  EXPECT_EQ(err.rfind("cudaSafeCall() Runtime API error in file <.\\SNFn", 0), 0u) << err;
  const std::string tail = ">, line 201 : unspecified launch failure.\n";
  EXPECT_TRUE(err.size() > tail.size() && err.compare(err.size() - tail.size(), tail.size(), tail) == 0) << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << err;

  // The same stream again, now on the CPU alone.
  const std::vector<uint8_t> second = Play(refused);
  EXPECT_EQ(g_allocations.exchange(0), 0);
  EXPECT_EQ(GpuConvolver().BlocksConvolved(), static_cast<uint64_t>(kFailingBlock - 1)) << "never tried again";
  ASSERT_EQ(first.size(), second.size());
  EXPECT_TRUE(first == second) << "the GPU's blocks, the failing one and the CPU's differ";
}

}  // namespace
}  // namespace sn::test
