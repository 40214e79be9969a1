// What a window-system backend supplies to show a Form.
//
// A backend is one file (Win32Window.cpp, OffscreenWindow.cpp, ...). It owns
// one native window per Form and
//   - shows the Form's frame: when told an area is invalid it arranges a
//     repaint, and to repaint it calls Form::paint() and copies
//     Form::frame() to the screen;
//   - feeds pointer input to Form::pointerPress/Move/Release in window
//     pixels, keeping the pointer captured while Form::captured() is set,
//     and calls Form::cancelPointer() when the system takes the capture away;
//   - shows the cursor that Form::cursorAt() names;
//   - has the Form's window-pixel size (Form::pixelWidth/Height) from
//     creation on, and takes a new one through resize();
//   - tells what display scale the window system asks for.
// Everything runs on the thread that created the window.
#pragma once

#include <memory>
#include <string>

#include "toolkit/Geometry.h"

namespace toolkit {

class Form;

class NativeWindow {
 public:
  virtual ~NativeWindow() = default;

  // Place the window inside its parent, in the parent's client pixels.
  virtual void setPosition(int left, int top) = 0;
  // Make it visible and bring it in front of its siblings.
  virtual void show() = 0;
  virtual void hide() = 0;
  virtual bool visible() const = 0;
  // Paint the Form's pending invalid area now rather than later.
  virtual void repaintNow() = 0;
  // The Form calls this when an area (already clipped to the client area)
  // needs painting.
  virtual void invalidated(const Rect& area) = 0;
  // The Form is about to show at this many pixels (a new display scale):
  // resize the window, keeping its place. When memory runs out it throws
  // and leaves the window as it was.
  virtual void resize(int width, int height) = 0;
  // The display scale the window system asks of this window, unclamped;
  // 0 when it has no opinion.
  virtual double systemScale() const { return 0.0; }
  // Handle the window system's pending events and paint what is invalid,
  // for platforms where the host does not run our event loop (X11: the
  // editor's idle calls this). Elsewhere nothing to do.
  virtual void pumpEvents() {}
};

// The platform's window for form, as a borderless child of parent (a native
// window handle: an HWND, or on X11 a window id carried in the pointer).
// Null when no real window can be made there: no such parent, no display,
// a visual we cannot draw on. Hidden until show().
std::unique_ptr<NativeWindow> createNativeWindow(Form& form, void* parent);

// Where tests want windows of their own making (offscreen ones, so the
// editor opens without a window system, or ones that record what happens to
// them), createNativeWindow calls this instead of the platform. Null, the
// default, restores the platform. A host never sets it.
using NativeWindowFactory = std::unique_ptr<NativeWindow> (*)(Form& form, void* parent);
void setNativeWindowFactory(NativeWindowFactory factory);

// What each backend file supplies: the platform's own window, or null.
std::unique_ptr<NativeWindow> createPlatformWindow(Form& form, void* parent);

// The process's environment variable name, empty when unset. On Windows
// the process's own environment block, which the host may have changed
// after our C runtime copied it (Win32Window.cpp); elsewhere the C
// library's (Scale.cpp).
std::string environmentVariable(const char* name);

// A window that exists only in memory, on every platform: for tests and
// screenshots. The Form's frame is its picture.
std::unique_ptr<NativeWindow> createOffscreenWindow(Form& form);

}  // namespace toolkit
