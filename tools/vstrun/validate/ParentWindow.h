// A window to parent a plug-in's editor on, one backend per window system
// (X11ParentWindow.cpp, Win32ParentWindow.cpp).
#pragma once

#include <string>

namespace validate {

// A top-level window to parent editors on: an X11 window on Linux (libX11
// opened at run time), a Win32 window on Windows. valid() is false when no
// display can be had; why() tells. A busy X server refuses a connection now
// and then, so a failed one is retried for a few seconds.
// Hosts ask for the editor's rectangle and open it only on a display they
// hold: a plug-in may create its user interface on the first request and
// crash without one, which no host provokes.
class ParentWindow {
 public:
  ParentWindow();
  ~ParentWindow();
  ParentWindow(const ParentWindow&) = delete;
  ParentWindow& operator=(const ParentWindow&) = delete;
  bool valid() const { return handle_ != nullptr; }
  void* handle() const { return handle_; }
  const std::string& why() const { return why_; }
  // Handles pending window-system messages of this thread.
  void pump();
  // The window-system errors any window of this process caused since the
  // last call, described, or empty; a host that keeps running takes them.
  std::string errors();

 private:
  void* handle_ = nullptr;
  void* display_ = nullptr;
  std::string why_;
};

}  // namespace validate
