// PNG output for screenshots: the one translation unit with stb's code.
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#define STB_IMAGE_WRITE_IMPLEMENTATION
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
    std::remove(temp.c_str());
    return false;
  }
#ifdef _WIN32
  const bool moved = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  const bool moved = std::rename(temp.c_str(), path.c_str()) == 0;
#endif
  if (!moved) std::remove(temp.c_str());
  return moved;
}

}  // namespace vstrun
