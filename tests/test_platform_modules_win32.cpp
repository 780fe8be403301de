// Modules and message boxes of the Win32 platform layer.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Platform.h"
#include "support/Paths.h"

namespace sn::platform {
namespace {

std::string Utf8(const std::wstring& w) { return ToUtf8(std::u16string(w.begin(), w.end()).c_str()); }

std::string DirectoryOfFile(HMODULE m) {
  wchar_t buf[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(m, buf, MAX_PATH);
  std::wstring file(buf, n);
  return Utf8(file.substr(0, file.find_last_of(L'\\') + 1));
}

TEST(PlatformModule, MissingModulesFailToLoad) {
  EXPECT_EQ(LoadModule(u"C:\\nonexistent\\dir\\out_missing.dll"), nullptr);
  EXPECT_EQ(LoadModule(u"out_missing_module_name.dll"), nullptr);
  EXPECT_EQ(LoadModule(u""), nullptr);
  EXPECT_EQ(LoadModule(nullptr), nullptr);
  EXPECT_EQ(FindExport(nullptr, "GetTickCount"), nullptr);
  UnloadModule(nullptr);
}

// A failed load keeps the paths it tried and the system's reason, with its
// number; a successful one clears that.
TEST(PlatformModule, AFailedLoadKeepsThePathsTriedAndTheReason) {
  EXPECT_EQ(LoadModule(u"C:\\nonexistent\\dir\\out_missing.dll"), nullptr);
  EXPECT_EQ(ModuleLoadError().rfind("tried C:\\nonexistent\\dir\\out_missing.dll: error ", 0), 0u)
      << ModuleLoadError();
  EXPECT_EQ(LoadModule(u"out_missing_module_name.dll"), nullptr);
  EXPECT_EQ(ModuleLoadError().rfind("tried " + test::BinDir() + "\\out_missing_module_name.dll, then the "
                                    "system's search: error 126",
                                    0),
            0u)
      << ModuleLoadError();
  // A file beside us that is no DLL: its own reason, not the search's.
  const std::string fake = test::BinDir() + "\\sn_not_a_module.dll";
  { std::ofstream(fake) << "not a module"; }
  EXPECT_EQ(LoadModule(u"sn_not_a_module.dll"), nullptr);
  EXPECT_EQ(ModuleLoadError().find("error 126"), std::string::npos) << ModuleLoadError();
  EXPECT_NE(ModuleLoadError().find(": error "), std::string::npos) << ModuleLoadError();
  std::filesystem::remove(fake);
  Module* kernel = LoadModule(u"kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(ModuleLoadError(), "");
  UnloadModule(kernel);
}

// A bare name that is not beside this program comes from the system's search.
TEST(PlatformModule, BareNameFallsBackToTheSystemSearch) {
  Module* kernel = LoadModule(u"kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(FindExport(kernel, "GetTickCount"),
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount")));
  EXPECT_EQ(FindExport(kernel, "sn_no_such_export"), nullptr);
  EXPECT_EQ(FindExport(kernel, nullptr), nullptr);
  UnloadModule(kernel);
}

// Full paths load with either separator; the export is found and the module
// goes away with its last reference.
TEST(PlatformModule, FullPathsLoadWithEitherSeparator) {
  const std::string probe = test::BinDir() + "\\platform_probe.dll";
  ASSERT_TRUE(std::filesystem::exists(probe)) << probe << " is built by the test_slaves target";
  std::string slashed = probe;
  for (char& c : slashed) c = c == '\\' ? '/' : c;
  for (const std::string& path : {probe, slashed}) {
    Module* m = LoadModule(FromUtf8(path).c_str());
    ASSERT_NE(m, nullptr) << path;
    auto probeFn = reinterpret_cast<int (*)()>(FindExport(m, "sn_platform_probe"));
    ASSERT_NE(probeFn, nullptr);
    EXPECT_EQ(probeFn(), 42);
    EXPECT_EQ(FindExport(m, "winampGetOutModule"), nullptr);
    EXPECT_EQ(ModuleDirectory(reinterpret_cast<const void*>(probeFn)), test::BinDir() + "\\");
    UnloadModule(m);
    EXPECT_EQ(GetModuleHandleW(L"platform_probe.dll"), nullptr) << "unloaded with its last reference";
  }
}

void FunctionInThisProgram() {}

TEST(PlatformModule, ModuleDirectoryNamesTheHoldingModule) {
  const std::string own = ModuleDirectory(reinterpret_cast<const void*>(&FunctionInThisProgram));
  EXPECT_EQ(own, DirectoryOfFile(nullptr));
  EXPECT_EQ(own, test::BinDir() + "\\");
  const void* tick = reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount"));
  const std::string system = ModuleDirectory(tick);
  EXPECT_EQ(system, DirectoryOfFile(GetModuleHandleW(L"kernel32.dll")));
  EXPECT_NE(system, own);
  EXPECT_EQ(ModuleDirectory(nullptr), "");
}

// Texts go to the box as UTF-16, unchanged; the icon is the exclamation mark.
TEST(PlatformMessageBox, ShowsTextCaptionAndTheExclamationIcon) {
  struct Seen {
    std::wstring caption, text;
    bool exclamation = false;
  };
  static thread_local Seen seen;
  static thread_local int boxes;
  seen = Seen{};
  boxes = 0;
  HHOOK hook = SetWindowsHookExW(
      WH_CBT,
      [](int code, WPARAM w, LPARAM l) -> LRESULT {
        wchar_t cls[16] = {};
        const HWND box = reinterpret_cast<HWND>(w);
        if (code == HCBT_ACTIVATE && GetClassNameW(box, cls, 16) && std::wstring(cls) == L"#32770") {
          ++boxes;
          wchar_t buf[256] = {};
          GetWindowTextW(box, buf, 256);
          seen.caption = buf;
          GetDlgItemTextW(box, 0xFFFF, buf, 256);
          seen.text = buf;
          EnumChildWindows(
              box,
              [](HWND child, LPARAM) -> BOOL {
                if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                    reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)) ==
                        LoadIconW(nullptr, IDI_EXCLAMATION)) {
                  seen.exclamation = true;
                }
                return TRUE;
              },
              0);
          PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        return CallNextHookEx(nullptr, code, w, l);
      },
      nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  ShowMessage(nullptr, u"Gr\u00FC\u00DFe \U0001F3B5", u"Caf\u00E9");
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(seen.caption, L"Caf\u00E9");
  EXPECT_EQ(seen.text, L"Gr\u00FC\u00DFe \U0001F3B5");
  EXPECT_TRUE(seen.exclamation);
}

// A box that may be dismissed closes soon after its event is signalled, and
// leaves the signal for the caller; an event signalled before shows nothing.
TEST(PlatformMessageBox, ADismissedBoxClosesAndKeepsTheSignal) {
  Event* dismiss = NewEvent();
  ASSERT_NE(dismiss, nullptr);
  struct Closer {
    Event* dismiss;
  } closer{dismiss};
  Thread* t = StartThread(
      [](void* arg) -> uint32_t {
        auto* c = static_cast<Closer*>(arg);
        // Wait (bounded) until this process shows the box, then dismiss it.
        for (int i = 0; i < 1000; ++i) {
          if (FindWindowW(L"#32770", L"Dismissable")) {
            SignalEvent(c->dismiss);
            return 0;
          }
          Sleep(10);
        }
        return 1;
      },
      &closer);
  ASSERT_NE(t, nullptr);
  ShowMessage(nullptr, u"closes by itself", u"Dismissable", dismiss);
  ASSERT_TRUE(JoinThread(t, 10000));
  CloseThread(t);
  EXPECT_EQ(FindWindowW(L"#32770", L"Dismissable"), nullptr);
  EXPECT_EQ(WaitEvent(dismiss, 0), 0u) << "the signal stays for the caller";

  SignalEvent(dismiss);
  ShowMessage(nullptr, u"never shown", u"Already dismissed", dismiss);
  EXPECT_EQ(WaitEvent(dismiss, 0), 0u);
  DestroyEvent(dismiss);
}

}  // namespace
}  // namespace sn::platform
