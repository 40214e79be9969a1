// The portable toolkit: picture decoding, painting and pointer routing.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "editor/uEditorPictures.h"
#include "support/TestHost.h"
#include "toolkit/Form.h"

using toolkit::Form;
using toolkit::Picture;
using toolkit::PictureControl;
using toolkit::PointerButton;
using toolkit::Rect;
using toolkit::Rgb;

namespace {

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A 24-bit BMP of w x h with pixel (x, y) = {x*40, y*40, 7}; rows padded.
std::vector<uint8_t> makeBmp(int w, int h, bool topDown, int bits = 24) {
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
  std::vector<uint8_t> b(54 + stride * h, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, static_cast<uint32_t>(b.size()));
  put32(b, 10, 54);
  put32(b, 14, 40);
  put32(b, 18, static_cast<uint32_t>(w));
  put32(b, 22, static_cast<uint32_t>(topDown ? -h : h));
  b[26] = 1;
  b[28] = static_cast<uint8_t>(bits);
  for (int y = 0; y < h; ++y) {
    const int fileRow = topDown ? y : h - 1 - y;
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &b[54 + stride * fileRow + x * 3];
      p[0] = 7;
      p[1] = static_cast<uint8_t>(y * 40);
      p[2] = static_cast<uint8_t>(x * 40);
    }
    // Padding bytes that must never show up as pixels.
    for (size_t i = static_cast<size_t>(w) * 3; i < stride; ++i) b[54 + stride * fileRow + i] = 0xEE;
  }
  return b;
}

TEST(Picture, DecodesBottomUpAndTopDownBitmapsWithPaddedRows) {
  for (bool topDown : {false, true}) {
    const auto data = makeBmp(3, 2, topDown);
    Picture p;
    ASSERT_TRUE(p.loadBmp(data.data(), data.size()));
    ASSERT_EQ(p.width(), 3);
    ASSERT_EQ(p.height(), 2);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x)
        EXPECT_EQ(p.pixel(x, y), (Rgb{static_cast<uint8_t>(x * 40), static_cast<uint8_t>(y * 40), 7}));
    EXPECT_EQ(p.keyColour(), (Rgb{0, 40, 7})) << "the key colour is the bottom-left pixel";
  }
}

TEST(Picture, RefusesBitmapsItCannotDrawAndNeverReadsPastTheData) {
  auto good = makeBmp(5, 4, false);
  Picture p;
  std::vector<uint8_t> truncated(good.begin(), good.end() - 3);
  EXPECT_FALSE(p.loadBmp(truncated.data(), truncated.size()));
  EXPECT_TRUE(p.empty());
  auto eightBit = makeBmp(5, 4, false, 8);
  EXPECT_FALSE(p.loadBmp(eightBit.data(), eightBit.size()));
  auto compressed = good;
  compressed[30] = 1;  // BI_RLE8
  EXPECT_FALSE(p.loadBmp(compressed.data(), compressed.size()));
  auto huge = good;
  put32(huge, 18, 0x7FFFFFFF);
  EXPECT_FALSE(p.loadBmp(huge.data(), huge.size()));
  auto badOffset = good;
  put32(badOffset, 10, 0xFFFFFFF0u);
  EXPECT_FALSE(p.loadBmp(badOffset.data(), badOffset.size()));
  EXPECT_FALSE(p.loadBmp(good.data(), 20));
  EXPECT_FALSE(p.loadBmp(nullptr, 0));
}

TEST(Picture, DecodesTheEditorsJpegsAndRejectsBrokenOnesWithoutDying) {
  Picture p;
  ASSERT_TRUE(p.loadJpeg(editor_pictures::kBackgroundJpeg, editor_pictures::kBackgroundJpegSize));
  EXPECT_EQ(p.width(), 250);
  EXPECT_EQ(p.height(), 200);
  ASSERT_TRUE(p.loadJpeg(editor_pictures::kAboutButtonJpeg, editor_pictures::kAboutButtonJpegSize));
  EXPECT_EQ(p.width(), 22);
  EXPECT_EQ(p.height(), 22);

  const uint8_t garbage[] = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0x13, 0x37, 0x00};
  EXPECT_FALSE(p.loadJpeg(garbage, sizeof garbage));
  EXPECT_TRUE(p.empty());
  // Header only: libjpeg runs out of data; we must come back, not exit.
  std::vector<uint8_t> cut(editor_pictures::kAboutJpeg, editor_pictures::kAboutJpeg + 300);
  p.loadJpeg(cut.data(), cut.size());
  const uint8_t notJpeg[] = "BM not a jpeg";
  EXPECT_FALSE(p.loadJpeg(notJpeg, sizeof notJpeg));
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The module embeds exactly the committed picture files (the generated
// source must be regenerated whenever the pictures change).
TEST(Picture, EmbeddedPicturesMatchTheCommittedFiles) {
  const std::string dir = std::string(vtest::sourceDir()) + "/src/editor/pictures/";
  struct {
    const char* name;
    const unsigned char* data;
    size_t size;
  } files[] = {{"background.jpg", editor_pictures::kBackgroundJpeg, editor_pictures::kBackgroundJpegSize},
               {"about.jpg", editor_pictures::kAboutJpeg, editor_pictures::kAboutJpegSize},
               {"about_button.jpg", editor_pictures::kAboutButtonJpeg, editor_pictures::kAboutButtonJpegSize},
               {"knob.bmp", editor_pictures::kKnobBmp, editor_pictures::kKnobBmpSize}};
  for (const auto& f : files) {
    const auto disk = readFile(dir + f.name);
    ASSERT_FALSE(disk.empty()) << f.name;
    EXPECT_EQ(disk, std::vector<uint8_t>(f.data, f.data + f.size)) << f.name;
  }
}

// --- Form ------------------------------------------------------------------

const Rgb kRed{255, 0, 0}, kBlue{0, 0, 255}, kKey{255, 0, 255}, kGrey{9, 9, 9};

class Recorder : public PictureControl {
 public:
  struct Event {
    char kind;
    int x, y;
  };
  void pointerPress(PointerButton, int x, int y) override { events.push_back({'p', x, y}); }
  void pointerMove(int x, int y) override { events.push_back({'m', x, y}); }
  void pointerRelease(PointerButton, int x, int y) override { events.push_back({'r', x, y}); }
  std::vector<Event> events;
};

class FormTest : public ::testing::Test {
 protected:
  FormTest() : form(40, 30) {
    form.setColor(kGrey);
    form.insertControl(below);
    form.insertControl(above);
    below.setBounds(0, 0, 20, 20);
    below.setPicture(Picture(30, 30, kRed));  // larger than the control: clipped
    above.setBounds(10, 10, 10, 10);
    Picture pic(6, 6, kBlue);
    pic.setPixel(0, 5, kKey);  // bottom-left: the key
    pic.setPixel(3, 3, kKey);
    above.setPicture(pic);  // smaller than the control: the rest is not drawn
    above.setTransparent(true);
    above.setOnClick([this](PictureControl*) { ++clicks; });
    form.paint();
  }
  Form form;
  Recorder below, above;
  int clicks = 0;
};

TEST_F(FormTest, PaintsInZOrderClippedToControlsWithKeyColourLeftOut) {
  const Picture& f = form.frame();
  EXPECT_EQ(f.pixel(19, 19), kRed) << "the picture is clipped at the control's edge";
  EXPECT_EQ(f.pixel(20, 5), kGrey);
  EXPECT_EQ(f.pixel(10, 10), kBlue);
  EXPECT_EQ(f.pixel(13, 13), kRed) << "key colour inside the picture lets the control below through";
  EXPECT_EQ(f.pixel(10, 15), kRed) << "the key pixel itself";
  EXPECT_EQ(f.pixel(17, 17), kRed) << "beyond a small picture the control draws nothing";
  above.setTransparent(false);
  form.paint();
  EXPECT_EQ(form.frame().pixel(13, 13), kKey);
}

TEST_F(FormTest, MovingInvalidatesOldAndNewAreaAndStayingPutInvalidatesNothing) {
  EXPECT_TRUE(form.invalidRect().empty());
  above.setTop(10);
  above.setBounds(10, 10, 10, 10);
  EXPECT_TRUE(form.invalidRect().empty());
  above.setLeft(25);
  EXPECT_EQ(form.invalidRect(), (Rect{10, 10, 35, 20}));
  // Only the invalid area is painted: a pixel outside it keeps what it had.
  const Rect painted = form.paint();
  EXPECT_EQ(painted, (Rect{10, 10, 35, 20}));
  EXPECT_EQ(form.frame().pixel(25, 10), kBlue);
  EXPECT_EQ(form.frame().pixel(10, 10), kRed);
  // Off the form: clipped to the client area.
  above.setTop(100);
  EXPECT_EQ(form.invalidRect(), (Rect{25, 10, 35, 20}));
}

TEST_F(FormTest, PressGoesToTheTopmostControlWhichKeepsThePointerUntilRelease) {
  form.pointerPress(PointerButton::Primary, 12, 13);
  ASSERT_EQ(above.events.size(), 1u);
  EXPECT_EQ(above.events[0].x, 2);
  EXPECT_EQ(above.events[0].y, 3);
  EXPECT_TRUE(below.events.empty());
  EXPECT_EQ(form.captured(), &above);
  // Outside every control, even outside the form: still the captured one,
  // relative to where it stands now.
  above.setLeft(11);
  form.pointerMove(-5, 50);
  ASSERT_EQ(above.events.size(), 2u);
  EXPECT_EQ(above.events[1].x, -16);
  EXPECT_EQ(above.events[1].y, 40);
  form.pointerRelease(PointerButton::Primary, 3, 3);
  EXPECT_EQ(above.events.back().kind, 'r');
  EXPECT_EQ(form.captured(), nullptr);
  EXPECT_EQ(clicks, 0) << "released over another control";
  EXPECT_TRUE(below.events.empty());
  // Without capture, moves go to whatever lies under the pointer.
  form.pointerMove(3, 3);
  EXPECT_EQ(below.events.size(), 1u);
}

TEST_F(FormTest, ClickNeedsAPrimaryPressAndReleaseOverTheSameControl) {
  form.pointerPress(PointerButton::Primary, 12, 12);
  form.pointerRelease(PointerButton::Primary, 19, 19);
  EXPECT_EQ(clicks, 1);
  form.pointerPress(PointerButton::Secondary, 12, 12);
  form.pointerRelease(PointerButton::Secondary, 12, 12);
  EXPECT_EQ(clicks, 1);
  form.pointerPress(PointerButton::Primary, 12, 12);
  form.cancelPointer();
  EXPECT_EQ(above.events.back().kind, 'r') << "a cancelled press still ends with a release";
  form.pointerRelease(PointerButton::Primary, 12, 12);
  EXPECT_EQ(clicks, 1) << "no click after the platform took the pointer away";
  EXPECT_EQ(form.cursorAt(12, 12), toolkit::Cursor::Arrow);
  above.setCursor(toolkit::Cursor::Hand);
  EXPECT_EQ(form.cursorAt(12, 12), toolkit::Cursor::Hand);
  EXPECT_EQ(form.cursorAt(5, 5), toolkit::Cursor::Arrow);
}

}  // namespace
