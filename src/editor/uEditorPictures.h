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

}  // namespace editor_pictures
