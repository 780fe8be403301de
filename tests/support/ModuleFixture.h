// The built module driven through its one export, as the player drives it:
// the recording slave module loaded beside it, the settings the module reads
// at Init stored in the registry (a file of its own on POSIX), and the six
// output lanes the slave received read back. Shared by the programs that load
// the real module, on Linux and under Wine.
#pragma once

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdlib.h>
#endif

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "host/OutputModule.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "support/Paths.h"
#include "tests/slaves/RecSlave.h"

namespace sn::test {

inline std::string ModulePath(const std::string& name) { return BinDir() + "/" + name + SONAVEL_MODULE_SUFFIX; }

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
#if defined(_WIN32)
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tamberlin\\Sonavel");
#else
    setenv("SONAVEL_REGISTRY", (dir_ + "/user.reg").c_str(), 1);
    // No window toolkit: boxes are lines on standard error.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
#endif
    slavePath_ = ModulePath("rec_slave");
    slaveModule_ = platform::LoadModule(platform::FromUtf8(slavePath_).c_str());
    ASSERT_NE(slaveModule_, nullptr) << slavePath_;
    auto state = reinterpret_cast<RecSlaveStateFn>(platform::FindExport(slaveModule_, "rec_slave_state"));
    ASSERT_NE(state, nullptr);
    slave_ = state();
    *slave_ = RecSlaveState{};

    module_ = platform::LoadModule(platform::FromUtf8(ModulePath("out_sonavel")).c_str());
    ASSERT_NE(module_, nullptr) << ModulePath("out_sonavel");
    auto get = reinterpret_cast<GetOutModuleFn>(platform::FindExport(module_, "winampGetOutModule"));
    ASSERT_NE(get, nullptr);
    rec_ = get();
    ASSERT_NE(rec_, nullptr);
  }

  void TearDown() override {
    if (initialised_) rec_->Quit();
    platform::UnloadModule(module_);
    platform::UnloadModule(slaveModule_);
#if defined(_WIN32)
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tamberlin\\Sonavel");
#else
    unsetenv("SONAVEL_REGISTRY");
#endif
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Stores the settings the module reads at Init (Bypass and the recording
  // slave unless `values` say otherwise), then calls Init.
  void Init(std::initializer_list<std::pair<const char*, uint32_t>> values = {}) { InitWithSlave(slavePath_, values); }
  void InitWithSlave(const std::string& slave, std::initializer_list<std::pair<const char*, uint32_t>> values = {}) {
    long status = -1;
    auto key = platform::RegistryKey::Create(kRegistryKey, &status);
    ASSERT_NE(key, nullptr) << status;
    EXPECT_EQ(key->SetString("Slave Module", platform::FromUtf8(slave).c_str()), platform::kRegOk);
    EXPECT_EQ(key->SetDword("Mode", kModeBypass), platform::kRegOk);
    for (const auto& [name, value] : values) EXPECT_EQ(key->SetDword(name, value), platform::kRegOk);
    ASSERT_EQ(key->Close(), platform::kRegOk);
    rec_->Init();
    initialised_ = true;
  }

  // Writes interleaved 16-bit PCM of `frames` frames, value(frame, channel), in
  // the player's blocks of 576 frames; every block must be taken.
  void Write16(int frames, int channels, const std::function<int(int, int)>& value) {
    for (int at = 0; at < frames; at += 576) {
      const int n = std::min(576, frames - at);
      std::vector<char> pcm(static_cast<size_t>(n) * channels * 2);
      for (int f = 0; f < n; ++f)
        for (int c = 0; c < channels; ++c) {
          const auto v = static_cast<uint16_t>(static_cast<int16_t>(value(at + f, c)));
          pcm[(static_cast<size_t>(f) * channels + c) * 2] = static_cast<char>(v & 0xFF);
          pcm[(static_cast<size_t>(f) * channels + c) * 2 + 1] = static_cast<char>(v >> 8);
        }
      ASSERT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0) << "block at frame " << at;
    }
  }

  // Sample (frame, channel) of the six-channel stream the slave received.
  int32_t Out(int frame, int channel, int bits = 16) const {
    const size_t bytes = static_cast<size_t>(bits / 8);
    const size_t at = (static_cast<size_t>(frame) * 6 + channel) * bytes;
    if (at + bytes > slave_->data.size()) return INT32_MIN;
    uint32_t v = 0;
    for (size_t b = 0; b < bytes; ++b) v |= static_cast<uint32_t>(slave_->data[at + b]) << (8 * b);
    const int shift = 32 - bits;
    return static_cast<int32_t>(v << shift) >> shift;
  }
  int OutFrames(int bits = 16) const { return static_cast<int>(slave_->data.size() / (6 * (bits / 8))); }

  std::string dir_;
  std::string slavePath_;
  platform::Module* slaveModule_ = nullptr;
  platform::Module* module_ = nullptr;
  RecSlaveState* slave_ = nullptr;
  OutputModuleRecord* rec_ = nullptr;
  bool initialised_ = false;
};

#if defined(_WIN32)
// The window of this process with the class and caption, or null.
inline HWND FindOwnWindow(const wchar_t* cls, const wchar_t* caption) {
  struct Search {
    const wchar_t* cls;
    const wchar_t* caption;
    HWND found;
  } search{cls, caption, nullptr};
  EnumWindows(
      [](HWND w, LPARAM arg) -> BOOL {
        auto* s = reinterpret_cast<Search*>(arg);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        wchar_t c[64] = {};
        wchar_t t[64] = {};
        GetClassNameW(w, c, 64);
        GetWindowTextW(w, t, 64);
        if (pid == GetCurrentProcessId() && std::wstring(c) == s->cls && std::wstring(t) == s->caption) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}
#endif

}  // namespace sn::test
