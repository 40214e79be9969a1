// The editor in real X11 windows (Xvfb here): the built module opened inside
// a host window through the dispatcher, fed pointer events through its
// idle, its pixels read back and compared with the offscreen rendering.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "editor/EditorTestSupport.h"

// Last: Xlib defines macros (None, Status, Bool) that other headers use as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

class X11Editor : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display (run under Xvfb)";
    // A desktop's own scale must not reach the windows these tests expect.
    etest::setEnvironment("GDK_SCALE", nullptr);
    etest::setEnvironment("VANTOREL_SCALE", nullptr);
    display = XOpenDisplay(nullptr);
    if (!display) GTEST_SKIP() << "cannot open the display";
    host = XCreateSimpleWindow(display, DefaultRootWindow(display), 20, 20, 400, 300, 0, 0,
                               WhitePixel(display, DefaultScreen(display)));
    XMapWindow(display, host);
    XSync(display, False);
    plugin = std::make_unique<vtest::PluginInstance>(recorder);
    ASSERT_TRUE(plugin->ok()) << plugin->error();
  }
  void TearDown() override {
    plugin.reset();
    if (display) {
      if (host) XDestroyWindow(display, host);
      XCloseDisplay(display);
    }
  }

  VstIntPtr sendScale(double factor) {
    return plugin->dispatch(effVendorSpecific, etest::kScaleIndex, etest::kScaleValue, nullptr,
                            static_cast<float>(factor));
  }

  void* parentHandle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(host)); }

  // The editor's window: the host window's only child.
  Window editorChild() {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XSync(display, False);
    if (!XQueryTree(display, host, &root, &parent, &children, &count)) return 0;
    const Window child = count == 1 ? children[0] : 0;
    if (children) XFree(children);
    return child;
  }

  // Idle calls as a host makes them, with the server caught up in between.
  void idle(int times = 3) {
    for (int i = 0; i < times; ++i) {
      XSync(display, False);
      plugin->dispatch(effEditIdle);
    }
    XSync(display, False);
  }

  toolkit::Picture grab(Window w) {
    XWindowAttributes a;
    XGetWindowAttributes(display, w, &a);
    XImage* image = XGetImage(display, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    toolkit::Picture out(a.width, a.height);
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x) {
        const unsigned long v = XGetPixel(image, x, y);
        out.setPixel(x, y, toolkit::Rgb{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
      }
    XDestroyImage(image);
    return out;
  }

  void send(Window w, int type, int x, int y, unsigned button = 1) {
    XEvent e{};
    if (type == MotionNotify) {
      e.xmotion.type = MotionNotify;
      e.xmotion.window = w;
      e.xmotion.x = x;
      e.xmotion.y = y;
      e.xmotion.state = Button1Mask;
      XSendEvent(display, w, False, PointerMotionMask, &e);
    } else {
      e.xbutton.type = type;
      e.xbutton.window = w;
      e.xbutton.x = x;
      e.xbutton.y = y;
      e.xbutton.button = button;
      XSendEvent(display, w, False, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &e);
    }
    XSync(display, False);
  }

  Display* display = nullptr;
  Window host = 0;
  vtest::RecordingHost recorder;
  std::unique_ptr<vtest::PluginInstance> plugin;
};

TEST_F(X11Editor, OpensAsAChildAtTheCornerAndShowsTheOffscreenPixels) {
  ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, parentHandle()), 1);
  const Window child = editorChild();
  ASSERT_NE(child, 0u);
  XWindowAttributes a;
  ASSERT_TRUE(XGetWindowAttributes(display, child, &a));
  EXPECT_EQ(a.x, 0);
  EXPECT_EQ(a.y, 0);
  EXPECT_EQ(a.width, 250);
  EXPECT_EQ(a.height, 199);
  EXPECT_EQ(a.border_width, 0);
  EXPECT_EQ(a.map_state, IsViewable);
  ERect* r = nullptr;
  ASSERT_EQ(plugin->dispatch(effEditGetRect, 0, 0, &r), 1);
  EXPECT_EQ(r->bottom, 199);
  EXPECT_EQ(r->right, 250);

  plugin->setParameter(0, 0.5f);
  plugin->setParameter(1, 1.0f);
  idle();
  EXPECT_EQ(etest::differences(grab(child), etest::offscreenEditor(33, 66, false)), 0);

  plugin->dispatch(effEditClose);
  EXPECT_EQ(editorChild(), 0u) << "closing removes the window";
}

TEST_F(X11Editor, PointerEventsDragTheFaderAndTheButtonShowsAbout) {
  ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, parentHandle()), 1);
  const Window child = editorChild();
  ASSERT_NE(child, 0u);
  plugin->setParameter(0, 0.0f);
  idle();
  recorder.clear();
  // Press 12 pixels into par01's knob, then drag 30 pixels down.
  send(child, ButtonPress, 20, 89);
  send(child, MotionNotify, 20, 119);
  send(child, ButtonRelease, 20, 119);
  idle(1);
  const float dragged = static_cast<float>(30.0L / 66.0L);
  EXPECT_EQ(plugin->getParameter(0), dragged);
  const auto sent = etest::automations(recorder);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent.front().index, 0);
  EXPECT_EQ(sent.front().value, dragged);
  EXPECT_EQ(etest::differences(grab(child), etest::offscreenEditor(30, 0, false)), 0);

  send(child, ButtonPress, 235, 17);
  send(child, ButtonRelease, 235, 17);
  idle(1);
  EXPECT_EQ(etest::differences(grab(child), etest::offscreenEditor(30, 0, true)), 0);
  send(child, ButtonPress, 235, 17);
  send(child, ButtonRelease, 235, 17);
  idle(1);
  EXPECT_EQ(etest::differences(grab(child), etest::offscreenEditor(30, 0, false)), 0);
}

TEST_F(X11Editor, ABadParentOrAVanishedOneNeverTakesTheHostDown) {
  // No such window: the host is told the editor did not open, and an idle
  // finds nothing to do.
  EXPECT_EQ(plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(uintptr_t{0x1FFFFFF0})), 0);
  recorder.clear();
  idle();
  EXPECT_EQ(recorder.count(audioMasterAutomate), 0u);
  plugin->dispatch(effEditClose);

  // No display to reach: the same.
  const std::string ours = std::getenv("DISPLAY");
  setenv("DISPLAY", ":9999", 1);
  const VstIntPtr withoutDisplay = plugin->dispatch(effEditOpen, 0, 0, parentHandle());
  setenv("DISPLAY", ours.c_str(), 1);
  EXPECT_EQ(withoutDisplay, 0);
  EXPECT_EQ(editorChild(), 0u);

  // The host destroys its window (and ours with it) before closing the editor.
  ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, parentHandle()), 1);
  ASSERT_NE(editorChild(), 0u);
  XDestroyWindow(display, host);
  host = 0;
  XSync(display, False);
  plugin->setParameter(1, 0.5f);
  idle();
  plugin->dispatch(effEditClose);
  EXPECT_EQ(plugin->getParameter(1), 0.5f);
}

}  // namespace

namespace {

// At each of the host's scales, the first sent before the open and the
// others while it is open: the scaled size, asked of the host once, and
// exactly the picture script's pixels. A drag at 2 gives the value of the
// same drag at 1.
TEST_F(X11Editor, AtTheHostsScalesTheWindowIsScaledSharpAndDraggable) {
  XResizeWindow(display, host, 800, 640);  // room at every scale, as a host gives
  plugin->setParameter(0, 0.5f);
  plugin->setParameter(1, 1.0f);
  Window child = 0;
  for (const etest::ScaledSize& size : etest::kScaledSizes) {
    recorder.clear();
    ASSERT_EQ(sendScale(size.scale), 1);
    if (!child) {
      ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, parentHandle()), 1);
      child = editorChild();
    }
    ASSERT_NE(child, 0u);
    idle();
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(display, child, &a));
    ERect* r = nullptr;
    ASSERT_EQ(plugin->dispatch(effEditGetRect, 0, 0, &r), 1);
    const auto sized = recorder.callsOf(audioMasterSizeWindow);
    ASSERT_EQ(sized.size(), 1u) << size.scale;
    EXPECT_EQ(std::vector<int>({a.width, a.height, r->right, r->bottom, sized[0].index, int(sized[0].value)}),
              std::vector<int>({size.width, size.height, size.width, size.height, size.width, size.height}));
    EXPECT_EQ(etest::differences(grab(child), etest::referenceEditor(size.scale, 33, 66, false)), 0) << size.scale;
  }
  ASSERT_EQ(sendScale(2.0), 1);
  plugin->setParameter(0, 0.0f);
  idle();
  // Press 12 pixels into the knob, drag 30 down: at 1 (20, 89) to (20, 119).
  send(child, ButtonPress, 40, 178);
  send(child, MotionNotify, 40, 238);
  send(child, ButtonRelease, 40, 238);
  idle(1);
  EXPECT_EQ(plugin->getParameter(0), static_cast<float>(30.0L / 66.0L));
}

// Without a factor from the host: Xft.dpi in the display's resources over
// 96, else GDK_SCALE; the host's factor beats both.
TEST_F(X11Editor, XftDpiOrGdkScaleSetTheScaleWhenTheHostSendsNone) {
  const Window root = DefaultRootWindow(display);
  const char* before = XResourceManagerString(display);
  const std::string saved = before ? before : "";
  auto resources = [&](const std::string& text) {
    if (text.empty()) XDeleteProperty(display, root, XA_RESOURCE_MANAGER);
    else
      XChangeProperty(display, root, XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    XSync(display, False);
  };
  auto widthOpened = [&] {
    XWindowAttributes a{};
    if (plugin->dispatch(effEditOpen, 0, 0, parentHandle()) == 1 && editorChild())
      XGetWindowAttributes(display, editorChild(), &a);
    plugin->dispatch(effEditClose);
    return a.width;
  };
  resources("Xft.antialias:\t1\nXft.dpi:\t192\n");
  EXPECT_EQ(widthOpened(), 500);
  resources("Xft.dpi: 144\n");
  EXPECT_EQ(widthOpened(), 375);
  resources("");
  EXPECT_EQ(widthOpened(), 250);
  etest::setEnvironment("GDK_SCALE", "2");
  EXPECT_EQ(widthOpened(), 500);
  etest::setEnvironment("GDK_SCALE", nullptr);
  resources("Xft.dpi:\t192\n");
  EXPECT_EQ(sendScale(1.5), 1);
  EXPECT_EQ(widthOpened(), 375) << "the host's factor first";
  resources(saved);
}

}  // namespace
