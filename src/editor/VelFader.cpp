#include "editor/VelFader.h"

#include <climits>

#include "host/DVstUtils.h"

// A new fader is horizontal and stands at Left 0, so Start is that Left and
// the knob already rests at position 0.
TVelFader::TVelFader()
    : FOrientation(orHorizontal), FMaximum(100), FDragging(false), FStart(Left()), FLastX(0), FLastY(0),
      FVelFPosition(0) {}

void TVelFader::notify() {
  if (FOnPosChange) FOnPosChange(this);
}

void TVelFader::setAxis(int value) {
  if (FOrientation == orHorizontal) setLeft(value);
  else setTop(value);
}

void TVelFader::setOrientation(TOri value) {
  if (value == FOrientation) return;
  FOrientation = value;
  FStart = axis();
}

void TVelFader::setVelFPosition(int32_t value) {
  FVelFPosition = value;
  if (value > FMaximum) FVelFPosition = FMaximum;
  else if (value < 0) FVelFPosition = 0;
  // Start + position stays in int range for any sane layout; saturate anyway.
  const int64_t place = static_cast<int64_t>(FStart) + FVelFPosition;
  setAxis(static_cast<int>(place > INT_MAX ? INT_MAX : place < INT_MIN ? INT_MIN : place));
  notify();
}

void TVelFader::setStart(int32_t value) {
  FStart = value;
  setAxis(value);
}

void TVelFader::pointerPress(toolkit::PointerButton, int x, int y) {
  FDragging = true;
  if (FOrientation == orHorizontal) FLastX = x;
  else FLastY = y;
}

void TVelFader::pointerMove(int x, int y) {
  if (!FDragging) return;
  const bool horizontal = FOrientation == orHorizontal;
  const int p = horizontal ? x : y;
  const int last = horizontal ? FLastX : FLastY;
  const int place = axis();
  const int64_t end = static_cast<int64_t>(FStart) + FMaximum;
  const bool accepted = (p > last && place < end) || (p < last && place > FStart);
  if (accepted) {
    // The knob's centre goes under the pointer.
    const int size = horizontal ? Width() : Height();
    const int half = static_cast<int>(roundHalfEven(size / 2.0));
    setAxis(place + p - half);
    if (horizontal) FLastX = p;
    else FLastY = p;
    setVelFPosition(axis() - FStart);
  }
  notify();
}

void TVelFader::pointerRelease(toolkit::PointerButton, int, int) {
  FDragging = false;
  const int64_t end = static_cast<int64_t>(FStart) + FMaximum;
  const int place = axis();
  if (place > end) setAxis(static_cast<int>(end));
  else if (place < FStart) setAxis(FStart);
  FVelFPosition = axis() - FStart;
}
