// The settings store on the system registry, HKEY_CURRENT_USER\SOFTWARE\Tamberlin\Sonavel:
// defaults without the key, the load rules on values as regedit would store
// them, the round trip, and the types the store writes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <ostream>
#include <string>

#include "config/Config.h"
#include "support/ConfigSamples.h"
#include "platform/Platform.h"

namespace sn {
namespace {

constexpr wchar_t kKey[] = L"SOFTWARE\\Tamberlin\\Sonavel";

class ConfigRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

  static void Store(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(k);
  }
  static void StoreDword(const wchar_t* name, uint32_t v) { Store(name, REG_DWORD, &v, sizeof v); }
  static void StoreString(const wchar_t* name, const std::wstring& s) {
    Store(name, REG_SZ, s.c_str(), static_cast<DWORD>((s.size() + 1) * sizeof(wchar_t)));
  }
  static Config Load() {
    Config c{};
    std::memset(&c, 0xA5, sizeof c);
    LoadConfig(c);
    return c;
  }
};

TEST_F(ConfigRegistryTest, MissingKeyGivesEveryDefault) {
  const Config c = Load();
  const Config d = DefaultConfig();
  EXPECT_EQ(std::memcmp(&c, &d, sizeof c), 0);
  EXPECT_EQ(std::u16string(c.SlaveModulePath), u"out_ds.dll");
  EXPECT_EQ(c.Mode, 2);
  EXPECT_EQ(c.SlaveRes, 16);
}

struct RuleCase {
  const wchar_t* value;
  uint32_t stored;
  int32_t Config::*field;
  int32_t loaded;
};

void PrintTo(const RuleCase& c, std::ostream* os) {
  *os << platform::ToUtf8(reinterpret_cast<const char16_t*>(c.value)) << "=" << c.stored;
}

class ConfigRuleTest : public ConfigRegistryTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(ConfigRuleTest, StoredValueLoadsCorrected) {
  StoreDword(GetParam().value, GetParam().stored);
  EXPECT_EQ(Load().*(GetParam().field), GetParam().loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ConfigRuleTest,
    ::testing::Values(RuleCase{L"Mode", 7, &Config::Mode, 2}, RuleCase{L"Mode", 4, &Config::Mode, 4},
                      RuleCase{L"Master Gain", static_cast<uint32_t>(-10), &Config::MasterGain, -6},
                      RuleCase{L"Master Gain", 9, &Config::MasterGain, 6},
                      RuleCase{L"Delay C", 0xFFFFFFFF, &Config::DelayC, 100},
                      RuleCase{L"Surround Delay Movie", 5, &Config::SurroundDelayMovie, 10},
                      RuleCase{L"LFE Cutoff", 250, &Config::LFECutoff, 120},
                      RuleCase{L"Slave Res", 32, &Config::SlaveRes, 16},
                      RuleCase{L"Slave Res", 24, &Config::SlaveRes, 24},
                      RuleCase{L"show decoder inactive", 0, &Config::ShowDecoderInactive, 0}));

TEST_F(ConfigRegistryTest, RoundTripKeepsEveryInRangeValue) {
  const Config c = test::EveryFieldOffDefault(u"C:\\Program Files\\Player\\Plugins\\out_\u00e9\u4e2d\U0001F3B5.dll");
  ASSERT_EQ(StoreConfig(c), 0);
  const Config back = Load();
  EXPECT_EQ(std::memcmp(&back, &c, sizeof c), 0);
}

// The store writes REG_DWORD values as they stand (no load rules) and the
// slave path as REG_SZ of its characters plus the terminator.
TEST_F(ConfigRegistryTest, StoredValuesHaveTheSystemsTypes) {
  Config c = DefaultConfig();
  c.MasterGain = -40;
  ASSERT_EQ(StoreConfig(c), 0);
  DWORD type = 0;
  uint32_t v = 0;
  DWORD size = sizeof v;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, L"Master Gain", RRF_RT_ANY, &type, &v, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(v, static_cast<uint32_t>(-40));
  wchar_t path[300] = {};
  size = sizeof path;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, L"Slave Module", RRF_RT_ANY | RRF_NOEXPAND, &type, path, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, sizeof(L"out_ds.dll"));
  EXPECT_EQ(std::wstring(path), L"out_ds.dll");
  EXPECT_EQ(Load().MasterGain, -6);
}

// The value's type is not examined: what fits the 4-byte query is taken with
// its rule, anything larger reads as missing; a slave path needs its
// terminator within 260 characters.
TEST_F(ConfigRegistryTest, ValuesOfOtherShapes) {
  StoreString(L"Mode", L"1");  // "1" and its terminator: 4 bytes, 0x00000031
  const uint64_t quad = 1;
  Store(L"Slave Res", REG_QWORD, &quad, sizeof quad);
  StoreString(L"Slave Module", std::wstring(300, L'x'));
  Config c = Load();
  EXPECT_EQ(c.Mode, 2) << "0x31 is above 4";
  EXPECT_EQ(c.SlaveRes, 16);
  EXPECT_EQ(std::u16string(c.SlaveModulePath), u"out_ds.dll");
  StoreString(L"Slave Module", std::wstring(259, L'y'));
  EXPECT_EQ(std::u16string(Load().SlaveModulePath), std::u16string(259, u'y'));
}

}  // namespace
}  // namespace sn
