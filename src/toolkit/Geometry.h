// Pixel rectangles in a window's client coordinates.
#pragma once

#include <algorithm>

namespace toolkit {

// Half-open: covers x in [left, right) and y in [top, bottom).
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  static Rect ofSize(int left, int top, int width, int height) {
    return Rect{left, top, left + width, top + height};
  }
  bool empty() const { return right <= left || bottom <= top; }
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }

  Rect intersected(const Rect& o) const {
    Rect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right), std::min(bottom, o.bottom)};
    return r.empty() ? Rect{} : r;
  }
  // The smallest rectangle holding both; an empty operand adds nothing.
  Rect united(const Rect& o) const {
    if (empty()) return o.empty() ? Rect{} : o;
    if (o.empty()) return *this;
    return Rect{std::min(left, o.left), std::min(top, o.top), std::max(right, o.right), std::max(bottom, o.bottom)};
  }
  bool operator==(const Rect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const Rect& o) const { return !(*this == o); }
};

}  // namespace toolkit
