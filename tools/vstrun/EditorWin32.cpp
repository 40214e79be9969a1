// The editor's host window on Windows: an overlapped window whose client
// area the editor's child window covers (what it leaves uncovered is black),
// idled from a WM_TIMER, so that idles go on while the user moves the window.
#ifdef _WIN32

#include <windows.h>

#include <stdexcept>

#include "Editor.h"
#include "EditorWindow.h"

namespace vstrun {

bool editorSupported() { return true; }

namespace {

const wchar_t kClassName[] = L"vstrunEditorHost";
constexpr UINT_PTR kIdleTimer = 1;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// Tells Windows that vstrun scales its windows itself, as current hosts do:
// the editor's parent then reports the screen's real DPI, and a screenshot
// holds the editor's own pixels rather than a stretched copy. Looked up at
// run time, for the systems that predate the calls.
void becomeDpiAware() {
  static bool done = false;
  if (done) return;
  done = true;
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (!user32) return;
  using SetContext = BOOL(WINAPI*)(HANDLE);
  auto setContext = reinterpret_cast<SetContext>(
      reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
  const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4));
  if (setContext && setContext(perMonitorV2)) return;
  using SetAware = BOOL(WINAPI*)();
  auto setAware = reinterpret_cast<SetAware>(reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware")));
  if (setAware) setAware();
}

class Win32HostWindow final : public HostWindow {
 public:
  Win32HostWindow(const std::string& title, int width, int height) {
    becomeDpiAware();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Win32HostWindow::proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
      throw std::runtime_error("cannot register the host window's class");
    const std::wstring wide(title.begin(), title.end());
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, kStyle, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kClassName, wide.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, instance, nullptr);
    if (!hwnd_) throw std::runtime_error("cannot create the host window (is there a display?)");
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  ~Win32HostWindow() override {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }

  void* parentHandle() const override { return hwnd_; }

  void setClientSize(int width, int height) override {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void show() override {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
  }

  bool run(double ms, double periodMs, const std::function<void()>& tick,
           const std::atomic<bool>* interrupted) override {
    tick_ = &tick;
    SetTimer(hwnd_, kIdleTimer, static_cast<UINT>(periodMs > 1 ? periodMs : 1), nullptr);
    const ULONGLONG start = GetTickCount64();
    bool stopped = false;
    while (!closed_ && !stopped) {
      const ULONGLONG elapsed = GetTickCount64() - start;
      if (ms >= 0 && static_cast<double>(elapsed) >= ms) break;
      // Short waits, so that an interruption (Ctrl+C) is seen promptly.
      DWORD wait = 100;
      if (ms >= 0 && ms - static_cast<double>(elapsed) < wait) wait = static_cast<DWORD>(ms - static_cast<double>(elapsed)) + 1;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          closed_ = true;
          break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      stopped = interrupted && interrupted->load();
    }
    KillTimer(hwnd_, kIdleTimer);
    tick_ = nullptr;
    return !closed_ && !stopped;
  }

  // What is on screen in the client area, child windows included;
  // PrintWindow (which asks each window to paint into our bitmap) when that
  // cannot be read.
  bool capture(int* width, int* height, std::vector<unsigned char>* rgb) override {
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int w = client.right - client.left, h = client.bottom - client.top;
    if (w <= 0 || h <= 0) return false;
    HDC source = GetDC(hwnd_);
    if (!source) return false;
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (memory && bitmap && bits) {
      HGDIOBJ old = SelectObject(memory, bitmap);
      ok = BitBlt(memory, 0, 0, w, h, source, 0, 0, SRCCOPY) != 0;
      if (!ok) ok = PrintWindow(hwnd_, memory, PW_CLIENTONLY) != 0;
      GdiFlush();
      if (ok) {
        const unsigned char* p = static_cast<const unsigned char*>(bits);
        rgb->resize(static_cast<size_t>(w) * h * 3);
        for (size_t i = 0, n = static_cast<size_t>(w) * h; i < n; ++i) {
          (*rgb)[i * 3 + 0] = p[i * 4 + 2];
          (*rgb)[i * 3 + 1] = p[i * 4 + 1];
          (*rgb)[i * 3 + 2] = p[i * 4 + 0];
        }
        *width = w;
        *height = h;
      }
      SelectObject(memory, old);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(hwnd_, source);
    return ok;
  }

 private:
  static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<Win32HostWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
      case WM_TIMER:
        if (self && self->tick_ && wp == kIdleTimer) (*self->tick_)();
        return 0;
      case WM_CLOSE:
        if (self) self->closed_ = true;
        return 0;  // the session closes the editor and then the window
      default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
  }

  HWND hwnd_ = nullptr;
  bool closed_ = false;
  const std::function<void()>* tick_ = nullptr;
};

}  // namespace

std::unique_ptr<HostWindow> HostWindow::create(const std::string& title, int width, int height) {
  return std::make_unique<Win32HostWindow>(title, width, height);
}

}  // namespace vstrun

#endif
