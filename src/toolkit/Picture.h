// A decoded picture: 24-bit colour, rows top to bottom, 3 bytes per pixel
// in R, G, B order.
//
// Decoding validates its input: a truncated or malformed file gives an empty
// picture (and false), never a read outside the data or an aborted process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "toolkit/Geometry.h"

namespace toolkit {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
  bool operator!=(const Rgb& o) const { return !(*this == o); }
};

class Picture {
 public:
  Picture() = default;
  Picture(int width, int height, Rgb fill = Rgb{});

  // JPEG through libjpeg: baseline or progressive, greyscale or colour.
  bool loadJpeg(const uint8_t* data, size_t size);
  // An uncompressed 24-bit device-independent bitmap (BITMAPFILEHEADER +
  // BITMAPINFOHEADER or later, bottom-up or top-down).
  bool loadBmp(const uint8_t* data, size_t size);

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return width_ == 0 || height_ == 0; }

  Rgb pixel(int x, int y) const {
    const uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 3];
    return Rgb{p[0], p[1], p[2]};
  }
  void setPixel(int x, int y, Rgb c) {
    uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }
  const uint8_t* row(int y) const { return &pixels_[static_cast<size_t>(y) * width_ * 3]; }
  uint8_t* row(int y) { return &pixels_[static_cast<size_t>(y) * width_ * 3]; }

  // The colour that a transparent control leaves undrawn: the bottom-left pixel.
  Rgb keyColour() const { return empty() ? Rgb{} : pixel(0, height_ - 1); }

 private:
  void clear();

  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> pixels_;
};

// The picture at width x height pixels. Where it shrinks, each new pixel
// averages the pixels it covers, weighted by how much of each it covers (an
// area filter); where it grows, it mixes the two nearest pixels of each
// axis by distance. Whole-number arithmetic: every platform gets the same
// pixels. With a key colour, key pixels are holes: a new pixel is the key
// where less than half of what it covers is picture, else the average of
// the picture alone, never the key; so no key colour bleeds into an edge.
// Empty when a size is not positive.
Picture resampled(const Picture& picture, int width, int height, const Rgb* key = nullptr);

// Copies the area of picture into dst, which holds width() x height() pixels
// of 32 bits, 0x00RRGGBB: the form in which window systems take pixels.
void copyAsXrgb(const Picture& picture, const Rect& area, uint32_t* dst);

}  // namespace toolkit
