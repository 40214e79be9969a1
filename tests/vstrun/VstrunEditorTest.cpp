// `vstrun editor` end to end, in real windows: Win32 (under Wine) and X11
// (under Xvfb). Vantorel's editor photographed by vstrun must show exactly
// the offscreen rendering of the same fader positions; a fixture editor
// checks the display scale and the host's answer to size requests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "VstrunProcess.h"
#include "editor/EditorTestSupport.h"
#include "support/TestHost.h"

namespace {

using vtest::ProcessResult;
using vtest::runVstrun;

// A failure: non-zero, exactly one line on stderr naming the problem.
::testing::AssertionResult failsWith(const ProcessResult& r, const std::string& text) {
  if (r.status <= 0 || r.status >= 128) return ::testing::AssertionFailure() << "exit status " << r.status;
  if (r.err.rfind("vstrun: ", 0) != 0 || r.err.find('\n') != r.err.size() - 1)
    return ::testing::AssertionFailure() << "stderr is not one vstrun line: [" << r.err << "]";
  if (r.err.find(text) == std::string::npos) return ::testing::AssertionFailure() << "no \"" << text << "\" in " << r.err;
  return ::testing::AssertionSuccess();
}

class VstrunEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display (run under Xvfb)";
    dir = vtest::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }

  // The fixture's picture: its colour, and its marker in the bottom-right
  // corner, at this size.
  static toolkit::Picture sizerPicture(int width, int height, int marker) {
    toolkit::Picture p(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const bool inMarker = x >= width - marker && y >= height - marker;
        p.setPixel(x, y, inMarker ? toolkit::Rgb{0xCC, 0x66, 0x33} : toolkit::Rgb{0x33, 0x66, 0xCC});
      }
    return p;
  }

  std::string dir;
};

TEST_F(VstrunEditor, ShowsVantorelsOwnPixelsWithTheFadersWhereTheParametersPutThem) {
  const std::string shot = path("editor.png");
  const ProcessResult r = runVstrun({"editor", vtest::modulePath(), "--seconds", "0.3", "--param", "Buff Size=0.5",
                                     "--param", "Volume=1", "--screenshot", shot});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "wrote " + shot + "\n");
  std::string first;
  // The defaults (1 and 0) would put the faders at 66 and 0.
  EXPECT_EQ(etest::differences(etest::readPng(shot), etest::offscreenEditor(33, 66, false), &first), 0)
      << "first at " << first;

  // A plug-in without an editor, a screenshot that cannot be written, a scale out of range.
  EXPECT_TRUE(failsWith(runVstrun({"editor", vtest::fixturePath("Probe"), "--seconds", "0.1"}), "no editor"));
  EXPECT_TRUE(failsWith(
      runVstrun({"editor", vtest::modulePath(), "--seconds", "0.1", "--screenshot", path("no/folder/x.png")}),
      "cannot write the screenshot"));
  EXPECT_FALSE(vtest::fileExists(path("no/folder/x.png")));
  EXPECT_TRUE(failsWith(runVstrun({"editor", vtest::modulePath(), "--scale", "0.5"}), "--scale must be from 1 to 8"));
}

TEST_F(VstrunEditor, SendsTheScaleFirstAndGrowsTheWindowWhenTheEditorAsks) {
  // No scale sent: the fixture opens at 120 x 80 and, with Width 0, stays so.
  const ProcessResult plain = runVstrun({"editor", vtest::fixturePath("Sizer"), "--seconds", "0.2", "--param",
                                         "Width=0", "--screenshot", path("plain.png")});
  ASSERT_EQ(plain.status, 0) << plain.err;
  std::string first;
  EXPECT_EQ(etest::differences(etest::readPng(path("plain.png")), sizerPicture(120, 80, 20), &first), 0)
      << "first at " << first;

  // At 1.5 it opens at 180 x 120 and then asks for (120 + 80) x 1.5 = 300
  // pixels of width: the screenshot is the grown window, marker in its corner.
  const ProcessResult grown = runVstrun({"editor", vtest::fixturePath("Sizer"), "--seconds", "0.3", "--scale", "1.5",
                                         "--param", "Width=1", "--screenshot", path("grown.png")});
  ASSERT_EQ(grown.status, 0) << grown.err;
  EXPECT_EQ(grown.err, "");
  EXPECT_EQ(etest::differences(etest::readPng(path("grown.png")), sizerPicture(300, 120, 30), &first), 0)
      << "first at " << first;
}

#ifndef _WIN32
TEST(VstrunEditorX11, WithoutADisplaySaysSoInOneLine) {
  const std::string shot = vtest::scratchDir("WithoutADisplay") + "/shot.png";
  const char* display = std::getenv("DISPLAY");
  const std::string kept = display ? display : "";
  unsetenv("DISPLAY");
  const ProcessResult r = runVstrun({"editor", vtest::modulePath(), "--screenshot", shot});
  if (display) setenv("DISPLAY", kept.c_str(), 1);
  EXPECT_TRUE(failsWith(r, "DISPLAY is not set"));
  EXPECT_FALSE(vtest::fileExists(shot));
}
#endif

}  // namespace
