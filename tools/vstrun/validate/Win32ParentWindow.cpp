// The editors' parent window on Windows: a top-level Win32 window.
#include "validate/ParentWindow.h"

#include <windows.h>

namespace validate {

namespace {
LRESULT CALLBACK parentProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }
}  // namespace

ParentWindow::ParentWindow() {
  static ATOM cls = 0;
  if (!cls) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = parentProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"vstrunValidateParent";
    cls = RegisterClassW(&wc);
  }
  handle_ = CreateWindowExW(0, L"vstrunValidateParent", L"vstrun validate", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!handle_) why_ = "no window could be created";
  else ShowWindow(static_cast<HWND>(handle_), SW_SHOWNOACTIVATE);
}

ParentWindow::~ParentWindow() {
  if (handle_) DestroyWindow(static_cast<HWND>(handle_));
}

std::string ParentWindow::errors() { return ""; }

void ParentWindow::pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace validate
