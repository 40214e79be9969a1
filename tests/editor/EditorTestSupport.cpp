#include "editor/EditorTestSupport.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb_image.h>
#pragma GCC diagnostic pop

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace etest {

namespace {

std::atomic<int> liveWindows{0};

class CountedWindow final : public toolkit::NativeWindow {
 public:
  explicit CountedWindow(toolkit::Form& form) : inner_(toolkit::createOffscreenWindow(form)) { ++liveWindows; }
  ~CountedWindow() override { --liveWindows; }
  void setPosition(int left, int top) override { inner_->setPosition(left, top); }
  void show() override { inner_->show(); }
  void hide() override { inner_->hide(); }
  bool visible() const override { return inner_->visible(); }
  void repaintNow() override { inner_->repaintNow(); }
  void invalidated(const toolkit::Rect& area) override { inner_->invalidated(area); }
  void resize(int width, int height) override { inner_->resize(width, height); }

 private:
  std::unique_ptr<toolkit::NativeWindow> inner_;
};

std::unique_ptr<toolkit::NativeWindow> countedWindow(toolkit::Form& form, void*) {
  return std::make_unique<CountedWindow>(form);
}

}  // namespace

OffscreenWindows::OffscreenWindows() { toolkit::setNativeWindowFactory(&countedWindow); }
OffscreenWindows::~OffscreenWindows() { toolkit::setNativeWindowFactory(nullptr); }
int OffscreenWindows::live() { return liveWindows.load(); }

bool writePng(const toolkit::Picture& picture, const std::string& path) {
  if (picture.empty()) return false;
  return stbi_write_png(path.c_str(), picture.width(), picture.height(), 3, picture.row(0), picture.width() * 3) != 0;
}

toolkit::Picture readPng(const std::string& path) {
  int w = 0, h = 0, n = 0;
  unsigned char* pixels = stbi_load(path.c_str(), &w, &h, &n, 3);
  if (!pixels) return toolkit::Picture();
  toolkit::Picture picture(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const unsigned char* p = pixels + (static_cast<size_t>(y) * w + x) * 3;
      picture.setPixel(x, y, toolkit::Rgb{p[0], p[1], p[2]});
    }
  stbi_image_free(pixels);
  return picture;
}

toolkit::Picture offscreenEditor(int position1, int position2, bool about) {
  TPluginEditorWindow w;
  w.par01.setVelFPosition(position1);
  w.par02.setVelFPosition(position2);
  if (about) w.AboutButtonClick(nullptr);
  w.paint();
  return w.frame();
}

toolkit::Picture referenceEditor(double scale, int position1, int position2, bool about) {
  char name[96];
  std::snprintf(name, sizeof name, "/editor-references/editor-%g-%d-%d%s.png", scale, position1, position2,
                about ? "-about" : "");
  return readPng(vtest::buildDir() + std::string(name));
}

void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  if (value) setenv(name, value, 1);
  else unsetenv(name);
#endif
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
