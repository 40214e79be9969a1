#include "editor/APluginEditor.h"

#include "instrument/uPlugin.h"

APluginEditor::APluginEditor(AudioEffect* effect) : AEffEditor(effect) {}

APluginEditor::~APluginEditor() {
  if (editorWindow) {
    plugin()->editorClosed = true;
    editorWindow = nullptr;
    parentWindow = nullptr;
  }
}

APlugin* APluginEditor::plugin() const { return static_cast<APlugin*>(effect); }

VstInt32 APluginEditor::getRect(ERect** ptr) {
  if (!ptr) return 0;
  rect.top = 0;
  rect.left = 0;
  rect.bottom = kClosedHeight;
  rect.right = kClosedWidth;
  *ptr = &rect;
  return 1;
}

VstInt32 APluginEditor::open(void* ptr) {
  parentWindow = ptr;
  ++openCount;
  plugin()->editorClosed = false;
  return 0;
}

void APluginEditor::close() {
  if (--openCount < 0) openCount = 0;
  if (openCount == 0) {
    plugin()->editorClosed = true;
    editorWindow = nullptr;
    parentWindow = nullptr;
  }
}

void APluginEditor::idle() {}

void APluginEditor::update() {}
