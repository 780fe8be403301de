// The host's contract through the exported record, driven like the player
// drives it, with the recording slave behind it.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "config/Config.h"
#include "host/Sonavel.h"
#include "host/UiHost.h"
#include "platform/Platform.h"
#include "support/HostHarness.h"

namespace sn {
namespace {

using test::HostFixture;

TEST_F(HostFixture, RecordCarriesVersionDescriptionAndId) {
  EXPECT_EQ(rec_->version, 0x10);
  EXPECT_STREQ(rec_->description, "Tamberlin Sonavel v1.00");
  EXPECT_EQ(rec_->id, 6546551);
  EXPECT_EQ(rec_->hMainWindow, nullptr);
  for (void* entry : {(void*)rec_->Config, (void*)rec_->About, (void*)rec_->Init, (void*)rec_->Quit,
                      (void*)rec_->Open, (void*)rec_->Close, (void*)rec_->Write, (void*)rec_->CanWrite,
                      (void*)rec_->IsPlaying, (void*)rec_->Pause, (void*)rec_->SetVolume, (void*)rec_->SetPan,
                      (void*)rec_->Flush, (void*)rec_->GetOutputTime, (void*)rec_->GetWrittenTime})
    EXPECT_NE(entry, nullptr);
}

struct ChannelCase {
  int channels;
  bool accepted;
};

class HostOpenTest : public HostFixture, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(HostOpenTest, AcceptsOnlyMonoStereoFiveAndSix) {
  InitModule();
  slave_->openResult = 37;
  const int r = rec_->Open(44100, GetParam().channels, 16, 2000, 500);
  if (GetParam().accepted) {
    EXPECT_EQ(r, 37);
    ASSERT_EQ(slave_->Count("Open"), 1);
    EXPECT_EQ(slave_->open[0], 44100);
    EXPECT_EQ(slave_->open[1], 6);
    EXPECT_EQ(slave_->open[2], 16);
    EXPECT_EQ(slave_->open[3], 2000);
    EXPECT_EQ(slave_->open[4], 500);
    EXPECT_TRUE(Sonavel.IsOpen());
    EXPECT_EQ(Sonavel.GetSRate(), 44100u);
    EXPECT_EQ(Sonavel.GetChannels(), GetParam().channels);
  } else {
    EXPECT_EQ(r, -1);
    EXPECT_EQ(slave_->Count("Open"), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Channels, HostOpenTest,
                         ::testing::Values(ChannelCase{1, true}, ChannelCase{2, true}, ChannelCase{5, true},
                                           ChannelCase{6, true}, ChannelCase{3, false}, ChannelCase{4, false},
                                           ChannelCase{7, false}, ChannelCase{8, false}, ChannelCase{0, false}));

TEST_F(HostFixture, OutputWidthIsFixedAtOpen) {
  InitModule();
  CfgSet(Sonavel.m_Config.SlaveRes, int32_t{24});
  ASSERT_EQ(rec_->Open(48000, 2, 16, 1000, 0), 0);
  EXPECT_EQ(slave_->open[2], 24);
  CfgSet(Sonavel.m_Config.SlaveRes, int32_t{16});
  auto pcm = Pcm16(100, 2, [](int, int) { return 1000; });
  ASSERT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0);
  EXPECT_EQ(slave_->data.size(), 100u * 18u);
}

struct WriteCase {
  int slaveRes;
  int bytes;
  std::vector<int> pieces;
};

class HostWriteTest : public HostFixture, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(HostWriteTest, SplitsTheOutputIntoWholeFramePieces) {
  InitModule();
  CfgSet(Sonavel.m_Config.SlaveRes, int32_t{GetParam().slaveRes});
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  std::vector<char> pcm(static_cast<size_t>(GetParam().bytes), 0);
  EXPECT_EQ(rec_->Write(pcm.data(), GetParam().bytes), 0);
  EXPECT_EQ(slave_->writeSizes, GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, HostWriteTest,
    ::testing::Values(WriteCase{16, 4096, {8184, 4104}}, WriteCase{24, 4096, {8190, 8190, 2052}},
                      // Trailing bytes of an incomplete frame are dropped.
                      WriteCase{16, 4099, {8184, 4104}}, WriteCase{16, 4, {12}}, WriteCase{16, 2728, {8184}},
                      WriteCase{16, 2732, {8184, 12}}));

TEST_F(HostFixture, WriteCarriesStereoIntoFrontLanesAtTheInputScale) {
  InitModule();
  ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  auto pcm = Pcm16(576, 2, [](int f, int c) { return c == 0 ? 10000 + f : -20000 + 3 * f; });
  ASSERT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0);
  ASSERT_EQ(OutFrames(), 576);
  for (int f = 0; f < 576; f += 5) {
    EXPECT_NEAR(OutSample(f, 0), (10000 + f) * 0.707, 1.01) << f;
    EXPECT_NEAR(OutSample(f, 1), (-20000 + 3 * f) * 0.707, 1.01) << f;
    for (int c = 2; c < 6; ++c) EXPECT_EQ(OutSample(f, c), 0) << f << " " << c;
  }
}

TEST_F(HostFixture, CanWriteCountsSourceBytesOfWholeOutputFrames) {
  InitModule();
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  slave_->canWriteBytes = 8192;
  EXPECT_EQ(rec_->CanWrite(), 2728);
  slave_->canWriteBytes = 11;
  EXPECT_EQ(rec_->CanWrite(), 0);
  // A slave that answers with a negative count has no room.
  for (int negative : {-1, INT_MIN}) {
    slave_->canWriteBytes = negative;
    EXPECT_EQ(rec_->CanWrite(), 0) << negative;
  }
}

TEST_F(HostFixture, NewSlaveGetsTheLastVolumeRightAfterInit) {
  InitModule();
  rec_->SetVolume(201);
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  ASSERT_GE(slave_->calls.size(), 3u);
  EXPECT_EQ(slave_->calls[0], "Init");
  EXPECT_EQ(slave_->calls[1], "SetVolume");
  EXPECT_EQ(slave_->volume, 201);
  EXPECT_EQ(slave_->calls[2], "Open");
}

struct LoadFailure {
  const char* file;  // in the bin dir; empty: a path that does not exist
  const char* message;
};

class HostSlaveFailureTest : public HostFixture, public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(HostSlaveFailureTest, RefusesWithItsMessageAndRetriesAtTheNextOpen) {
  InitModule();
  const std::string bad = *GetParam().file ? test::BinDir() + "/" + GetParam().file : dir_ + "/missing.so";
  SetSlavePath(Sonavel.m_Config, platform::FromUtf8(bad).c_str());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(rec_->Open(44100, 2, 16, 2000, 500), -1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(std::string("Sonavel Error: ") + GetParam().message), std::string::npos) << err;
  EXPECT_EQ(Sonavel.Slave(), nullptr);
  EXPECT_EQ(rec_->Write(nullptr, 0), 1);

  // Nothing stays loaded, and the next Open tries again.
  SetSlavePath(Sonavel.m_Config, platform::FromUtf8(slavePath_).c_str());
  EXPECT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  EXPECT_EQ(slave_->Count("Init"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, HostSlaveFailureTest,
    ::testing::Values(LoadFailure{"", "Slave module could not be opened."},
                      LoadFailure{"no_export_slave.so", "Slave module is not a valid Winamp out module."},
                      LoadFailure{"self_id_slave.so", "Cannot use Sonavel as a slave module."},
                      LoadFailure{"out_sonavel.so", "Cannot use Sonavel as a slave module."}));

TEST_F(HostFixture, BareSlaveNameIsFoundBesideTheModule) {
  InitModule();
  SetSlavePath(Sonavel.m_Config, u"rec_slave.so");
  EXPECT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  EXPECT_EQ(slave_->Count("Open"), 1);
}

TEST_F(HostFixture, ANewSlaveReplacesThePlayingOneOnlyAfterClose) {
  InitModule();
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  Sonavel.FlagSlaveModuleReload();
  std::vector<char> pcm(400, 0);
  EXPECT_EQ(rec_->Write(pcm.data(), 400), 0);
  EXPECT_EQ(slave_->Count("Quit"), 0);
  rec_->Close();
  EXPECT_EQ(slave_->Count("Quit"), 1);
  EXPECT_EQ(Sonavel.Slave(), nullptr);
  EXPECT_FALSE(Sonavel.IsOpen());
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  EXPECT_EQ(slave_->Count("Init"), 2);
}

TEST_F(HostFixture, ReloadFlaggedAfterCloseQuitsTheOldSlaveBeforeLoading) {
  InitModule();
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  rec_->Close();
  Sonavel.FlagSlaveModuleReload();
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  EXPECT_EQ(slave_->Count("Quit"), 1);
  EXPECT_EQ(slave_->Count("Init"), 2);
}

TEST_F(HostFixture, QuitWhileAStreamIsOpenStopsThreadsUnloadsAndStores) {
  InitModule();
  CfgSet(Sonavel.m_Config.MasterGain, int32_t{-4});
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  std::vector<char> pcm(2304, 0);
  EXPECT_EQ(rec_->Write(pcm.data(), 2304), 0);
  rec_->Quit();
  EXPECT_FALSE(Sonavel.ThreadsRunning());
  EXPECT_EQ(slave_->Count("Quit"), 1);
  EXPECT_EQ(Sonavel.Slave(), nullptr);
  Config stored = DefaultConfig();
  LoadConfig(stored);
  EXPECT_EQ(stored.MasterGain, -4);
  rec_ = nullptr;  // already quit
}

// A delay makes the engine's memory visible: after a reset the first output
// frames are silent again instead of carrying the previous block.
class HostResetTest : public HostFixture {
 protected:
  void PlayLoudThen(const std::function<void()>& between) {
    InitModule();
    CfgSet(Sonavel.m_Config.DelayL, int32_t{1});  // 48 frames at 48 kHz
    ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
    auto loud = Pcm16(576, 2, [](int, int) { return 20000; });
    ASSERT_EQ(rec_->Write(loud.data(), static_cast<int>(loud.size())), 0);
    between();
    slave_->data.clear();
    auto quiet = Pcm16(576, 2, [](int, int) { return 0; });
    ASSERT_EQ(rec_->Write(quiet.data(), static_cast<int>(quiet.size())), 0);
  }
  bool HeardOldBlock() const {
    for (int f = 0; f < 48; ++f)
      if (OutSample(f, 0) != 0) return true;
    return false;
  }
};

TEST_F(HostResetTest, WithoutResetTheDelayCarriesTheLastBlock) {
  PlayLoudThen([] {});
  EXPECT_TRUE(HeardOldBlock());
}

TEST_F(HostResetTest, FlushResetsTheEngineBeforeReturning) {
  PlayLoudThen([this] { rec_->Flush(0); });
  EXPECT_FALSE(HeardOldBlock());
  EXPECT_EQ(Sonavel.m_Config.DelayL, 1);
}

TEST_F(HostResetTest, CloseAfterAudioResets) {
  PlayLoudThen([this] {
    rec_->Close();
    ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  });
  EXPECT_FALSE(HeardOldBlock());
}

// An empty Write clears the pending count, so Close does not reset; the next
// Open still starts the stream from clean state.
TEST_F(HostResetTest, OpenStartsCleanEvenAfterAnEmptyWrite) {
  PlayLoudThen([this] {
    slave_->writeSizes.clear();
    EXPECT_EQ(rec_->Write(nullptr, 0), 0);
    EXPECT_EQ(slave_->writeSizes, std::vector<int>{0});
    rec_->Close();
    ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  });
  EXPECT_FALSE(HeardOldBlock());
}

// The settings window's slave buttons: a load of its own, never initialised,
// calls the module's own box and leaves the playing slave alone; a module that
// is not a slave gives the loader's message.
TEST_F(HostFixture, WindowUsesASlaveWithoutDisturbingThePlayingOne) {
  InitModule();
  ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  slave_->Clear();
  CSonavelUiHost host(Sonavel);
  const std::u16string path = platform::FromUtf8(slavePath_);
  using Call = ui::SettingsHost::SlaveCall;
  EXPECT_EQ(host.UseSlave(path.c_str(), Call::Check, nullptr), nullptr);
  EXPECT_EQ(host.UseSlave(path.c_str(), Call::Config, nullptr), nullptr);
  EXPECT_EQ(host.UseSlave(path.c_str(), Call::About, nullptr), nullptr);
  EXPECT_EQ(slave_->calls, (std::vector<std::string>{"Config", "About"}));
  const std::u16string bad = platform::FromUtf8(test::BinDir() + "/no_export_slave.so");
  EXPECT_EQ(std::u16string(host.UseSlave(bad.c_str(), Call::Config, nullptr)),
            u"Slave module is not a valid Winamp out module.");
  const std::u16string self = platform::FromUtf8(test::BinDir() + "/out_sonavel.so");
  EXPECT_EQ(std::u16string(host.UseSlave(self.c_str(), Call::About, nullptr)), u"Cannot use Sonavel as a slave module.");
  // The playing slave still plays.
  auto pcm = Pcm16(576, 2, [](int, int) { return 1000; });
  EXPECT_EQ(rec_->Write(pcm.data(), static_cast<int>(pcm.size())), 0);
  EXPECT_EQ(OutFrames(), 576);
  EXPECT_EQ(slave_->Count("Quit"), 0);
}

// Without a display that accepts a connection the module keeps working: the
// configuration entry returns at once, About prints its one line, Quit stops
// both threads.
TEST_F(HostFixture, ConfigAndAboutWithoutAReachableDisplay) {
  for (const char* display : {"", ":31999"}) {
    if (*display) setenv("DISPLAY", display, 1);
    InitModule();
    rec_->Config(nullptr);
    fflush(stderr);
    const int saved = dup(2);
    const std::string log = dir_ + "/stderr.txt";
    const int fd = open(log.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 2);
    rec_->About(nullptr);
    dup2(saved, 2);
    close(saved);
    close(fd);
    // The configuration entry's line comes from the user-interface thread and
    // may land in the capture too.
    std::ifstream in(log);
    int about = 0;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("About: Tamberlin Sonavel v1.00 - ", 0) == 0) ++about;
      else EXPECT_EQ(line.rfind("Sonavel: The settings window needs a display", 0), 0u) << line;
    }
    EXPECT_EQ(about, 1);
    rec_->Quit();
    EXPECT_FALSE(Sonavel.ThreadsRunning());
  }
  rec_ = nullptr;
}

// The player's thread writes while the user-interface thread changes settings,
// recomputes the constants and resets the engine: every hand-off completes and
// every block comes out whole.
TEST_F(HostFixture, SettingsChangeLiveWhileAudioPlays) {
  InitModule();
  ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  std::atomic<bool> stop{false};
  std::thread ui([&] {
    int i = 0;
    while (!stop.load()) {
      Sonavel.SetSetting(&Config::MasterGain, (i % 13) - 6);
      Sonavel.SetSetting(&Config::DelayC, i % 7);
      Sonavel.SetSetting(&Config::SSE2Enable, i & 1);
      Sonavel.SetSetting(&Config::Mode, (i / 3) % 2 ? kModeBypass : kModePassive);
      ++i;
    }
  });
  auto pcm = Pcm16(576, 2, [](int f, int c) { return (f * 37 + c * 1000) % 30000; });
  int written = 0;
  std::thread player([&] {
    for (int b = 0; b < 300; ++b) written += rec_->Write(pcm.data(), static_cast<int>(pcm.size())) == 0;
  });
  player.join();
  stop = true;
  ui.join();
  EXPECT_EQ(written, 300);
  EXPECT_EQ(OutFrames(), 300 * 576);
}

}  // namespace
}  // namespace sn
