#include "editor/EditorTestSupport.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace etest {

bool writePng(const toolkit::Picture& picture, const std::string& path) {
  if (picture.empty()) return false;
  return stbi_write_png(path.c_str(), picture.width(), picture.height(), 3, picture.row(0), picture.width() * 3) != 0;
}

toolkit::Picture offscreenEditor(int position1, int position2, bool about) {
  TPluginEditorWindow w;
  w.par01.setVelFPosition(position1);
  w.par02.setVelFPosition(position2);
  if (about) w.AboutButtonClick(nullptr);
  w.paint();
  return w.frame();
}

int differences(const toolkit::Picture& a, const toolkit::Picture& b, std::string* first) {
  if (a.width() != b.width() || a.height() != b.height()) return -1;
  int n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y) && n++ == 0 && first) *first = std::to_string(x) + "," + std::to_string(y);
  return n;
}

}  // namespace etest
