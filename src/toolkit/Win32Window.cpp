// The Win32 backend: a borderless WS_CHILD window inside the host's window.
// WM_PAINT copies the Form's frame to the screen, mouse messages (with
// SetCapture while a button is down) feed the Form, WM_SETCURSOR asks it for
// the cursor. The display scale the system asks for is the DPI of the
// host's window over 96: a host that is not DPI-aware gets 96 there, and
// Windows stretches its windows, ours with them, as before.
//
// The window class is registered under this module's own instance handle,
// with a name that includes the module's address, so that several modules
// (or one module loaded twice over time) never share or collide on a class.
// It is unregistered when the module's last window goes, so unloading the
// module leaves nothing behind.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <windowsx.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "toolkit/Form.h"
#include "toolkit/NativeWindow.h"

namespace toolkit {

namespace {

LRESULT CALLBACK formWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

HINSTANCE moduleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&formWindowProc), &module);
  return module;
}

// The class is shared by every window of this module; the count says when
// it can go. Windows are made on UI threads only, but hosts may run several.
class WindowClass {
 public:
  // The class name, registering it first if needed; null on failure.
  const wchar_t* acquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (users_ == 0) {
      instance_ = moduleInstance();
      std::swprintf(name_, sizeof name_ / sizeof name_[0], L"VantorelForm_%p", static_cast<void*>(instance_));
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = formWindowProc;
      wc.hInstance = instance_;
      wc.lpszClassName = name_;
      // No background brush and no class cursor: the Form paints every pixel
      // and names the cursor itself.
      if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    }
    ++users_;
    return name_;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (users_ > 0 && --users_ == 0) UnregisterClassW(name_, instance_);
  }
  HINSTANCE instance() const { return instance_; }

 private:
  std::mutex mutex_;
  int users_ = 0;
  HINSTANCE instance_ = nullptr;
  wchar_t name_[64] = {};
};

WindowClass& windowClass() {
  static WindowClass instance;
  return instance;
}

class Win32Window final : public NativeWindow {
 public:
  explicit Win32Window(Form& form) : form_(form) {}

  bool create(HWND parent) {
    className_ = windowClass().acquire();
    if (!className_) return false;
    // Room for the blit now, where running out of memory still fails the
    // open, rather than inside a paint message.
    pixels_.resize(static_cast<size_t>(form_.pixelWidth()) * form_.pixelHeight());
    std::vector<wchar_t> title(form_.Caption().size() + 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, form_.Caption().c_str(), -1, title.data(), static_cast<int>(title.size()));
    hwnd_ = CreateWindowExW(0, className_, title.data(), WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                            form_.pixelWidth(), form_.pixelHeight(), parent, nullptr, windowClass().instance(), this);
    parent_ = parent;
    return hwnd_ != nullptr;
  }

  ~Win32Window() override {
    closing_ = true;
    if (hwnd_) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
    if (className_) windowClass().release();
  }

  void setPosition(int left, int top) override {
    if (hwnd_) SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void show() override {
    if (!hwnd_) return;
    ShowWindow(hwnd_, SW_SHOWNA);
    SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  void hide() override {
    if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
  }
  bool visible() const override { return hwnd_ && IsWindowVisible(hwnd_); }
  void repaintNow() override {
    if (hwnd_) UpdateWindow(hwnd_);
  }
  void invalidated(const Rect& area) override {
    if (!hwnd_) return;
    RECT r{area.left, area.top, area.right, area.bottom};
    InvalidateRect(hwnd_, &r, FALSE);
  }
  void resize(int width, int height) override {
    pixels_.resize(static_cast<size_t>(width) * height);
    if (hwnd_) SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  double systemScale() const override {
    // GetDpiForWindow exists from Windows 10 (1607) on; before it the
    // system's DPI, which Windows reports as 96 to hosts that are not aware.
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT dpi = dpiForWindow && parent_ ? dpiForWindow(parent_) : 0;
    if (dpi == 0) {
      if (HDC screen = GetDC(nullptr)) {
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
      }
    }
    return dpi > 0 ? dpi / 96.0 : 0.0;
  }

  LRESULT handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void attach(HWND hwnd) { hwnd_ = hwnd; }
  void detach() { hwnd_ = nullptr; }

 private:
  void paint();
  void press(PointerButton button, LPARAM lParam);
  void release(PointerButton button, LPARAM lParam);

  Form& form_;
  HWND hwnd_ = nullptr;
  HWND parent_ = nullptr;
  const wchar_t* className_ = nullptr;
  bool closing_ = false;
  std::vector<uint32_t> pixels_;  // the frame as 32-bit BGRX, for the blit
};

void Win32Window::paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  form_.paint();
  const Picture& frame = form_.frame();
  const int w = frame.width();
  const int h = frame.height();
  if (dc && w > 0 && h > 0) {
    pixels_.resize(static_cast<size_t>(w) * h);
    const Rect area = Rect{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom}.intersected(
        Rect::ofSize(0, 0, w, h));
    copyAsXrgb(frame, area, pixels_.data());
    if (!area.empty()) {
      BITMAPINFO bi{};
      bi.bmiHeader.biSize = sizeof bi.bmiHeader;
      bi.bmiHeader.biWidth = w;
      bi.bmiHeader.biHeight = -h;  // top-down
      bi.bmiHeader.biPlanes = 1;
      bi.bmiHeader.biBitCount = 32;
      bi.bmiHeader.biCompression = BI_RGB;
      // Rows are counted from the bottom of the top-down bitmap here.
      SetDIBitsToDevice(dc, area.left, area.top, area.width(), area.height(), area.left, h - area.bottom, 0, h,
                        pixels_.data(), &bi, DIB_RGB_COLORS);
    }
  }
  EndPaint(hwnd_, &ps);
}

void Win32Window::press(PointerButton button, LPARAM lParam) {
  form_.pointerPress(button, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
  if (form_.captured() && GetCapture() != hwnd_) SetCapture(hwnd_);
}

void Win32Window::release(PointerButton button, LPARAM lParam) {
  form_.pointerRelease(button, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
  if (!form_.captured() && GetCapture() == hwnd_) ReleaseCapture();
}

LRESULT Win32Window::handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  // While the window goes, the Form must hear nothing more.
  if (closing_) return DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_PAINT: paint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_LBUTTONDOWN: press(PointerButton::Primary, lParam); return 0;
    case WM_RBUTTONDOWN: press(PointerButton::Secondary, lParam); return 0;
    case WM_MBUTTONDOWN: press(PointerButton::Middle, lParam); return 0;
    case WM_LBUTTONUP: release(PointerButton::Primary, lParam); return 0;
    case WM_RBUTTONUP: release(PointerButton::Secondary, lParam); return 0;
    case WM_MBUTTONUP: release(PointerButton::Middle, lParam); return 0;
    case WM_MOUSEMOVE: form_.pointerMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); return 0;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != hwnd_) form_.cancelPointer();
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        POINT pt{};
        GetCursorPos(&pt);
        ScreenToClient(hwnd_, &pt);
        const bool hand = form_.cursorAt(pt.x, pt.y) == Cursor::Hand;
        SetCursor(LoadCursor(nullptr, hand ? IDC_HAND : IDC_ARROW));
        return TRUE;
      }
      break;
    default: break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK formWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    if (cs->lpCreateParams) static_cast<Win32Window*>(cs->lpCreateParams)->attach(hwnd);
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) {
    // Also when the host destroys its own window (and ours with it) first.
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    if (self) self->detach();
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
  // Nothing may unwind through the system's frames.
  try {
    return self->handle(hwnd, msg, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

}  // namespace

std::string environmentVariable(const char* name) {
  char small[64];
  DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
  if (n == 0) return std::string();
  if (n < sizeof small) return std::string(small, n);
  std::string value(n, '\0');
  n = GetEnvironmentVariableA(name, &value[0], static_cast<DWORD>(value.size()));
  value.resize(n < value.size() ? n : 0);
  return value;
}

std::unique_ptr<NativeWindow> createPlatformWindow(Form& form, void* parent) {
  HWND parentHwnd = static_cast<HWND>(parent);
  if (!parentHwnd || !IsWindow(parentHwnd)) return nullptr;
  auto window = std::make_unique<Win32Window>(form);
  if (!window->create(parentHwnd)) return nullptr;
  return window;
}

}  // namespace toolkit
