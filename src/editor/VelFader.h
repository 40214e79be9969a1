// TVelFader: the editor's fader. The control is the knob: a picture control
// that moves itself along one axis between Start and Start + Maximum.
// VelFPosition is the knob's distance from Start. Setting the position moves
// the knob; dragging the knob sets the position; both announce themselves
// through onPosChange. UI thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "toolkit/PictureControl.h"

enum TOri : uint8_t { orHorizontal = 0, orVertical = 1 };

class TVelFader : public toolkit::PictureControl {
 public:
  using TNotifyEvent = std::function<void(toolkit::PictureControl* sender)>;

  TVelFader();

  TOri Orientation() const { return FOrientation; }
  void setOrientation(TOri value);
  int32_t Maximum() const { return FMaximum; }
  // Stores the number only: the position is neither clamped nor re-applied.
  void setMaximum(int32_t value) { FMaximum = value; }
  int32_t VelFPosition() const { return FVelFPosition; }
  // Clamps to 0..Maximum, moves the knob and notifies, every time.
  void setVelFPosition(int32_t value);
  int32_t Start() const { return FStart; }
  // Moves the knob to Start; keeps VelFPosition; no notification.
  void setStart(int32_t value);
  const TNotifyEvent& onPosChange() const { return FOnPosChange; }
  void setOnPosChange(TNotifyEvent handler) { FOnPosChange = std::move(handler); }

  bool dragging() const { return FDragging; }
  int32_t lastX() const { return FLastX; }
  int32_t lastY() const { return FLastY; }

  void pointerPress(toolkit::PointerButton button, int x, int y) override;
  void pointerMove(int x, int y) override;
  void pointerRelease(toolkit::PointerButton button, int x, int y) override;

 private:
  void notify();
  // Left or Top, whichever carries the position.
  int axis() const { return FOrientation == orHorizontal ? Left() : Top(); }
  void setAxis(int value);

  TOri FOrientation;
  int32_t FMaximum;
  bool FDragging;
  int32_t FStart;
  int32_t FLastX;
  int32_t FLastY;
  int32_t FVelFPosition;
  TNotifyEvent FOnPosChange;
};
