// The cost of one Write through the hand-off to the DSP thread and back, in
// Bypass with 16-bit stereo in and 16-bit 5.1 out, 576-frame blocks.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "config/Config.h"
#include "host/Sonavel.h"
#include "platform/Platform.h"

extern "C" OutputModuleRecord* winampGetOutModule();

namespace {

void BM_HostWriteBypass(benchmark::State& state) {
  using namespace sn;
  char hive[] = "/tmp/sonavel-bench-XXXXXX";
  const int fd = mkstemp(hive);
  if (fd >= 0) close(fd);
  setenv("SONAVEL_REGISTRY", hive, 1);
  OutputModuleRecord* rec = winampGetOutModule();
  rec->Init();
  SetSlavePath(Sonavel.m_Config, platform::FromUtf8(std::string(SONAVEL_BIN_DIR) + "/null_slave.so").c_str());
  CfgSet(Sonavel.m_Config.Mode, int32_t{kModeBypass});
  CfgSet(Sonavel.m_Config.SSE2Enable, static_cast<int32_t>(state.range(0)));
  if (rec->Open(48000, 2, 16, 2000, 500) < 0) {
    state.SkipWithError("the null slave did not open");
    rec->Quit();
    return;
  }
  std::vector<char> block(576 * 4);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
  for (auto _ : state) benchmark::DoNotOptimize(rec->Write(block.data(), static_cast<int>(block.size())));
  state.SetItemsProcessed(state.iterations() * 576);
  rec->Close();
  rec->Quit();
  unlink(hive);
}
BENCHMARK(BM_HostWriteBypass)->ArgName("sse2")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
