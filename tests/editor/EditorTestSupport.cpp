#include "editor/EditorTestSupport.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace etest {

bool writePng(const toolkit::Picture& picture, const std::string& path) {
  if (picture.empty()) return false;
  return stbi_write_png(path.c_str(), picture.width(), picture.height(), 3, picture.row(0), picture.width() * 3) != 0;
}

}  // namespace etest
