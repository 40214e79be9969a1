// The editor window as a person sees and uses it, on the offscreen backend:
// its layout, its pixels, its faders and the About view.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "editor/EditorTestSupport.h"
#include "editor/uEditorPictures.h"
#include "toolkit/Scale.h"

using toolkit::PointerButton;
using toolkit::Rgb;

namespace {

toolkit::Picture decodeJpeg(const unsigned char* data, size_t size) {
  toolkit::Picture p;
  EXPECT_TRUE(p.loadJpeg(data, size));
  return p;
}

toolkit::Picture knobPicture() {
  toolkit::Picture p;
  EXPECT_TRUE(p.loadBmp(editor_pictures::kKnobBmp, editor_pictures::kKnobBmpSize));
  return p;
}

class EditorWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(instrument.effect(), nullptr);
    window.plugin = instrument.plugin();
    window.paint();
    host.clear();
  }
  // A click with the primary button at a client point.
  void click(int x, int y) {
    window.pointerPress(PointerButton::Primary, x, y);
    window.pointerRelease(PointerButton::Primary, x, y);
  }

  vtest::RecordingHost host;
  etest::Instrument instrument{host};
  TPluginEditorWindow window;
};

TEST_F(EditorWindow, LayoutPlacesEveryControlAndStacksThemBackgroundFirst) {
  EXPECT_EQ(window.Width(), 250);
  EXPECT_EQ(window.Height(), 199);
  EXPECT_EQ(window.Caption(), "Kestrom - 'Vantorel'");
  const auto& z = window.controls();
  ASSERT_EQ(z.size(), 5u);
  EXPECT_EQ(z[0], &window.bg);
  EXPECT_EQ(z[1], &window.par01);
  EXPECT_EQ(z[2], &window.par02);
  EXPECT_EQ(z[3], &window.About);
  EXPECT_EQ(z[4], &window.AboutButton);

  struct Expect {
    const toolkit::PictureControl* c;
    int left, top, width, height, picW, picH;
  } expected[] = {{&window.bg, 0, 0, 250, 199, 250, 200},        {&window.par01, 4, 77, 32, 24, 32, 24},
                  {&window.par02, 209, 77, 32, 24, 32, 24},      {&window.About, 401, 0, 400, 250, 250, 200},
                  {&window.AboutButton, 224, 6, 22, 22, 22, 22}};
  for (const Expect& e : expected) {
    EXPECT_EQ(e.c->Left(), e.left);
    EXPECT_EQ(e.c->Top(), e.top);
    EXPECT_EQ(e.c->Width(), e.width);
    EXPECT_EQ(e.c->Height(), e.height);
    EXPECT_EQ(e.c->picture().width(), e.picW);
    EXPECT_EQ(e.c->picture().height(), e.picH);
  }
  for (const TVelFader* f : {&window.par01, &window.par02}) {
    EXPECT_EQ(f->Orientation(), orVertical);
    EXPECT_EQ(f->Maximum(), 66);
    EXPECT_EQ(f->Start(), 77);
    EXPECT_EQ(f->VelFPosition(), 0);
    EXPECT_TRUE(f->Transparent());
    EXPECT_EQ(f->cursor(), toolkit::Cursor::Hand);
  }
  EXPECT_EQ(window.AboutButton.cursor(), toolkit::Cursor::Hand);
  EXPECT_EQ(window.bg.cursor(), toolkit::Cursor::Arrow);
  // Building the layout announced nothing.
  EXPECT_EQ(host.count(audioMasterAutomate), 0u);
}

// The knob is drawn at Top 77 + position; its key-colour pixels let the
// background through, every other pixel is the knob's own.
TEST_F(EditorWindow, KnobIsDrawnAtItsPositionWithKeyColourLeftOut) {
  const toolkit::Picture knob = knobPicture();
  const toolkit::Picture bgPic = decodeJpeg(editor_pictures::kBackgroundJpeg, editor_pictures::kBackgroundJpegSize);
  const Rgb key = knob.keyColour();
  int keyed = 0;
  for (int position : {0, 17, 66}) {
    window.par01.setVelFPosition(position);
    window.paint();
    const int top = 77 + position;
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 32; ++x) {
        const Rgb k = knob.pixel(x, y);
        const Rgb expected = k == key ? bgPic.pixel(4 + x, top + y) : k;
        ASSERT_EQ(window.frame().pixel(4 + x, top + y), expected) << "position " << position << " at " << x << "," << y;
        keyed += k == key;
      }
    }
    // Where the knob was at position 0 and no longer is, the background is back.
    if (position != 0) {
      for (int x = 0; x < 32; ++x) ASSERT_EQ(window.frame().pixel(4 + x, 77), bgPic.pixel(4 + x, 77));
    }
  }
  EXPECT_GT(keyed, 0) << "the knob picture has transparent corners";
  EXPECT_EQ(window.frame().pixel(240, 198), bgPic.pixel(240, 198)) << "the background shows its top 199 rows";
}

TEST_F(EditorWindow, AboutCoversTheFadersButTheButtonStaysOnTopAndClickable) {
  const toolkit::Picture about = decodeJpeg(editor_pictures::kAboutJpeg, editor_pictures::kAboutJpegSize);
  const toolkit::Picture button = decodeJpeg(editor_pictures::kAboutButtonJpeg, editor_pictures::kAboutButtonJpegSize);
  click(224 + 11, 6 + 11);
  EXPECT_EQ(window.About.Left(), 0);
  window.paint();
  for (int y = 0; y < 199; ++y)
    for (int x = 0; x < 250; ++x) {
      const bool onButton = x >= 224 && x < 246 && y >= 6 && y < 28;
      const Rgb expected = onButton ? button.pixel(x - 224, y - 6) : about.pixel(x, y);
      ASSERT_EQ(window.frame().pixel(x, y), expected) << x << "," << y;
    }

  // A press on a fader's place reaches About: no drag, no parameter change.
  const float before = instrument.getParameter(0);
  window.pointerPress(PointerButton::Primary, 20, 89);
  window.pointerMove(20, 130);
  window.pointerRelease(PointerButton::Primary, 20, 130);
  EXPECT_FALSE(window.par01.dragging());
  EXPECT_EQ(window.par01.Top(), 77);
  EXPECT_EQ(host.count(audioMasterAutomate), 0u);
  EXPECT_EQ(instrument.getParameter(0), before);

  click(224, 6);
  EXPECT_EQ(window.About.Left(), 401);
  window.paint();
  const toolkit::Picture bgPic = decodeJpeg(editor_pictures::kBackgroundJpeg, editor_pictures::kBackgroundJpegSize);
  EXPECT_EQ(window.frame().pixel(120, 120), bgPic.pixel(120, 120));
}

TEST_F(EditorWindow, OnlyAPrimaryClickOnTheButtonTogglesAbout) {
  window.pointerPress(PointerButton::Secondary, 230, 10);
  window.pointerRelease(PointerButton::Secondary, 230, 10);
  EXPECT_EQ(window.About.Left(), 401);
  // Pressed on the button, released beside it: no click.
  window.pointerPress(PointerButton::Primary, 230, 10);
  window.pointerRelease(PointerButton::Primary, 200, 10);
  EXPECT_EQ(window.About.Left(), 401);
  click(245, 27);  // the button's last pixel
  EXPECT_EQ(window.About.Left(), 0);
  click(246, 27);  // just beside it: About itself, which does nothing
  EXPECT_EQ(window.About.Left(), 0);
  click(224, 6);
  EXPECT_EQ(window.About.Left(), 401);
}

TEST_F(EditorWindow, HandlersSendPositionOver66ToTheirOwnParameter) {
  struct Case {
    int position;
    float value;
  } cases[] = {{33, 0.5f}, {66, 1.0f}, {0, 0.0f}, {16, static_cast<float>(16.0L / 66.0L)}};
  for (const Case& c : cases) {
    host.clear();
    window.par01.setVelFPosition(c.position);
    EXPECT_EQ(window.paramValues[0].load(), c.value);
    const auto sent = etest::automations(host);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].index, 0);
    EXPECT_EQ(sent[0].value, c.value);
    EXPECT_EQ(instrument.getParameter(0), c.value);
  }
  const float speed = instrument.getParameter(2);
  const float buff = instrument.getParameter(0);
  host.clear();
  window.par02.setVelFPosition(50);
  const auto sent = etest::automations(host);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].index, 1);
  EXPECT_EQ(sent[0].value, static_cast<float>(50.0L / 66.0L));
  EXPECT_EQ(instrument.getParameter(1), static_cast<float>(50.0L / 66.0L));
  EXPECT_EQ(instrument.getParameter(0), buff);
  EXPECT_EQ(instrument.getParameter(2), speed);
}

// Every position's value, once sent, brings the knob back to the same
// position: idle never creeps a knob the user set.
TEST_F(EditorWindow, EveryPositionSurvivesTheRoundTripThroughItsValue) {
  for (int p = 0; p <= 66; ++p) {
    window.par01.setVelFPosition(p);
    const double product = static_cast<double>(window.paramValues[0].load()) * 66.0;
    EXPECT_EQ(std::nearbyint(product), p);
    EXPECT_NE(std::fabs(product - p), 0.5);
  }
}

// A drag with the pointer, through the form's input routing.
TEST_F(EditorWindow, DraggingAKnobMovesItUnderThePointerAndAutomatesEachMove) {
  // Press 10 pixels into the knob (client y 87), then move to client y 117:
  // relative y 40 > 10, so Top = 77 + 40 - 12 = 105, position 28.
  window.pointerPress(PointerButton::Primary, 20, 87);
  EXPECT_TRUE(window.par01.dragging());
  EXPECT_EQ(host.count(audioMasterAutomate), 0u) << "a press alone sends nothing";
  window.pointerMove(20, 117);
  EXPECT_EQ(window.par01.Top(), 105);
  EXPECT_EQ(window.par01.VelFPosition(), 28);
  auto sent = etest::automations(host);
  ASSERT_EQ(sent.size(), 2u) << "an accepted move notifies twice";
  for (const auto& a : sent) {
    EXPECT_EQ(a.index, 0);
    EXPECT_EQ(a.value, static_cast<float>(28.0L / 66.0L));
  }
  // Far below the window: captured, clamped to the end of travel.
  window.pointerMove(20, 400);
  EXPECT_EQ(window.par01.Top(), 143);
  EXPECT_EQ(window.par01.VelFPosition(), 66);
  host.clear();
  window.pointerRelease(PointerButton::Primary, 20, 400);
  EXPECT_FALSE(window.par01.dragging());
  EXPECT_EQ(host.count(audioMasterAutomate), 0u) << "the release sends nothing";
  EXPECT_EQ(instrument.getParameter(0), 1.0f);
  EXPECT_EQ(window.par02.Top(), 77) << "the other fader did not move";
  // After the release, moves over the knob do nothing.
  window.pointerMove(20, 150);
  EXPECT_EQ(host.count(audioMasterAutomate), 0u);
}

TEST_F(EditorWindow, PicturesAreDrawnAtTheirOwnSizeClippedToTheirControl) {
  const toolkit::Picture about = decodeJpeg(editor_pictures::kAboutJpeg, editor_pictures::kAboutJpegSize);
  EXPECT_EQ(about.width(), 250);
  EXPECT_EQ(about.height(), 200);
  // The 400 x 250 About control at 0, 0 shows its 250 x 200 picture from its
  // corner; the window's 199 rows cut the last picture row.
  click(230, 10);
  window.paint();
  EXPECT_EQ(window.frame().pixel(0, 0), about.pixel(0, 0));
  EXPECT_EQ(window.frame().pixel(249, 198), about.pixel(249, 198));
}

// Leaves what the editor looks like in the build folder for people to look
// at, and reads it back: the files hold exactly the frame.
TEST_F(EditorWindow, ScreenshotsHoldTheFrame) {
  window.par01.setVelFPosition(40);
  window.par02.setVelFPosition(12);
  const std::string dir = vtest::buildDir();
  for (const char* name : {"editor-offscreen.png", "editor-offscreen-about.png"}) {
    window.paint();
    const std::string path = dir + "/" + name;
    ASSERT_TRUE(etest::writePng(window.frame(), path)) << path;
    EXPECT_EQ(etest::differences(etest::readPng(path), window.frame()), 0) << path;
    click(230, 10);  // the second shows the About view
  }
}

}  // namespace

namespace {

// At a display scale the window shows the layout scaled: exactly what the
// picture script composes for the same state, size included.
TEST(ScaledEditorWindow, ShowsWhatThePictureScriptComposes) {
  for (const etest::ReferenceState& r : etest::kReferences) {
    TPluginEditorWindow w(r.scale);
    w.par01.setVelFPosition(r.position1);
    w.par02.setVelFPosition(r.position2);
    if (r.about) w.AboutButtonClick(nullptr);
    w.paint();
    std::string where;
    EXPECT_EQ(etest::differences(w.frame(), etest::referenceEditor(r.scale, r.position1, r.position2, r.about), &where),
              0)
        << "scale " << r.scale << (r.about ? " with About" : "") << ", first at " << where;
  }
  // At 2 in the state of docs/editor.png, left in the build folder (it is
  // docs/editor-2x.png).
  TPluginEditorWindow w(2.0);
  w.par01.setVelFPosition(23);
  w.par02.setVelFPosition(13);
  w.paint();
  EXPECT_TRUE(etest::writePng(w.frame(), vtest::buildDir() + std::string("/editor-offscreen-2x.png")));
}

// Key-colour transparency at every scale: the knob has holes where the
// background shows, and no pixel of it blends the key into the knob's
// colours (a fringe), which would lie outside the range of those colours.
TEST(ScaledEditorWindow, KnobLetsTheBackgroundThroughWithoutAFringe) {
  toolkit::Picture knob;
  ASSERT_TRUE(knob.loadBmp(editor_pictures::kKnob2xBmp, editor_pictures::kKnob2xBmpSize));
  const Rgb key = knobPicture().keyColour();
  int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  auto channels = [](Rgb c) { return std::vector<int>{c.r, c.g, c.b}; };
  for (int y = 0; y < knob.height(); ++y)
    for (int x = 0; x < knob.width(); ++x) {
      const std::vector<int> c = channels(knob.pixel(x, y));
      for (int ch = 0; knob.pixel(x, y) != key && ch < 3; ++ch) {
        lo[ch] = std::min(lo[ch], c[ch]);
        hi[ch] = std::max(hi[ch], c[ch]);
      }
    }
  for (double scale : {1.25, 1.5, 2.0, 2.5, 3.0, 4.0}) {
    TPluginEditorWindow w(scale);
    w.paint();
    const toolkit::Picture& k = w.par01.scaledPicture();
    const int left = toolkit::toPixels(4, scale), top = toolkit::toPixels(77, scale);
    EXPECT_EQ(k.pixel(0, k.height() - 1), key) << "rounded corners stay holes at " << scale;
    for (int y = 0; y < k.height(); ++y)
      for (int x = 0; x < k.width(); ++x) {
        const Rgb c = k.pixel(x, y), shown = w.frame().pixel(left + x, top + y);
        ASSERT_EQ(shown, c == key ? w.bg.scaledPicture().pixel(left + x, top + y) : c) << scale;
        for (int ch = 0; c != key && ch < 3; ++ch)
          ASSERT_TRUE(channels(c)[ch] >= lo[ch] && channels(c)[ch] <= hi[ch]) << "fringe at " << scale << ": " << x << "," << y;
      }
  }
}

// The pointer maps back to layout pixels before the faders see it: the same
// drag, from whichever window pixel of each layout point, sets the same
// values at every scale.
TEST(ScaledEditorWindow, ADragSetsTheSameValuesAtEveryScale) {
  const int path[][2] = {{20, 89}, {20, 95}, {21, 119}, {20, 60}, {19, 150}, {20, 400}, {20, 100}};
  std::vector<float> atOne;
  for (double scale : {1.0, 1.25, 1.5, 2.0, 3.0}) {
    vtest::RecordingHost host;
    etest::Instrument instrument{host};
    TPluginEditorWindow w(scale);
    w.plugin = instrument.plugin();
    // Alternately the first and the last window pixel of the layout pixel.
    auto px = [scale](int v, bool last) { return last ? toolkit::toPixels(v + 1, scale) - 1 : toolkit::toPixels(v, scale); };
    const int n = static_cast<int>(sizeof path / sizeof path[0]);
    for (int i = 0; i < n; ++i) {
      const int x = px(path[i][0], i % 2), y = px(path[i][1], i % 2);
      if (i == 0) w.pointerPress(PointerButton::Primary, x, y);
      else if (i == n - 1) w.pointerRelease(PointerButton::Primary, x, y);
      else w.pointerMove(x, y);
    }
    std::vector<float> values;
    for (const etest::Automation& a : etest::automations(host)) values.push_back(a.value);
    if (scale == 1.0) atOne = values;
    else EXPECT_EQ(values, atOne) << "scale " << scale;
    EXPECT_EQ(w.par01.VelFPosition(), 66) << scale;
  }
  EXPECT_GT(atOne.size(), 6u);
}

}  // namespace
