// The editors' parent window on Linux: a top-level X11 window, with libX11
// opened at run time so that vstrun needs no X11 library to start.
#include "validate/ParentWindow.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "validate/Report.h"

namespace validate {

namespace {
// What Xlib hands an error handler (its own record, in its order).
struct XErrorRecord {
  int type;
  void* display;
  unsigned long resourceId, serial;
  unsigned char errorCode, requestCode, minorCode;
};

// X errors since the last ParentWindow::errors(): Xlib's own handler prints them
// and ends the process, which turns a plug-in's faulty drawing request into
// a host that vanishes. Hosts that keep running take them as this does.
std::atomic<long> xErrorCount{0};
std::atomic<unsigned> xFirstError{0};  // error << 16 | request << 8 | minor

int countXError(void*, XErrorRecord* e) {
  const unsigned code = static_cast<unsigned>(e->errorCode) << 16 | static_cast<unsigned>(e->requestCode) << 8 |
                        e->minorCode;
  if (xErrorCount.fetch_add(1) == 0) xFirstError.store(code);
  return 0;
}

// The few Xlib calls needed, resolved at run time so that vstrun needs no
// X11 library to start.
struct Xlib {
  void* lib = nullptr;
  void* (*openDisplay)(const char*) = nullptr;
  int (*closeDisplay)(void*) = nullptr;
  unsigned long (*defaultRootWindow)(void*) = nullptr;
  unsigned long (*createSimpleWindow)(void*, unsigned long, int, int, unsigned, unsigned, unsigned, unsigned long,
                                      unsigned long) = nullptr;
  int (*mapWindow)(void*, unsigned long) = nullptr;
  int (*destroyWindow)(void*, unsigned long) = nullptr;
  int (*sync)(void*, int) = nullptr;
  int (*errorText)(void*, int, char*, int) = nullptr;
  bool ok = false;
  Xlib() {
    lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    openDisplay = reinterpret_cast<decltype(openDisplay)>(dlsym(lib, "XOpenDisplay"));
    closeDisplay = reinterpret_cast<decltype(closeDisplay)>(dlsym(lib, "XCloseDisplay"));
    defaultRootWindow = reinterpret_cast<decltype(defaultRootWindow)>(dlsym(lib, "XDefaultRootWindow"));
    createSimpleWindow = reinterpret_cast<decltype(createSimpleWindow)>(dlsym(lib, "XCreateSimpleWindow"));
    mapWindow = reinterpret_cast<decltype(mapWindow)>(dlsym(lib, "XMapWindow"));
    destroyWindow = reinterpret_cast<decltype(destroyWindow)>(dlsym(lib, "XDestroyWindow"));
    sync = reinterpret_cast<decltype(sync)>(dlsym(lib, "XSync"));
    errorText = reinterpret_cast<decltype(errorText)>(dlsym(lib, "XGetErrorText"));
    using Handler = int (*)(void*, XErrorRecord*);
    auto setErrorHandler = reinterpret_cast<Handler (*)(Handler)>(dlsym(lib, "XSetErrorHandler"));
    ok = openDisplay && closeDisplay && defaultRootWindow && createSimpleWindow && mapWindow && destroyWindow && sync &&
         errorText && setErrorHandler;
    if (ok) setErrorHandler(&countXError);
  }
};
Xlib& xlib() {
  static Xlib x;
  return x;
}
}  // namespace

ParentWindow::ParentWindow() {
  Xlib& x = xlib();
  if (!x.ok) {
    why_ = "libX11 is not available";
    return;
  }
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    why_ = "no X display (DISPLAY is unset)";
    return;
  }
  constexpr int kAttempts = 20, kPauseMs = 250;
  for (int attempt = 1; !(display_ = x.openDisplay(nullptr)) && attempt < kAttempts; ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
  if (!display_) {
    why_ = format("no X display (%s unreachable for %d s)", name, kAttempts * kPauseMs / 1000);
    return;
  }
  const unsigned long w = x.createSimpleWindow(display_, x.defaultRootWindow(display_), 0, 0, 640, 480, 0, 0, 0);
  x.mapWindow(display_, w);
  x.sync(display_, 0);
  handle_ = reinterpret_cast<void*>(static_cast<uintptr_t>(w));
}

ParentWindow::~ParentWindow() {
  if (!display_) return;
  if (handle_) xlib().destroyWindow(display_, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle_)));
  xlib().closeDisplay(display_);
}

void ParentWindow::pump() {
  if (display_) xlib().sync(display_, 0);
}

std::string ParentWindow::errors() {
  if (display_) xlib().sync(display_, 0);
  const long n = xErrorCount.exchange(0);
  if (!n) return "";
  const unsigned code = xFirstError.load();
  char name[128] = "";
  if (display_) xlib().errorText(display_, static_cast<int>(code >> 16), name, sizeof name);
  return format("%ld X error%s, the first %s (error %u) on request %u.%u", n, n == 1 ? "" : "s",
                *name ? name : "unnamed", code >> 16, code >> 8 & 0xFF, code & 0xFF);
}

}  // namespace validate
