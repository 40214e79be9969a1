// The editor in real Win32 windows (under Wine and Xvfb here): the built
// module opened inside a host window through the dispatcher, fed real mouse
// messages, its pixels read back and compared with the offscreen rendering.
#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "editor/EditorTestSupport.h"

namespace {

LRESULT CALLBACK hostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A top-level window of the test host, as a DAW would give the editor.
HWND makeHostWindow(int x = 40, int y = 40, int width = 300, int height = 250) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = hostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"EditorTestHost";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&wc);
    registered = true;
  }
  HWND h = CreateWindowExW(0, L"EditorTestHost", L"host", WS_POPUP | WS_VISIBLE, x, y, width, height, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
  return h;
}

void pump(int ms = 50) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (GetTickCount() < end);
}

HWND editorChild(HWND host) { return GetWindow(host, GW_CHILD); }

std::wstring className(HWND h) {
  wchar_t name[256] = {};
  GetClassNameW(h, name, 256);
  return name;
}

// The window's client pixels as the screen shows them.
toolkit::Picture grab(HWND hwnd) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  const int w = rc.right, h = rc.bottom;
  HDC src = GetDC(hwnd);
  HDC mem = CreateCompatibleDC(src);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, src, 0, 0, SRCCOPY);
  GdiFlush();
  toolkit::Picture out(w, h);
  const uint32_t* px = static_cast<const uint32_t*>(bits);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t v = px[y * w + x];
      out.setPixel(x, y, toolkit::Rgb{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    }
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(hwnd, src);
  return out;
}

LPARAM at(int x, int y) { return MAKELPARAM(x, y); }

class Win32Editor : public ::testing::Test {
 protected:
  void SetUp() override {
    host = makeHostWindow();
    ASSERT_NE(host, nullptr);
    plugin = std::make_unique<vtest::PluginInstance>(recorder);
    ASSERT_TRUE(plugin->ok()) << plugin->error();
  }
  void TearDown() override {
    plugin.reset();
    if (host) DestroyWindow(host);
    pump(10);
  }
  HWND openEditor() {
    EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, host), 1);
    pump();
    return editorChild(host);
  }

  vtest::RecordingHost recorder;
  std::unique_ptr<vtest::PluginInstance> plugin;
  HWND host = nullptr;
};

TEST_F(Win32Editor, OpensAsABorderlessChildAndShowsTheOffscreenPixels) {
  ERect* r = nullptr;
  ASSERT_EQ(plugin->dispatch(effEditGetRect, 0, 0, &r), 1);
  EXPECT_EQ(r->bottom, 249);
  HWND child = openEditor();
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(className(child).rfind(L"VantorelForm_", 0), 0u);
  const LONG style = GetWindowLongW(child, GWL_STYLE);
  EXPECT_TRUE(style & WS_CHILD);
  EXPECT_FALSE(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME));
  EXPECT_TRUE(IsWindowVisible(child));
  RECT rc;
  GetWindowRect(child, &rc);
  POINT origin{0, 0};
  ClientToScreen(host, &origin);
  EXPECT_EQ(rc.left, origin.x);
  EXPECT_EQ(rc.top, origin.y);
  EXPECT_EQ(rc.right - rc.left, 250);
  EXPECT_EQ(rc.bottom - rc.top, 199);
  ASSERT_EQ(plugin->dispatch(effEditGetRect, 0, 0, &r), 1);
  EXPECT_EQ(r->bottom, 199);
  EXPECT_EQ(r->right, 250);

  plugin->setParameter(0, 0.5f);
  plugin->setParameter(1, 1.0f);
  plugin->dispatch(effEditIdle);
  pump();
  std::string where;
  EXPECT_EQ(etest::differences(grab(child), etest::offscreenEditor(33, 66, false), &where), 0) << "first at " << where;

  if (const char* path = std::getenv("VANTOREL_EDITOR_SCREENSHOT")) {
    plugin->setParameter(0, 0.35f);
    plugin->setParameter(1, 0.2f);
    plugin->dispatch(effEditIdle);
    pump();
    EXPECT_TRUE(etest::writePng(grab(child), path));
  }
}

TEST_F(Win32Editor, DraggingWithTheMouseAutomatesAndClickingTheButtonShowsAbout) {
  HWND child = openEditor();
  ASSERT_NE(child, nullptr);
  plugin->setParameter(0, 0.0f);  // a new instance records: Buff Size 1.0, knob at the bottom
  plugin->dispatch(effEditIdle);
  recorder.clear();
  // Press 12 pixels into par01's knob (client 20, 89), drag 30 pixels down.
  PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(20, 89));
  pump();
  EXPECT_EQ(GetCapture(), child) << "the editor holds the mouse while a button is down";
  PostMessageW(child, WM_MOUSEMOVE, MK_LBUTTON, at(20, 119));
  PostMessageW(child, WM_LBUTTONUP, 0, at(20, 119));
  pump();
  EXPECT_NE(GetCapture(), child);
  auto sent = etest::automations(recorder);
  ASSERT_EQ(sent.size(), 2u);
  for (const auto& a : sent) {
    EXPECT_EQ(a.index, 0);
    EXPECT_EQ(a.value, static_cast<float>(30.0L / 66.0L));
  }
  EXPECT_EQ(plugin->getParameter(0), static_cast<float>(30.0L / 66.0L));
  recorder.clear();
  plugin->dispatch(effEditIdle);
  sent = etest::automations(recorder);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].value, static_cast<float>(30.0L / 66.0L));
  EXPECT_EQ(sent[1].index, 1);
  pump();
  EXPECT_EQ(etest::differences(grab(child), etest::offscreenEditor(30, 0, false)), 0);

  // The About button.
  PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(235, 17));
  PostMessageW(child, WM_LBUTTONUP, 0, at(235, 17));
  pump();
  std::string where;
  EXPECT_EQ(etest::differences(grab(child), etest::offscreenEditor(30, 0, true), &where), 0) << "first at " << where;
  // With About shown a drag on the fader's place does nothing.
  recorder.clear();
  PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(20, 119));
  PostMessageW(child, WM_MOUSEMOVE, MK_LBUTTON, at(20, 150));
  PostMessageW(child, WM_LBUTTONUP, 0, at(20, 150));
  pump();
  EXPECT_EQ(recorder.count(audioMasterAutomate), 0u);
  PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(230, 10));
  PostMessageW(child, WM_LBUTTONUP, 0, at(230, 10));
  pump();
  EXPECT_EQ(etest::differences(grab(child), etest::offscreenEditor(30, 0, false)), 0);
}

TEST_F(Win32Editor, HandCursorOverTheControlsArrowElsewhere) {
  HWND child = openEditor();
  ASSERT_NE(child, nullptr);
  auto cursorAt = [&](int x, int y) {
    POINT p{x, y};
    ClientToScreen(child, &p);
    SetCursorPos(p.x, p.y);
    pump(20);
    SendMessageW(child, WM_SETCURSOR, reinterpret_cast<WPARAM>(child), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor();
  };
  EXPECT_EQ(cursorAt(20, 89), LoadCursor(nullptr, IDC_HAND));
  EXPECT_EQ(cursorAt(235, 17), LoadCursor(nullptr, IDC_HAND));
  EXPECT_EQ(cursorAt(120, 60), LoadCursor(nullptr, IDC_ARROW));
}

TEST_F(Win32Editor, OpenTwiceCloseTwiceAndNoWindowWithoutAParent) {
  HWND child = openEditor();
  EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, host), 1);
  EXPECT_EQ(editorChild(host), child);
  plugin->dispatch(effEditClose);
  EXPECT_TRUE(IsWindow(child));
  EXPECT_FALSE(IsWindowVisible(child));
  plugin->dispatch(effEditClose);
  EXPECT_FALSE(IsWindow(child));
  // Nothing to hang the window on: refused rather than reported as open.
  EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, nullptr), 0);
  recorder.clear();
  plugin->dispatch(effEditIdle);
  EXPECT_EQ(recorder.count(audioMasterAutomate), 0u);
}

TEST_F(Win32Editor, HostDestroyingItsWindowFirstLeavesCloseHarmless) {
  HWND child = openEditor();
  ASSERT_NE(child, nullptr);
  DestroyWindow(host);
  host = nullptr;
  EXPECT_FALSE(IsWindow(child));
  plugin->dispatch(effEditIdle);
  plugin->dispatch(effEditClose);
}

TEST(Win32EditorModule, SeveralInstancesShowEditorsAtOnceAndTheModuleReloadsCleanly) {
  vtest::RecordingHost recorder;
  HWND hostA = makeHostWindow(10, 10);
  HWND hostB = makeHostWindow(330, 10);
  std::wstring firstClass;
  HMODULE firstModule = nullptr;
  {
    vtest::PluginInstance a(recorder), b(recorder);
    ASSERT_TRUE(a.ok() && b.ok());
    ASSERT_EQ(a.dispatch(effEditOpen, 0, 0, hostA), 1);
    ASSERT_EQ(b.dispatch(effEditOpen, 0, 0, hostB), 1);
    pump();
    HWND ca = editorChild(hostA), cb = editorChild(hostB);
    ASSERT_TRUE(ca && cb);
    EXPECT_NE(ca, cb);
    firstClass = className(ca);
    EXPECT_EQ(firstClass, className(cb)) << "one class for the module";
    firstModule = reinterpret_cast<HMODULE>(GetClassLongPtrW(ca, GCLP_HMODULE));
    EXPECT_NE(firstModule, GetModuleHandleW(nullptr)) << "registered under the plug-in's own module";
    a.dispatch(effEditClose);
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    EXPECT_TRUE(GetClassInfoExW(firstModule, firstClass.c_str(), &info)) << "b still uses it";
    b.dispatch(effEditClose);
    EXPECT_FALSE(GetClassInfoExW(firstModule, firstClass.c_str(), &info)) << "gone with the last window";
  }
  // Both instances closed and the module unloaded; load it again.
  {
    vtest::PluginInstance again(recorder);
    ASSERT_TRUE(again.ok()) << again.error();
    ASSERT_EQ(again.dispatch(effEditOpen, 0, 0, hostA), 1);
    pump();
    HWND c = editorChild(hostA);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(IsWindowVisible(c));
    recorder.clear();
    again.dispatch(effEditIdle);
    EXPECT_EQ(recorder.count(audioMasterAutomate), 2u);
    again.dispatch(effEditClose);
  }
  DestroyWindow(hostA);
  DestroyWindow(hostB);
}

}  // namespace

namespace {

VstIntPtr sendScale(vtest::PluginInstance& plugin, double factor) {
  return plugin.dispatch(effVendorSpecific, etest::kScaleIndex, etest::kScaleValue, nullptr, static_cast<float>(factor));
}

// At each of the host's scales, the first sent before the open and the
// others while it is open: the scaled size, asked of the host once, and
// exactly the picture script's pixels. A drag at 2 gives the value of the
// same drag at 1.
TEST_F(Win32Editor, AtTheHostsScalesTheWindowIsScaledSharpAndDraggable) {
  SetWindowPos(host, nullptr, 0, 0, 800, 640, SWP_NOMOVE | SWP_NOZORDER);  // room at every scale, as a host gives
  etest::setEnvironment("VANTOREL_SCALE", nullptr);
  plugin->setParameter(0, 0.5f);
  plugin->setParameter(1, 1.0f);
  HWND child = nullptr;
  for (const etest::ScaledSize& size : etest::kScaledSizes) {
    recorder.clear();
    ASSERT_EQ(sendScale(*plugin, size.scale), 1);
    if (!child) child = openEditor();
    ASSERT_NE(child, nullptr);
    plugin->dispatch(effEditIdle);
    pump();
    RECT rc;
    GetClientRect(child, &rc);
    ERect* r = nullptr;
    ASSERT_EQ(plugin->dispatch(effEditGetRect, 0, 0, &r), 1);
    const auto sized = recorder.callsOf(audioMasterSizeWindow);
    ASSERT_EQ(sized.size(), 1u) << size.scale;
    EXPECT_EQ(std::vector<int>({int(rc.right), int(rc.bottom), r->right, r->bottom, sized[0].index, int(sized[0].value)}),
              std::vector<int>({size.width, size.height, size.width, size.height, size.width, size.height}));
    EXPECT_EQ(etest::differences(grab(child), etest::referenceEditor(size.scale, 33, 66, false)), 0) << size.scale;
  }
  ASSERT_EQ(sendScale(*plugin, 2.0), 1);
  plugin->setParameter(0, 0.0f);
  plugin->dispatch(effEditIdle);
  // Press 12 pixels into the knob, drag 30 down: at 1 (20, 89) to (20, 119).
  PostMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, at(40, 178));
  PostMessageW(child, WM_MOUSEMOVE, MK_LBUTTON, at(40, 238));
  PostMessageW(child, WM_LBUTTONUP, 0, at(40, 238));
  pump();
  EXPECT_EQ(plugin->getParameter(0), static_cast<float>(30.0L / 66.0L));
}

// The screen at 192 DPI. Wine reads the DPI as a process starts, so each
// host is a process of its own: this program again, which, finding
// VANTOREL_DPI_PROBE set, opens the editor as that kind of host and ends,
// before any test runs, with the editor's width * 1000 + height as its
// exit status (1 when the rectangle disagrees, 2 when nothing opened).
//   aware:   the process declares itself DPI-aware (the newest call the
//            system has, looked up at run time), as hosts that scale do;
//   unaware: its windows belong to a thread that is not DPI-aware, as in
//            any host that never declares itself.
int dpiProbe() {
  wchar_t mode[16] = {};
  if (!GetEnvironmentVariableW(L"VANTOREL_DPI_PROBE", mode, 16)) return 0;
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto lookUp = [user32](const char* name) { return reinterpret_cast<void*>(GetProcAddress(user32, name)); };
  const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(intptr_t{-4}), unaware = reinterpret_cast<HANDLE>(intptr_t{-1});
  if (std::wstring(mode) == L"aware") {
    auto setContext = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(lookUp("SetProcessDpiAwarenessContext"));
    auto setAware = reinterpret_cast<BOOL(WINAPI*)()>(lookUp("SetProcessDPIAware"));
    if (!(setContext && setContext(perMonitorV2)) && setAware) setAware();
  } else if (auto setThread = reinterpret_cast<HANDLE(WINAPI*)(HANDLE)>(lookUp("SetThreadDpiAwarenessContext"))) {
    setThread(unaware);
  }
  UINT status = 2;
  {
    vtest::RecordingHost recorder;
    vtest::PluginInstance plugin(recorder);
    HWND host = makeHostWindow(40, 40, 800, 640);
    if (plugin.ok() && host && plugin.dispatch(effEditOpen, 0, 0, host) == 1) {
      pump();
      RECT rc{};
      GetClientRect(editorChild(host), &rc);
      ERect* r = nullptr;
      plugin.dispatch(effEditGetRect, 0, 0, &r);
      status = r && r->right == rc.right && r->bottom == rc.bottom ? UINT(rc.right * 1000 + rc.bottom) : 1;
      plugin.dispatch(effEditClose);
    }
    if (host) DestroyWindow(host);
  }
  ExitProcess(status);
}
const int kDpiProbe = dpiProbe();

// This program as a host of the given kind, on a screen at 192 DPI for
// its lifetime (HKCU\Control Panel\Desktop\LogPixels, put back after).
DWORD probeHostAt192Dpi(const wchar_t* mode) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return 0;
  DWORD old = 0, size = sizeof old, dpi = 192, status = 0;
  const bool had = RegQueryValueExW(key, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old), &size) == 0;
  RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  SetEnvironmentVariableW(L"VANTOREL_DPI_PROBE", mode);
  if (CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 3);
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  SetEnvironmentVariableW(L"VANTOREL_DPI_PROBE", nullptr);
  if (had) RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), sizeof old);
  else RegDeleteValueW(key, L"LogPixels");
  RegCloseKey(key);
  return status;
}

TEST(Win32EditorDpi, At192DpiAnAwareHostGets2AndAnUnawareHost1) {
  ASSERT_EQ(kDpiProbe, 0);
  EXPECT_EQ(probeHostAt192Dpi(L"aware"), 500398u) << "width * 1000 + height";
  EXPECT_EQ(probeHostAt192Dpi(L"unaware"), 250199u) << "width * 1000 + height";
}

}  // namespace
