#include "editor/APluginEditor.h"

#include <climits>
#include <memory>
#include <thread>

#include "editor/uEditor.h"
#include "host/DVstUtils.h"
#include "instrument/uPlugin.h"
#include "toolkit/NativeWindow.h"
#include "toolkit/Scale.h"

namespace {

// A value v puts the knob at round(v * travel), halves to even. The product
// of a float and the travel is exact in double precision.
int32_t valueToPosition(float value) {
  const int64_t p = roundHalfEven(static_cast<double>(value) * TPluginEditorWindow::kFaderTravel);
  return static_cast<int32_t>(p > INT32_MAX ? INT32_MAX : p < INT32_MIN ? INT32_MIN : p);
}

}  // namespace

APluginEditor::APluginEditor(AudioEffect* effect) : AEffEditor(effect) {}

APluginEditor::~APluginEditor() {
  if (window()) {
    plugin()->editorClosed = true;
    destroyWindow();
  }
}

APlugin* APluginEditor::plugin() const { return static_cast<APlugin*>(effect); }

VstInt32 APluginEditor::getRect(ERect** ptr) {
  if (!ptr) return 0;
  rect = kClosedRect;
  if (TPluginEditorWindow* w = window()) {
    rect.bottom = static_cast<int16_t>(w->pixelHeight());
    rect.right = static_cast<int16_t>(w->pixelWidth());
  }
  *ptr = &rect;
  return 1;
}

VstInt32 APluginEditor::open(void* ptr) {
  TPluginEditorWindow* w = window();
  bool created = false;
  // The first open (the count is about to become 1), or no window. Either
  // way none exists here: a window lives exactly while the count is above 0,
  // since the close that brings it to 0 destroys the window and an open
  // that fails changes neither.
  if (openCount == 0 || !w) {
    // Everything that can fail (memory for the window, its pictures and
    // controls, the platform's window) happens before the window is
    // published; a failure drops the half-made window and answers 0.
    std::unique_ptr<TPluginEditorWindow> fresh;
    try {
      // Built at the scale asked for; when only the window system can tell,
      // its pictures wait for that answer.
      userScale = toolkit::environmentScale("VANTOREL_SCALE");
      const double asked = toolkit::clampScale(hostScale.load(std::memory_order_relaxed));
      fresh = std::make_unique<TPluginEditorWindow>(asked > 0.0 ? asked : userScale);
      std::unique_ptr<toolkit::NativeWindow> native = toolkit::createNativeWindow(*fresh, ptr);
      if (!native) return 0;
      fresh->setNativeWindow(std::move(native));
      fresh->useScale(wantedScale(*fresh));
      fresh->nativeWindow()->setPosition(0, 0);
    } catch (...) {
      return 0;
    }
    copyParameters(*fresh);
    fresh->plugin = plugin();
    w = fresh.release();
    editorWindow.store(w, std::memory_order_seq_cst);
    created = true;
  }
  parentWindow = ptr;
  ++openCount;
  uiThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
  plugin()->editorClosed = false;
  // A host that sized its window from the rectangle before the open learns
  // the scaled size.
  if (created && w->scale() != 1.0) plugin()->sizeWindow(w->pixelWidth(), w->pixelHeight());
  w->nativeWindow()->repaintNow();
  w->nativeWindow()->show();
  return 1;
}

void APluginEditor::close() {
  if (TPluginEditorWindow* w = window())
    if (w->nativeWindow()) w->nativeWindow()->hide();
  if (--openCount < 0) openCount = 0;
  if (openCount == 0) {
    plugin()->editorClosed = true;
    destroyWindow();
  }
}

void APluginEditor::destroyWindow() {
  TPluginEditorWindow* w = editorWindow.exchange(nullptr, std::memory_order_seq_cst);
  parentWindow = nullptr;
  if (!w) return;
  // An update that saw the window before it was unpublished is still
  // writing three floats into it; it cannot take longer than that.
  while (updatesInFlight.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  delete w;
}

void APluginEditor::idle() {
  TPluginEditorWindow* w = window();
  if (plugin()->editorClosed || !w) return;
  // A factor sent from another thread, or a new DPI of the host's window.
  rescale();
  toolkit::NativeWindow* native = w->nativeWindow();
  // Where the host runs no event loop for us, pointer input arrives here.
  if (native) native->pumpEvents();
  w->par01.setVelFPosition(valueToPosition(w->paramValues[kParamBuffSize].load(std::memory_order_relaxed)));
  w->par02.setVelFPosition(valueToPosition(w->paramValues[kParamVolume].load(std::memory_order_relaxed)));
  if (native) native->pumpEvents();
}

bool APluginEditor::setHostScale(float factor) {
  const double f = toolkit::clampScale(factor);
  if (f == 0.0) return false;
  hostScale.store(static_cast<float>(f), std::memory_order_relaxed);
  if (window() && std::this_thread::get_id() == uiThread.load(std::memory_order_relaxed)) rescale();
  return true;
}

double APluginEditor::scale() const {
  const TPluginEditorWindow* w = window();
  return w ? w->scale() : 1.0;
}

double APluginEditor::wantedScale(const TPluginEditorWindow& w) const {
  const double host = toolkit::clampScale(hostScale.load(std::memory_order_relaxed));
  if (host > 0.0) return host;
  if (userScale > 0.0) return userScale;
  const double system = w.nativeWindow() ? toolkit::clampScale(w.nativeWindow()->systemScale()) : 0.0;
  return system > 0.0 ? system : 1.0;
}

bool APluginEditor::rescale() {
  TPluginEditorWindow* w = window();
  if (!w) return false;
  const double wanted = wantedScale(*w);
  if (wanted == w->scale()) return true;
  try {
    w->useScale(wanted);
  } catch (...) {
    return false;  // out of memory: the window stays as it was; the next idle tries again
  }
  plugin()->sizeWindow(w->pixelWidth(), w->pixelHeight());
  if (w->nativeWindow()) w->nativeWindow()->repaintNow();
  return true;
}

void APluginEditor::update() {
  updatesInFlight.fetch_add(1, std::memory_order_seq_cst);
  TPluginEditorWindow* w = editorWindow.load(std::memory_order_seq_cst);
  APlugin* p = plugin();
  if (w && !p->editorClosed.load(std::memory_order_relaxed)) copyParameters(*w);
  updatesInFlight.fetch_sub(1, std::memory_order_seq_cst);
}

void APluginEditor::copyParameters(TPluginEditorWindow& w) const {
  const APlugin* p = plugin();
  constexpr std::memory_order relaxed = std::memory_order_relaxed;
  w.paramValues[kParamBuffSize].store(p->buffSize.load(relaxed), relaxed);
  w.paramValues[kParamVolume].store(p->volume.load(relaxed), relaxed);
  w.paramValues[kParamReadThroughSpeed].store(p->readThroughSpeed.load(relaxed), relaxed);
}
