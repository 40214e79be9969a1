// The X11 backend: a borderless child of the host's X11 window. The host
// does not run our event loop, so pumpEvents() (called from the editor's
// idle) reads our connection's events: exposure, pointer press, move and
// release (X grabs the pointer for us while a button is down), and pointer
// motion for the cursor. The display scale the system asks for is the
// display's Xft.dpi resource over 96, else GDK_SCALE.
//
// libX11 is opened at run time, so the module loads on machines without it
// (a render server); there, and when no display or no valid parent window
// can be had, no window is made and the editor does not open.
//
// Each window has its own display connection, used only on the UI thread.
// X reports errors asynchronously through a process-wide handler whose
// default ends the process; every batch of our requests therefore runs with
// a handler of our own and ends with a round trip, so a parent the host has
// already destroyed costs us the window, never the host's process.
#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "toolkit/Form.h"
#include "toolkit/NativeWindow.h"
#include "toolkit/Scale.h"

namespace toolkit {

namespace {

constexpr unsigned kHandCursorShape = 60;  // XC_hand2 of the cursor font

// The few entry points of libX11 we use, resolved once.
struct Xlib {
#define VANTOREL_XLIB_FUNCTIONS(X)   \
  X(XOpenDisplay)                    \
  X(XCloseDisplay)                   \
  X(XGetWindowAttributes)            \
  X(XCreateSimpleWindow)             \
  X(XDestroyWindow)                  \
  X(XSelectInput)                    \
  X(XMapRaised)                      \
  X(XUnmapWindow)                    \
  X(XMoveWindow)                     \
  X(XResizeWindow)                   \
  X(XResourceManagerString)          \
  X(XrmInitialize)                   \
  X(XrmGetStringDatabase)            \
  X(XrmGetResource)                  \
  X(XrmDestroyDatabase)              \
  X(XPending)                        \
  X(XNextEvent)                      \
  X(XCreateImage)                    \
  X(XPutImage)                       \
  X(XCreateGC)                       \
  X(XFreeGC)                         \
  X(XSync)                           \
  X(XFlush)                          \
  X(XSetErrorHandler)                \
  X(XCreateFontCursor)               \
  X(XDefineCursor)                   \
  X(XUndefineCursor)                 \
  X(XFreeCursor)
#define VANTOREL_XLIB_MEMBER(name) decltype(&::name) name = nullptr;
  VANTOREL_XLIB_FUNCTIONS(VANTOREL_XLIB_MEMBER)
#undef VANTOREL_XLIB_MEMBER
  bool ok = false;

  Xlib() {
    void* lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    ok = true;
#define VANTOREL_XLIB_LOAD(name)                                      \
  name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name)); \
  ok = ok && name != nullptr;
    VANTOREL_XLIB_FUNCTIONS(VANTOREL_XLIB_LOAD)
#undef VANTOREL_XLIB_LOAD
    // The library stays loaded for the module's lifetime: Xlib keeps
    // per-process state that must not vanish under an open connection.
  }
};

const Xlib& xlib() {
  static const Xlib instance;
  return instance;
}

// Errors of our requests land here while an ErrorTrap is active.
thread_local bool trappedError = false;
int trapError(Display*, XErrorEvent*) {
  trappedError = true;
  return 0;
}

class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : display_(display) {
    trappedError = false;
    previous_ = xlib().XSetErrorHandler(&trapError);
  }
  ~ErrorTrap() {
    xlib().XSync(display_, False);
    xlib().XSetErrorHandler(previous_);
  }
  // Whether any request so far failed (makes the round trip first).
  bool failed() {
    xlib().XSync(display_, False);
    return trappedError;
  }

 private:
  Display* display_;
  int (*previous_)(Display*, XErrorEvent*) = nullptr;
};

class X11Window final : public NativeWindow {
 public:
  explicit X11Window(Form& form) : form_(form) {}

  ~X11Window() override {
    if (!display_) return;
    {
      ErrorTrap trap(display_);
      if (window_ && !gone_) xlib().XDestroyWindow(display_, window_);
      if (gc_) xlib().XFreeGC(display_, gc_);
      if (hand_) xlib().XFreeCursor(display_, hand_);
    }
    if (image_) {
      image_->data = nullptr;  // the pixels are ours
      XDestroyImage(image_);
    }
    xlib().XCloseDisplay(display_);
  }

  bool create(::Window parent) {
    const Xlib& x = xlib();
    if (!x.ok || !parent) return false;
    display_ = x.XOpenDisplay(nullptr);
    if (!display_) return false;
    ErrorTrap trap(display_);
    XWindowAttributes parentAttributes;
    if (!x.XGetWindowAttributes(display_, parent, &parentAttributes) || trap.failed()) return false;
    // Only true-colour visuals with 8 bits per channel get our pixels.
    Visual* visual = parentAttributes.visual;
    if (!visual || (parentAttributes.depth != 24 && parentAttributes.depth != 32) || visual->red_mask != 0xFF0000 ||
        visual->green_mask != 0x00FF00 || visual->blue_mask != 0x0000FF)
      return false;
    visual_ = visual;
    depth_ = static_cast<unsigned>(parentAttributes.depth);
    systemScale_ = displayScale();
    const int w = form_.pixelWidth(), h = form_.pixelHeight();
    window_ = x.XCreateSimpleWindow(display_, parent, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                                    0, 0);
    if (!window_ || trap.failed()) return false;
    x.XSelectInput(display_, window_,
                   ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask);
    gc_ = x.XCreateGC(display_, window_, 0, nullptr);
    hand_ = x.XCreateFontCursor(display_, kHandCursorShape);
    pixels_.assign(static_cast<size_t>(w) * h, 0);
    image_ = x.XCreateImage(display_, visual, static_cast<unsigned>(parentAttributes.depth), ZPixmap, 0,
                            reinterpret_cast<char*>(pixels_.data()), static_cast<unsigned>(w),
                            static_cast<unsigned>(h), 32, w * 4);
    if (!gc_ || !image_ || trap.failed()) return false;
    dirty_ = Rect::ofSize(0, 0, w, h);
    return true;
  }

  void setPosition(int left, int top) override {
    if (!usable()) return;
    ErrorTrap trap(display_);
    xlib().XMoveWindow(display_, window_, left, top);
    noteFailure(trap);
  }
  void show() override {
    if (!usable()) return;
    ErrorTrap trap(display_);
    xlib().XMapRaised(display_, window_);
    visible_ = !noteFailure(trap);
  }
  void hide() override {
    visible_ = false;
    if (!usable()) return;
    ErrorTrap trap(display_);
    xlib().XUnmapWindow(display_, window_);
    noteFailure(trap);
  }
  bool visible() const override { return visible_; }
  void repaintNow() override {
    dirty_ = dirty_.united(form_.invalidRect());
    flushPaint();
  }
  void invalidated(const Rect& area) override { dirty_ = dirty_.united(area); }
  void resize(int width, int height) override {
    if (!display_) return;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
    XImage* image = xlib().XCreateImage(display_, visual_, depth_, ZPixmap, 0, reinterpret_cast<char*>(pixels.data()),
                                        static_cast<unsigned>(width), static_cast<unsigned>(height), 32, width * 4);
    if (!image) throw std::bad_alloc();
    if (image_) {
      image_->data = nullptr;
      XDestroyImage(image_);
    }
    image_ = image;
    pixels_.swap(pixels);
    dirty_ = Rect::ofSize(0, 0, width, height);
    if (!usable()) return;
    ErrorTrap trap(display_);
    xlib().XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    noteFailure(trap);
  }
  double systemScale() const override { return systemScale_; }

  void pumpEvents() override {
    if (!usable()) return;
    ErrorTrap trap(display_);
    while (!gone_ && xlib().XPending(display_) > 0) {
      XEvent event;
      xlib().XNextEvent(display_, &event);
      handle(event);
    }
    noteFailure(trap);
    flushPaint();
  }

 private:
  bool usable() const { return display_ && window_ && !gone_; }

  // Xft.dpi as the display's resource database has it (read when we
  // connected), over 96; else GDK_SCALE; else no opinion.
  double displayScale() {
    const Xlib& x = xlib();
    double dpi = 0.0;
    if (const char* resources = x.XResourceManagerString(display_)) {
      x.XrmInitialize();
      if (XrmDatabase db = x.XrmGetStringDatabase(resources)) {
        char* type = nullptr;
        XrmValue value{};
        if (x.XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr)
          dpi = parseDecimal(std::string(value.addr, strnlen(value.addr, value.size)).c_str());
        x.XrmDestroyDatabase(db);
      }
    }
    if (dpi > 0.0) return dpi / 96.0;
    return parseDecimal(environmentVariable("GDK_SCALE").c_str());
  }

  // A failed request means the window (or its parent) went away.
  bool noteFailure(ErrorTrap& trap) {
    if (trap.failed()) gone_ = true;
    return gone_;
  }

  static PointerButton buttonOf(unsigned button) {
    return button == 1 ? PointerButton::Primary : button == 3 ? PointerButton::Secondary : PointerButton::Middle;
  }

  void handle(const XEvent& event) {
    switch (event.type) {
      case Expose:
        dirty_ = dirty_.united(Rect::ofSize(event.xexpose.x, event.xexpose.y, event.xexpose.width,
                                            event.xexpose.height));
        break;
      case ButtonPress:
        if (event.xbutton.button <= 3) form_.pointerPress(buttonOf(event.xbutton.button), event.xbutton.x, event.xbutton.y);
        break;
      case ButtonRelease:
        if (event.xbutton.button <= 3)
          form_.pointerRelease(buttonOf(event.xbutton.button), event.xbutton.x, event.xbutton.y);
        break;
      case MotionNotify:
        form_.pointerMove(event.xmotion.x, event.xmotion.y);
        updateCursor(event.xmotion.x, event.xmotion.y);
        break;
      case DestroyNotify:
        if (event.xdestroywindow.window == window_) gone_ = true;
        break;
      default: break;
    }
  }

  void updateCursor(int x, int y) {
    const bool hand = form_.cursorAt(x, y) == Cursor::Hand;
    if (hand == handShown_) return;
    handShown_ = hand;
    if (hand) xlib().XDefineCursor(display_, window_, hand_);
    else xlib().XUndefineCursor(display_, window_);
  }

  void flushPaint() {
    if (!usable()) return;
    form_.paint();
    const Picture& frame = form_.frame();
    const Rect area = dirty_.intersected(Rect::ofSize(0, 0, frame.width(), frame.height()));
    dirty_ = Rect{};
    if (area.empty() || !visible_) return;
    copyAsXrgb(frame, area, pixels_.data());
    ErrorTrap trap(display_);
    xlib().XPutImage(display_, window_, gc_, image_, area.left, area.top, area.left, area.top,
                     static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()));
    noteFailure(trap);
  }

  Form& form_;
  Display* display_ = nullptr;
  ::Window window_ = 0;
  GC gc_ = nullptr;
  ::Cursor hand_ = 0;
  XImage* image_ = nullptr;
  Visual* visual_ = nullptr;
  unsigned depth_ = 0;
  double systemScale_ = 0.0;
  std::vector<uint32_t> pixels_;
  Rect dirty_{};
  bool visible_ = false;
  bool gone_ = false;
  bool handShown_ = false;
};

}  // namespace

std::unique_ptr<NativeWindow> createPlatformWindow(Form& form, void* parent) {
  // The host's parent is an X11 window id carried in the pointer.
  auto window = std::make_unique<X11Window>(form);
  if (window->create(static_cast<::Window>(reinterpret_cast<uintptr_t>(parent)))) return window;
  // No libX11, no display, no such parent window or a visual we cannot draw
  // on: the host learns that the editor did not open.
  return nullptr;
}

}  // namespace toolkit
