#include "support/HostHarness.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <climits>

#include <filesystem>

#include "config/Config.h"
#include "host/Sonavel.h"
#include "platform/Platform.h"

extern "C" OutputModuleRecord* winampGetOutModule();

namespace sn::test {

void HostFixture::SetUp() {
  dir_ = MakeTempDir();
  ASSERT_FALSE(dir_.empty());
  setenv("SONAVEL_REGISTRY", (dir_ + "/user.reg").c_str(), 1);
  // The module's settings window stays closed even where a display is at hand.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("QT_QPA_PLATFORM");
  slavePath_ = BinDir() + "/rec_slave.so";
  slaveHandle_ = dlopen(slavePath_.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(slaveHandle_, nullptr) << dlerror();
  auto state = reinterpret_cast<RecSlaveStateFn>(dlsym(slaveHandle_, "rec_slave_state"));
  ASSERT_NE(state, nullptr);
  slave_ = state();
  *slave_ = RecSlaveState{};
  rec_ = winampGetOutModule();
}

void HostFixture::InitModule() {
  rec_->Init();
  ASSERT_TRUE(Sonavel.ThreadsRunning());
  SetSlavePath(Sonavel.m_Config, platform::FromUtf8(slavePath_).c_str());
  CfgSet(Sonavel.m_Config.Mode, int32_t{kModeBypass});
}

void HostFixture::TearDown() {
  if (rec_) rec_->Quit();
  if (slaveHandle_) dlclose(slaveHandle_);
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
  unsetenv("SONAVEL_REGISTRY");
}

int32_t HostFixture::OutSample(int frame, int channel, int bits) const {
  const size_t bytes = bits / 8;
  const size_t at = (static_cast<size_t>(frame) * 6 + channel) * bytes;
  if (at + bytes > slave_->data.size()) return INT32_MIN;
  uint32_t v = 0;
  for (size_t b = 0; b < bytes; ++b) v |= static_cast<uint32_t>(slave_->data[at + b]) << (8 * b);
  const int shift = 32 - static_cast<int>(bits);
  return static_cast<int32_t>(v << shift) >> shift;
}

int HostFixture::OutFrames(int bits) const { return static_cast<int>(slave_->data.size() / (6 * (bits / 8))); }

}  // namespace sn::test
