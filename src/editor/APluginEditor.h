// APluginEditor: the bridge between the host's editor opcodes and the
// instrument's window (TPluginEditorWindow).
//
// Threads: getRect, open, close, idle and the destructor come from the
// host's UI thread. update may come from any thread, the audio thread
// included, at any moment, also while the UI thread closes the window: it
// only copies three values, never blocks, allocates or touches a window.
// The window is published through an atomic pointer; close and the
// destructor unpublish it and wait for updates already inside it before
// destroying it.
//
// Display scale: the host's factor when it sent one (setHostScale), else
// VANTOREL_SCALE, else what the window system asks for, else 1; clamped
// to 1..4. A window opens at that scale, and whenever it changes while
// the window exists the window takes the new size, asks the host for it
// (audioMasterSizeWindow) and repaints.
#pragma once

#include <atomic>
#include <thread>

#include "host/DAudioEffect.h"

class APlugin;
class TPluginEditorWindow;

class APluginEditor : public AEffEditor {
 public:
  // What getRect reports while no window exists. Hosts have always been
  // told this size before opening and lay out their frame from it, so it
  // stays, although the window itself is 250 x 199.
  static constexpr ERect kClosedRect{0, 0, 249, 399};

  explicit APluginEditor(AudioEffect* effect);
  ~APluginEditor() override;

  VstInt32 getRect(ERect** rect) override;
  // Answers 1 once the window exists; 0 when it could not be made (no real
  // parent window, no display, no memory), leaving the editor as it was.
  VstInt32 open(void* ptr) override;
  void close() override;
  void idle() override;
  void update() override;

  // The host's display scale factor: any positive number, clamped to 1..4;
  // false (and nothing changes) for anything else. It counts from now on,
  // before any other source. Sent on the thread that opened the window, it
  // applies at once; from another thread, at the next idle.
  bool setHostScale(float factor);
  // The scale the open window shows at (1 without a window).
  double scale() const;

  // The open window, or null. UI thread only.
  TPluginEditorWindow* window() const { return editorWindow.load(std::memory_order_relaxed); }
  VstInt32 getOpenCount() const { return openCount; }

 protected:
  APlugin* plugin() const;

  ERect rect{};
  VstInt32 openCount = 0;
  std::atomic<TPluginEditorWindow*> editorWindow{nullptr};
  // The host's window given to the latest open. Nothing reads it back: the
  // window is a child of it from creation on. Kept so a debugger shows
  // where the editor lives.
  void* parentWindow = nullptr;

 private:
  void destroyWindow();
  // The scale the window should have now (UI thread, with a window).
  double wantedScale(const TPluginEditorWindow& window) const;
  // Brings the window to wantedScale(): resized, the host asked for the
  // new size, repainted. False when memory ran out (nothing changed).
  bool rescale();
  // Copies the instrument's parameter values into the window's store.
  void copyParameters(TPluginEditorWindow& window) const;

  // Updates currently reading editorWindow.
  std::atomic<int> updatesInFlight{0};

  // The host's factor, 0 until it sends one; VANTOREL_SCALE as read at the
  // latest open (0: unset); the thread of the latest open.
  std::atomic<float> hostScale{0.0f};
  double userScale = 0.0;
  std::atomic<std::thread::id> uiThread{};
};
