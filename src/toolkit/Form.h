// A form: a fixed-size client area holding picture controls in z-order.
//
// The form renders its controls into one RGB frame, repainting only the area
// that was invalidated since the last paint, and routes pointer input: a
// press goes to the topmost visible control under the pointer, which then
// holds the capture (moves and the release go to it wherever the pointer is)
// until a release; a primary press and a primary release over the same
// control make a click. The form knows no window system; a NativeWindow
// (NativeWindow.h) puts it on a screen. UI thread only.
//
// The form is laid out in layout pixels; at a display scale (Scale.h) its
// window and frame have the scaled size, and the controls are drawn at
// their scaled places from their scaled pictures. The frame, the invalid
// area and pointer input are in window pixels; controls hear the pointer
// in layout pixels. At scale 1 the two are the same.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "toolkit/Geometry.h"
#include "toolkit/NativeWindow.h"
#include "toolkit/Picture.h"
#include "toolkit/PictureControl.h"

namespace toolkit {

class Form {
 public:
  Form(int width, int height);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // The client area in layout pixels.
  int Width() const { return width_; }
  int Height() const { return height_; }
  void setClientSize(int width, int height);

  double scale() const { return scale_; }
  // Shows the form at a display scale (clamped to kMinScale..kMaxScale; no
  // factor at all is ignored): new pictures for every control, a new frame,
  // the native window resized, everything to be repainted. When memory runs
  // out it throws and leaves the form and its window as they were.
  void setScale(double value);
  // The window's size: the layout's, scaled.
  int pixelWidth() const { return frame_.width(); }
  int pixelHeight() const { return frame_.height(); }

  Rgb Color() const { return color_; }
  void setColor(Rgb value);

  // The window's title text; borderless windows never show it.
  const std::string& Caption() const { return caption_; }
  void setCaption(std::string value) { caption_ = std::move(value); }

  // Puts control on top of the z-order. The form does not own it; a control
  // must outlive its form's native window and input.
  void insertControl(PictureControl& control);
  const std::vector<PictureControl*>& controls() const { return controls_; }

  // Marks area, in layout pixels (clipped to the client area), for repainting.
  void invalidate(const Rect& area);
  void invalidateAll() { invalidate(Rect::ofSize(0, 0, width_, height_)); }
  // What the next paint() will render, in window pixels; empty when the
  // frame is current.
  Rect invalidRect() const { return invalid_; }
  // Renders the invalid area into the frame and returns it.
  Rect paint();
  const Picture& frame() const { return frame_; }

  // The topmost visible control containing the layout point, or null.
  PictureControl* controlAt(int x, int y) const;
  // The cursor for a window pixel.
  Cursor cursorAt(int x, int y) const;

  // Pointer input in window pixels.
  void pointerPress(PointerButton button, int x, int y);
  void pointerMove(int x, int y);
  void pointerRelease(PointerButton button, int x, int y);
  // The platform took the pointer away mid-press: the captured control gets
  // a release at the last known place, and no click.
  void cancelPointer();
  PictureControl* captured() const { return captured_; }

  NativeWindow* nativeWindow() const { return native_.get(); }
  void setNativeWindow(std::unique_ptr<NativeWindow> window);
  void destroyNativeWindow();

 private:
  void drawControl(const PictureControl& control, const Rect& area);
  // The layout point under a window pixel; a pixel of the window stays
  // inside the layout.
  void toLayout(int& x, int& y) const;

  int width_;
  int height_;
  double scale_ = 1.0;
  Rgb color_{};
  std::string caption_;
  std::vector<PictureControl*> controls_;
  Picture frame_;
  Rect invalid_{};
  PictureControl* captured_ = nullptr;
  PointerButton captureButton_ = PointerButton::Primary;
  int lastX_ = 0;
  int lastY_ = 0;
  std::unique_ptr<NativeWindow> native_;
};

}  // namespace toolkit
