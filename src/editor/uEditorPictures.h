// The editor's pictures, embedded in the module so that nothing is read from
// disk at run time. The build writes their definitions from the files in
// src/editor/pictures/, which tools/pictures/make_pictures.py draws.
#pragma once

#include <cstddef>

namespace editor_pictures {

extern const unsigned char kBackgroundJpeg[];   // 250 x 200, baseline JFIF, 3 components
extern const size_t kBackgroundJpegSize;
extern const unsigned char kAboutJpeg[];        // 250 x 200, baseline JFIF, 3 components
extern const size_t kAboutJpegSize;
extern const unsigned char kAboutButtonJpeg[];  // 22 x 22, baseline JFIF, 3 components
extern const size_t kAboutButtonJpegSize;
extern const unsigned char kKnobBmp[];          // 32 x 24, 24-bit, key colour at the bottom-left
extern const size_t kKnobBmpSize;

// The same pictures drawn at twice the size, for high-resolution screens.
extern const unsigned char kBackground2xJpeg[];   // 500 x 400
extern const size_t kBackground2xJpegSize;
extern const unsigned char kAbout2xJpeg[];        // 500 x 400
extern const size_t kAbout2xJpegSize;
extern const unsigned char kAboutButton2xJpeg[];  // 44 x 44
extern const size_t kAboutButton2xJpegSize;
extern const unsigned char kKnob2xBmp[];          // 64 x 48, the same key colour
extern const size_t kKnob2xBmpSize;

}  // namespace editor_pictures
