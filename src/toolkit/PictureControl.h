// A control that shows a picture at a place in its form.
//
// The picture is drawn at its own size from the control's top-left corner and
// clipped to the control. With Transparent set, pixels of the picture's key
// colour are not drawn. Moving or resizing the control invalidates the area
// it leaves and the area it enters; a change to the same bounds invalidates
// nothing. UI thread only.
//
// Bounds and picture sizes are in layout pixels. When the form shows at a
// display scale other than 1 (Scale.h), the control draws a picture of its
// picture's scaled size, made from the high-resolution picture (the same
// picture drawn at twice the size) when it has one, else from the picture.
#pragma once

#include <functional>
#include <memory>

#include "toolkit/Geometry.h"
#include "toolkit/Picture.h"

namespace toolkit {

class Form;

enum class Cursor { Arrow, Hand };
enum class PointerButton { Primary, Secondary, Middle };

class PictureControl {
 public:
  using Notify = std::function<void(PictureControl* sender)>;

  PictureControl() = default;
  virtual ~PictureControl() = default;
  PictureControl(const PictureControl&) = delete;
  PictureControl& operator=(const PictureControl&) = delete;

  int Left() const { return bounds_.left; }
  int Top() const { return bounds_.top; }
  int Width() const { return bounds_.width(); }
  int Height() const { return bounds_.height(); }
  void setLeft(int value) { setBounds(value, Top(), Width(), Height()); }
  void setTop(int value) { setBounds(Left(), value, Width(), Height()); }
  void setWidth(int value) { setBounds(Left(), Top(), value, Height()); }
  void setHeight(int value) { setBounds(Left(), Top(), Width(), value); }
  void setBounds(int left, int top, int width, int height);
  Rect bounds() const { return bounds_; }

  const Picture& picture() const { return picture_; }
  void setPicture(Picture picture);
  const Picture& highResPicture() const { return highRes_; }
  void setHighResPicture(Picture picture);
  // What the control draws at its form's scale, in window pixels.
  const Picture& scaledPicture() const;
  // The colour that Transparent leaves undrawn at every scale.
  Rgb keyColour() const { return picture_.empty() ? highRes_.keyColour() : picture_.keyColour(); }

  bool Transparent() const { return transparent_; }
  void setTransparent(bool value);

  bool Visible() const { return visible_; }
  void setVisible(bool value);

  Cursor cursor() const { return cursor_; }
  void setCursor(Cursor value) { cursor_ = value; }

  // Fired by the form for a primary press and release over this control.
  const Notify& onClick() const { return onClick_; }
  void setOnClick(Notify handler) { onClick_ = std::move(handler); }

  // Pointer input, in coordinates relative to the control's top-left corner
  // at the moment of the event. The defaults do nothing.
  virtual void pointerPress(PointerButton button, int x, int y);
  virtual void pointerMove(int x, int y);
  virtual void pointerRelease(PointerButton button, int x, int y);

  Form* parent() const { return parent_; }

 private:
  friend class Form;
  void invalidate(const Rect& area);

  // The picture to draw at scale (strong guarantee when memory runs out).
  Picture makeScaled(double scale) const;
  // After a change of picture or transparency: the scaled picture again.
  void rescale();

  Form* parent_ = nullptr;
  Rect bounds_{};
  Picture picture_;
  Picture highRes_;
  // At scales other than 1: the picture drawn there, unless highRes_ has
  // exactly its size (scale 2), which is then drawn as it is.
  Picture scaled_;
  bool transparent_ = false;
  bool visible_ = true;
  Cursor cursor_ = Cursor::Arrow;
  Notify onClick_;
};

}  // namespace toolkit
