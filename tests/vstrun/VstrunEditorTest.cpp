// `vstrun editor` end to end, in real windows: Win32 (under Wine) and X11
// (under Xvfb). Vantorel's editor photographed by vstrun must show exactly
// the offscreen rendering of the same fader positions; a fixture editor
// checks the display scale and the host's answer to size requests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "VstrunProcess.h"
#include "editor/EditorTestSupport.h"
#include "support/TestHost.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif
#if !defined(_WIN32) && defined(VSTRUN_TEST_X11)
// Last: Xlib defines macros (None, Status, Bool) that other headers use as names.
#include <X11/Xlib.h>
#endif

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

// Asks the top-level window titled title to close, as a window manager's
// close button does, as soon as it exists; false when none appears in 20 s.
bool closeWindowTitled(const std::string& title) {
  for (int attempt = 0; attempt < 400; ++attempt) {
#ifdef _WIN32
    if (HWND w = FindWindowA(nullptr, title.c_str())) return PostMessageW(w, WM_CLOSE, 0, 0) != 0;
#elif defined(VSTRUN_TEST_X11)
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && !found; ++i) {
      char* name = nullptr;
      if (XFetchName(d, children[i], &name) && name) {
        if (title == name) found = children[i];
        XFree(name);
      }
    }
    if (children) XFree(children);
    if (found) {
      XEvent e{};
      e.xclient.type = ClientMessage;
      e.xclient.window = found;
      e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
      e.xclient.format = 32;
      e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
      XSendEvent(d, found, False, NoEventMask, &e);
      XSync(d, False);
    }
    XCloseDisplay(d);
    if (found) return true;
#else
    return false;
#endif
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class VstrunEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display (run under Xvfb)";
#ifndef _WIN32
    // 32-bit builds run where only the 64-bit libX11 may be installed.
    if (!dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL)) GTEST_SKIP() << "no libX11 for this build's architecture";
#endif
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

TEST_F(VstrunEditor, PhotographsVantorelAtTheScaleItSends) {
  // At 2 the editor draws its 2x pictures: the screenshot is the scaled
  // window, pixel for pixel what the picture script composed.
  const std::string shot = path("editor-2x.png");
  const ProcessResult r = runVstrun({"editor", vtest::modulePath(), "--seconds", "0.3", "--scale", "2", "--param",
                                     "Buff Size=0.5", "--param", "Volume=1", "--screenshot", shot});
  ASSERT_EQ(r.status, 0) << r.err;
  const toolkit::Picture expected = etest::referenceEditor(2.0, 33, 66, false);
  ASSERT_EQ(expected.width(), 500);
  std::string first;
  EXPECT_EQ(etest::differences(etest::readPng(shot), expected, &first), 0) << "first at " << first;
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

#if defined(_WIN32) || defined(VSTRUN_TEST_X11)
TEST_F(VstrunEditor, ClosesWhenTheWindowIsClosedAndStillPhotographsIt) {
  // A name no other test's window has.
#ifdef _WIN32
  const std::string name = "Sizer " + std::to_string(GetCurrentProcessId());
  SetEnvironmentVariableA("VSTRUN_SIZER_NAME", name.c_str());
#else
  const std::string name = "Sizer " + std::to_string(getpid());
  setenv("VSTRUN_SIZER_NAME", name.c_str(), 1);
#endif
  ProcessResult r;
  const auto start = std::chrono::steady_clock::now();
  std::thread run([&] {
    r = runVstrun({"editor", vtest::fixturePath("Sizer"), "--seconds", "120", "--screenshot", path("closed.png")});
  });
  const bool asked = closeWindowTitled("vstrun - " + name);
  run.join();
  ASSERT_TRUE(asked) << "no window titled \"vstrun - " << name << "\"; " << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 60.0) << "the close was not honoured";
  EXPECT_EQ(etest::differences(etest::readPng(path("closed.png")), sizerPicture(120, 80, 20)), 0);
}
#endif

#ifndef _WIN32
TEST_F(VstrunEditor, CountsTheEditorsXErrorsAndCarriesOn) {
  // Xlib's own handler would end vstrun on the first.
  setenv("VSTRUN_SIZER_BAD_REQUEST", "1", 1);
  const ProcessResult r =
      runVstrun({"editor", vtest::fixturePath("Sizer"), "--seconds", "0.2", "--screenshot", path("shot.png")});
  unsetenv("VSTRUN_SIZER_BAD_REQUEST");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("vstrun: warning: the editor caused 1 X error, the first BadWindow"), std::string::npos) << r.err;
  EXPECT_EQ(etest::differences(etest::readPng(path("shot.png")), sizerPicture(120, 80, 20)), 0);
}

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
