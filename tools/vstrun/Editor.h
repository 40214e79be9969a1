// `vstrun editor`: the plug-in's editor in a window of the host's.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "vsthost/Plugin.h"

namespace vstrun {

struct EditorOptions {
  // How long the window stays open; 0 or less: until the user closes it
  // (or one second when only a screenshot is wanted).
  double seconds = 0.0;
  // Where to save a PNG of the editor's pixels; empty for none.
  std::string screenshot;
  // How often effEditIdle is sent, per second.
  int idleRate = 30;
  // The display scale sent to the plug-in before its editor opens; 0: none.
  float scale = 0.0f;
  // Set (from a signal handler) to close the editor as the window's close
  // button does.
  const std::atomic<bool>* interrupted = nullptr;
  // Receives each warning (one line, without a prefix).
  std::function<void(const std::string&)> warn;
};

// Whether this build can show editors at all.
bool editorSupported();

// Opens the editor of a loaded, started plug-in in a host window sized by
// effEditGetRect, idles it from a timer on this (the UI) thread, follows
// audioMasterSizeWindow, saves the screenshot, closes it. Throws
// std::runtime_error with a one-line reason.
void runEditor(vsthost::Plugin& plugin, const EditorOptions& options);

// Writes 24-bit RGB pixels (rows top to bottom) as a PNG; false on failure.
bool writePng(const std::string& path, int width, int height, const std::vector<unsigned char>& rgb);

}  // namespace vstrun
