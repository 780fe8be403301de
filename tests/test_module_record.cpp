// The built module (out_sonavel.so or out_sonavel.dll) driven through its one
// export, as the player drives it: settings come from the registry at Init, the
// recording slave module plays, and message boxes are read where the system
// shows them. The same program runs on Linux and, for the Windows build, under
// Wine.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdlib.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "engine/BinauralTable.h"
#include "engine/Constants.h"
#include "host/OutputModule.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "support/ModuleFixture.h"
#include "support/Paths.h"
#include "tests/slaves/RecSlave.h"

namespace sn {
namespace {

using test::ModulePath;
using test::ModuleTest;

constexpr double kIn = 0.707;  // full-scale headroom of the input conversion


// The message boxes the module shows on the calling thread, as one transcript
// of "caption: text" lines. On POSIX they are the lines on standard error; on
// Windows the real boxes, read and closed by a CBT hook as they come up, and
// each must carry the exclamation icon.
class MessageCatcher {
 public:
  MessageCatcher() {
#if defined(_WIN32)
    t_transcript.clear();
    t_allExclamation = true;
    hook_ = SetWindowsHookExW(WH_CBT, OnCbt, nullptr, GetCurrentThreadId());
    EXPECT_NE(hook_, nullptr);
#else
    ::testing::internal::CaptureStderr();
#endif
  }
  std::string Take() {
#if defined(_WIN32)
    if (hook_) UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
    EXPECT_TRUE(t_allExclamation) << "every box carries the exclamation icon";
    return t_transcript;
#else
    return ::testing::internal::GetCapturedStderr();
#endif
  }

 private:
#if defined(_WIN32)
  static std::string Text(HWND w) {
    std::wstring s(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    s.resize(static_cast<size_t>(GetWindowTextW(w, s.data(), static_cast<int>(s.size()))));
    return platform::ToUtf8(std::u16string(s.begin(), s.end()).c_str());
  }
  static BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)) == LoadIconW(nullptr, IDI_EXCLAMATION)) {
      *reinterpret_cast<bool*>(found) = true;
    }
    return TRUE;
  }
  static LRESULT CALLBACK OnCbt(int code, WPARAM w, LPARAM l) {
    wchar_t cls[16] = {};
    const HWND box = reinterpret_cast<HWND>(w);
    if (code == HCBT_ACTIVATE && GetClassNameW(box, cls, 16) && std::wstring(cls) == L"#32770") {
      // The text is the static control 0xFFFF of the system's box.
      t_transcript += Text(box) + ": " + Text(GetDlgItem(box, 0xFFFF)) + "\n";
      bool exclamation = false;
      EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&exclamation));
      t_allExclamation = t_allExclamation && exclamation;
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, w, l);
  }
  static thread_local std::string t_transcript;
  static thread_local bool t_allExclamation;
  HHOOK hook_ = nullptr;
#endif
};

#if defined(_WIN32)
thread_local std::string MessageCatcher::t_transcript;
thread_local bool MessageCatcher::t_allExclamation = true;
#endif

// The lines of a transcript that begin with `caption` (standard error carries
// other lines too on POSIX).
std::string Lines(const std::string& transcript, const std::string& caption) {
  std::string out;
  size_t at = 0;
  while (at < transcript.size()) {
    size_t end = transcript.find('\n', at);
    end = end == std::string::npos ? transcript.size() : end + 1;
    if (transcript.compare(at, caption.size(), caption) == 0) out += transcript.substr(at, end - at);
    at = end;
  }
  return out;
}


TEST_F(ModuleTest, TheExportReturnsTheRecord) {
  EXPECT_EQ(rec_->version, 0x10);
  EXPECT_STREQ(rec_->description, "Tamberlin Sonavel v1.00");
  EXPECT_EQ(rec_->id, 6546551);
  EXPECT_EQ(rec_->hMainWindow, nullptr);
  EXPECT_EQ(rec_->hDllInstance, nullptr);
  for (void* entry : {(void*)rec_->Config, (void*)rec_->About, (void*)rec_->Init, (void*)rec_->Quit,
                      (void*)rec_->Open, (void*)rec_->Close, (void*)rec_->Write, (void*)rec_->CanWrite,
                      (void*)rec_->IsPlaying, (void*)rec_->Pause, (void*)rec_->SetVolume, (void*)rec_->SetPan,
                      (void*)rec_->Flush, (void*)rec_->GetOutputTime, (void*)rec_->GetWrittenTime})
    EXPECT_NE(entry, nullptr);
  auto get = reinterpret_cast<GetOutModuleFn>(platform::FindExport(module_, "winampGetOutModule"));
  EXPECT_EQ(get(), rec_) << "one record for the life of the module";
}

TEST_F(ModuleTest, OpenAcceptsMonoStereoFiveAndSixAndOpensTheSlaveWithSix) {
  Init({{"Slave Res", 24}});
  slave_->openResult = 37;
  for (int channels : {0, 3, 4, 7, 8}) EXPECT_EQ(rec_->Open(44100, channels, 16, 2000, 500), -1) << channels;
  EXPECT_EQ(slave_->Count("Open"), 0);
  for (int channels : {1, 2, 5, 6}) {
    ASSERT_EQ(rec_->Open(48000, channels, 16, 2000, 500), 37) << channels;
    EXPECT_EQ(std::vector<int>(slave_->open, slave_->open + 5), (std::vector<int>{48000, 6, 24, 2000, 500}));
    rec_->Close();
  }
  EXPECT_EQ(slave_->Count("Open"), 4);
}

struct WriteCase {
  uint32_t slaveRes;
  int bytes;
  std::vector<int> pieces;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.bytes << " bytes, " << c.slaveRes << "-bit out"; }

class ModuleWriteTest : public ModuleTest, public ::testing::WithParamInterface<WriteCase> {};

// Whole frames in, whole six-channel frames out, in pieces of at most 8192 bytes.
TEST_P(ModuleWriteTest, SplitsTheOutputIntoWholeFramePieces) {
  Init({{"Slave Res", GetParam().slaveRes}});
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  std::vector<char> pcm(static_cast<size_t>(GetParam().bytes), 0);
  EXPECT_EQ(rec_->Write(pcm.data(), GetParam().bytes), 0);
  EXPECT_EQ(slave_->writeSizes, GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ModuleWriteTest,
                         ::testing::Values(WriteCase{16, 4096, {8184, 4104}}, WriteCase{24, 4096, {8190, 8190, 2052}},
                                           WriteCase{16, 4099, {8184, 4104}}, WriteCase{16, 4, {12}},
                                           WriteCase{16, 2732, {8184, 12}}));

TEST_F(ModuleTest, CanWriteCountsSourceBytesOfWholeOutputFrames) {
  Init();
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  const std::pair<int, int> cases[] = {{8192, 2728}, {11, 0}, {12, 4}, {-1, 0}};
  for (const auto& [free, want] : cases) {
    slave_->canWriteBytes = free;
    EXPECT_EQ(rec_->CanWrite(), want) << free;
  }
}

TEST_F(ModuleTest, TransportEntriesAreForwardedAndSafeWithoutASlave) {
  Init();
  char block[64] = {};
  EXPECT_EQ(rec_->IsPlaying(), 0);
  EXPECT_EQ(rec_->Pause(1), 0);
  EXPECT_EQ(rec_->GetOutputTime(), 0);
  EXPECT_EQ(rec_->GetWrittenTime(), 0);
  EXPECT_EQ(rec_->CanWrite(), 0);
  EXPECT_EQ(rec_->Write(block, sizeof block), 1);
  rec_->SetVolume(201);
  rec_->SetPan(10);
  rec_->Flush(10);
  rec_->Close();
  EXPECT_TRUE(slave_->calls.empty()) << "no slave before the first Open";

  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  EXPECT_EQ(slave_->calls, (std::vector<std::string>{"Init", "SetVolume", "Open"}));
  EXPECT_EQ(slave_->volume, 201) << "a new slave gets the player's last volume";
  slave_->pauseResult = 1;
  slave_->isPlaying = 1;
  slave_->outputTime = 1234;
  slave_->writtenTime = 5678;
  EXPECT_EQ(rec_->Pause(1), 1);
  EXPECT_EQ(slave_->pauseArg, 1);
  EXPECT_EQ(rec_->IsPlaying(), 1);
  EXPECT_EQ(rec_->GetOutputTime(), 1234);
  EXPECT_EQ(rec_->GetWrittenTime(), 5678);
  rec_->SetPan(-50);
  EXPECT_EQ(slave_->pan, -50);
  rec_->SetVolume(99);
  EXPECT_EQ(slave_->volume, 99);
  rec_->Flush(3000);
  EXPECT_EQ(slave_->flushTime, 3000);
  EXPECT_EQ(rec_->Write(nullptr, 0), 0);
  EXPECT_EQ(slave_->writeSizes, std::vector<int>{0});
  rec_->Close();
  rec_->Quit();
  initialised_ = false;
  EXPECT_EQ(slave_->Count("Close"), 1);
  EXPECT_EQ(slave_->Count("Quit"), 1);
}

struct LoadFailure {
  const char* module;  // in the bin directory; null: a file that does not exist
  const char* message;
};

void PrintTo(const LoadFailure& c, std::ostream* os) { *os << (c.module ? c.module : "a missing file"); }

class ModuleSlaveFailureTest : public ModuleTest, public ::testing::WithParamInterface<LoadFailure> {};

// A refused slave is reported in a box captioned "Sonavel Error", Open fails
// and nothing stays held; every Open tries again, so a slave that has become
// valid meanwhile plays at the next one.
TEST_P(ModuleSlaveFailureTest, RefusesWithItsMessageAndRetriesAtTheNextOpen) {
  namespace fs = std::filesystem;
  const fs::path slave = fs::path(dir_) / (std::string("slave") + SONAVEL_MODULE_SUFFIX);
  if (GetParam().module) fs::copy_file(ModulePath(GetParam().module), slave);
  InitWithSlave(slave.string());
  MessageCatcher boxes;
  EXPECT_EQ(rec_->Open(44100, 2, 16, 2000, 500), -1);
  EXPECT_EQ(rec_->Open(44100, 2, 16, 2000, 500), -1);
  const std::string line = std::string("Sonavel Error: ") + GetParam().message + "\n";
  EXPECT_EQ(Lines(boxes.Take(), "Sonavel Error: "), line + line) << "one box per failed Open";
  EXPECT_EQ(rec_->Write(nullptr, 0), 1) << "no slave is held";
  EXPECT_EQ(rec_->IsPlaying(), 0);

  // The missing file appears: the next Open plays. (A module that was loaded
  // and refused may stay mapped under its name, Sonavel itself does on Linux,
  // so only the missing file is replaced.)
  if (GetParam().module) return;
  fs::copy_file(slavePath_, slave);
  EXPECT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  EXPECT_EQ(rec_->Write(nullptr, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(Loader, ModuleSlaveFailureTest,
                         ::testing::Values(LoadFailure{nullptr, "Slave module could not be opened."},
                                           LoadFailure{"no_export_slave", "Slave module is not a valid Winamp out module."},
                                           LoadFailure{"self_id_slave", "Cannot use Sonavel as a slave module."},
                                           LoadFailure{"out_sonavel", "Cannot use Sonavel as a slave module."}));

// The player keeps its output modules in a folder of their own, which the
// system's library search does not cover: a slave named by its bare file name
// is found beside the module.
TEST_F(ModuleTest, ABareSlaveNameIsFoundBesideTheModule) {
  namespace fs = std::filesystem;
  const fs::path plugins = fs::path(dir_) / "Plugins";
  fs::create_directory(plugins);
  const std::string module = std::string("out_sonavel") + SONAVEL_MODULE_SUFFIX;
  const std::string slave = std::string("beside_slave") + SONAVEL_MODULE_SUFFIX;
  fs::copy_file(ModulePath("out_sonavel"), plugins / module);
  fs::copy_file(slavePath_, plugins / slave);
  platform::Module* copy = platform::LoadModule(platform::FromUtf8((plugins / module).string()).c_str());
  ASSERT_NE(copy, nullptr);
  auto get = reinterpret_cast<GetOutModuleFn>(platform::FindExport(copy, "winampGetOutModule"));
  ASSERT_NE(get, nullptr);
  OutputModuleRecord* rec = get();
  ASSERT_NE(rec, rec_) << "the copy is a module of its own";
  {
    auto key = platform::RegistryKey::Create(kRegistryKey, nullptr);
    ASSERT_NE(key, nullptr);
    key->SetString("Slave Module", platform::FromUtf8(slave).c_str());
  }
  rec->Init();
  MessageCatcher boxes;
  EXPECT_EQ(rec->Open(44100, 2, 16, 2000, 500), 0);
  EXPECT_EQ(Lines(boxes.Take(), "Sonavel Error: "), "");
  rec->Close();
  rec->Quit();
  platform::UnloadModule(copy);
}

#if !defined(_WIN32)
// Without a display, About is one line on standard error (the Windows box is
// tested with the settings window).
TEST_F(ModuleTest, AboutShowsItsBoxOnTheCallingThread) {
  MessageCatcher boxes;
  rec_->About(nullptr);
  const std::string about = Lines(boxes.Take(), "About: ");
  EXPECT_EQ(about.rfind("About: Tamberlin Sonavel v1.00 - Copyright \xC2\xA9 2009 Tamberlin. All rights reserved. - "
                        "www.tamberlin.example - Built on: ",
                        0),
            0u)
      << about;
  EXPECT_EQ(std::count(about.begin(), about.end(), '\n'), 1) << "one box";
}
#endif

// Bypass carries every 16-bit code into the front lanes as the conversions
// define them: x 0.707/32768 rounded to float once, then each back end's output
// rule. Both back ends, 16- and 24-bit output, bit for bit.
class ModuleBypassTest : public ModuleTest, public ::testing::WithParamInterface<std::pair<uint32_t, uint32_t>> {};

// The scalar back end truncates toward zero and clips.
int32_t ScalarCode(float x, int bits) {
  const double full = std::ldexp(1.0, bits - 1);
  return static_cast<int32_t>(std::clamp(std::trunc(static_cast<double>(x) * full), -full, full - 1));
}

// The SSE2 back end rounds to nearest, ties to even: 16-bit the product with
// 32768, saturated; 24-bit the product with 2^31, floor-divided by 256.
int32_t VectorCode(float x, int bits) {
  if (bits == 16) return static_cast<int32_t>(std::clamp(std::nearbyint(x * 32768.0), -32768.0, 32767.0));
  if (x >= 1.0f) return 8388607;
  if (x <= -1.0f) return -8388608;
  return static_cast<int32_t>(std::floor(std::nearbyint(static_cast<double>(x) * 2147483648.0) / 256.0));
}

TEST_P(ModuleBypassTest, EveryCodeComesOutAsTheConversionsDefine) {
  const auto [sse2, bits] = GetParam();
  Init({{"SSE2 Enable", sse2}, {"Slave Res", bits}});
  ASSERT_EQ(rec_->Open(44100, 2, 16, 2000, 500), 0);
  Write16(65536, 2, [](int f, int c) { return c == 0 ? f - 32768 : 32767 - f; });
  const int b = static_cast<int>(bits);
  ASSERT_EQ(OutFrames(b), 65536);
  auto expect = [&](int v) {
    const auto x = static_cast<float>(v * static_cast<double>(FDIV16));
    return sse2 ? VectorCode(x, b) : ScalarCode(x, b);
  };
  int wrong = 0;
  for (int f = 0; f < 65536 && wrong < 10; ++f) {
    const int32_t want[6] = {expect(f - 32768), expect(32767 - f), 0, 0, 0, 0};
    for (int c = 0; c < 6; ++c) {
      if (Out(f, c, b) != want[c]) {
        ADD_FAILURE() << "frame " << f << " lane " << c << ": " << Out(f, c, b) << ", want " << want[c];
        ++wrong;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BackEnds, ModuleBypassTest,
                         ::testing::Values(std::pair<uint32_t, uint32_t>{0, 16}, std::pair<uint32_t, uint32_t>{1, 16},
                                           std::pair<uint32_t, uint32_t>{0, 24}, std::pair<uint32_t, uint32_t>{1, 24}),
                         [](const auto& i) {
                           return std::string(i.param.first ? "SSE2" : "x87") + "_" + std::to_string(i.param.second);
                         });

class ModuleModeTest : public ModuleTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ModuleModeTest, PassiveDecodesAntiPhaseToTheSurrounds) {
  Init({{"Mode", kModePassive}, {"SSE2 Enable", GetParam()}});
  ASSERT_EQ(rec_->Open(48000, 2, 16, 2000, 500), 0);
  Write16(2000, 2, [](int, int c) { return c == 0 ? 10000 : -10000; });
  ASSERT_EQ(OutFrames(), 2000);
  const double x = 10000 * kIn;
  for (int f : {0, 999, 1999}) {
    EXPECT_NEAR(Out(f, 0), 0.707 * x, 1.5);
    EXPECT_NEAR(Out(f, 1), -0.707 * x, 1.5);
    EXPECT_NEAR(Out(f, 2), 0, 1);
    EXPECT_EQ(Out(f, 3), 0);
    EXPECT_NEAR(Out(f, 4), x, 1.5);
    EXPECT_NEAR(Out(f, 5), x, 1.5);
  }
}

// Headphones work in blocks of 8192 frames: every block the player writes is
// taken, output comes in whole blocks, and a mono impulse comes out as the
// centre response of the Music set.
TEST_P(ModuleModeTest, HeadphonesFrameTheStreamInWholeBlocks) {
  Init({{"Mode", kModeHeadphones}, {"SSE2 Enable", GetParam()}});
  ASSERT_EQ(rec_->Open(48000, 1, 16, 2000, 500), 0);
  Write16(8192 - 576, 1, [](int f, int) { return f == 0 ? 30000 : 0; });
  EXPECT_EQ(OutFrames(), 0) << "nothing before a whole block";
  Write16(20000 - (8192 - 576), 1, [](int, int) { return 0; });
  ASSERT_EQ(OutFrames(), 16384);
  for (int piece : slave_->writeSizes) EXPECT_TRUE(piece <= 8184 && piece % 12 == 0) << piece;

  const double x = 30000 * kIn / 32768.0;  // the impulse inside the engine
  const float* left = &BinauralTable48000[4 * kBinauralTaps];   // Music, C, left ear
  const float* right = &BinauralTable48000[5 * kBinauralTaps];  // Music, C, right ear
  double worst = 0.0;
  for (int t = 0; t < 16384; ++t) {
    const double wantL = t < kBinauralTaps ? 0.35481 * x * left[t] * 32768.0 : 0.0;
    const double wantR = t < kBinauralTaps ? 0.35481 * x * right[t] * 32768.0 : 0.0;
    worst = std::max({worst, std::fabs(Out(t, 0) - wantL), std::fabs(Out(t, 1) - wantR)});
    for (int c = 2; c < 6; ++c) ASSERT_EQ(Out(t, c), 0) << t;
  }
  EXPECT_LE(worst, 1.5);
  EXPECT_GT(Out(0, 0), 2500);

  // The frames held at Close are dropped: the next stream starts silent.
  rec_->Close();
  slave_->Clear();
  ASSERT_EQ(rec_->Open(48000, 1, 16, 2000, 500), 0);
  Write16(8192, 1, [](int, int) { return 0; });
  ASSERT_EQ(OutFrames(), 8192);
  for (int f = 0; f < 8192; ++f) ASSERT_EQ(Out(f, 0), 0) << f;
}

INSTANTIATE_TEST_SUITE_P(BackEnds, ModuleModeTest, ::testing::Values(0u, 1u),
                         [](const auto& i) { return i.param ? "SSE2" : "x87"; });

#if defined(_WIN32)


// A player that frees the module while its threads still run (without Quit)
// only drops its own reference: the code stays mapped while the threads are in
// it, and goes away once they have ended.
TEST_F(ModuleTest, RunningThreadsKeepTheModuleLoaded) {
  Init();
  const wchar_t* name = L"out_sonavel.dll";
  platform::UnloadModule(module_);
  module_ = nullptr;
  ASSERT_NE(GetModuleHandleW(name), nullptr) << "the threads hold the module";
  EXPECT_EQ(rec_->version, 0x10);
  // Calling in again needs a reference of our own, as a player would hold.
  module_ = platform::LoadModule(platform::FromUtf8(ModulePath("out_sonavel")).c_str());
  ASSERT_NE(module_, nullptr);
  rec_->Quit();
  initialised_ = false;
  platform::UnloadModule(module_);
  module_ = nullptr;
  EXPECT_EQ(GetModuleHandleW(name), nullptr) << "unloaded once its threads are gone";
}
#endif

}  // namespace
}  // namespace sn
