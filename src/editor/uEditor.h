// TPluginEditorWindow: the instrument's editor window, a fixed borderless
// 250 x 199 panel with a background, two faders for "Buff Size" and
// "Volume" and a button that shows and hides the About picture.
//
// The layout stays in those 250 x 199 pixels at every display scale; the
// window shows it scaled (toolkit/Scale.h), drawn from the pictures made at
// twice the size.
//
// Threads: everything runs on the host's UI thread, except that paramValues
// may be written by the bridge's update from any thread at the same time.
#pragma once

#include <atomic>

#include "editor/VelFader.h"
#include "instrument/uParameters.h"
#include "toolkit/Form.h"
#include "toolkit/PictureControl.h"

class APlugin;

class TPluginEditorWindow : public toolkit::Form {
 public:
  static constexpr int kClientWidth = 250;
  static constexpr int kClientHeight = 199;
  static constexpr const char* kCaption = "Kestrom - 'Vantorel'";
  // A fader's travel in pixels, and so the number of steps between a
  // parameter's 0.0 and 1.0: position p stands for the value p / 66.
  static constexpr int kFaderTravel = 66;
  // About rests just right of the client area while hidden: any Left past
  // 400 counts as hidden, so hosts and tests see it by its place alone.
  static constexpr int kAboutHiddenLeft = 401;

  // Builds the layout at a display scale; no native window yet (the bridge
  // attaches one). Scale 0: not known yet, so no pictures until the first
  // useScale.
  explicit TPluginEditorWindow(double scale = 1.0);
  ~TPluginEditorWindow() override;

  void par01PosChange(toolkit::PictureControl* sender);
  void par02PosChange(toolkit::PictureControl* sender);
  void AboutButtonClick(toolkit::PictureControl* sender);
  // The creation handler: runs once, last in the constructor, when every
  // control is built and laid out and the faders' listeners are connected;
  // before the bridge gives the window its native window and its plugin.
  // It has nothing to do: the layout is complete without it.
  void FormCreate(toolkit::Form* sender);

  // Shows the window at another display scale, loading the set of pictures
  // it needs the first time. Throws, changing nothing that shows, when
  // memory runs out.
  void useScale(double scale);

  // Declaration order; the z-order is bg, par01, par02, About, AboutButton.
  toolkit::PictureControl bg;
  TVelFader par01;
  toolkit::PictureControl About;
  toolkit::PictureControl AboutButton;
  TVelFader par02;

  APlugin* plugin = nullptr;
  std::atomic<float> paramValues[kParamCount];

 private:
  void setupFader(TVelFader& fader, int left, void (TPluginEditorWindow::*handler)(toolkit::PictureControl*));
  void loadAboutHighRes();

  // Which sets of pictures the controls have: the one at the layout's size
  // (for scale 1), the one at twice it (for every other scale).
  bool layoutPicturesLoaded_ = false;
  bool highResLoaded_ = false;
};
