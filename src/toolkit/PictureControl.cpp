#include "toolkit/PictureControl.h"

#include "toolkit/Form.h"

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
  invalidate(bounds_);
}

void PictureControl::setTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  invalidate(bounds_);
}

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
