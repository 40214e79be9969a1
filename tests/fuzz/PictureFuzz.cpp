// Any bytes handed to a picture decoder: a decoded picture's pixels are all
// there, a refused one is empty, and it scales to any size. PICTURE_FORMAT
// picks the decoder.
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "toolkit/Picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  toolkit::Picture picture;
#if PICTURE_FORMAT_JPEG
  const bool ok = picture.loadJpeg(data, size);
#else
  const bool ok = picture.loadBmp(data, size);
#endif
  FUZZ_CHECK(ok != picture.empty());
  if (!ok) return 0;
  FUZZ_CHECK(picture.width() > 0 && picture.height() > 0);
  // Touch every pixel, so a short pixel buffer is a read out of bounds.
  unsigned sum = 0;
  for (int y = 0; y < picture.height(); ++y) {
    const uint8_t* row = picture.row(y);
    for (int x = 0; x < picture.width() * 3; ++x) sum += row[x];
  }
  const toolkit::Rgb key = picture.keyColour();
  FUZZ_CHECK(key == picture.pixel(0, picture.height() - 1));
  // Scaled to a size of the input's choosing, shrinking or growing along
  // either axis, with and without key-colour holes.
  const int w = 1 + data[0] % 97, h = 1 + data[size - 1] % 89;
  for (const toolkit::Rgb* k : {static_cast<const toolkit::Rgb*>(nullptr), &key}) {
    const toolkit::Picture scaled = toolkit::resampled(picture, w, h, k);
    FUZZ_CHECK(scaled.width() == w && scaled.height() == h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * 3; ++x) sum += scaled.row(y)[x];
  }
  return static_cast<int>(sum & 0);
}
