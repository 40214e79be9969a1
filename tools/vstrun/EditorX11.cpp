// The editor's host window on X11: a top-level window whose id the plug-in
// gets as its parent. The plug-in runs its own connection and reads its
// events in effEditIdle; this connection reads only the window manager's
// close and the window's own structure.
//
// libX11 is opened at run time, so that vstrun starts on machines without
// it (render servers). X errors the editor causes are counted rather than
// left to Xlib's default handler, which ends the process.
#ifdef VSTRUN_HAS_X11

#include <dlfcn.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "Editor.h"
#include "EditorWindow.h"

// Last: Xlib defines macros (None, Status, Bool) that other headers use as names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vstrun {

bool editorSupported() { return true; }

namespace {

struct Xlib {
#define VSTRUN_XLIB_FUNCTIONS(X) \
  X(XOpenDisplay)                \
  X(XCloseDisplay)               \
  X(XCreateWindow)               \
  X(XDestroyWindow)              \
  X(XMapWindow)                  \
  X(XResizeWindow)               \
  X(XStoreName)                  \
  X(XSetClassHint)               \
  X(XSetWMNormalHints)           \
  X(XInternAtom)                 \
  X(XSetWMProtocols)             \
  X(XPending)                    \
  X(XNextEvent)                  \
  X(XSync)                       \
  X(XGetWindowAttributes)        \
  X(XGetImage)                   \
  X(XSetErrorHandler)            \
  X(XGetErrorText)
#define VSTRUN_XLIB_MEMBER(name) decltype(&::name) name = nullptr;
  VSTRUN_XLIB_FUNCTIONS(VSTRUN_XLIB_MEMBER)
#undef VSTRUN_XLIB_MEMBER
  bool ok = false;

  Xlib() {
    // Never closed: Xlib keeps per-process state that plug-ins share.
    void* lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    ok = true;
#define VSTRUN_XLIB_LOAD(name)                                   \
  name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name)); \
  ok = ok && name != nullptr;
    VSTRUN_XLIB_FUNCTIONS(VSTRUN_XLIB_LOAD)
#undef VSTRUN_XLIB_LOAD
  }
};

const Xlib& xlib() {
  static const Xlib instance;
  return instance;
}

// X errors, process-wide as Xlib reports them, on whichever thread reads
// them: those of our own connection apart from the editor's.
std::atomic<Display*> gOurs{nullptr};
std::atomic<long> gEditorErrors{0};
XErrorEvent gFirstEditorError{};  // written by the first error only

int onXError(Display* display, XErrorEvent* e) {
  if (display != gOurs.load() && gEditorErrors.fetch_add(1) == 0) gFirstEditorError = *e;
  return 0;
}

// A size that neither the user nor the window manager changes.
void fixSize(Display* d, Window w, int width, int height) {
  XSizeHints hints{};
  hints.flags = PSize | PMinSize | PMaxSize;
  hints.width = hints.min_width = hints.max_width = width;
  hints.height = hints.min_height = hints.max_height = height;
  xlib().XSetWMNormalHints(d, w, &hints);
}

// One channel of a pixel as 8 bits, by the image's mask for it.
unsigned char channel(unsigned long pixel, unsigned long mask) {
  if (!mask) return 0;
  int shift = 0, bits = 0;
  while (!(mask >> shift & 1)) ++shift;
  while (mask >> (shift + bits) & 1) ++bits;
  const unsigned long v = (pixel & mask) >> shift, top = (1ul << bits) - 1;
  return static_cast<unsigned char>(bits >= 8 ? v >> (bits - 8) : v * 255 / top);
}

class X11HostWindow final : public HostWindow {
 public:
  X11HostWindow(const std::string& title, int width, int height) {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
      throw std::runtime_error("no X display: DISPLAY is not set (the editor needs an X server; Xvfb makes a virtual one)");
    const Xlib& x = xlib();
    if (!x.ok) throw std::runtime_error("the editor needs libX11 (Debian's libx11-6), which is not installed");
    // A busy server refuses a connection now and then: a few tries.
    constexpr int kAttempts = 20, kPauseMs = 250;
    for (int attempt = 1; !(display_ = x.XOpenDisplay(nullptr)) && attempt < kAttempts; ++attempt)
      poll(nullptr, 0, kPauseMs);
    if (!display_)
      throw std::runtime_error(std::string("cannot open the X display \"") + name + "\" (tried for " +
                               std::to_string(kAttempts * kPauseMs / 1000) + " s)");
    gOurs = display_;
    gEditorErrors = 0;
    previousHandler_ = x.XSetErrorHandler(&onXError);

    XSetWindowAttributes a{};
    a.background_pixel = BlackPixel(display_, DefaultScreen(display_));
    // The server keeps the window's pixels, children included, so that a
    // screenshot sees them even where other windows cover it.
    a.backing_store = Always;
    a.event_mask = StructureNotifyMask;
    window_ = x.XCreateWindow(display_, DefaultRootWindow(display_), 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                              CWBackPixel | CWBackingStore | CWEventMask, &a);
    x.XStoreName(display_, window_, title.c_str());
    XClassHint classHint{const_cast<char*>("vstrun"), const_cast<char*>("vstrun")};
    x.XSetClassHint(display_, window_, &classHint);
    deleteWindow_ = x.XInternAtom(display_, "WM_DELETE_WINDOW", False);
    x.XSetWMProtocols(display_, window_, &deleteWindow_, 1);
    fixSize(display_, window_, width, height);
    // The plug-in's own connection must find the window on the server.
    x.XSync(display_, False);
  }

  ~X11HostWindow() override {
    const Xlib& x = xlib();
    if (!destroyed_) x.XDestroyWindow(display_, window_);
    x.XSync(display_, False);
    // Give back the handler we replaced, unless the plug-in installed its own since.
    const XErrorHandler current = x.XSetErrorHandler(previousHandler_);
    if (current != &onXError) x.XSetErrorHandler(current);
    x.XCloseDisplay(display_);
    gOurs = nullptr;
  }

  void* parentHandle() const override { return reinterpret_cast<void*>(static_cast<uintptr_t>(window_)); }

  void setClientSize(int width, int height) override {
    fixSize(display_, window_, width, height);
    xlib().XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    xlib().XSync(display_, False);
  }

  void show() override {
    xlib().XMapWindow(display_, window_);
    xlib().XSync(display_, False);
  }

  bool run(double ms, double periodMs, const std::function<void()>& tick,
           const std::atomic<bool>* interrupted) override {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(periodMs));
    const auto start = Clock::now();
    const auto end = ms >= 0 ? start + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double, std::milli>(ms))
                             : Clock::time_point::max();
    auto next = start + period;
    for (;;) {
      readEvents();
      if (closed_) return false;
      if (interrupted && interrupted->load()) return false;
      const auto now = Clock::now();
      if (now >= end) return true;
      if (now >= next) {
        tick();
        next += period;
        if (next < now) next = now + period;  // a slow idle: no burst to catch up
        continue;
      }
      const auto wake = next < end ? next : end;
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count() + 1;
      pollfd fd{ConnectionNumber(display_), POLLIN, 0};
      poll(&fd, 1, static_cast<int>(wait));  // a signal ends it early: the loop looks again
    }
  }

  bool capture(int* width, int* height, std::vector<unsigned char>* rgb) override {
    const Xlib& x = xlib();
    if (destroyed_) return false;
    XWindowAttributes a{};
    // A window manager maps the window when it gets round to it.
    for (int i = 0; i < 100; ++i) {
      x.XSync(display_, False);
      if (!x.XGetWindowAttributes(display_, window_, &a)) return false;
      if (a.map_state == IsViewable) break;
      poll(nullptr, 0, 20);
      readEvents();
    }
    if (a.map_state != IsViewable || a.width <= 0 || a.height <= 0) return false;
    XImage* image = x.XGetImage(display_, window_, 0, 0, static_cast<unsigned>(a.width),
                                static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (!image) return false;
    rgb->resize(static_cast<size_t>(a.width) * a.height * 3);
    unsigned char* out = rgb->data();
    for (int yy = 0; yy < a.height; ++yy)
      for (int xx = 0; xx < a.width; ++xx) {
        const unsigned long pixel = XGetPixel(image, xx, yy);
        *out++ = channel(pixel, image->red_mask);
        *out++ = channel(pixel, image->green_mask);
        *out++ = channel(pixel, image->blue_mask);
      }
    XDestroyImage(image);
    *width = a.width;
    *height = a.height;
    return true;
  }

  std::string problems() override {
    xlib().XSync(display_, False);
    const long errors = gEditorErrors.load();
    if (errors == 0) return "";
    char name[128] = "";
    xlib().XGetErrorText(display_, gFirstEditorError.error_code, name, sizeof name);
    char line[320];
    std::snprintf(line, sizeof line,
                  "the editor caused %ld X error%s, the first %s (error %u) on request %u.%u; a host without an X "
                  "error handler of its own exits",
                  errors, errors == 1 ? "" : "s", *name ? name : "unnamed",
                  static_cast<unsigned>(gFirstEditorError.error_code),
                  static_cast<unsigned>(gFirstEditorError.request_code),
                  static_cast<unsigned>(gFirstEditorError.minor_code));
    return line;
  }

 private:
  // The window manager's close, and the window vanishing under us.
  void readEvents() {
    const Xlib& x = xlib();
    while (x.XPending(display_) > 0) {
      XEvent e;
      x.XNextEvent(display_, &e);
      if (e.type == ClientMessage && e.xclient.window == window_ &&
          static_cast<Atom>(e.xclient.data.l[0]) == deleteWindow_)
        closed_ = true;
      else if (e.type == DestroyNotify && e.xdestroywindow.window == window_)
        closed_ = destroyed_ = true;
    }
  }

  Display* display_ = nullptr;
  Window window_ = 0;
  Atom deleteWindow_ = 0;
  XErrorHandler previousHandler_ = nullptr;
  bool closed_ = false;
  bool destroyed_ = false;
};

}  // namespace

std::unique_ptr<HostWindow> HostWindow::create(const std::string& title, int width, int height) {
  return std::make_unique<X11HostWindow>(title, width, height);
}

}  // namespace vstrun

#endif
