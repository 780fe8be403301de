// Fuzz target: the player's side of the exported record. The input is a
// script: a stream format (rate, channels, bits, output width, mode, back end)
// and then a sequence of Writes of fuzzed PCM and lengths, CanWrite, Flush,
// Pause, setting changes, Close and reopen. Nothing may fault, hang or leak;
// the sanitizers watch every access.
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/Config.h"
#include "host/Sonavel.h"
#include "platform/Platform.h"

extern "C" OutputModuleRecord* winampGetOutModule();

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  uint32_t Word() { return Byte() | Byte() << 8 | Byte() << 16 | static_cast<uint32_t>(Byte()) << 24; }
};

constexpr int kRates[] = {44100, 48000, 32000, 8000, 4000, 96000, 192000, 768000, 22050, 0, -1, 3999, INT_MAX, 11025};
constexpr int kChannels[] = {2, 1, 6, 5, 0, 3, 4, 7, -2, 8};
constexpr int kBits[] = {16, 24, 8, 32, 0, 12, 4, 64, -8};

OutputModuleRecord* Module() {
  static OutputModuleRecord* rec = [] {
    char dir[] = "/tmp/sonavel-fuzz-XXXXXX";
    const char* made = mkdtemp(dir);
    setenv("SONAVEL_REGISTRY", (std::string(made ? made : "/tmp") + "/user.reg").c_str(), 1);
    OutputModuleRecord* r = winampGetOutModule();
    r->Init();
    return r;
  }();
  return rec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using sn::Sonavel;
  OutputModuleRecord* rec = Module();
  static const std::u16string slave =
      sn::platform::FromUtf8(sn::platform::ModuleDirectory(reinterpret_cast<const void*>(&Module)) + "null_slave.so");
  sn::SetSlavePath(Sonavel.m_Config, slave.c_str());
  Reader in{data, size};

  Sonavel.SetSetting(&sn::Config::Mode, in.Byte() % 6);
  Sonavel.SetSetting(&sn::Config::SSE2Enable, in.Byte() & 1);
  Sonavel.SetSetting(&sn::Config::SlaveRes, in.Byte() & 1 ? 24 : 16);
  const int rate = kRates[in.Byte() % std::size(kRates)];
  const int channels = kChannels[in.Byte() % std::size(kChannels)];
  const int bits = kBits[in.Byte() % std::size(kBits)];
  rec->Open(rate, channels, bits, static_cast<int>(in.Word()), static_cast<int>(in.Word()));

  std::vector<char> block;
  for (int step = 0; step < 64 && in.n; ++step) {
    switch (in.Byte() % 10) {
      case 0:
      case 1:
      case 2: {
        const size_t len = in.Word() % 70000;
        block.assign(len, 0);
        for (size_t i = 0; i < len && in.n; ++i) block[i] = static_cast<char>(in.Byte());
        rec->Write(block.data(), static_cast<int>(len));
        break;
      }
      case 3: rec->Write(nullptr, static_cast<int>(in.Byte()) - 128); break;
      case 4: rec->CanWrite(); break;
      case 5: rec->Flush(static_cast<int>(in.Word())); break;
      case 6: rec->Pause(in.Byte() & 1); break;
      case 7: {
        static constexpr int32_t sn::Config::*kFields[] = {
            &sn::Config::Mode,      &sn::Config::DelayL,   &sn::Config::DelaySR,   &sn::Config::MasterGain,
            &sn::Config::TrimSub,   &sn::Config::LFERedir, &sn::Config::LFECutoff, &sn::Config::SurroundMode,
            &sn::Config::SSE2Enable, &sn::Config::HeadphonesMode, &sn::Config::CentreWeight};
        Sonavel.SetSetting(kFields[in.Byte() % std::size(kFields)], static_cast<int32_t>(in.Word() % 300) - 50);
        break;
      }
      case 8:
        rec->Close();
        rec->Open(kRates[in.Byte() % std::size(kRates)], kChannels[in.Byte() % std::size(kChannels)],
                  kBits[in.Byte() % std::size(kBits)], 500, 0);
        break;
      default: rec->GetOutputTime(); break;
    }
  }
  rec->Close();
  return 0;
}
