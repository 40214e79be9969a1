// The editor session, the same on every window system: the display scale,
// the window's size from the plug-in, the idle timer, the screenshot and the
// close. The windows themselves are in EditorWin32.cpp and EditorX11.cpp.
#include "Editor.h"

#include <stdexcept>

#include "EditorWindow.h"

namespace vstrun {

#if !defined(_WIN32) && !defined(VSTRUN_HAS_X11)

bool editorSupported() { return false; }

std::unique_ptr<HostWindow> HostWindow::create(const std::string&, int, int) {
  throw std::runtime_error("this build of vstrun has no window system");
}

#endif

namespace {

// The display-scale convention: effVendorSpecific with these two codes and
// the factor as opt.
constexpr VstInt32 kScaleIndex = 0x50726553;   // 'PreS'
constexpr VstIntPtr kScaleValue = 0x41654373;  // 'AeCs'

// Sizes a plug-in may give or ask for; anything larger is a fault, not a
// window.
constexpr int kLargestSide = 16384;
bool fits(int width, int height) { return width > 0 && height > 0 && width <= kLargestSide && height <= kLargestSide; }

// Detaches the size requests from the window whatever way the session ends.
struct SizeRequests {
  vsthost::Host& host;
  SizeRequests(vsthost::Host& h, HostWindow& window) : host(h) {
    host.onSizeWindow([&window](int width, int height) {
      if (!fits(width, height)) return false;
      window.setClientSize(width, height);
      return true;
    });
  }
  ~SizeRequests() { host.onSizeWindow(nullptr); }
};

}  // namespace

void runEditor(vsthost::Plugin& plugin, const EditorOptions& options) {
  if (!(plugin.effect()->flags & effFlagsHasEditor)) throw std::runtime_error("the plug-in has no editor");
  auto warn = [&options](const std::string& line) {
    if (options.warn) options.warn(line);
  };

  // A first size from before opening; the one after opening wins.
  int width = 400, height = 300;
  std::string title = "vstrun";
  const std::string name = plugin.text(effGetEffectName);
  if (!name.empty()) title += " - " + name;
  // The window first: without a display nothing is asked of the plug-in.
  std::unique_ptr<HostWindow> window = HostWindow::create(title, width, height);

  std::string failure;
  {
    // Some plug-ins ask for their new size as soon as the scale arrives.
    SizeRequests sizes(plugin.host(), *window);
    if (options.scale > 0.0f &&
        plugin.dispatch(effVendorSpecific, kScaleIndex, kScaleValue, nullptr, options.scale) == 0)
      warn("the plug-in did not take the display scale (it answered 0), so its editor may not be scaled");
    if (plugin.editorSize(&width, &height) && fits(width, height)) window->setClientSize(width, height);

    if (plugin.dispatch(effEditOpen, 0, 0, window->parentHandle()) == 0)
      warn("the plug-in answered 0 to effEditOpen: its editor may not have opened");
    if (plugin.editorSize(&width, &height) && fits(width, height)) window->setClientSize(width, height);
    window->show();

    double seconds = options.seconds;
    if (seconds <= 0 && !options.screenshot.empty()) seconds = 1.0;
    const int rate = options.idleRate > 0 ? options.idleRate : 30;
    auto idle = [&plugin] { plugin.dispatch(effEditIdle); };
    window->run(seconds > 0 ? seconds * 1000.0 : -1.0, 1000.0 / rate, idle, options.interrupted);

    if (!options.screenshot.empty()) {
      idle();  // what the last events asked for is painted
      std::vector<unsigned char> rgb;
      int w = 0, h = 0;
      if (!window->capture(&w, &h, &rgb))
        failure = "cannot read the editor's pixels";
      else if (!writePng(options.screenshot, w, h, rgb))
        failure = options.screenshot + ": cannot write the screenshot";
    }
    plugin.dispatch(effEditClose);
  }
  const std::string problems = window->problems();
  window.reset();
  if (!problems.empty()) warn(problems);
  if (!failure.empty()) throw std::runtime_error(failure);
}

}  // namespace vstrun
