// PNG output for screenshots: the one translation unit with stb's code.
#include <cstdio>
#include <string>
#include <vector>

#include "vsthost/Files.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
// On Windows, stb opens the file through its UTF-16 name.
#define STBIW_WINDOWS_UTF8
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include "Editor.h"

namespace vstrun {

bool writePng(const std::string& path, int width, int height, const std::vector<unsigned char>& rgb) {
  if (width <= 0 || height <= 0 || rgb.size() < static_cast<size_t>(width) * height * 3) return false;
  // Under a temporary name first, so a failed write leaves nothing behind.
  const std::string temp = path + ".vstrun.tmp";
  if (!stbi_write_png(temp.c_str(), width, height, 3, rgb.data(), width * 3)) {
    vsthost::removeFile(temp);
    return false;
  }
  const bool moved = vsthost::replaceFile(temp, path);
  if (!moved) vsthost::removeFile(temp);
  return moved;
}

}  // namespace vstrun
