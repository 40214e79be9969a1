// The top-level window `vstrun editor` opens an editor in: one
// implementation per window system (EditorWin32.cpp, EditorX11.cpp), driven
// by the portable session in Editor.cpp.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vstrun {

// Used on the thread that made it.
class HostWindow {
 public:
  // A hidden window titled title with a client area of width x height;
  // throws std::runtime_error when none can be made (no display).
  static std::unique_ptr<HostWindow> create(const std::string& title, int width, int height);
  virtual ~HostWindow() = default;

  // What effEditOpen's ptr carries: an HWND, or an X11 Window id.
  virtual void* parentHandle() const = 0;
  // Resizes the client area (the window around it follows).
  virtual void setClientSize(int width, int height) = 0;
  virtual void show() = 0;
  // Runs the window's events until ms milliseconds have passed (negative:
  // no limit), the user closed the window or *interrupted is set; calls
  // tick whenever one period has passed. False when the window was closed
  // or the run interrupted.
  virtual bool run(double ms, double periodMs, const std::function<void()>& tick,
                   const std::atomic<bool>* interrupted) = 0;
  // The client area's pixels, child windows included, as RGB rows.
  virtual bool capture(int* width, int* height, std::vector<unsigned char>* rgb) = 0;
  // Problems of the window system seen while the editor was open (X errors);
  // empty when there were none.
  virtual std::string problems() { return ""; }
};

}  // namespace vstrun
