// The settings store: defaults, every load rule, the round trip, and a hive
// file shared with other keys.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/Config.h"
#include "support/ConfigSamples.h"
#include "platform/Registry.h"
#include "support/Paths.h"

namespace sn {
namespace {

class ConfigStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir();
    hive_ = dir_ + "/user.reg";
    setenv("SONAVEL_REGISTRY", hive_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("SONAVEL_REGISTRY");
    std::filesystem::remove_all(dir_);
  }
  void WriteHive(const std::string& body) {
    std::ofstream(hive_) << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Tamberlin\\Sonavel]\n"
                         << body;
  }
  Config Load() {
    Config c{};
    std::memset(&c, 0xA5, sizeof c);
    LoadConfig(c);
    return c;
  }
  std::string ReadHive() {
    std::stringstream s;
    s << std::ifstream(hive_).rdbuf();
    return s.str();
  }
  std::string dir_, hive_;
};

TEST_F(ConfigStoreTest, MissingHiveGivesEveryDefault) {
  const Config c = Load();
  EXPECT_EQ(c.Mode, 2);
  EXPECT_EQ(c.MasterGain, 0);
  EXPECT_EQ(c.SurroundMode, 1);
  EXPECT_EQ(c.CentreWeight, 100);
  EXPECT_EQ(c.SurroundDelayMusic, 0);
  EXPECT_EQ(c.SurroundDelayMovie, 10);
  EXPECT_EQ(c.MusicSurroundShelf, 0);
  EXPECT_EQ(c.HeadphonesMode, 0);
  EXPECT_EQ(c.HeadphonesDecodeMusic, 1);
  EXPECT_EQ(c.HeadphonesDecodeMovie, 1);
  for (int32_t v : {c.DelayL, c.DelayR, c.DelayC, c.DelaySub, c.DelaySL, c.DelaySR, c.TrimL, c.TrimR, c.TrimC,
                    c.TrimSub, c.TrimSL, c.TrimSR})
    EXPECT_EQ(v, 0);
  EXPECT_EQ(c.LFERedir, 0);
  EXPECT_EQ(c.LFEInvert, 0);
  EXPECT_EQ(c.LFECutoff, 120);
  EXPECT_EQ(c.SSE2Enable, 1);
  EXPECT_EQ(c.CUDAEnable, 1);
  EXPECT_EQ(std::u16string(c.SlaveModulePath), std::u16string(SN_DEF_SLAVEMODULE));
  EXPECT_EQ(c.SlaveRes, 16);
  EXPECT_EQ(c.LastTab, 0);
  EXPECT_EQ(c.ShowIcon, 1);
  EXPECT_EQ(c.ShowIconPlaying, 0);
  EXPECT_EQ(c.ShowDecoderInactive, 1);
  const Config d = DefaultConfig();
  EXPECT_EQ(std::memcmp(&c, &d, sizeof c), 0);
}

struct RuleCase {
  const char* value;
  uint32_t stored;
  int32_t Config::*field;
  int32_t loaded;
};

class LoadRuleTest : public ConfigStoreTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(LoadRuleTest, StoredValueLoadsCorrected) {
  char line[128];
  std::snprintf(line, sizeof line, "\"%s\"=dword:%08x\n", GetParam().value, GetParam().stored);
  WriteHive(line);
  EXPECT_EQ(Load().*(GetParam().field), GetParam().loaded) << GetParam().value << " " << GetParam().stored;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LoadRuleTest,
    ::testing::Values(
        RuleCase{"Mode", 4, &Config::Mode, 4}, RuleCase{"Mode", 7, &Config::Mode, 2},
        RuleCase{"Mode", 0xFFFFFFFF, &Config::Mode, 2},
        RuleCase{"Master Gain", static_cast<uint32_t>(-10), &Config::MasterGain, -6},
        RuleCase{"Master Gain", 9, &Config::MasterGain, 6},
        RuleCase{"Master Gain", static_cast<uint32_t>(-3), &Config::MasterGain, -3},
        RuleCase{"Surround Mode", 2, &Config::SurroundMode, 1}, RuleCase{"Surround Mode", 0, &Config::SurroundMode, 0},
        RuleCase{"Centre Weight", 101, &Config::CentreWeight, 100},
        RuleCase{"Centre Weight", 0xFFFFFFFF, &Config::CentreWeight, 100},
        RuleCase{"Centre Weight", 37, &Config::CentreWeight, 37},
        RuleCase{"Surround Delay Music", 250, &Config::SurroundDelayMusic, 100},
        RuleCase{"Surround Delay Movie", 5, &Config::SurroundDelayMovie, 10},
        RuleCase{"Surround Delay Movie", 0xFFFFFFFF, &Config::SurroundDelayMovie, 100},
        RuleCase{"Surround Delay Movie", 55, &Config::SurroundDelayMovie, 55},
        RuleCase{"Music Surround Shelf", 7, &Config::MusicSurroundShelf, 1},
        RuleCase{"Headphones Mode", 1, &Config::HeadphonesMode, 1},
        RuleCase{"Headphones Mode", 2, &Config::HeadphonesMode, 0},
        RuleCase{"Headphones Decode Music", 0, &Config::HeadphonesDecodeMusic, 0},
        RuleCase{"Headphones Decode Movie", 0x100, &Config::HeadphonesDecodeMovie, 1},
        RuleCase{"Delay C", 0xFFFFFFFF, &Config::DelayC, 100}, RuleCase{"Delay SR", 42, &Config::DelaySR, 42},
        // Trims keep the window's -12..+12 dB, so a saved trim comes back as saved.
        RuleCase{"Trim L", static_cast<uint32_t>(-12), &Config::TrimL, -12},
        RuleCase{"Trim Sub", static_cast<uint32_t>(-30), &Config::TrimSub, -12},
        RuleCase{"Trim SR", 13, &Config::TrimSR, 12}, RuleCase{"Trim C", 9, &Config::TrimC, 9},
        RuleCase{"LFE Redir", 2, &Config::LFERedir, 1}, RuleCase{"LFE Invert", 0, &Config::LFEInvert, 0},
        RuleCase{"LFE Cutoff", 250, &Config::LFECutoff, 120}, RuleCase{"LFE Cutoff", 200, &Config::LFECutoff, 200},
        RuleCase{"LFE Cutoff", 20, &Config::LFECutoff, 20}, RuleCase{"LFE Cutoff", 19, &Config::LFECutoff, 120},
        RuleCase{"LFE Cutoff", 0, &Config::LFECutoff, 120}, RuleCase{"SSE2 Enable", 0, &Config::SSE2Enable, 0},
        RuleCase{"CUDA Enable", 5, &Config::CUDAEnable, 1}, RuleCase{"Slave Res", 32, &Config::SlaveRes, 16},
        RuleCase{"Slave Res", 24, &Config::SlaveRes, 24}, RuleCase{"Last Tab", 9, &Config::LastTab, 9},
        RuleCase{"Show Icon", 0, &Config::ShowIcon, 0}, RuleCase{"Show Icon Playing", 3, &Config::ShowIconPlaying, 1},
        RuleCase{"Show Decoder Inactive", 0, &Config::ShowDecoderInactive, 0}));

TEST_F(ConfigStoreTest, RoundTripKeepsEveryInRangeValue) {
  const Config c = test::EveryFieldOffDefault(u"/opt/players/\"quoted\"\\back\u00e9\u4e2d.so");
  ASSERT_EQ(StoreConfig(c), 0);
  const Config back = Load();
  EXPECT_EQ(std::memcmp(&back, &c, sizeof c), 0);
}

TEST_F(ConfigStoreTest, SavingKeepsOtherKeysAndValues) {
  std::ofstream(hive_) << "Windows Registry Editor Version 5.00\n\n"
                       << "[HKEY_CURRENT_USER\\SOFTWARE\\Other\\App]\n\"Colour\"=\"blue\"\n\n"
                       << "[HKEY_CURRENT_USER\\SOFTWARE\\Tamberlin\\Sonavel]\n\"Extra Value\"=dword:0000002a\n";
  Config c = DefaultConfig();
  c.Mode = 1;
  ASSERT_EQ(StoreConfig(c), 0);
  const std::string text = ReadHive();
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Other\\App]"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Colour\"=\"blue\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"Extra Value\"=dword:0000002a"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Mode\"=dword:00000001"), std::string::npos) << text;
  EXPECT_EQ(Load().Mode, 1);
}

TEST_F(ConfigStoreTest, ValuesAreStoredAsTheyStandWithoutLoadRules) {
  Config c = DefaultConfig();
  c.MasterGain = -40;
  ASSERT_EQ(StoreConfig(c), 0);
  EXPECT_NE(ReadHive().find("\"Master Gain\"=dword:ffffffd8"), std::string::npos) << ReadHive();
  EXPECT_EQ(Load().MasterGain, -6);
}

TEST_F(ConfigStoreTest, MalformedLinesAreSkippedNotFatal) {
  WriteHive("garbage line without equals\n\"Mode\"=dword:zz\n\"Master Gain\"=dword:00000003\n"
            "\"Delay L\"=dword:123456789\n\"Centre Weight\"=\"a string\"\n\"Trim L\"=dword:00000002\n");
  const Config c = Load();
  EXPECT_EQ(c.Mode, 2);
  EXPECT_EQ(c.MasterGain, 3);
  EXPECT_EQ(c.DelayL, 0);
  EXPECT_EQ(c.CentreWeight, 100);  // a string does not fit a 4-byte query
  EXPECT_EQ(c.TrimL, 2);
}

TEST_F(ConfigStoreTest, BinaryGarbageReadsAsDefaults) {
  std::ofstream out(hive_, std::ios::binary);
  for (int i = 0; i < 4096; ++i) out.put(static_cast<char>((i * 7919) & 0xFF));
  out.close();
  const Config c = Load();
  const Config d = DefaultConfig();
  EXPECT_EQ(std::memcmp(&c, &d, sizeof c), 0);
}

// A value of the wrong type loads as its default: a string where a number
// belongs (even one whose UTF-16 bytes are exactly four), a number where the
// slave path belongs, and a value with no bytes at all (read as missing data,
// not copied from nowhere: the undefined-behaviour build checks the copy).
// Four bytes of binary data still read as a number.
TEST_F(ConfigStoreTest, WrongTypedAndEmptyValuesLoadAsDefaults) {
  struct Case {
    const char* hive;
    int32_t mode, masterGain, delayL;
  };
  const Case cases[] = {
      {"\"Mode\"=\"4\"\n\"Master Gain\"=\"-6\"\n\"Delay L\"=hex:05,00,00,00\n\"Slave Module\"=dword:00000005\n", 2, 0, 5},
      {"\"Delay L\"=hex:\n\"Mode\"=hex(4):\n\"Master Gain\"=dword:00000003\n\"Slave Module\"=hex(1):\n", 2, 3, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.hive);
    WriteHive(k.hive);
    const Config c = Load();
    EXPECT_EQ(c.Mode, k.mode);
    EXPECT_EQ(c.MasterGain, k.masterGain);
    EXPECT_EQ(c.DelayL, k.delayL);
    char16_t path[kSlavePathChars];
    GetSlavePath(c, path);
    EXPECT_EQ(std::u16string(path), std::u16string(SN_DEF_SLAVEMODULE));
  }
}

// A FIFO (or any file that is not a regular one) in the hive's place reads as
// an empty hive at once and is never replaced.
TEST_F(ConfigStoreTest, AFifoInPlaceOfTheHiveNeitherBlocksNorIsReplaced) {
  ASSERT_EQ(mkfifo(hive_.c_str(), 0600), 0);
  std::atomic<bool> done{false};
  Config c{};
  long stored = 0;
  std::thread t([&] {
    LoadConfig(c);
    stored = StoreConfig(c);
    done = true;
  });
  for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!done) {
    ADD_FAILURE() << "the store blocked on a FIFO";
    std::_Exit(1);  // the thread cannot be freed from its open()
  }
  t.join();
  EXPECT_EQ(c.Mode, 2);
  EXPECT_NE(stored, 0);
  struct stat st {};
  ASSERT_EQ(stat(hive_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A settings file its owner made read-only is left as it is, and the save
// says it failed.
TEST_F(ConfigStoreTest, AReadOnlyHiveIsLeftAlone) {
  WriteHive("\"Mode\"=dword:00000001\n");
  ASSERT_EQ(chmod(hive_.c_str(), 0444), 0);
  const std::string before = ReadHive();
  Config c = Load();
  CfgSet(c.Mode, int32_t{3});
  EXPECT_NE(StoreConfig(c), 0);
  EXPECT_EQ(ReadHive(), before);
}

TEST_F(ConfigStoreTest, OverlongSlavePathLoadsAsDefault) {
  WriteHive("\"Slave Module\"=\"" + std::string(300, 'x') + "\"\n");
  EXPECT_EQ(std::u16string(Load().SlaveModulePath), std::u16string(SN_DEF_SLAVEMODULE));
  WriteHive("\"Slave Module\"=\"" + std::string(259, 'y') + "\"\n");
  EXPECT_EQ(std::u16string(Load().SlaveModulePath), std::u16string(259, u'y'));
}

TEST_F(ConfigStoreTest, NamesAreCaseInsensitive) {
  std::ofstream(hive_) << "Windows Registry Editor Version 5.00\n\n"
                       << "[hkey_current_user\\software\\tamberlin\\SONAVEL]\n\"mode\"=dword:00000000\n";
  EXPECT_EQ(Load().Mode, 0);
}

TEST_F(ConfigStoreTest, UnwritableHiveReportsAnError) {
  // Root writes through permissions, so make the hive's place a file instead.
  std::ofstream(dir_ + "/blocker") << "x";
  setenv("SONAVEL_REGISTRY", (dir_ + "/blocker/user.reg").c_str(), 1);
  EXPECT_NE(StoreConfig(DefaultConfig()), 0);
}

}  // namespace
}  // namespace sn
