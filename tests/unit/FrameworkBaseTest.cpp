// The base plug-in and editor classes on their own: the record a fresh
// object hands out, the decoding of opcodes 0..24, the flag setters and the
// editor's deferred update.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/DAudioEffect.h"
#include "host/DAEffectX.h"

namespace {

int destroyedEffects = 0;
int destroyedEditors = 0;

class CountingEditor : public AEffEditor {
 public:
  using AEffEditor::AEffEditor;
  ~CountingEditor() override { ++destroyedEditors; }
  void update() override { ++updates; }
  void* window() const { return systemWindow; }
  int updates = 0;
};

// A minimal concrete plug-in that records which operations the base
// dispatcher reached and with what.
class ProbeEffect : public AudioEffect {
 public:
  ProbeEffect(audioMasterCallback master = nullptr, VstInt32 programs = 3, VstInt32 params = 5)
      : AudioEffect(master, programs, params) {}
  ~ProbeEffect() override { ++destroyedEffects; }

  void process(float**, float**, VstInt32) override {}
  VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) override {
    const VstIntPtr result = AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    return overrideResult ? 77 : result;
  }
  void setProgram(VstInt32 program) override {
    calls.push_back("setProgram");
    AudioEffect::setProgram(program);
  }
  void suspend() override { calls.push_back("suspend"); }
  void resume() override { calls.push_back("resume"); }
  void open() override { calls.push_back("open"); }
  void close() override { calls.push_back("close"); }
  float getVu() override { return vu; }
  float getParameter(VstInt32 index) override { return index * 0.125f; }
  VstInt32 getChunk(void** data, bool isPreset) override {
    chunkData = data;
    chunkPreset = isPreset;
    return 42;
  }
  VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override {
    chunkData = static_cast<void**>(data);
    chunkSize = byteSize;
    chunkPreset = isPreset;
    return 43;
  }

  float rate() const { return sampleRate; }
  VstInt32 block() const { return blockSize; }
  VstInt32 current() const { return curProgram; }

  std::vector<std::string> calls;
  float vu = 0.0f;
  bool overrideResult = false;
  void** chunkData = nullptr;
  VstInt32 chunkSize = 0;
  bool chunkPreset = false;
};

VstIntPtr dispatch(AudioEffect& fx, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f) {
  AEffect* e = fx.getAeffect();
  return e->dispatcher(e, opcode, index, value, ptr, opt);
}

TEST(AudioEffectRecord, FreshObjectReadsAsTheInterfacePrescribes) {
  ProbeEffect fx(nullptr, 3, 5);
  const AEffect* e = fx.getAeffect();
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(e);
  const unsigned char vstp[4] = {0x50, 0x74, 0x73, 0x56};
  EXPECT_EQ(std::memcmp(bytes, vstp, 4), 0);
  EXPECT_NE(e->dispatcher, nullptr);
  EXPECT_NE(e->process, nullptr);
  EXPECT_NE(e->setParameter, nullptr);
  EXPECT_NE(e->getParameter, nullptr);
  EXPECT_NE(e->processReplacing, nullptr);
  EXPECT_EQ(e->numPrograms, 3);
  EXPECT_EQ(e->numParams, 5);
  EXPECT_EQ(e->numInputs, 1);
  EXPECT_EQ(e->numOutputs, 2);
  EXPECT_EQ(e->flags, 0);
  EXPECT_EQ(e->resvd1, 0);
  EXPECT_EQ(e->resvd2, 0);
  EXPECT_EQ(e->initialDelay, 0);
  EXPECT_EQ(e->realQualities, 0);
  EXPECT_EQ(e->offQualities, 0);
  uint32_t ioRatio;
  std::memcpy(&ioRatio, &e->ioRatio, 4);
  EXPECT_EQ(ioRatio, 0x00000001u);
  EXPECT_EQ(e->object, static_cast<void*>(static_cast<AudioEffect*>(&fx)));
  EXPECT_EQ(e->user, nullptr);
  EXPECT_EQ(e->uniqueID, 0x4E6F4566);  // "NoEf"
  EXPECT_EQ(e->version, 1);
  for (unsigned char b : e->future) EXPECT_EQ(b, 0);
  EXPECT_EQ(fx.rate(), 44100.0f);
  EXPECT_EQ(fx.block(), 1024);
  EXPECT_EQ(fx.current(), 0);
}

TEST(AudioEffectRecord, GetParameterEntryAnswersASingle) {
  ProbeEffect fx;
  AEffect* e = fx.getAeffect();
  EXPECT_EQ(e->getParameter(e, 3), 0.375f);
}

TEST(AudioEffectRecord, CloseDestroysTheObjectAndItsEditorOnceAndAnswersOne) {
  destroyedEffects = destroyedEditors = 0;
  auto* fx = new ProbeEffect;
  fx->setEditor(new CountingEditor(fx));
  fx->overrideResult = true;  // the object's own dispatcher answers 77
  AEffect* e = fx->getAeffect();
  EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
  EXPECT_EQ(destroyedEffects, 1);
  EXPECT_EQ(destroyedEditors, 1);
}

TEST(AudioEffectDispatcher, ProgramSelectionIsBoundedAboveOnly) {
  ProbeEffect fx(nullptr, 3, 5);
  dispatch(fx, effSetProgram, 0, 3);
  EXPECT_EQ(fx.current(), 0);
  EXPECT_TRUE(fx.calls.empty());
  dispatch(fx, effSetProgram, 0, 2);
  EXPECT_EQ(dispatch(fx, effGetProgram), 2);
  dispatch(fx, effSetProgram, 0, -4);  // no lower bound here: the override checks
  EXPECT_EQ(fx.current(), -4);
  EXPECT_EQ(fx.calls.size(), 2u);
}

TEST(AudioEffectDispatcher, MainsChangedSuspendsOnZeroAndResumesOtherwise) {
  ProbeEffect fx;
  dispatch(fx, effMainsChanged, 0, 2);
  dispatch(fx, effMainsChanged, 0, 0);
  dispatch(fx, effOpen);
  dispatch(fx, effMainsChanged, 0, -1);
  EXPECT_EQ(fx.calls, (std::vector<std::string>{"resume", "suspend", "open", "resume"}));
}

TEST(AudioEffectDispatcher, MeterIsScaledAndRoundedHalfToEven) {
  ProbeEffect fx;
  EXPECT_EQ(dispatch(fx, effGetVu), 0);
  fx.vu = 1.0f;
  EXPECT_EQ(dispatch(fx, effGetVu), 32767);
  fx.vu = 0.5f;
  EXPECT_EQ(dispatch(fx, effGetVu), 16384);  // 16383.5 -> even
  fx.vu = 0.25f;
  EXPECT_EQ(dispatch(fx, effGetVu), 8192);  // 8191.75 -> up
  fx.vu = -0.5f;
  EXPECT_EQ(dispatch(fx, effGetVu), -16384);
}

TEST(AudioEffectDispatcher, ChunksCarryTheHostsArguments) {
  ProbeEffect fx;
  void* where = nullptr;
  EXPECT_EQ(dispatch(fx, effGetChunk, 2, 0, &where), 42);
  EXPECT_EQ(fx.chunkData, &where);
  EXPECT_TRUE(fx.chunkPreset);  // any non-zero index, not only 1
  EXPECT_EQ(dispatch(fx, effGetChunk, 0, 0, &where), 42);
  EXPECT_FALSE(fx.chunkPreset);
  char data[16];
  EXPECT_EQ(dispatch(fx, effSetChunk, 1, 16, data), 43);
  EXPECT_EQ(fx.chunkSize, 16);
  EXPECT_TRUE(fx.chunkPreset);
}

TEST(AudioEffectDispatcher, RatesIdentityAndUnknownOpcodes) {
  ProbeEffect fx;
  EXPECT_EQ(dispatch(fx, effSetSampleRate, 0, 0, nullptr, 96000.0f), 0);
  EXPECT_EQ(fx.rate(), 96000.0f);
  EXPECT_EQ(dispatch(fx, effSetBlockSize, 0, 256), 0);
  EXPECT_EQ(fx.block(), 256);
  EXPECT_EQ(dispatch(fx, effIdentify, 5, 9, &fx, 1.5f), 0x4E764566);  // "NvEf"
  for (VstInt32 op : std::vector<VstInt32>{effEditDraw, effEditMouse, effEditKey, effEditTop, effEditSleep, 69, 1000, -1})
    EXPECT_EQ(dispatch(fx, op, 1, 1, nullptr, 1.0f), 0) << "opcode " << op;
}

TEST(AudioEffectDispatcher, EditorOpcodesWithoutAnEditorTouchNothing) {
  ProbeEffect fx;
  ERect* untouched = reinterpret_cast<ERect*>(0x1234);
  EXPECT_EQ(dispatch(fx, effEditGetRect, 0, 0, &untouched), 0);
  EXPECT_EQ(untouched, reinterpret_cast<ERect*>(0x1234));
  EXPECT_EQ(dispatch(fx, effEditOpen, 0, 0, &fx), 0);
  EXPECT_EQ(dispatch(fx, effEditClose), 0);
  EXPECT_EQ(dispatch(fx, effEditIdle), 0);
}

TEST(AudioEffectFlags, SettersChangeOnlyTheirOwnBit) {
  ProbeEffect fx;
  AEffect* e = fx.getAeffect();
  auto* editor = new CountingEditor(&fx);
  fx.setEditor(editor);
  EXPECT_EQ(e->flags, effFlagsHasEditor);
  fx.hasVu(true);
  fx.hasClip(true);
  fx.canMono(true);
  fx.canProcessReplacing(true);
  fx.programsAreChunks(true);
  EXPECT_EQ(e->flags, 63);
  fx.hasVu(false);
  EXPECT_EQ(e->flags, 63 & ~effFlagsHasVu);
  fx.setEditor(nullptr);
  EXPECT_EQ(e->flags, 63 & ~effFlagsHasVu & ~effFlagsHasEditor);
  fx.setEditor(editor);
  EXPECT_EQ(e->flags & effFlagsHasEditor, effFlagsHasEditor);
  fx.setUniqueID(fourCharCode('a', 'b', 'c', 'd'));
  fx.setNumInputs(4);
  fx.setNumOutputs(6);
  fx.setInitialDelay(128);
  fx.setRealtimeQualities(3);
  fx.setOfflineQualities(4);
  EXPECT_EQ(e->uniqueID, 0x61626364);
  EXPECT_EQ(e->numInputs, 4);
  EXPECT_EQ(e->numOutputs, 6);
  EXPECT_EQ(e->initialDelay, 128);
  EXPECT_EQ(e->realQualities, 3);
  EXPECT_EQ(e->offQualities, 4);
}

TEST(AEffEditorBase, DefaultsAndDeferredUpdate) {
  ProbeEffect fx;
  auto* editor = new CountingEditor(&fx);
  fx.setEditor(editor);

  ERect* rect = reinterpret_cast<ERect*>(0x10);
  EXPECT_EQ(dispatch(fx, effEditGetRect, 0, 0, &rect), 0);
  EXPECT_EQ(rect, reinterpret_cast<ERect*>(0x10));
  int parent = 0;
  EXPECT_EQ(dispatch(fx, effEditOpen, 0, 0, &parent), 0);
  EXPECT_EQ(editor->window(), &parent);
  dispatch(fx, effEditClose);
  EXPECT_EQ(editor->window(), &parent);  // close keeps the last parent

  VstKeyCode key{65, 0, 0};
  EXPECT_EQ(editor->onKeyDown(key), -1);
  EXPECT_EQ(editor->onKeyUp(key), -1);
  EXPECT_EQ(editor->setKnobMode(2), 0);
  EXPECT_FALSE(editor->onWheel(1.0f));

  dispatch(fx, effEditIdle);
  EXPECT_EQ(editor->updates, 0);
  editor->postUpdate();
  editor->postUpdate();
  dispatch(fx, effEditIdle);
  EXPECT_EQ(editor->updates, 1);
  dispatch(fx, effEditIdle);
  EXPECT_EQ(editor->updates, 1);
}

}  // namespace
