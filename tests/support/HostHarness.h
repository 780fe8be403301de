// A test player for the host: drives the real exported record in-process, with
// the recording slave as the slave module and a scratch registry hive.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/OutputModule.h"
#include "support/Paths.h"
#include "tests/slaves/RecSlave.h"

namespace sn::test {


class HostFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Init through the record, then point the live settings at the recording slave.
  void InitModule();
  // Interleaved 16-bit PCM of `frames` frames; sample (f, c) = value(f, c).
  template <class F>
  static std::vector<char> Pcm16(int frames, int channels, F value) {
    std::vector<char> out(static_cast<size_t>(frames) * channels * 2);
    for (int f = 0; f < frames; ++f)
      for (int c = 0; c < channels; ++c) {
        const int16_t v = static_cast<int16_t>(value(f, c));
        out[(static_cast<size_t>(f) * channels + c) * 2] = static_cast<char>(v & 0xFF);
        out[(static_cast<size_t>(f) * channels + c) * 2 + 1] = static_cast<char>((v >> 8) & 0xFF);
      }
    return out;
  }
  // Sample (frame, channel) of the six-channel 16- or 24-bit stream the slave got.
  int32_t OutSample(int frame, int channel, int bits = 16) const;
  int OutFrames(int bits = 16) const;

  OutputModuleRecord* rec_ = nullptr;
  RecSlaveState* slave_ = nullptr;
  std::string dir_;
  std::string slavePath_;
  void* slaveHandle_ = nullptr;
};

}  // namespace sn::test
