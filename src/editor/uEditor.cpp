#include "editor/uEditor.h"

#include "editor/uEditorPictures.h"
#include "host/DFloatEnv.h"
#include "instrument/uPlugin.h"

namespace {

toolkit::Picture jpeg(const unsigned char* data, size_t size) {
  toolkit::Picture p;
  p.loadJpeg(data, size);
  return p;
}

toolkit::Picture bmp(const unsigned char* data, size_t size) {
  toolkit::Picture p;
  p.loadBmp(data, size);
  return p;
}

// Position p stands for the value p / travel, formed in extended precision
// and rounded once to a float. The handlers run from the window system's input
// too, outside any host call, so they set our floating-point state themselves.
float positionToValue(int32_t position) {
  FloatEnvGuard fpu;
  return static_cast<float>(static_cast<long double>(position) / TPluginEditorWindow::kFaderTravel);
}

constexpr int kFaderTop = 77;

}  // namespace

TPluginEditorWindow::TPluginEditorWindow(double scale) : Form(kClientWidth, kClientHeight) {
  for (auto& v : paramValues) v.store(0.0f, std::memory_order_relaxed);
  setColor(toolkit::Rgb{0, 0, 0});
  setCaption(kCaption);
  insertControl(bg);
  insertControl(par01);
  insertControl(par02);
  insertControl(About);
  insertControl(AboutButton);

  bg.setBounds(0, 0, kClientWidth, kClientHeight);
  setupFader(par01, 4, &TPluginEditorWindow::par01PosChange);
  setupFader(par02, 209, &TPluginEditorWindow::par02PosChange);
  About.setBounds(kAboutHiddenLeft, 0, 400, 250);
  AboutButton.setBounds(224, 6, 22, 22);
  AboutButton.setCursor(toolkit::Cursor::Hand);
  AboutButton.setOnClick([this](toolkit::PictureControl* sender) { AboutButtonClick(sender); });

  // Only the pictures the scale needs: the window opens sooner.
  if (scale > 0.0) useScale(scale);
  FormCreate(this);
}

void TPluginEditorWindow::useScale(double scale) {
  using namespace editor_pictures;
  if (scale == 1.0 && !layoutPicturesLoaded_) {
    bg.setPicture(jpeg(kBackgroundJpeg, kBackgroundJpegSize));
    par01.setPicture(bmp(kKnobBmp, kKnobBmpSize));
    par02.setPicture(bmp(kKnobBmp, kKnobBmpSize));
    About.setPicture(jpeg(kAboutJpeg, kAboutJpegSize));
    AboutButton.setPicture(jpeg(kAboutButtonJpeg, kAboutButtonJpegSize));
    layoutPicturesLoaded_ = true;
  }
  if (scale != 1.0 && !highResLoaded_) {
    bg.setHighResPicture(jpeg(kBackground2xJpeg, kBackground2xJpegSize));
    toolkit::Picture knob = bmp(kKnob2xBmp, kKnob2xBmpSize);
    par01.setHighResPicture(knob);
    par02.setHighResPicture(std::move(knob));
    AboutButton.setHighResPicture(jpeg(kAboutButton2xJpeg, kAboutButton2xJpegSize));
    highResLoaded_ = true;
  }
  // A window made at this scale decodes About's large picture when About
  // first shows; one that has About's picture at the layout's size (or
  // shows it) gets it now rather than a scaled copy of that.
  if (scale != 1.0 && (layoutPicturesLoaded_ || About.Left() < kAboutHiddenLeft)) loadAboutHighRes();
  setScale(scale);
}

void TPluginEditorWindow::loadAboutHighRes() {
  if (About.highResPicture().empty())
    About.setHighResPicture(jpeg(editor_pictures::kAbout2xJpeg, editor_pictures::kAbout2xJpegSize));
}

TPluginEditorWindow::~TPluginEditorWindow() {
  // The native window goes before the controls it routes input to.
  destroyNativeWindow();
}

void TPluginEditorWindow::setupFader(TVelFader& fader, int left,
                                     void (TPluginEditorWindow::*handler)(toolkit::PictureControl*)) {
  fader.setBounds(left, kFaderTop, 32, 24);
  fader.setCursor(toolkit::Cursor::Hand);
  fader.setTransparent(true);
  // This order leaves the knob at Top 77, position 0, with nothing announced:
  // the listener comes last.
  fader.setOrientation(orVertical);
  fader.setMaximum(kFaderTravel);
  fader.setVelFPosition(0);
  fader.setStart(kFaderTop);
  fader.setOnPosChange([this, handler](toolkit::PictureControl* sender) { (this->*handler)(sender); });
}

void TPluginEditorWindow::par01PosChange(toolkit::PictureControl*) {
  const float value = positionToValue(par01.VelFPosition());
  paramValues[kParamBuffSize].store(value, std::memory_order_relaxed);
  if (plugin) plugin->setParameterAutomated(kParamBuffSize, value);
}

void TPluginEditorWindow::par02PosChange(toolkit::PictureControl*) {
  const float value = positionToValue(par02.VelFPosition());
  paramValues[kParamVolume].store(value, std::memory_order_relaxed);
  if (plugin) plugin->setParameterAutomated(kParamVolume, value);
}

void TPluginEditorWindow::FormCreate(toolkit::Form*) {}

void TPluginEditorWindow::AboutButtonClick(toolkit::PictureControl*) {
  if (About.Left() >= kAboutHiddenLeft) {
    if (scale() != 1.0) {
      try {
        loadAboutHighRes();
      } catch (...) {
        // Out of memory: About shows without its picture.
      }
    }
    About.setLeft(0);
  } else {
    About.setLeft(kAboutHiddenLeft);
  }
}
