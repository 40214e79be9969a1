// The instrument: a buffer looper. While "Buff Size" is 1.0 it records the
// input (mixed to mono) and passes it through; below 1.0 it loops the start
// of the recording. MIDI notes set the loop's read speed.
//
// Threads: process/processReplacing and processEvents run on the audio
// thread; setParameter/getParameter and the dispatcher may come from any
// thread. Values that cross threads are relaxed atomics of their own width.
#pragma once

#include <atomic>

#include "host/DAudioEffectX.h"
#include "instrument/uParameters.h"

class APluginEditor;

class APluginProgram {
 public:
  static constexpr int kNameSize = 52;

  APluginProgram();
  void setName(const char* text);
  // Copies the name into dst, at most capacity bytes including the terminator.
  void getName(char* dst, int capacity) const;

  std::atomic<float> buffSize;
  std::atomic<float> volume;
  std::atomic<float> readThroughSpeed;
  std::atomic<char> name[kNameSize];
};

class APlugin : public AudioEffectX {
 public:
  static constexpr int kBufferLength = 22050;
  static constexpr int kNumPrograms = 1;
  static constexpr int kNumParams = kParamCount;
  // Hosts hand program-name buffers of this size.
  static constexpr int kProgramNameCapacity = 24;

  explicit APlugin(audioMasterCallback audioMaster);
  ~APlugin() override;

  // False when an allocation failed during construction.
  bool isComplete() const { return sampleBuffer && programs && editor; }

  void setParameter(VstInt32 index, float value) override;
  float getParameter(VstInt32 index) override;
  void process(float** inputs, float** outputs, VstInt32 sampleFrames) override;
  void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
  void setProgram(VstInt32 program) override;
  void setProgramName(char* name) override;
  void getProgramName(char* name) override;
  void getParameterLabel(VstInt32 index, char* label) override;
  void getParameterDisplay(VstInt32 index, char* text) override;
  void getParameterName(VstInt32 index, char* text) override;
  float getVu() override;
  void suspend() override;
  void resume() override;
  VstInt32 processEvents(VstEvents* events) override;
  bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;
  bool getOutputProperties(VstInt32 index, VstPinProperties* properties) override;
  bool getEffectName(char* name) override;
  bool getVendorString(char* text) override;
  bool getProductString(char* text) override;
  VstInt32 getVendorVersion() override;
  // Takes the host's display scale for the editor: index 'PreS', value
  // 'AeCs', the factor in opt; 1 when taken. Everything else: 0.
  VstIntPtr vendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt) override;
  VstInt32 canDo(char* text) override;

  static constexpr VstInt32 kScaleFactorIndex = fourCharCode('P', 'r', 'e', 'S');
  static constexpr VstInt32 kScaleFactorValue = fourCharCode('A', 'e', 'C', 's');

 protected:
  friend class APluginEditor;

  template <bool Accumulate>
  void processBlock(float** inputs, float** outputs, VstInt32 sampleFrames);
  template <bool Accumulate>
  void recordBlock(const float* inL, const float* inR, float* outL, float* outR, VstInt32 sampleFrames,
                   double gain);
  template <bool Accumulate>
  void loopBlock(float* outL, float* outR, VstInt32 sampleFrames, float size, bool searchAllowed, double gain);
  // The first loop sample after recording: searches the loop start and tells
  // the editor; returns the loop start.
  VstInt32 startLoop();
  int searchLoopStart() const;
  APluginProgram* currentProgram() const;

  // The last controller or pitch-bend value scaled to 0..1; nothing reads it
  // back, it is kept as the instance's record of its MIDI input.
  std::atomic<float> controllerValue;
  std::atomic<float> buffSize;
  std::atomic<float> volume;
  std::atomic<float> readThroughSpeed;
  std::atomic<bool> editorClosed;
  float* sampleBuffer;
  VstInt32 writeIndex;
  double readPosition;
  double readIncrement;
  std::atomic<VstInt32> loopMode;
  VstInt32 loopStartFound;
  VstInt32 loopStart;
  VstInt32 loopEnd;
  std::atomic<float> noteSpeed;
  APluginProgram* programs;
};

// Builds an instance for a host; null when the host is not a VST 2 host or
// memory ran out (nothing is left allocated then).
AEffect* createEffectInstance(audioMasterCallback audioMaster);
