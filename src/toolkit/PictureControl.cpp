#include "toolkit/PictureControl.h"

#include "toolkit/Form.h"
#include "toolkit/Scale.h"

namespace toolkit {

void PictureControl::invalidate(const Rect& area) {
  if (parent_ && visible_) parent_->invalidate(area);
}

void PictureControl::setBounds(int left, int top, int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  const Rect next = Rect::ofSize(left, top, width, height);
  if (next == bounds_) return;
  invalidate(bounds_);
  bounds_ = next;
  invalidate(bounds_);
}

void PictureControl::setPicture(Picture picture) {
  picture_ = std::move(picture);
  rescale();
  invalidate(bounds_);
}

void PictureControl::setHighResPicture(Picture picture) {
  highRes_ = std::move(picture);
  rescale();
  invalidate(bounds_);
}

void PictureControl::setTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  rescale();
  invalidate(bounds_);
}

const Picture& PictureControl::scaledPicture() const {
  if (!parent_ || parent_->scale() == 1.0) return picture_;
  return scaled_.empty() ? highRes_ : scaled_;
}

Picture PictureControl::makeScaled(double scale) const {
  if (scale == 1.0) return Picture();
  // The size the picture takes in the window: its layout size scaled; a
  // control with only a high-resolution picture counts that as twice it.
  const int w = picture_.empty() ? (highRes_.width() + 1) / 2 : picture_.width();
  const int h = picture_.empty() ? (highRes_.height() + 1) / 2 : picture_.height();
  const int pw = toPixels(w, scale), ph = toPixels(h, scale);
  const Picture& source = highRes_.empty() ? picture_ : highRes_;
  if (source.empty() || (source.width() == pw && source.height() == ph && &source == &highRes_)) return Picture();
  const Rgb key = keyColour();
  return resampled(source, pw, ph, transparent_ ? &key : nullptr);
}

void PictureControl::rescale() { scaled_ = parent_ ? makeScaled(parent_->scale()) : Picture(); }

void PictureControl::setVisible(bool value) {
  if (value == visible_) return;
  if (visible_) invalidate(bounds_);
  visible_ = value;
  invalidate(bounds_);
}

void PictureControl::pointerPress(PointerButton, int, int) {}
void PictureControl::pointerMove(int, int) {}
void PictureControl::pointerRelease(PointerButton, int, int) {}

}  // namespace toolkit
