#include "instrument/uPlugin.h"

#include <cfloat>
#include <cstddef>
#include <algorithm>
#include <cstring>
#include <new>

#include "editor/APluginEditor.h"
#include "host/DFloatEnv.h"
#include "host/DVstUtils.h"
#include "instrument/uLoopPlayer.h"
#include "instrument/uNoteTable.h"

namespace {

constexpr float kDefaultSpeed = 64.0f / 127.0f;  // bit pattern 0x3F010204
constexpr float kQuiet = 0.0005f;
constexpr int kQuietCount = 3;
constexpr double kLoopLengthOffset = 0.001;
constexpr const char* kParamNames[APlugin::kNumParams] = {"Buff Size", "Volume", "Read Through Speed"};

constexpr std::memory_order relaxed = std::memory_order_relaxed;

}  // namespace

// ---------------------------------------------------------------------------

APluginProgram::APluginProgram() : buffSize(1.0f), volume(0.0f), readThroughSpeed(kDefaultSpeed) {
  setName("Init");
}

void APluginProgram::setName(const char* text) {
  int n = 0;
  if (text)
    for (; n < kNameSize - 1 && text[n] != '\0'; ++n) name[n].store(text[n], relaxed);
  for (; n < kNameSize; ++n) name[n].store('\0', relaxed);
}

void APluginProgram::getName(char* dst, int capacity) const {
  if (!dst || capacity <= 0) return;
  int n = 0;
  for (; n < capacity - 1 && n < kNameSize - 1; ++n) {
    const char c = name[n].load(relaxed);
    if (c == '\0') break;
    dst[n] = c;
  }
  dst[n] = '\0';
}

// ---------------------------------------------------------------------------

APlugin::APlugin(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParams),
      controllerValue(0.0f),
      buffSize(1.0f),
      volume(0.0f),
      readThroughSpeed(kDefaultSpeed),
      editorClosed(false),
      sampleBuffer(nullptr),
      writeIndex(0),
      readPosition(0.0),
      readIncrement(0.0),
      loopMode(0),
      loopStartFound(0),
      loopStart(0),
      loopEnd(0),
      noteSpeed(kDefaultSpeed),
      programs(nullptr) {
  programs = new (std::nothrow) APluginProgram;
  if (!programs) return;
  APluginEditor* bridge = new (std::nothrow) APluginEditor(this);
  if (!bridge) return;
  setEditor(bridge);
  hasVu(false);
  setNumInputs(2);
  setNumOutputs(2);
  canMono(false);
  canProcessReplacing(true);
  isSynth(false);
  setUniqueID(fourCharCode('K', 'V', '4', '2'));
  // Cleared, so a loop over never-recorded indices plays silence.
  sampleBuffer = new (std::nothrow) float[kBufferLength]();
  if (!sampleBuffer) return;
  programs->setName("The Only Preset");
  // Loads the program's values through setParameter: record mode, full level.
  setProgram(0);
  // Asked into zeroed room for any host's answer; the texts are not used.
  char hostText[256] = {};
  getHostVendorString(hostText);
  std::memset(hostText, 0, sizeof hostText);
  getHostProductString(hostText);
}

APlugin::~APlugin() {
  // The editor goes first: it still reads the instrument while it closes.
  delete editor;
  setEditor(nullptr);
  delete[] sampleBuffer;
  sampleBuffer = nullptr;
  delete programs;
  programs = nullptr;
}

APluginProgram* APlugin::currentProgram() const {
  const VstInt32 index = curProgram.load(relaxed);
  return (programs && index >= 0 && index < kNumPrograms) ? &programs[index] : nullptr;
}

// ---------------------------------------------------------------------------
// Parameters and program

void APlugin::setParameter(VstInt32 index, float value) {
  if (value > 1.0f) value = 1.0f;
  if (!(value >= 0.0f)) value = 0.0f;
  // Denormals (which the engine reads as zero anyway) and -0.0 are stored as
  // 0.0, so what the host reads back and displays is what the engine plays.
  if (value < FLT_MIN) value = 0.0f;
  APluginProgram* program = currentProgram();
  switch (index) {
    case kParamBuffSize:
      buffSize.store(value, relaxed);
      loopMode.store(value < 1.0f ? 1 : 0, relaxed);
      if (program) program->buffSize.store(value, relaxed);
      break;
    case kParamVolume:
      volume.store(value, relaxed);
      if (program) program->volume.store(value, relaxed);
      break;
    case kParamReadThroughSpeed:
      readThroughSpeed.store(value, relaxed);
      if (program) program->readThroughSpeed.store(value, relaxed);
      break;
    default: break;
  }
  if (editor) editor->update();
}

float APlugin::getParameter(VstInt32 index) {
  switch (index) {
    case kParamBuffSize: return buffSize.load(relaxed);
    case kParamVolume: return volume.load(relaxed);
    case kParamReadThroughSpeed: return readThroughSpeed.load(relaxed);
    default: return 0.0f;
  }
}

void APlugin::setProgram(VstInt32 program) {
  if (program != 0 || !programs) return;
  curProgram = program;
  APluginProgram& p = programs[program];
  setParameter(kParamBuffSize, p.buffSize.load(relaxed));
  setParameter(kParamVolume, p.volume.load(relaxed));
  setParameter(kParamReadThroughSpeed, p.readThroughSpeed.load(relaxed));
  if (!editorClosed.load(relaxed) && editor) editor->update();
}

void APlugin::setProgramName(char* name) {
  APluginProgram* program = currentProgram();
  if (!name || !program) return;
  program->setName(name);
  if (!editorClosed.load(relaxed) && editor) editor->update();
}

void APlugin::getProgramName(char* name) {
  APluginProgram* program = currentProgram();
  if (program) program->getName(name, kProgramNameCapacity);
  else copyText(name, "", 1);
}

bool APlugin::getProgramNameIndexed(VstInt32, VstInt32 index, char* text) {
  if (index != 0 || !programs) return false;
  programs[0].getName(text, kProgramNameCapacity);
  return true;
}

void APlugin::getParameterLabel(VstInt32, char* label) { copyText(label, "%", 2); }

void APlugin::getParameterName(VstInt32 index, char* text) {
  const char* name = (index >= 0 && index < kNumParams) ? kParamNames[index] : "reserved";
  copyText(text, name, std::strlen(name) + 1);
}

void APlugin::getParameterDisplay(VstInt32 index, char* text) {
  float value = 0.0f;
  if (index >= 0 && index < kNumParams) value = getParameter(index);
  formatFixed2(value, text, 64);
}

float APlugin::getVu() { return 0.0f; }

void APlugin::suspend() {}

void APlugin::resume() { wantEvents(1); }

// ---------------------------------------------------------------------------
// Identity

bool APlugin::getEffectName(char* name) {
  if (!name) return false;
  copyText(name, "Vantorel", 9);
  return true;
}

bool APlugin::getVendorString(char* text) {
  if (!text) return false;
  copyText(text, "Kestrom", 8);
  return true;
}

bool APlugin::getProductString(char* text) {
  if (!text) return false;
  copyText(text, "Vantorel", 9);
  return true;
}

VstInt32 APlugin::getVendorVersion() { return 1; }

VstIntPtr APlugin::vendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt) {
  if (index == kScaleFactorIndex && value == kScaleFactorValue && editor)
    return static_cast<APluginEditor*>(editor)->setHostScale(opt) ? 1 : 0;
  return AudioEffectX::vendorSpecific(index, value, ptr, opt);
}

VstInt32 APlugin::canDo(char* text) {
  if (!text) return -1;
  if (std::strcmp(text, "receiveVstEvents") == 0 || std::strcmp(text, "receiveVstMidiEvent") == 0) return 1;
  return -1;
}

bool APlugin::getOutputProperties(VstInt32 index, VstPinProperties* properties) {
  if (index < 0 || index >= 2 || !properties) return false;
  char label[8] = {'K', 'V', '4', '2', ' ', static_cast<char>('1' + index), '\0', '\0'};
  copyText(properties->label, label, sizeof properties->label);
  properties->flags = kVstPinIsActive | kVstPinIsStereo;
  return true;
}

// ---------------------------------------------------------------------------
// MIDI

VstInt32 APlugin::processEvents(VstEvents* events) {
  if (!events) return 1;
  // The host's list holds numEvents pointers, however many the declaration shows.
  VstEvent* const* list =
      reinterpret_cast<VstEvent* const*>(reinterpret_cast<const char*>(events) + offsetof(VstEvents, events));
  const VstInt32 count = events->numEvents;
  for (VstInt32 i = 0; i < count; ++i) {
    const VstEvent* event = list[i];
    if (!event || event->type != kVstMidiType) continue;
    const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
    const unsigned status = static_cast<unsigned char>(midi->midiData[0]) & 0xF0u;
    const unsigned data1 = static_cast<unsigned char>(midi->midiData[1]);
    const unsigned data2 = static_cast<unsigned char>(midi->midiData[2]);
    switch (status) {
      case 0x90:
        if (data2 != 0) {
          const float speed = static_cast<float>(vantorel::kNoteSpeeds[data1 & 0x7Fu]);
          noteSpeed.store(speed, relaxed);
          readThroughSpeed.store(speed, relaxed);
        }
        break;
      case 0xB0: {
        const float value = static_cast<float>(data2 / 127.0);
        controllerValue.store(value, relaxed);
        if (data1 == 1) setParameter(kParamBuffSize, static_cast<float>(1.0 - value));
        else if (data1 == 7) setParameter(kParamVolume, static_cast<float>(1.0 - value));
        if (editor) editor->update();
        break;
      }
      case 0xE0: {
        const float value = static_cast<float>((data2 * 256 + data1) / 65535.0);
        controllerValue.store(value, relaxed);
        if (value != 0.0f)
          readThroughSpeed.store(
              static_cast<float>((static_cast<double>(value) * 1.5 + 0.5) * noteSpeed.load(relaxed)), relaxed);
        if (editor) editor->update();
        break;
      }
      default: break;
    }
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Buffer engine

static_assert(APlugin::kBufferLength == vantorel::kLoopBufferLength, "the loop player plays this buffer");
// A loop ends at most (1 + kLoopLengthOffset) buffer lengths in, so every
// loop the engine makes is one the player computes frames of independently.
static_assert(APlugin::kBufferLength * (1.0 + kLoopLengthOffset) + 1.0 <= vantorel::kExactLoopEnd,
              "the longest loop stays in the loop player's exact range");

int APlugin::searchLoopStart() const {
  int quiet = 0;
  for (int i = 0; i < kBufferLength; ++i) {
    const float s = sampleBuffer[i];
    if (s > -kQuiet && s < kQuiet && ++quiet == kQuietCount) return i + 1;
  }
  // Fewer than three quiet samples: the loop starts one past the end.
  return kBufferLength;
}

// Rare (once per loop phase), so kept out of the per-sample code; taking
// no part of the engine state keeps that state in registers.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
VstInt32 APlugin::startLoop() {
  const VstInt32 start = searchLoopStart();
  if (editor) editor->update();
  return start;
}

namespace {

// One stretch of recording that does not cross the buffer's end. Each frame
// depends on nothing but its own inputs, so the compiler may vectorise it;
// input and output channels may be the same buffers (same index only).
template <bool Accumulate>
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("tree-vectorize", "vect-cost-model=dynamic")))
#endif
void recordRun(const float* inL, const float* inR, float* buffer, float* outL, float* outR, VstInt32 frames,
               double gain) {
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC ivdep
#endif
  for (VstInt32 i = 0; i < frames; ++i) {
    const float mono = static_cast<float>((static_cast<double>(inL[i]) + static_cast<double>(inR[i])) * 0.5);
    buffer[i] = mono;
    const float out = static_cast<float>(gain * mono);
    if (Accumulate) {
      outL[i] = outL[i] + out;
      outR[i] = outR[i] + out;
    } else {
      outL[i] = out;
      outR[i] = out;
    }
  }
}

// Recording when a host left out a channel: a missing input is silence, a
// missing output is not written.
template <bool Accumulate>
void recordRunChecked(const float* inL, const float* inR, float* buffer, float* outL, float* outR,
                      VstInt32 frames, double gain) {
  for (VstInt32 i = 0; i < frames; ++i) {
    const double left = inL ? inL[i] : 0.0f, right = inR ? inR[i] : 0.0f;
    const float mono = static_cast<float>((left + right) * 0.5);
    buffer[i] = mono;
    const float out = static_cast<float>(gain * mono);
    if (outL) outL[i] = Accumulate ? outL[i] + out : out;
    if (outR) outR[i] = Accumulate ? outR[i] + out : out;
  }
}

inline const float* offset(const float* p, VstInt32 n) { return p ? p + n : nullptr; }
inline float* offset(float* p, VstInt32 n) { return p ? p + n : nullptr; }

}  // namespace

template <bool Accumulate>
void APlugin::recordBlock(const float* inL, const float* inR, float* outL, float* outR, VstInt32 sampleFrames,
                          double gain) {
  const bool complete = inL && inR && outL && outR;
  VstInt32 w = writeIndex;
  if (w >= kBufferLength) w %= kBufferLength;
  for (VstInt32 done = 0; done < sampleFrames;) {
    if (w >= kBufferLength) w = 0;
    const VstInt32 run = std::min(sampleFrames - done, kBufferLength - w);
    if (complete)
      recordRun<Accumulate>(inL + done, inR + done, sampleBuffer + w, outL + done, outR + done, run, gain);
    else
      recordRunChecked<Accumulate>(offset(inL, done), offset(inR, done), sampleBuffer + w, offset(outL, done),
                                   offset(outR, done), run, gain);
    done += run;
    w += run;
  }
  writeIndex = w;
  loopStartFound = 0;
  vantorel::prefetchSamples(sampleBuffer, w, sampleFrames);
}

template <bool Accumulate>
void APlugin::loopBlock(float* outL, float* outR, VstInt32 sampleFrames, float size, bool searchAllowed,
                        double gain) {
  if (loopStartFound == 0 && searchAllowed) {
    loopStartFound = 1;
    loopStart = startLoop();
  }
  loopEnd = loopStart + vantorel::roundToEven((static_cast<double>(size) + kLoopLengthOffset) *
                                    static_cast<double>(kBufferLength - loopStart));
  readPosition = vantorel::playLoop<Accumulate>(sampleBuffer, readPosition, readIncrement, loopEnd, gain, outL,
                                                outR, sampleFrames);
  // The next block, if it is like this one, reads on from here.
  const double span = static_cast<double>(sampleFrames) * readIncrement + 2.0;
  vantorel::prefetchSamples(sampleBuffer, static_cast<VstInt32>(readPosition),
                            span < 256.0 ? static_cast<VstInt32>(span) : 256);
}

// The parameters are read once, at the start of the block, and held for the
// whole block. That plays exactly what reading them at every frame would:
// - On this (the audio) thread nothing changes them during a block; MIDI and
//   its controllers are handled before the block, and the one call out of
//   the engine, the editor bridge's update, only copies values.
// - A change made on another thread is unordered with respect to this
//   block's frames (no lock, relaxed values), so any frame at which it shows
//   is as valid as any other, and "after the last frame" is one of them. It
//   is picked up at the start of the next block, never later.
// loopMode is read in the same place, so a block sees buffSize and loopMode
// as one consistent pair whenever no other thread is writing them.
template <bool Accumulate>
void APlugin::processBlock(float** inputs, float** outputs, VstInt32 sampleFrames) {
  tempoAt(0);
  if (!sampleBuffer || sampleFrames <= 0) return;
  const float size = buffSize.load(relaxed);
  const bool searchAllowed = loopMode.load(relaxed) == 1;
  const double gain = 1.0 - static_cast<double>(volume.load(relaxed));
  readIncrement = readThroughSpeed.load(relaxed);
  float* outL = outputs ? outputs[0] : nullptr;
  float* outR = outputs ? outputs[1] : nullptr;
  if (size >= 1.0f) {
    recordBlock<Accumulate>(inputs ? inputs[0] : nullptr, inputs ? inputs[1] : nullptr, outL, outR, sampleFrames,
                            gain);
  } else {
    // A loop plays the buffer: the inputs are not read.
    loopBlock<Accumulate>(outL, outR, sampleFrames, size, searchAllowed, gain);
  }
}

void APlugin::process(float** inputs, float** outputs, VstInt32 sampleFrames) {
  processBlock<true>(inputs, outputs, sampleFrames);
}

void APlugin::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
  processBlock<false>(inputs, outputs, sampleFrames);
}

// ---------------------------------------------------------------------------

AEffect* createEffectInstance(audioMasterCallback audioMaster) {
  if (!audioMaster) return nullptr;
  FloatEnvGuard fpu;
  if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
  APlugin* plugin = nullptr;
  // No exception may cross into the host, whatever a constructor below us does.
  try {
    plugin = new (std::nothrow) APlugin(audioMaster);
  } catch (...) {
    return nullptr;
  }
  if (!plugin) return nullptr;
  if (!plugin->isComplete()) {
    delete plugin;
    return nullptr;
  }
  return plugin->getAeffect();
}
