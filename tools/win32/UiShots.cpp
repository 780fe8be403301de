// Renders the Windows settings window, each of its tabs, a screen with the
// notification icon, and the About box to BMP files, as the player shows them:
// through the module's exported record, with the recording test slave beside
// it. Run under Wine on a virtual display by scripts/ui-shots-win32.sh, which
// turns the files into PNG.
//   ui-shots-win32.exe OUTDIR
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "host/OutputModule.h"
#include "tests/support/WindowDriver.h"
#include "ui/win32/Resource.h"

namespace {

using sn::test::Choose;
using sn::test::SelectTab;

std::wstring Beside(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

HWND WaitForWindow(const wchar_t* caption) {
  for (int i = 0; i < 500; ++i) {
    HWND w = FindWindowW(L"#32770", caption);
    if (w && IsWindowVisible(w)) return w;
    Sleep(10);
  }
  return nullptr;
}

// The screen's pixels under `r` as a 24-bit BMP file.
bool Capture(const RECT& r, const std::wstring& file) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files store rows
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (dib) {
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    SelectObject(mem, old);
    const DWORD stride = ((w * 3 + 3) & ~3), size = stride * h;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
    fh.bfSize = fh.bfOffBits + size;
    bi.bmiHeader.biSizeImage = size;
    if (FILE* f = _wfopen(file.c_str(), L"wb")) {
      ok = fwrite(&fh, sizeof(fh), 1, f) == 1 && fwrite(&bi.bmiHeader, sizeof(bi.bmiHeader), 1, f) == 1 &&
           fwrite(bits, size, 1, f) == 1;
      ok = fclose(f) == 0 && ok;
    }
    DeleteObject(dib);
  }
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  std::fwprintf(stdout, L"%ls %ls\n", ok ? L"wrote" : L"FAILED", file.c_str());
  return ok;
}

bool CaptureWindow(HWND w, const std::wstring& file) {
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(400);
  RECT r;
  GetWindowRect(w, &r);
  return Capture(r, file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: ui-shots-win32 OUTDIR\n", stderr);
    return 2;
  }
  const std::wstring out = std::wstring(argv[1]) + L"\\";
  CreateDirectoryW(argv[1], nullptr);

  // Default settings, with the recording slave so that a stream can open.
  RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Tamberlin\\Sonavel");
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Tamberlin\\Sonavel", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    const std::wstring slave = Beside(L"rec_slave.dll");
    RegSetValueExW(key, L"Slave Module", 0, REG_SZ, reinterpret_cast<const BYTE*>(slave.c_str()),
                   static_cast<DWORD>((slave.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }

  HMODULE module = LoadLibraryW(Beside(L"out_sonavel.dll").c_str());
  auto get = module ? reinterpret_cast<GetOutModuleFn>(reinterpret_cast<void*>(GetProcAddress(module, "winampGetOutModule")))
                    : nullptr;
  if (!get) {
    std::fputs("out_sonavel.dll cannot be loaded\n", stderr);
    return 1;
  }
  OutputModuleRecord* rec = get();
  rec->Init();
  rec->Config(nullptr);
  HWND dlg = WaitForWindow(L"Sonavel Configuration");
  if (!dlg) {
    std::fputs("no settings window\n", stderr);
    rec->Quit();
    return 1;
  }
  bool ok = true;
  const wchar_t* names[] = {L"main", L"surround", L"headphones", L"room", L"system", L"about"};
  for (int i = 0; i < 6; ++i) {
    SelectTab(dlg, i);
    if (i == 1) sn::test::SetNumber(dlg, IDC_CENTRE_WEIGHT, 40);
    ok = CaptureWindow(dlg, out + L"win32-tab-" + std::to_wstring(i + 1) + L"-" + names[i] + L".bmp") && ok;
  }

  // Headphones with a 96 kHz stream: the status says why nothing is rendered,
  // and a balloon is asked for (a notification area that draws balloons shows it).
  SelectTab(dlg, 0);
  Choose(dlg, IDC_MODE, 3);
  if (rec->Open(96000, 2, 16, 2000, 500) >= 0) {
    Sleep(1500);
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    ok = Capture(screen, out + L"win32-screen-icon.bmp") && ok;
    rec->Close();
  } else {
    ok = false;
  }
  ShowWindow(dlg, SW_HIDE);

  std::thread about([rec] { rec->About(nullptr); });
  if (HWND box = WaitForWindow(L"About")) {
    ok = CaptureWindow(box, out + L"win32-about.bmp") && ok;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  } else {
    ok = false;
  }
  about.join();
  rec->Quit();
  return ok ? 0 : 1;
}
