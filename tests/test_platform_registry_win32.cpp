// The registry key on the system registry: values round-trip as real REG_DWORD
// and REG_SZ values with the registry's size rules, names compare
// case-insensitively, and values written by other programs read as they are.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/Platform.h"
#include "platform/Registry.h"

namespace sn::platform {
namespace {

constexpr char kKey[] = "SOFTWARE\\Tamberlin\\SonavelPlatformTest";
constexpr wchar_t kWideKey[] = L"SOFTWARE\\Tamberlin\\SonavelPlatformTest";

// "S0", "D3", ...
std::string Name(char kind, size_t i) {
  std::string name(1, kind);
  name += std::to_string(i);
  return name;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kWideKey); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kWideKey); }

  static std::unique_ptr<RegistryKey> Create() {
    long status = -1;
    auto k = RegistryKey::Create(kKey, &status);
    EXPECT_EQ(status, kRegOk);
    return k;
  }
  // The value as the system reads it: type and bytes.
  static std::pair<DWORD, std::string> Raw(const wchar_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kWideKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      return {REG_NONE, "<missing>"};
    }
    std::string bytes(size, '\0');
    RegGetValueW(HKEY_CURRENT_USER, kWideKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, bytes.data(), &size);
    bytes.resize(size);
    return {type, bytes};
  }
  static void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kWideKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(k);
  }
};

TEST_F(RegistryTest, DwordsAndStringsAreTheSystemsOwnValues) {
  const std::u16string strings[] = {u"out_ds.dll", u"", u"C:\\Program Files\\\"quoted\"\\",
                                    u"Gr\u00FC\u00DFe \u20AC \U0001F3B5", std::u16string(259, u'x')};
  const uint32_t dwords[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF, 0xDEADBEEF};
  {
    auto k = Create();
    ASSERT_NE(k, nullptr);
    for (size_t i = 0; i < std::size(strings); ++i) {
      ASSERT_EQ(k->SetString(Name('S', i), strings[i].c_str()), kRegOk);
    }
    for (size_t i = 0; i < std::size(dwords); ++i) ASSERT_EQ(k->SetDword(Name('D', i), dwords[i]), kRegOk);
    EXPECT_EQ(k->Close(), kRegOk);
  }
  for (size_t i = 0; i < std::size(strings); ++i) {
    const auto [type, bytes] = Raw((L"S" + std::to_wstring(i)).c_str());
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << i;
    const std::string want(reinterpret_cast<const char*>(strings[i].c_str()), (strings[i].size() + 1) * 2);
    EXPECT_EQ(bytes, want) << "UTF-16 with its terminator, " << i;
  }
  for (size_t i = 0; i < std::size(dwords); ++i) {
    const auto [type, bytes] = Raw((L"D" + std::to_wstring(i)).c_str());
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << i;
    ASSERT_EQ(bytes.size(), 4u);
    uint32_t v;
    std::memcpy(&v, bytes.data(), 4);
    EXPECT_EQ(v, dwords[i]);
  }

  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  for (size_t i = 0; i < std::size(strings); ++i) {
    char16_t buf[300] = {};
    uint32_t size = sizeof buf;
    RegType type{};
    ASSERT_EQ(k->Query(Name('S', i), &type, buf, &size), kRegOk);
    EXPECT_EQ(type, RegType::Sz);
    EXPECT_EQ(size, (strings[i].size() + 1) * 2);
    EXPECT_EQ(std::u16string(buf), strings[i]);
  }
}

TEST_F(RegistryTest, NamesCompareCaseInsensitively) {
  auto k = Create();
  ASSERT_NE(k, nullptr);
  ASSERT_EQ(k->SetDword("Master Gain", 3), kRegOk);
  ASSERT_EQ(k->SetDword("MASTER gain", 4), kRegOk);
  uint32_t v = 0;
  uint32_t size = sizeof v;
  ASSERT_EQ(k->Query("master GAIN", nullptr, &v, &size), kRegOk);
  EXPECT_EQ(v, 4u);
  auto upper = RegistryKey::Open("software\\TAMBERLIN\\sonavelplatformtest");
  ASSERT_NE(upper, nullptr);
  EXPECT_EQ(upper->Query("Master Gain", nullptr, &v, &size), kRegOk);
}

TEST_F(RegistryTest, QueriesFollowTheRegistrySizeRules) {
  SetRaw(L"Long", REG_SZ, L"0123456789", 22);
  const uint32_t d = 42;
  SetRaw(L"Word", REG_DWORD, &d, 4);
  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  char16_t small[4] = {};
  uint32_t size = sizeof small;
  RegType type{};
  EXPECT_EQ(k->Query("Long", &type, small, &size), kRegMoreData);
  EXPECT_EQ(size, 22u) << "a value larger than the buffer reports its size";
  size = 0;
  EXPECT_EQ(k->Query("Long", &type, nullptr, &size), kRegOk);
  EXPECT_EQ(size, 22u) << "no buffer: the size alone";
  EXPECT_EQ(type, RegType::Sz);
  EXPECT_EQ(k->Query("Long", &type, small, nullptr), kRegInvalidParameter);
  uint32_t v = 0;
  size = 8;
  EXPECT_EQ(k->Query("Word", &type, &v, &size), kRegOk);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, RegType::Dword);
  EXPECT_EQ(v, 42u);
  EXPECT_EQ(k->Query("Missing", &type, &v, &size), kRegNotFound);
}

// Values of other types and sizes, as another program may leave them, read
// with their own type and size; the caller decides.
TEST_F(RegistryTest, ForeignValuesReadAsTheyAre) {
  const uint64_t q = 0x1122334455667788ull;
  SetRaw(L"Quad", REG_QWORD, &q, 8);
  const uint8_t bin[4] = {1, 2, 3, 4};
  SetRaw(L"Binary", REG_BINARY, bin, 4);
  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  uint32_t v = 0;
  uint32_t size = sizeof v;
  RegType type{};
  EXPECT_EQ(k->Query("Quad", &type, &v, &size), kRegMoreData);
  EXPECT_EQ(size, 8u);
  size = sizeof v;
  EXPECT_EQ(k->Query("Binary", &type, &v, &size), kRegOk);
  EXPECT_EQ(static_cast<uint32_t>(type), static_cast<uint32_t>(REG_BINARY));
  EXPECT_EQ(v, 0x04030201u);
}

TEST_F(RegistryTest, MissingKeysAndReadOnlyKeys) {
  EXPECT_EQ(RegistryKey::Open(kKey), nullptr);
  {
    auto k = Create();
    ASSERT_NE(k, nullptr);
  }
  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr) << "Create made the key";
  EXPECT_EQ(k->SetDword("Mode", 1), kRegAccessDenied) << "a key opened for reading takes no writes";
  EXPECT_EQ(k->Close(), kRegOk);
  uint32_t v = 0;
  uint32_t size = sizeof v;
  EXPECT_NE(k->Query("Mode", nullptr, &v, &size), kRegOk) << "a closed key reads nothing";
  EXPECT_EQ(k->Close(), kRegOk);
}

}  // namespace
}  // namespace sn::platform
