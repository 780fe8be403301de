// Modules, message boxes and the UTF helpers of the platform layer.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/Platform.h"

namespace sn::platform {
namespace {

const std::string kBinDir = SONAVEL_BIN_DIR;

std::string Dir(const std::string& file) { return file.substr(0, file.rfind('/') + 1); }

std::string ExecutableDir() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? Dir(std::string(buf, static_cast<size_t>(n))) : std::string();
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

TEST(PlatformModule, MissingModulesFailToLoad) {
  EXPECT_EQ(LoadModule(u"/nonexistent/dir/out_missing.so"), nullptr);
  EXPECT_EQ(LoadModule(u"out_missing_module_name.so"), nullptr);
  EXPECT_EQ(LoadModule(u""), nullptr);
  EXPECT_EQ(LoadModule(nullptr), nullptr);
  EXPECT_EQ(FindExport(nullptr, "strlen"), nullptr);
  UnloadModule(nullptr);
}

// A failed load says which paths it tried and why the loader refused; a
// successful one clears that.
TEST(PlatformModule, AFailedLoadKeepsThePathsTriedAndTheReason) {
  EXPECT_EQ(LoadModule(u"/nonexistent/dir/out_missing.so"), nullptr);
  EXPECT_EQ(ModuleLoadError(),
            "tried /nonexistent/dir/out_missing.so: /nonexistent/dir/out_missing.so: cannot open shared object "
            "file: No such file or directory");
  EXPECT_EQ(LoadModule(u"out_missing_module_name.so"), nullptr);
  EXPECT_EQ(ModuleLoadError(), "tried " + ExecutableDir() +
                                   "out_missing_module_name.so, then the library search path: "
                                   "out_missing_module_name.so: cannot open shared object file: No such file or "
                                   "directory");
  // A file that exists but is no library: its own reason, not the search's.
  EXPECT_EQ(LoadModule(u"" SONAVEL_SOURCE_DIR "/README.md"), nullptr);
  EXPECT_NE(ModuleLoadError().find("README.md: invalid ELF header"), std::string::npos) << ModuleLoadError();
  Module* libc = LoadModule(u"libc.so.6");
  ASSERT_NE(libc, nullptr);
  EXPECT_EQ(ModuleLoadError(), "");
  UnloadModule(libc);
}

// A bare name that is not beside this program comes from the system's search.
TEST(PlatformModule, BareNameFallsBackToTheSystemSearch) {
  Module* libc = LoadModule(u"libc.so.6");
  ASSERT_NE(libc, nullptr);
  // The export comes from libc itself (a sanitizer may interpose the global one).
  void* fn = FindExport(libc, "strlen");
  Dl_info info{};
  ASSERT_NE(dladdr(fn, &info), 0);
  EXPECT_NE(std::string(info.dli_fname).find("libc.so.6"), std::string::npos) << info.dli_fname;
  EXPECT_EQ(FindExport(libc, "sn_no_such_export"), nullptr);
  EXPECT_EQ(FindExport(libc, nullptr), nullptr);
  UnloadModule(libc);
}

// A bare name is found beside the module that holds the platform code (here
// the test program), without the system's search knowing that directory.
TEST(PlatformModule, BareNameIsFoundBesideTheProgram) {
  const std::string probe = kBinDir + "/platform_probe.so";
  ASSERT_TRUE(FileExists(probe)) << probe << " is built by the test_slaves target";
  ASSERT_EQ(ExecutableDir(), kBinDir + "/");
  for (const char16_t* name : {u"platform_probe.so", u"" SONAVEL_BIN_DIR "/platform_probe.so"}) {
    Module* m = LoadModule(name);
    ASSERT_NE(m, nullptr) << ToUtf8(name);
    auto* probeFn = reinterpret_cast<int (*)()>(FindExport(m, "sn_platform_probe"));
    ASSERT_NE(probeFn, nullptr);
    EXPECT_EQ(probeFn(), 42);
    EXPECT_EQ(FindExport(m, "winampGetOutModule"), nullptr);
    EXPECT_EQ(ModuleDirectory(reinterpret_cast<const void*>(probeFn)), kBinDir + "/");
    UnloadModule(m);
  }
}

void FunctionInThisProgram() {}

TEST(PlatformModule, ModuleDirectoryNamesTheHoldingModule) {
  const std::string own = ModuleDirectory(reinterpret_cast<const void*>(&FunctionInThisProgram));
  EXPECT_EQ(own, ExecutableDir());
  EXPECT_EQ(ModuleDirectory(reinterpret_cast<const void*>(&LoadModule)), own) << "the platform code is linked in";

  Module* libc = LoadModule(u"libc.so.6");
  ASSERT_NE(libc, nullptr);
  const void* fn = FindExport(libc, "strlen");
  Dl_info info{};
  ASSERT_NE(dladdr(fn, &info), 0);
  const std::string libcDir = ModuleDirectory(fn);
  ASSERT_FALSE(libcDir.empty());
  EXPECT_EQ(libcDir.front(), '/');
  EXPECT_EQ(libcDir, Dir(info.dli_fname));
  EXPECT_NE(libcDir, own);
  UnloadModule(libc);

  EXPECT_EQ(ModuleDirectory(nullptr), "");
}

TEST(PlatformMessageBox, WritesCaptionAndTextAsOneLine) {
  testing::internal::CaptureStderr();
  ShowMessage(nullptr, u"Slave module could not be opened.", u"Sonavel Error");
  ShowMessage(reinterpret_cast<void*>(1), u"Gr\u00FC\u00DFe \U0001F3B5", u"Caf\u00E9");
  ShowMessage(nullptr, nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Sonavel Error: Slave module could not be opened.\n"
            "Caf\xC3\xA9: Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x8E\xB5\n"
            ": \n");
}

TEST(PlatformUtf, WellFormedTextRoundTrips) {
  struct Case {
    const char16_t* utf16;
    const char* utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"out_wave.so", "out_wave.so"},
      {u"\u00E9\u00DF", "\xC3\xA9\xC3\x9F"},                      // two bytes
      {u"\u20AC\uFFFD", "\xE2\x82\xAC\xEF\xBF\xBD"},              // three bytes
      {u"\U0001F3B5\U0010FFFF", "\xF0\x9F\x8E\xB5\xF4\x8F\xBF\xBF"},  // surrogate pairs
      {u"\u007F\u0080\u07FF\u0800", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},  // length boundaries
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
    EXPECT_EQ(FromUtf8(c.utf8), c.utf16);
  }
  EXPECT_EQ(ToUtf8(nullptr), "");
}

TEST(PlatformUtf, MalformedInputBecomesReplacementCharacters) {
  const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
  EXPECT_EQ(ToUtf8(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  const char16_t highAtEnd[] = {0xD83C, 0};
  EXPECT_EQ(ToUtf8(highAtEnd), "\xEF\xBF\xBD");

  struct Case {
    const char* utf8;
    const char16_t* utf16;
  };
  const Case cases[] = {
      {"\x80", u"\uFFFD"},                       // stray continuation byte
      {"\xC3", u"\uFFFD"},                       // cut short
      {"\xC3(", u"\uFFFD("},                     // bad continuation
      {"\xC0\xAF", u"\uFFFD\uFFFD"},             // overlong '/'
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},   // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xFF" "ok", u"\uFFFDok"},
  };
  for (const Case& c : cases) EXPECT_EQ(FromUtf8(c.utf8), c.utf16) << c.utf8;
}

}  // namespace
}  // namespace sn::platform
