// AudioEffect: the root plug-in class that owns the host's record and decodes
// opcodes 0..24; AEffEditor: the root editor class.
//
// Threads: the record's audio entries (process, processReplacing) run on the
// host's audio thread; setParameter/getParameter and the dispatcher may come
// from any host thread; editor operations come from the host's UI thread.
#pragma once

#include <atomic>

#include "host/DAEffect.h"

class AudioEffect;
struct VstKeyCode;

class AEffEditor {
 public:
  explicit AEffEditor(AudioEffect* effect);
  virtual ~AEffEditor() = default;

  virtual VstInt32 getRect(ERect** rect);
  virtual VstInt32 open(void* ptr);
  virtual void close();
  virtual void idle();
  virtual void update();
  virtual void postUpdate();
  virtual VstInt32 onKeyDown(VstKeyCode& keyCode);
  virtual VstInt32 onKeyUp(VstKeyCode& keyCode);
  virtual VstInt32 setKnobMode(VstInt32 val);
  virtual bool onWheel(float distance);

 protected:
  AudioEffect* effect;
  // The host's window as the default open received it; nothing here reads
  // it back, it is kept for editors that rely on the default open.
  void* systemWindow = nullptr;
  std::atomic<VstInt32> updateFlag{0};
};

class AudioEffect {
 public:
  AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
  virtual ~AudioEffect();

  virtual void setSampleRate(float sampleRate);
  virtual void setBlockSize(VstInt32 blockSize);
  virtual void setParameter(VstInt32 index, float value);
  virtual float getParameter(VstInt32 index);
  virtual void setParameterAutomated(VstInt32 index, float value);
  virtual void process(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
  virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames);
  virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);
  virtual void open();
  virtual void close();
  virtual VstInt32 getProgram();
  virtual void setProgram(VstInt32 program);
  virtual void setProgramName(char* name);
  virtual void getProgramName(char* name);
  virtual void getParameterLabel(VstInt32 index, char* label);
  virtual void getParameterDisplay(VstInt32 index, char* text);
  virtual void getParameterName(VstInt32 index, char* text);
  virtual float getVu();
  virtual VstInt32 getChunk(void** data, bool isPreset);
  virtual VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset);
  virtual void suspend();
  virtual void resume();
  virtual void setUniqueID(VstInt32 id);
  virtual void setNumInputs(VstInt32 inputs);
  virtual void setNumOutputs(VstInt32 outputs);
  virtual void hasVu(bool state);
  virtual void hasClip(bool state);
  virtual void canMono(bool state);
  virtual void canProcessReplacing(bool state);
  virtual void programsAreChunks(bool state);
  virtual void setRealtimeQualities(VstInt32 qualities);
  virtual void setOfflineQualities(VstInt32 qualities);
  virtual void setInitialDelay(VstInt32 delay);
  virtual VstInt32 getMasterVersion();
  virtual VstInt32 getCurrentUniqueId();
  virtual void masterIdle();
  virtual bool isInputConnected(VstInt32 input);
  virtual bool isOutputConnected(VstInt32 output);

  void setEditor(AEffEditor* editor);
  AEffect* getAeffect() { return &cEffect; }

 protected:
  // Calls the host if there is one; answers 0 without calling otherwise.
  VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f);
  void setFlag(VstInt32 bit, bool state);

  AEffect cEffect;
  float sampleRate;
  AEffEditor* editor;
  VstInt32 numPrograms;
  VstInt32 numParams;
  std::atomic<VstInt32> curProgram;
  VstInt32 blockSize;
  audioMasterCallback audioMaster;
};
