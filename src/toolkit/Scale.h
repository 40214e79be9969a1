// Display scales: how a form's layout pixels become its window's pixels.
//
// A form is laid out in layout pixels (the editor: 250 x 199). At scale s
// every layout coordinate and length c lands on window pixel
// floor(c * s + 0.5): the nearest one, halves up. A control's place is its
// corner's pixel plus its scaled size, so a control and its picture always
// get the same number of pixels wherever they stand. The pointer maps back
// from the centre of the window pixel it is on. At scale 1 both ways are
// the identity.
#pragma once

#include "toolkit/Geometry.h"

namespace toolkit {

constexpr double kMinScale = 1.0;
constexpr double kMaxScale = 4.0;

// A factor from a host, a setting or a window system, clamped to
// kMinScale..kMaxScale; 0 when it is no factor at all (not a number,
// infinite, zero or negative).
double clampScale(double factor);

// A decimal number as people write it ("2", "1.5", "192.0"), read the same
// whatever the C library's locale; 0 when the text is anything else.
double parseDecimal(const char* text);

// The factor an environment variable asks for (VANTOREL_SCALE, GDK_SCALE),
// clamped; 0 when it is unset or no number.
double environmentScale(const char* name);

int toPixels(int layout, double scale);
// Layout pixel under the centre of a window pixel.
int fromPixels(int pixel, double scale);
// Where a layout rectangle lies in window pixels: its corner's pixel and
// its scaled size.
Rect toPixels(const Rect& layout, double scale);

}  // namespace toolkit
