#include "host/DAudioEffect.h"

#include <cstring>

#include "host/DAEffectX.h"
#include "host/DFloatEnv.h"
#include "host/DVstUtils.h"

// ---------------------------------------------------------------------------
// Entry functions stored in the record. Each finds the object through the
// record and forwards to a virtual operation.

namespace {

inline AudioEffect* objectOf(AEffect* e) { return static_cast<AudioEffect*>(e->object); }

// No exception may unwind into the host: whatever escapes an operation
// (memory running out, mostly) ends the call with its harmless answer.
template <typename Result, typename Call>
Result guarded(Result fallback, Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return fallback;
  }
}

template <typename Call>
void guarded(Call&& call) noexcept {
  try {
    call();
  } catch (...) {
  }
}

VST_ENTRY_ALIGN VstIntPtr VSTCALLBACK dispatcherEntry(AEffect* e, VstInt32 opcode, VstInt32 index,
                                                      VstIntPtr value, void* ptr, float opt) {
  FloatEnvGuard fpu;
  AudioEffect* object = objectOf(e);
  if (opcode == effClose) {
    // The instance goes whatever its close does.
    guarded([&] { object->dispatcher(opcode, index, value, ptr, opt); });
    delete object;
    return 1;
  }
  return guarded(VstIntPtr{0}, [&] { return object->dispatcher(opcode, index, value, ptr, opt); });
}

VST_ENTRY_ALIGN void VSTCALLBACK processEntry(AEffect* e, float** inputs, float** outputs,
                                              VstInt32 sampleFrames) {
  FloatEnvGuard fpu;
  guarded([&] { objectOf(e)->process(inputs, outputs, sampleFrames); });
}

VST_ENTRY_ALIGN void VSTCALLBACK processReplacingEntry(AEffect* e, float** inputs, float** outputs,
                                                       VstInt32 sampleFrames) {
  FloatEnvGuard fpu;
  guarded([&] { objectOf(e)->processReplacing(inputs, outputs, sampleFrames); });
}

VST_ENTRY_ALIGN void VSTCALLBACK setParameterEntry(AEffect* e, VstInt32 index, float parameter) {
  FloatEnvGuard fpu;
  guarded([&] { objectOf(e)->setParameter(index, parameter); });
}

VST_ENTRY_ALIGN float VSTCALLBACK getParameterEntry(AEffect* e, VstInt32 index) {
  FloatEnvGuard fpu;
  return guarded(0.0f, [&] { return objectOf(e)->getParameter(index); });
}

}  // namespace

// ---------------------------------------------------------------------------
// AEffEditor defaults.

AEffEditor::AEffEditor(AudioEffect* effect) : effect(effect) {}

VstInt32 AEffEditor::getRect(ERect** rect) {
  (void)rect;
  return 0;
}

VstInt32 AEffEditor::open(void* ptr) {
  systemWindow = ptr;
  return 0;
}

void AEffEditor::close() {}

void AEffEditor::idle() {
  if (updateFlag.load(std::memory_order_relaxed) != 0) {
    updateFlag.store(0, std::memory_order_relaxed);
    update();
  }
}

void AEffEditor::update() {}
void AEffEditor::postUpdate() { updateFlag.store(1, std::memory_order_relaxed); }
VstInt32 AEffEditor::onKeyDown(VstKeyCode&) { return -1; }
VstInt32 AEffEditor::onKeyUp(VstKeyCode&) { return -1; }
VstInt32 AEffEditor::setKnobMode(VstInt32) { return 0; }
bool AEffEditor::onWheel(float) { return false; }

// ---------------------------------------------------------------------------
// AudioEffect.

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : sampleRate(44100.0f),
      editor(nullptr),
      numPrograms(numPrograms),
      numParams(numParams),
      curProgram(0),
      blockSize(1024),
      audioMaster(audioMaster) {
  std::memset(&cEffect, 0, sizeof cEffect);
  cEffect.magic = kEffectMagic;
  cEffect.dispatcher = dispatcherEntry;
  cEffect.process = processEntry;
  cEffect.setParameter = setParameterEntry;
  cEffect.getParameter = getParameterEntry;
  cEffect.numPrograms = numPrograms;
  cEffect.numParams = numParams;
  cEffect.numInputs = 1;
  cEffect.numOutputs = 2;
  cEffect.flags = 0;
  cEffect.resvd1 = 0;
  cEffect.resvd2 = 0;
  cEffect.initialDelay = 0;
  cEffect.realQualities = 0;
  cEffect.offQualities = 0;
  cEffect.ioRatio = 1;
  cEffect.object = this;
  cEffect.user = nullptr;
  cEffect.uniqueID = fourCharCode('N', 'o', 'E', 'f');
  cEffect.version = 1;
  cEffect.processReplacing = processReplacingEntry;
}

AudioEffect::~AudioEffect() {
  delete editor;
  editor = nullptr;
}

void AudioEffect::setSampleRate(float sampleRate) { this->sampleRate = sampleRate; }
void AudioEffect::setBlockSize(VstInt32 blockSize) { this->blockSize = blockSize; }
void AudioEffect::setParameter(VstInt32, float) {}
float AudioEffect::getParameter(VstInt32) { return 0.0f; }

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
  setParameter(index, value);
  callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::processReplacing(float**, float**, VstInt32) {}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
  switch (opcode) {
    case effOpen: open(); return 0;
    case effClose: close(); return 0;
    case effSetProgram:
      if (value < numPrograms) setProgram(static_cast<VstInt32>(value));
      return 0;
    case effGetProgram: return getProgram();
    case effSetProgramName: setProgramName(static_cast<char*>(ptr)); return 0;
    case effGetProgramName: getProgramName(static_cast<char*>(ptr)); return 0;
    case effGetParamLabel: getParameterLabel(index, static_cast<char*>(ptr)); return 0;
    case effGetParamDisplay: getParameterDisplay(index, static_cast<char*>(ptr)); return 0;
    case effGetParamName: getParameterName(index, static_cast<char*>(ptr)); return 0;
    case effGetVu:
      return static_cast<VstInt32>(
          static_cast<uint32_t>(roundHalfEven(static_cast<double>(getVu()) * 32767.0)));
    case effSetSampleRate: setSampleRate(opt); return 0;
    case effSetBlockSize: setBlockSize(static_cast<VstInt32>(value)); return 0;
    case effMainsChanged:
      if (value == 0) suspend();
      else resume();
      return 0;
    case effEditGetRect: return editor ? editor->getRect(static_cast<ERect**>(ptr)) : 0;
    case effEditOpen: return editor ? editor->open(ptr) : 0;
    case effEditClose:
      if (editor) editor->close();
      return 0;
    case effEditIdle:
      if (editor) editor->idle();
      return 0;
    case effIdentify: return fourCharCode('N', 'v', 'E', 'f');
    case effGetChunk: return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk: return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default: return 0;
  }
}

void AudioEffect::open() {}
void AudioEffect::close() {}
VstInt32 AudioEffect::getProgram() { return curProgram; }
void AudioEffect::setProgram(VstInt32 program) { curProgram = program; }
void AudioEffect::setProgramName(char*) {}
void AudioEffect::getProgramName(char*) {}
void AudioEffect::getParameterLabel(VstInt32, char*) {}
void AudioEffect::getParameterDisplay(VstInt32, char*) {}
void AudioEffect::getParameterName(VstInt32, char*) {}
float AudioEffect::getVu() { return 0.0f; }
VstInt32 AudioEffect::getChunk(void**, bool) { return 0; }
VstInt32 AudioEffect::setChunk(void*, VstInt32, bool) { return 0; }
void AudioEffect::suspend() {}
void AudioEffect::resume() {}
void AudioEffect::setUniqueID(VstInt32 id) { cEffect.uniqueID = id; }
void AudioEffect::setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
void AudioEffect::setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }

void AudioEffect::setFlag(VstInt32 bit, bool state) {
  if (state) cEffect.flags |= bit;
  else cEffect.flags &= ~bit;
}

void AudioEffect::hasVu(bool state) { setFlag(effFlagsHasVu, state); }
void AudioEffect::hasClip(bool state) { setFlag(effFlagsHasClip, state); }
void AudioEffect::canMono(bool state) { setFlag(effFlagsCanMono, state); }
void AudioEffect::canProcessReplacing(bool state) { setFlag(effFlagsCanReplacing, state); }
void AudioEffect::programsAreChunks(bool state) { setFlag(effFlagsProgramChunks, state); }
void AudioEffect::setRealtimeQualities(VstInt32 qualities) { cEffect.realQualities = qualities; }
void AudioEffect::setOfflineQualities(VstInt32 qualities) { cEffect.offQualities = qualities; }
void AudioEffect::setInitialDelay(VstInt32 delay) { cEffect.initialDelay = delay; }

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
  return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

VstInt32 AudioEffect::getMasterVersion() {
  const VstInt32 version = audioMaster ? static_cast<VstInt32>(callHost(audioMasterVersion)) : 1;
  return version == 0 ? 1 : version;
}

VstInt32 AudioEffect::getCurrentUniqueId() { return static_cast<VstInt32>(callHost(audioMasterCurrentId)); }
void AudioEffect::masterIdle() { callHost(audioMasterIdle); }

bool AudioEffect::isInputConnected(VstInt32 input) {
  return audioMaster ? callHost(audioMasterPinConnected, input, 0) == 0 : true;
}

bool AudioEffect::isOutputConnected(VstInt32 output) {
  return audioMaster ? callHost(audioMasterPinConnected, output, 1) == 0 : true;
}

void AudioEffect::setEditor(AEffEditor* editor) {
  this->editor = editor;
  setFlag(effFlagsHasEditor, editor != nullptr);
}
