// Shared by the editor's tests: an instrument built in-process with a
// recording host, and the automation reports it made.
#pragma once

#include <string>
#include <vector>

#include "editor/APluginEditor.h"
#include "editor/uEditor.h"
#include "instrument/uPlugin.h"
#include "support/TestHost.h"
#include "toolkit/NativeWindow.h"
#include "toolkit/Picture.h"

namespace etest {

// One automation report to the host.
struct Automation {
  VstInt32 index;
  float value;
};

inline std::vector<Automation> automations(const vtest::RecordingHost& host) {
  std::vector<Automation> out;
  for (const vtest::HostCall& c : host.callsOf(audioMasterAutomate)) out.push_back({c.index, c.opt});
  return out;
}

// The editor an AudioEffect owns (a protected member, reached the way a
// derived class may).
struct EditorOf : AudioEffect {
  static AEffEditor* get(AudioEffect* effect) { return effect->*(&EditorOf::editor); }
};

// While one lives, editors opened in this process get offscreen windows, so
// they open without a window system; live() counts those that exist.
class OffscreenWindows {
 public:
  OffscreenWindows();
  ~OffscreenWindows();
  static int live();
};

// An instrument made the way the module's entry makes it, owned by the test.
class Instrument {
 public:
  explicit Instrument(vtest::RecordingHost& host) : effect_(createEffectInstance(host.callback())) {}
  ~Instrument() {
    if (effect_) effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0.0f);
  }
  AEffect* effect() const { return effect_; }
  // Closes the instance now, as a host does, and answers what effClose did.
  VstIntPtr close() {
    const VstIntPtr answer = dispatch(effClose);
    effect_ = nullptr;
    return answer;
  }
  APlugin* plugin() const { return static_cast<APlugin*>(static_cast<AudioEffect*>(effect_->object)); }
  APluginEditor* bridge() const { return static_cast<APluginEditor*>(EditorOf::get(plugin())); }
  VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr) {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, 0.0f);
  }
  void setParameter(VstInt32 index, float value) { effect_->setParameter(effect_, index, value); }
  float getParameter(VstInt32 index) { return effect_->getParameter(effect_, index); }

 private:
  AEffect* effect_;
};

// Writes a picture as PNG (tests leave screenshots in the build folder).
bool writePng(const toolkit::Picture& picture, const std::string& path);
// Reads one back; empty when it cannot.
toolkit::Picture readPng(const std::string& path);

// The editor's pixels as the offscreen backend renders them, with the faders
// at these positions and the About view shown or not: what a real window
// must show in the same state.
toolkit::Picture offscreenEditor(int position1, int position2, bool about);

// What the editor must show at a display scale, with the faders at these
// positions, as the picture script composed it (only the states its
// REFERENCES list); empty when there is no such file.
toolkit::Picture referenceEditor(double scale, int position1, int position2, bool about);

// The display scale factor as a host sends it (effVendorSpecific).
constexpr VstInt32 kScaleIndex = 0x50726553;  // 'PreS'
constexpr VstIntPtr kScaleValue = 0x41654373;  // 'AeCs'

// The states the picture script composes (its REFERENCES).
struct ReferenceState {
  double scale;
  int position1, position2;
  bool about;
};
constexpr ReferenceState kReferences[] = {
    {1.5, 33, 66, false}, {2.0, 33, 66, false}, {3.0, 33, 66, false}, {1.5, 30, 0, true}, {3.0, 30, 0, true}};

// Sizes the window and getRect must have at each scale of the references.
struct ScaledSize {
  double scale;
  int width, height;
};
constexpr ScaledSize kScaledSizes[] = {{1.5, 375, 299}, {2.0, 500, 398}, {3.0, 750, 597}};

// Sets (or, with null, removes) an environment variable where the plug-in
// reads it.
void setEnvironment(const char* name, const char* value);

// How many pixels differ (-1 when the sizes do); first, if given, gets the
// first differing pixel as "x,y".
int differences(const toolkit::Picture& a, const toolkit::Picture& b, std::string* first = nullptr);

}  // namespace etest
