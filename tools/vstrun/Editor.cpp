#include "Editor.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vstrun {

#ifndef _WIN32

bool editorSupported() { return false; }

void runEditor(vsthost::Plugin&, const EditorOptions&) {
  throw std::runtime_error("the editor needs the Windows build of vstrun (this build has no window backend)");
}

#else

bool editorSupported() { return true; }

namespace {

const wchar_t kClassName[] = L"vstrunEditorHost";
constexpr UINT_PTR kIdleTimer = 1;

struct Session {
  vsthost::Plugin* plugin = nullptr;
  HWND window = nullptr;
  bool closed = false;
};

LRESULT CALLBACK hostWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Session* s = reinterpret_cast<Session*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_TIMER:
      if (s && wp == kIdleTimer) s->plugin->dispatch(effEditIdle);
      return 0;
    case WM_CLOSE:
      if (s) s->closed = true;
      return 0;  // the session closes the editor and then the window
    case WM_ERASEBKGND:
      return 1;  // the editor covers the client area
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

// Resizes the host window so that its client area is width x height.
void fitClient(HWND hwnd, int width, int height) {
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE)));
  SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Pumps messages for up to ms milliseconds or until the window is closed.
void pump(Session& s, DWORD ms) {
  const DWORD start = GetTickCount();
  while (!s.closed) {
    const DWORD elapsed = GetTickCount() - start;
    if (ms != INFINITE && elapsed >= ms) break;
    const DWORD wait = ms == INFINITE ? INFINITE : ms - elapsed;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        s.closed = true;
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// The client area's pixels as RGB rows, top to bottom: what is on screen
// there, child windows included.
bool capture(HWND hwnd, int width, int height, std::vector<unsigned char>* rgb) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  HDC source = GetDC(hwnd);
  if (!source) return false;
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top-down rows
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(source, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (memory && bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    // The window's own pixels, child windows included; PrintWindow (which
    // asks each window to paint into our bitmap) when that fails.
    ok = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != 0;
    if (!ok) ok = PrintWindow(hwnd, memory, PW_CLIENTONLY) != 0;
    GdiFlush();
    if (ok) {
      const unsigned char* p = static_cast<const unsigned char*>(bits);
      rgb->resize(static_cast<size_t>(width) * height * 3);
      for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) {
        (*rgb)[i * 3 + 0] = p[i * 4 + 2];
        (*rgb)[i * 3 + 1] = p[i * 4 + 1];
        (*rgb)[i * 3 + 2] = p[i * 4 + 0];
      }
    }
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(hwnd, source);
  return ok;
}

}  // namespace

void runEditor(vsthost::Plugin& plugin, const EditorOptions& options) {
  if (!(plugin.effect()->flags & effFlagsHasEditor)) throw std::runtime_error("the plug-in has no editor");

  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = hostWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("cannot register the host window's class");

  // A first size from before opening; the one after opening wins.
  int width = 400, height = 300;
  plugin.editorSize(&width, &height);

  std::wstring title = L"vstrun";
  const std::string name = plugin.text(effGetEffectName);
  if (!name.empty()) title += L" - " + std::wstring(name.begin(), name.end());
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  HWND hwnd = CreateWindowExW(0, kClassName, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                              r.bottom - r.top, nullptr, nullptr, instance, nullptr);
  if (!hwnd) throw std::runtime_error("cannot create the host window (is there a display?)");

  Session session;
  session.plugin = &plugin;
  session.window = hwnd;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&session));
  plugin.host().onSizeWindow([hwnd, &width, &height](int w, int h) {
    if (w <= 0 || h <= 0) return false;
    width = w;
    height = h;
    fitClient(hwnd, w, h);
    return true;
  });

  plugin.dispatch(effEditOpen, 0, 0, hwnd);
  if (plugin.editorSize(&width, &height)) fitClient(hwnd, width, height);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  const int rate = options.idleRate > 0 ? options.idleRate : 30;
  SetTimer(hwnd, kIdleTimer, static_cast<UINT>(1000 / rate), nullptr);

  double seconds = options.seconds;
  if (seconds <= 0 && !options.screenshot.empty()) seconds = 1.0;
  pump(session, seconds > 0 ? static_cast<DWORD>(seconds * 1000.0) : INFINITE);

  std::string failure;
  if (!options.screenshot.empty()) {
    std::vector<unsigned char> rgb;
    if (!capture(hwnd, width, height, &rgb))
      failure = "cannot read the editor's pixels";
    else if (!writePng(options.screenshot, width, height, rgb))
      failure = options.screenshot + ": cannot write the screenshot";
  }

  KillTimer(hwnd, kIdleTimer);
  plugin.dispatch(effEditClose);
  plugin.host().onSizeWindow(nullptr);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  DestroyWindow(hwnd);
  if (!failure.empty()) throw std::runtime_error(failure);
}

#endif

}  // namespace vstrun
