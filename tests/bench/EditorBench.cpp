// What opening the editor costs a host: from effEditOpen to the first
// complete picture, on the offscreen backend (the paint happens inside
// effEditOpen) and in a real X11 window (until the editor's pixels are on the
// server, with the host's idle calls in between, as a host makes them).
// Prints the median and the worst of several opens (target 10 ms), and the
// median of this thread's processor time (what a busy machine does not
// inflate; the X server's share is not in it), at
// display scale 1 (the baseline) and at 2 (the host's factor sent before
// the open), with the ratio of the medians. The instance is made
// in-process, the way the module's entry makes it, so the offscreen backend
// can be put in the platform's place.
//
//   bench_editor [--runs N]      (X11 needs DISPLAY, e.g. Xvfb)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "instrument/uPlugin.h"
#include "support/TestHost.h"
#include "toolkit/NativeWindow.h"

// Last: Xlib defines macros (None, Status, Bool) that other headers use as names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double threadMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Times {
  std::vector<double> wall, cpu;
  void add(Clock::time_point t0, double cpu0) {
    wall.push_back(msSince(t0));
    cpu.push_back(threadMs() - cpu0);
  }
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Prints the medians and the worst; returns the median.
double report(const char* backend, float scale, const Times& t, double baseline = 0.0) {
  const double m = median(t.wall);
  std::printf("%-10s scale %g: open -> first complete paint: median %.2f ms, worst %.2f ms, processor %.2f ms (%zu opens)",
              backend, scale, m, *std::max_element(t.wall.begin(), t.wall.end()), median(t.cpu), t.wall.size());
  if (baseline > 0.0) std::printf(", %.2fx scale 1", m / baseline);
  std::printf("\n");
  return m;
}

Window onlyChild(Display* d, Window parent) {
  Window root, up, *children = nullptr;
  unsigned count = 0;
  Window child = 0;
  if (XQueryTree(d, parent, &root, &up, &children, &count) && count == 1) child = children[0];
  if (children) XFree(children);
  return child;
}

unsigned long pixelAt(Display* d, Window w, int x, int y) {
  XImage* image = XGetImage(d, w, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return ~0ul;
  const unsigned long v = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return v;
}

struct Plugin {
  AEffect* e;
  VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
  }
  void setScale(float factor) { dispatch(effVendorSpecific, 0x50726553 /* 'PreS' */, 0x41654373 /* 'AeCs' */, nullptr, factor); }
};

// Offscreen: the paint happens inside effEditOpen. Empty when an open failed.
Times offscreenOpens(Plugin& plugin, float scale, int runs) {
  plugin.setScale(scale);
  Times t;
  for (int r = 0; r < runs; ++r) {
    const double cpu0 = threadMs();
    const auto t0 = Clock::now();
    if (plugin.dispatch(effEditOpen, 0, 0, nullptr) != 1) return {};
    t.add(t0, cpu0);
    plugin.dispatch(effEditClose);
  }
  return t;
}

// X11: until a pixel that only the paint sets is on the server. Empty when
// the editor did not show.
Times x11Opens(Display* d, Window host, Plugin& plugin, float scale, int runs) {
  plugin.setScale(scale);
  void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(host));
  // The finished picture once, to know that pixel's value.
  plugin.dispatch(effEditOpen, 0, 0, parent);
  for (int i = 0; i < 20; ++i) {
    XSync(d, False);
    plugin.dispatch(effEditIdle);
  }
  XSync(d, False);
  const Window first = onlyChild(d, host);
  const int px = static_cast<int>(125 * scale), py = static_cast<int>(20 * scale);
  const unsigned long painted = first ? pixelAt(d, first, px, py) : ~0ul;
  plugin.dispatch(effEditClose);
  XSync(d, False);
  if (!first || painted == BlackPixel(d, 0) || painted == WhitePixel(d, 0)) return {};

  Times t;
  for (int r = 0; r < runs; ++r) {
    const double cpu0 = threadMs();
    const auto t0 = Clock::now();
    plugin.dispatch(effEditOpen, 0, 0, parent);
    Window child = 0;
    for (int idles = 0; idles < 1000; ++idles) {
      XSync(d, False);
      if (!child) child = onlyChild(d, host);
      if (child && pixelAt(d, child, px, py) == painted) break;
      plugin.dispatch(effEditIdle);
    }
    t.add(t0, cpu0);
    plugin.dispatch(effEditClose);
    XSync(d, False);
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 30;
  for (int i = 1; i + 1 < argc; ++i)
    if (!std::strcmp(argv[i], "--runs")) runs = std::max(1, std::atoi(argv[++i]));

  vtest::RecordingHost recorder;
  AEffect* effect = createEffectInstance(recorder.callback());
  if (!effect) {
    std::fprintf(stderr, "no instance\n");
    return 1;
  }
  Plugin plugin{effect};

  toolkit::setNativeWindowFactory([](toolkit::Form& form, void*) { return toolkit::createOffscreenWindow(form); });
  double baseline = 0.0;
  for (float scale : {1.0f, 2.0f}) {
    const Times t = offscreenOpens(plugin, scale, runs);
    if (t.wall.empty()) return 1;
    const double m = report("offscreen", scale, t, baseline);
    if (scale == 1.0f) baseline = m;
  }
  toolkit::setNativeWindowFactory(nullptr);

  Display* d = std::getenv("DISPLAY") ? XOpenDisplay(nullptr) : nullptr;
  if (!d) {
    std::printf("x11        skipped: no display\n");
    plugin.dispatch(effClose);
    return 0;
  }
  const Window host = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 800, 640, 0, 0, WhitePixel(d, 0));
  XMapWindow(d, host);
  XSync(d, False);
  baseline = 0.0;
  for (float scale : {1.0f, 2.0f}) {
    const Times t = x11Opens(d, host, plugin, scale, runs);
    if (t.wall.empty()) {
      std::fprintf(stderr, "x11: the editor did not show at scale %g\n", scale);
      return 1;
    }
    const double m = report("x11", scale, t, baseline);
    if (scale == 1.0f) baseline = m;
  }
  plugin.dispatch(effClose);
  XDestroyWindow(d, host);
  XCloseDisplay(d);
  return 0;
}
