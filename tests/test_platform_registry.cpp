// The file-backed registry hive: values round-trip with the registry's size
// rules, names compare case-insensitively, saving keeps everything else in the
// file, and damaged or missing files read as missing values.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Registry.h"

namespace sn::platform {
namespace {

constexpr char kKey[] = "SOFTWARE\\Tamberlin\\Sonavel";

// Points the hive at a file in a fresh temporary directory and restores the
// environment afterwards.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"SONAVEL_REGISTRY", "XDG_CONFIG_HOME", "HOME"}) {
      const char* v = std::getenv(name);
      saved_.push_back({name, v ? v : "", v != nullptr});
    }
    std::string tmpl = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/sn-reg-XXXXXX");
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    file_ = dir_ + "/user.reg";
    setenv("SONAVEL_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override {
    for (const Saved& s : saved_) {
      if (s.set) {
        setenv(s.name, s.value.c_str(), 1);
      } else {
        unsetenv(s.name);
      }
    }
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }

  void WriteFile(const std::string& text) const {
    std::ofstream(file_, std::ios::binary) << text;
  }
  std::string ReadFile() const {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  static void Store(const char* key, const char* name, uint32_t value) {
    long status = -1;
    auto k = RegistryKey::Create(key, &status);
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(status, kRegOk);
    ASSERT_EQ(k->SetDword(name, value), kRegOk);
    ASSERT_EQ(k->Close(), kRegOk);
  }

  // The DWORD `name` of the key, or -1 when it cannot be read as one.
  static int64_t Dword(const RegistryKey& k, const char* name) {
    uint32_t v = 0;
    uint32_t size = sizeof v;
    RegType type{};
    if (k.Query(name, &type, &v, &size) != kRegOk || size != 4 || type != RegType::Dword) return -1;
    return v;
  }
  static int64_t Dword(const char* key, const char* name) {
    auto k = RegistryKey::Open(key);
    return k ? Dword(*k, name) : -1;
  }

  static std::u16string String(const RegistryKey& k, const char* name) {
    char16_t buf[300] = {};
    uint32_t size = sizeof buf;
    RegType type{};
    if (k.Query(name, &type, buf, &size) != kRegOk || type != RegType::Sz) return u"<failed>";
    EXPECT_EQ(size % 2, 0u);
    EXPECT_EQ(buf[size / 2 - 1], 0) << "strings come with their terminator";
    return std::u16string(buf, size / 2 - 1);
  }

  struct Saved {
    const char* name;
    std::string value;
    bool set;
  };
  std::vector<Saved> saved_;
  std::string dir_;
  std::string file_;
};

TEST_F(RegistryTest, DwordsAndStringsRoundTrip) {
  const std::u16string strings[] = {
      u"out_wave.so",
      u"",
      u"C:\\Program Files\\\"quoted\"\\",
      u"Gr\u00FC\u00DFe \u20AC \U0001F3B5",
      u"two\r\nlines\tand a tab",
      std::u16string(259, u'x'),
  };
  const uint32_t dwords[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF, 0xDEADBEEF};
  {
    long status = -1;
    auto k = RegistryKey::Create(kKey, &status);
    ASSERT_NE(k, nullptr);
    for (size_t i = 0; i < std::size(strings); ++i) {
      ASSERT_EQ(k->SetString("S" + std::to_string(i), strings[i].c_str()), kRegOk);
    }
    for (size_t i = 0; i < std::size(dwords); ++i) ASSERT_EQ(k->SetDword("D" + std::to_string(i), dwords[i]), kRegOk);
    EXPECT_EQ(Dword(*k, "D4"), 0xDEADBEEF) << "a write is visible through the key at once";
    EXPECT_EQ(k->Close(), kRegOk);
  }
  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  for (size_t i = 0; i < std::size(strings); ++i) EXPECT_EQ(String(*k, ("S" + std::to_string(i)).c_str()), strings[i]);
  for (size_t i = 0; i < std::size(dwords); ++i) EXPECT_EQ(Dword(*k, ("D" + std::to_string(i)).c_str()), dwords[i]);

  const std::string text = ReadFile();
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Tamberlin\\Sonavel]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"D4\"=dword:deadbeef\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"S2\"=\"C:\\\\Program Files\\\\\\\"quoted\\\"\\\\\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"S3\"=\"Gr\xC3\xBC\xC3\x9F" "e"), std::string::npos) << "strings are stored as UTF-8";
}

TEST_F(RegistryTest, NamesCompareCaseInsensitively) {
  WriteFile(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[hkey_current_user\\software\\TAMBERLIN\\sonavel]\r\n"
      "\"Master Gain\"=dword:00000003\r\n");
  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(Dword(*k, "MASTER GAIN"), 3);
  EXPECT_EQ(Dword(*k, "master gain"), 3);
  k.reset();

  Store(kKey, "MASTER gain", 5);
  EXPECT_EQ(Dword(kKey, "Master Gain"), 5);
  const std::string text = ReadFile();
  EXPECT_EQ(text.find("MASTER gain"), std::string::npos) << "the name keeps its spelling in the file:\n" << text;
  EXPECT_EQ(text.find("[HKEY_CURRENT_USER"), std::string::npos) << "the key is not written twice:\n" << text;
}

TEST_F(RegistryTest, QueriesFollowTheRegistrySizeRules) {
  {
    long status;
    auto k = RegistryKey::Create(kKey, &status);
    ASSERT_NE(k, nullptr);
    k->SetDword("Mode", 2);
    k->SetString("Slave Module", u"out_wave.so");
  }  // dropping the key saves it too
  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  RegType type{};
  uint32_t size = 0;

  // A string's size counts its terminator, two bytes per UTF-16 unit.
  EXPECT_EQ(k->Query("Slave Module", &type, nullptr, &size), kRegOk);
  EXPECT_EQ(size, 24u);
  EXPECT_EQ(type, RegType::Sz);
  char16_t buf[16];
  size = 22;
  EXPECT_EQ(k->Query("Slave Module", &type, buf, &size), kRegMoreData) << "no room for the terminator";
  EXPECT_EQ(size, 24u) << "a failed query reports the size needed";
  size = 24;
  EXPECT_EQ(k->Query("Slave Module", &type, buf, &size), kRegOk);
  EXPECT_EQ(std::u16string(buf), u"out_wave.so");

  uint32_t mode = 0;
  size = 2;
  EXPECT_EQ(k->Query("Mode", &type, &mode, &size), kRegMoreData);
  EXPECT_EQ(size, 4u);
  size = 8;
  EXPECT_EQ(k->Query("Mode", &type, &mode, &size), kRegOk);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, RegType::Dword);
  EXPECT_EQ(mode, 2u);

  size = 4;
  EXPECT_EQ(k->Query("Missing", &type, &mode, &size), kRegNotFound);
  EXPECT_EQ(k->Query("Mode", nullptr, &mode, nullptr), kRegInvalidParameter);
  EXPECT_EQ(k->SetDword("Mode", 1), kRegAccessDenied) << "a key opened for reading refuses writes";
}

// Saving one key re-reads the file under the lock and keeps every other key,
// every other value of the same key, values written meanwhile by someone else,
// and lines it does not understand.
TEST_F(RegistryTest, SavingKeepsEverythingElseInTheFile) {
  long status;
  auto writer = RegistryKey::Create(kKey, &status);
  ASSERT_NE(writer, nullptr);
  WriteFile(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n"
      "\"Keep\"=dword:0000002a\n"
      "\"Blob\"=hex:01,02,03,\\\n"
      "  04,05\n"
      "\"Multi\"=hex(7):41,00,00,00,00,00\n"
      "; a comment\n"
      "\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Tamberlin\\Sonavel]\n"
      "\"Mode\"=dword:00000001\n"
      "\"Slave Module\"=\"out_wave.so\"\n"
      "\n");
  const std::string before = ReadFile();
  ASSERT_EQ(writer->SetDword("Mode", 4), kRegOk);
  ASSERT_EQ(writer->SetDword("Show Icon", 0), kRegOk);
  ASSERT_EQ(writer->Close(), kRegOk);

  EXPECT_EQ(Dword("SOFTWARE\\Other", "Keep"), 42);
  auto other = RegistryKey::Open("SOFTWARE\\Other");
  ASSERT_NE(other, nullptr);
  uint8_t blob[8];
  uint32_t size = sizeof blob;
  RegType type{};
  ASSERT_EQ(other->Query("Blob", &type, blob, &size), kRegOk) << "continued hex lines are one value";
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(static_cast<uint32_t>(type), 3u);
  EXPECT_EQ(blob[4], 5);

  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(Dword(*k, "Mode"), 4);
  EXPECT_EQ(Dword(*k, "Show Icon"), 0);
  EXPECT_EQ(String(*k, "Slave Module"), u"out_wave.so");

  // Only the changed line differs; the new value joins its key's section.
  std::string expected = before;
  expected.replace(expected.find("\"Mode\"=dword:00000001"), 21, "\"Mode\"=dword:00000004");
  expected.insert(expected.find("\"Slave Module\"=\"out_wave.so\"\n") + 29, "\"Show Icon\"=dword:00000000\n");
  EXPECT_EQ(ReadFile(), expected);
}

TEST_F(RegistryTest, CloseWithoutWritesLeavesTheFileAlone) {
  long status = -1;
  auto k = RegistryKey::Create(kKey, &status);
  ASSERT_NE(k, nullptr) << "a key can be created before the file exists";
  EXPECT_EQ(status, kRegOk);
  EXPECT_EQ(k->Close(), kRegOk);
  k.reset();
  EXPECT_NE(access(file_.c_str(), F_OK), 0) << "nothing was written";
  EXPECT_EQ(RegistryKey::Open(kKey), nullptr) << "the key is absent until it holds a value";
}

TEST_F(RegistryTest, MissingAndDamagedHivesReadAsMissingValues) {
  EXPECT_EQ(RegistryKey::Open(kKey), nullptr) << "no file";

  const char garbage[] = "\x00\xFF garbage \x01\x02\n[unclosed\n\"Mode\"=dword:2\n";
  WriteFile(std::string(garbage, sizeof garbage - 1));
  EXPECT_EQ(RegistryKey::Open(kKey), nullptr) << "binary garbage";

  ASSERT_EQ(unlink(file_.c_str()), 0);
  ASSERT_EQ(mkdir(file_.c_str(), 0700), 0);
  EXPECT_EQ(RegistryKey::Open(kKey), nullptr) << "a directory where the file should be";
  long status = -1;
  auto k = RegistryKey::Create(kKey, &status);
  ASSERT_NE(k, nullptr);
  k->SetDword("Mode", 1);
  EXPECT_EQ(k->Close(), kRegAccessDenied) << "an unreadable hive is never replaced";
  ASSERT_EQ(rmdir(file_.c_str()), 0);
}

// Lines that cannot be read are skipped one by one; the rest of the key reads.
TEST_F(RegistryTest, MalformedLinesAreSkipped) {
  WriteFile(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Tamberlin\\Sonavel]\n"
      "\"Mode\"=dword:000000001\n"         // nine digits
      "\"Master Gain\"=dword:zz\n"
      "\"Surround Mode\"=dword:00000001\n"
      "\"Unclosed=dword:00000001\n"
      "\"Slave Module\"=\"out_wave.so\n"   // unterminated string
      "\"Delay L\"=\"text\" trailing\n"
      "=dword:00000005\n"
      "garbage line\n"
      "\"Delay C\"=hex:zz\n"
      "\"Trim L\"=dword:fffffffa\n"
      "\"Removed\"=-\n"
      "\"LFE Cutoff\" = dword:0000007B\n");
  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  struct Case {
    const char* name;
    int64_t value;
  };
  const Case cases[] = {
      {"Mode", -1},         {"Master Gain", -1}, {"Surround Mode", 1}, {"Unclosed", -1},
      {"Slave Module", -1}, {"Delay L", -1},     {"Delay C", -1},      {"Trim L", 0xFFFFFFFA},
      {"Removed", -1},      {"LFE Cutoff", 123},
  };
  for (const Case& c : cases) EXPECT_EQ(Dword(*k, c.name), c.value) << c.name;
  EXPECT_EQ(String(*k, "Slave Module"), u"<failed>");
}

TEST_F(RegistryTest, RegeditUtf16ExportsRead) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Tamberlin\\Sonavel]\r\n"
      "\"Mode\"=dword:00000003\r\n\"Slave Module\"=\"d\xC3\xA9j\xC3\xA0.so\"\r\n";
  const std::u16string w = FromUtf8(text);
  std::string bytes = "\xFF\xFE";
  for (char16_t u : w) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  WriteFile(bytes);
  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(Dword(*k, "Mode"), 3);
  EXPECT_EQ(String(*k, "Slave Module"), u"d\u00E9j\u00E0.so");
}

// Where the directory cannot be made, saving fails with an error, not a crash.
TEST_F(RegistryTest, UnwritableLocationFailsCleanly) {
  const std::string blocker = dir_ + "/not-a-dir";
  std::ofstream(blocker) << "x";
  const std::string path = blocker + "/sonavel/user.reg";
  setenv("SONAVEL_REGISTRY", path.c_str(), 1);
  long status = -1;
  auto k = RegistryKey::Create(kKey, &status);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->SetDword("Mode", 1), kRegOk);
  EXPECT_EQ(k->Close(), kRegAccessDenied);
  EXPECT_EQ(RegistryKey::Open(kKey), nullptr);
}

TEST_F(RegistryTest, TheHiveFollowsTheEnvironment) {
  EXPECT_EQ(RegistryPath(), file_);
  unsetenv("SONAVEL_REGISTRY");
  setenv("XDG_CONFIG_HOME", (dir_ + "/xdg").c_str(), 1);
  EXPECT_EQ(RegistryPath(), dir_ + "/xdg/sonavel/user.reg");
  // The directories are created on the first save.
  Store(kKey, "Mode", 3);
  EXPECT_EQ(Dword(kKey, "Mode"), 3);
  EXPECT_EQ(access((dir_ + "/xdg/sonavel/user.reg").c_str(), R_OK), 0);

  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", dir_.c_str(), 1);
  EXPECT_EQ(RegistryPath(), dir_ + "/.config/sonavel/user.reg");
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(RegistryPath(), dir_ + "/.config/sonavel/user.reg");
}

// Threads saving different values of one key at the same time: the lock and
// the merge under it keep every one of them.
TEST_F(RegistryTest, ConcurrentSavesLoseNothing) {
  struct Job {
    int index;
    long failures = 0;
  };
  constexpr int kThreads = 4;
  constexpr int kSaves = 8;
  Job jobs[kThreads];
  Thread* threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    jobs[i].index = i;
    threads[i] = StartThread(
        [](void* arg) -> uint32_t {
          auto* job = static_cast<Job*>(arg);
          for (int s = 0; s < kSaves; ++s) {
            long status;
            auto k = RegistryKey::Create(kKey, &status);
            if (!k) {
              ++job->failures;
              continue;
            }
            k->SetDword("T" + std::to_string(job->index) + "-" + std::to_string(s), static_cast<uint32_t>(s));
            if (k->Close() != kRegOk) ++job->failures;
          }
          return 0;
        },
        &jobs[i]);
    ASSERT_NE(threads[i], nullptr);
  }
  for (Thread* t : threads) {
    ASSERT_TRUE(JoinThread(t, 60000));
    CloseThread(t);
  }
  auto k = RegistryKey::Open(kKey);
  ASSERT_NE(k, nullptr);
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(jobs[i].failures, 0);
    for (int s = 0; s < kSaves; ++s) {
      EXPECT_EQ(Dword(*k, ("T" + std::to_string(i) + "-" + std::to_string(s)).c_str()), s);
    }
  }
}

}  // namespace
}  // namespace sn::platform
