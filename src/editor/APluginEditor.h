// The bridge between the host's editor opcodes and the instrument's window.
//
// Threads: getRect, open, close and idle come from the host's UI thread;
// update may come from any thread, the audio thread included, and never
// touches a window.
#pragma once

#include "host/DAudioEffect.h"

class APlugin;
class TPluginEditorWindow;

class APluginEditor : public AEffEditor {
 public:
  static constexpr int kClosedHeight = 249;
  static constexpr int kClosedWidth = 399;

  explicit APluginEditor(AudioEffect* effect);
  ~APluginEditor() override;

  VstInt32 getRect(ERect** rect) override;
  VstInt32 open(void* ptr) override;
  void close() override;
  void idle() override;
  void update() override;

 protected:
  APlugin* plugin() const;

  ERect rect{};
  VstInt32 openCount = 0;
  TPluginEditorWindow* editorWindow = nullptr;
  void* parentWindow = nullptr;
};
