#include "toolkit/Scale.h"

#include <cmath>
#include <climits>
#include <cstdlib>
#include <string>

#include "toolkit/NativeWindow.h"

namespace toolkit {

namespace {

int saturate(double v) {
  if (!(v > INT_MIN)) return INT_MIN;
  if (!(v < INT_MAX)) return INT_MAX;
  return static_cast<int>(v);
}

}  // namespace

double clampScale(double factor) {
  if (!std::isfinite(factor) || factor <= 0.0) return 0.0;
  return factor < kMinScale ? kMinScale : factor > kMaxScale ? kMaxScale : factor;
}

double parseDecimal(const char* text) {
  if (!text) return 0.0;
  while (*text == ' ' || *text == '\t') ++text;
  // Whole numbers of digits, divided once: "1.1" is the double nearest 1.1.
  double whole = 0.0, fraction = 0.0, unit = 1.0;
  int digits = 0;
  for (; *text >= '0' && *text <= '9'; ++text, ++digits) whole = whole * 10.0 + (*text - '0');
  if (*text == '.') {
    for (++text; *text >= '0' && *text <= '9'; ++text, ++digits)
      if (unit < 1e15) {
        fraction = fraction * 10.0 + (*text - '0');
        unit *= 10.0;
      }
  }
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r') ++text;
  if (digits == 0 || *text != '\0') return 0.0;
  return whole + fraction / unit;
}

double environmentScale(const char* name) {
  const std::string text = environmentVariable(name);
  return text.empty() ? 0.0 : clampScale(parseDecimal(text.c_str()));
}

int toPixels(int layout, double scale) {
  if (scale == 1.0) return layout;
  return saturate(std::floor(layout * scale + 0.5));
}

int fromPixels(int pixel, double scale) {
  if (scale == 1.0) return pixel;
  return saturate(std::floor((pixel + 0.5) / scale));
}

Rect toPixels(const Rect& layout, double scale) {
  if (scale == 1.0) return layout;
  return Rect::ofSize(toPixels(layout.left, scale), toPixels(layout.top, scale), toPixels(layout.width(), scale),
                      toPixels(layout.height(), scale));
}

#ifndef _WIN32
std::string environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}
#endif

}  // namespace toolkit
