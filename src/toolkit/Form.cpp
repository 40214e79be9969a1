#include "toolkit/Form.h"

#include <algorithm>
#include <cstring>

#include "toolkit/Scale.h"

namespace toolkit {

Form::Form(int width, int height) : width_(0), height_(0) { setClientSize(width, height); }

Form::~Form() { destroyNativeWindow(); }

void Form::setClientSize(int width, int height) {
  width_ = width > 0 ? width : 0;
  height_ = height > 0 ? height : 0;
  frame_ = Picture(toPixels(width_, scale_), toPixels(height_, scale_), color_);
  invalid_ = Rect{};
  invalidateAll();
}

void Form::setScale(double value) {
  const double next = clampScale(value);
  if (next == 0.0 || next == scale_) return;
  // Everything that can fail comes first.
  std::vector<Picture> pictures;
  pictures.reserve(controls_.size());
  for (const PictureControl* c : controls_) pictures.push_back(c->makeScaled(next));
  Picture frame(toPixels(width_, next), toPixels(height_, next), color_);
  if (native_) native_->resize(frame.width(), frame.height());
  scale_ = next;
  frame_ = std::move(frame);
  for (size_t i = 0; i < controls_.size(); ++i) controls_[i]->scaled_ = std::move(pictures[i]);
  invalid_ = Rect{};
  invalidateAll();
}

void Form::setColor(Rgb value) {
  if (value == color_) return;
  color_ = value;
  invalidateAll();
}

void Form::insertControl(PictureControl& control) {
  Picture scaled = control.makeScaled(scale_);
  control.parent_ = this;
  controls_.push_back(&control);
  control.scaled_ = std::move(scaled);
  control.invalidate(control.bounds());
}

void Form::invalidate(const Rect& area) {
  const Rect clipped =
      toPixels(area, scale_).intersected(Rect::ofSize(0, 0, toPixels(width_, scale_), toPixels(height_, scale_)));
  if (clipped.empty()) return;
  invalid_ = invalid_.united(clipped);
  if (native_) native_->invalidated(clipped);
}

Rect Form::paint() {
  const Rect area = invalid_;
  invalid_ = Rect{};
  if (area.empty() || frame_.empty()) return area;
  for (int x = area.left; x < area.right; ++x) frame_.setPixel(x, area.top, color_);
  const size_t bytes = static_cast<size_t>(area.width()) * 3;
  for (int y = area.top + 1; y < area.bottom; ++y)
    std::memcpy(frame_.row(y) + area.left * 3, frame_.row(area.top) + area.left * 3, bytes);
  for (const PictureControl* c : controls_)
    if (c->Visible()) drawControl(*c, area);
  return area;
}

void Form::drawControl(const PictureControl& control, const Rect& area) {
  const Picture& pic = control.scaledPicture();
  if (pic.empty()) return;
  // The picture at its own size from the control's corner, cut to the control.
  const Rect bounds = toPixels(control.bounds(), scale_);
  const Rect picRect = Rect::ofSize(bounds.left, bounds.top, pic.width(), pic.height());
  const Rect draw = picRect.intersected(bounds).intersected(area);
  if (draw.empty()) return;
  const bool keyed = control.Transparent();
  const Rgb key = control.keyColour();
  for (int y = draw.top; !keyed && y < draw.bottom; ++y)
    std::memcpy(frame_.row(y) + draw.left * 3, pic.row(y - bounds.top) + (draw.left - bounds.left) * 3,
                static_cast<size_t>(draw.width()) * 3);
  for (int y = draw.top; keyed && y < draw.bottom; ++y) {
    for (int x = draw.left; x < draw.right; ++x) {
      const Rgb c = pic.pixel(x - bounds.left, y - bounds.top);
      if (keyed && c == key) continue;
      frame_.setPixel(x, y, c);
    }
  }
}

PictureControl* Form::controlAt(int x, int y) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it)
    if ((*it)->Visible() && (*it)->bounds().contains(x, y)) return *it;
  return nullptr;
}

void Form::toLayout(int& x, int& y) const {
  if (scale_ == 1.0) return;
  const bool insideX = x >= 0 && x < pixelWidth(), insideY = y >= 0 && y < pixelHeight();
  x = fromPixels(x, scale_);
  y = fromPixels(y, scale_);
  if (insideX) x = std::min(x, width_ - 1);
  if (insideY) y = std::min(y, height_ - 1);
}

Cursor Form::cursorAt(int x, int y) const {
  if (captured_) return captured_->cursor();
  toLayout(x, y);
  const PictureControl* c = controlAt(x, y);
  return c ? c->cursor() : Cursor::Arrow;
}

void Form::pointerPress(PointerButton button, int x, int y) {
  toLayout(x, y);
  lastX_ = x;
  lastY_ = y;
  PictureControl* target = captured_;
  if (!target) {
    // Only the press outside the form's client area is not ours to route.
    if (!Rect::ofSize(0, 0, width_, height_).contains(x, y)) return;
    target = controlAt(x, y);
    if (!target) return;
    captured_ = target;
    captureButton_ = button;
  }
  target->pointerPress(button, x - target->Left(), y - target->Top());
}

void Form::pointerMove(int x, int y) {
  toLayout(x, y);
  lastX_ = x;
  lastY_ = y;
  PictureControl* target = captured_ ? captured_ : controlAt(x, y);
  if (target) target->pointerMove(x - target->Left(), y - target->Top());
}

void Form::pointerRelease(PointerButton button, int x, int y) {
  toLayout(x, y);
  lastX_ = x;
  lastY_ = y;
  PictureControl* target = captured_;
  if (!target) return;
  // Capture ends before the handlers run, so a handler may start a new one.
  captured_ = nullptr;
  target->pointerRelease(button, x - target->Left(), y - target->Top());
  const bool click = button == PointerButton::Primary && captureButton_ == PointerButton::Primary &&
                     target->Visible() && controlAt(x, y) == target;
  if (click && target->onClick()) target->onClick()(target);
}

void Form::cancelPointer() {
  PictureControl* target = captured_;
  if (!target) return;
  captured_ = nullptr;
  target->pointerRelease(captureButton_, lastX_ - target->Left(), lastY_ - target->Top());
}

void Form::setNativeWindow(std::unique_ptr<NativeWindow> window) {
  destroyNativeWindow();
  native_ = std::move(window);
  if (native_ && !invalid_.empty()) native_->invalidated(invalid_);
}

void Form::destroyNativeWindow() {
  // Moved out first: messages sent while the window goes must not reach it.
  std::unique_ptr<NativeWindow> window = std::move(native_);
  window.reset();
  captured_ = nullptr;
}

}  // namespace toolkit
