// AudioEffectX on its own: the host requests with and without a host, the
// extended dispatcher's decoding and result conversion, and the defaults.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "host/DAudioEffectX.h"

namespace {

struct Call {
  AEffect* effect;
  VstInt32 opcode, index;
  VstIntPtr value;
  void* ptr;
  float opt;
};

// One host for the whole program: records calls and answers from a table.
std::vector<Call> gCalls;
std::map<VstInt32, std::function<VstIntPtr(const Call&)>> gAnswers;

VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt) {
  Call c{effect, opcode, index, value, ptr, opt};
  gCalls.push_back(c);
  auto it = gAnswers.find(opcode);
  return it == gAnswers.end() ? 0 : it->second(c);
}

class Bare : public AudioEffectX {
 public:
  explicit Bare(audioMasterCallback host) : AudioEffectX(host, 1, 2) {}
  void process(float**, float**, VstInt32) override {}
  void setParameter(VstInt32 index, float value) override {
    if (index >= 0 && index < 2) values[index] = value;
  }
  float getParameter(VstInt32 index) override { return index >= 0 && index < 2 ? values[index] : 0.0f; }
  float sampleRateNow() const { return sampleRate; }
  VstInt32 blockSizeNow() const { return blockSize; }
  VstInt32 flags() { return getAeffect()->flags; }
  void setFlags(VstInt32 f) { getAeffect()->flags = f; }
  float values[2] = {0.0f, 0.0f};
};

class Framework : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls.clear();
    gAnswers.clear();
  }
  void TearDown() override { gAnswers.clear(); }
  const Call& only() {
    EXPECT_EQ(gCalls.size(), 1u);
    return gCalls.back();
  }
};

// ---------------------------------------------------------------------------
// Requests of the base class

TEST_F(Framework, AutomationStoresFirstThenTellsTheHost) {
  Bare fx(hostCallback);
  float seen = -1.0f;
  gAnswers[audioMasterAutomate] = [&](const Call& c) {
    seen = c.effect->getParameter(c.effect, c.index);  // the host reads it back
    return 0;
  };
  fx.setParameterAutomated(1, 0.625f);
  EXPECT_EQ(fx.values[1], 0.625f);
  const Call& c = only();
  EXPECT_EQ(c.effect, fx.getAeffect());
  EXPECT_EQ(c.opcode, audioMasterAutomate);
  EXPECT_EQ(c.index, 1);
  EXPECT_EQ(c.value, 0);
  EXPECT_EQ(c.ptr, nullptr);
  EXPECT_EQ(c.opt, 0.625f);
  EXPECT_EQ(seen, 0.625f);

  Bare alone(nullptr);
  alone.setParameterAutomated(0, 0.25f);
  EXPECT_EQ(alone.values[0], 0.25f);
}

TEST_F(Framework, BaseRequestsWithAndWithoutAHost) {
  Bare none(nullptr);
  EXPECT_EQ(none.getMasterVersion(), 1);
  EXPECT_EQ(none.getCurrentUniqueId(), 0);
  none.masterIdle();
  EXPECT_TRUE(none.isInputConnected(0));
  EXPECT_TRUE(none.isOutputConnected(1));

  Bare fx(hostCallback);
  EXPECT_EQ(fx.getMasterVersion(), 1) << "a host answer of 0 counts as version 1";
  gAnswers[audioMasterVersion] = [](const Call&) { return 2300; };
  EXPECT_EQ(fx.getMasterVersion(), 2300);
  gAnswers[audioMasterCurrentId] = [](const Call&) { return -5; };
  EXPECT_EQ(fx.getCurrentUniqueId(), -5);
  gCalls.clear();
  fx.masterIdle();
  EXPECT_EQ(only().opcode, audioMasterIdle);

  gCalls.clear();
  EXPECT_TRUE(fx.isInputConnected(3));
  EXPECT_TRUE(fx.isOutputConnected(4));
  ASSERT_EQ(gCalls.size(), 2u);
  EXPECT_EQ(gCalls[0].opcode, audioMasterPinConnected);
  EXPECT_EQ(gCalls[0].index, 3);
  EXPECT_EQ(gCalls[0].value, 0);
  EXPECT_EQ(gCalls[1].opcode, audioMasterPinConnected);
  EXPECT_EQ(gCalls[1].index, 4);
  EXPECT_EQ(gCalls[1].value, 1);
  gAnswers[audioMasterPinConnected] = [](const Call&) { return 1; };
  EXPECT_FALSE(fx.isInputConnected(0));
  EXPECT_FALSE(fx.isOutputConnected(0));
  gAnswers[audioMasterPinConnected] = [](const Call&) { return -1; };
  EXPECT_FALSE(fx.isInputConnected(0));
}

// ---------------------------------------------------------------------------
// Requests of the extended class: what each sends and how it reads the answer

struct Request {
  const char* name;
  VstInt32 opcode, index;
  VstIntPtr value;
  const void* ptr;
  float opt;
  std::function<VstIntPtr(Bare&)> call;  // the operation's result as an integer
  VstIntPtr withoutHost;                 // its result with no host
  VstIntPtr answer;                      // a host answer...
  VstIntPtr result;                      // ...and the result it gives
};

template <class T>
VstIntPtr asIntPtr(T* p) {
  return reinterpret_cast<VstIntPtr>(p);
}

char gText[64];
int gRecord[4];

TEST_F(Framework, EveryExtendedRequestSendsItsRowAndConvertsTheAnswer) {
  void* const p = gRecord;
  auto asInt = [](const void* q) { return reinterpret_cast<VstIntPtr>(q); };
  auto rec = reinterpret_cast<VstOfflineTask*>(gRecord);
  const Request rows[] = {
      {"getTimeInfo", audioMasterGetTime, 0, 3, nullptr, 0, [](Bare& b) { return asIntPtr(b.getTimeInfo(3)); }, 0,
       0x1000, 0x1000},
      {"tempoAt", audioMasterTempoAt, 0, 77, nullptr, 0, [](Bare& b) { return VstIntPtr(b.tempoAt(77)); }, 0,
       1200000, 1200000},
      {"getNumAutomatableParameters", audioMasterGetNumAutomatableParameters, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.getNumAutomatableParameters()); }, 0, 9, 9},
      {"getParameterQuantization", audioMasterGetParameterQuantization, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.getParameterQuantization()); }, 0, -4, -4},
      {"ioChanged", audioMasterIOChanged, 0, 0, nullptr, 0, [](Bare& b) { return VstIntPtr(b.ioChanged()); }, 0, 5,
       1},
      {"needIdle", audioMasterNeedIdle, 0, 0, nullptr, 0, [](Bare& b) { return VstIntPtr(b.needIdle()); }, 0, -1, 1},
      {"sizeWindow", audioMasterSizeWindow, 300, 200, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.sizeWindow(300, 200)); }, 0, 1, 1},
      {"getInputLatency", audioMasterGetInputLatency, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.getInputLatency()); }, 0, 64, 64},
      {"getOutputLatency", audioMasterGetOutputLatency, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.getOutputLatency()); }, 0, 65, 65},
      {"getPreviousPlug", audioMasterGetPreviousPlug, 0, 0, nullptr, 0,
       [](Bare& b) { return asIntPtr(b.getPreviousPlug()); }, 0, 0x2000, 0x2000},
      {"getNextPlug", audioMasterGetNextPlug, 0, 0, nullptr, 0, [](Bare& b) { return asIntPtr(b.getNextPlug()); }, 0,
       0x3000, 0x3000},
      {"willProcessReplacing", audioMasterWillReplaceOrAccumulate, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.willProcessReplacing()); }, 0, 2, 2},
      {"getCurrentProcessLevel", audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.getCurrentProcessLevel()); }, 0, 4, 4},
      {"getAutomationState", audioMasterGetAutomationState, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.getAutomationState()); }, 0, 3, 3},
      {"offlineRead source", audioMasterOfflineRead, 1, 6, rec, 0,
       [rec](Bare& b) { return VstIntPtr(b.offlineRead(rec, 6, true)); }, 0, 2, 1},
      {"offlineRead", audioMasterOfflineRead, 0, 6, rec, 0,
       [rec](Bare& b) { return VstIntPtr(b.offlineRead(rec, 6, false)); }, 0, 0, 0},
      {"offlineWrite", audioMasterOfflineWrite, 0, 8, rec, 0,
       [rec](Bare& b) { return VstIntPtr(b.offlineWrite(rec, 8)); }, 0, 1, 1},
      {"offlineStart", audioMasterOfflineStart, 5, 4, p, 0,
       [p](Bare& b) { return VstIntPtr(b.offlineStart(static_cast<VstAudioFile*>(p), 4, 5)); }, 0, 1, 1},
      {"offlineGetCurrentPass", audioMasterOfflineGetCurrentPass, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.offlineGetCurrentPass()); }, 0, 3, 1},
      {"offlineGetCurrentMetaPass", audioMasterOfflineGetCurrentMetaPass, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.offlineGetCurrentMetaPass()); }, 0, -2, 1},
      {"getSpeakerArrangement", audioMasterGetSpeakerArrangement, 0, asInt(gText), p, 0,
       [p](Bare& b) {
         return VstIntPtr(b.getSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement*>(gText),
                                                  static_cast<VstSpeakerArrangement*>(p)));
       },
       0, 1, 1},
      {"getHostVendorString", audioMasterGetVendorString, 0, 0, gText, 0,
       [](Bare& b) { return VstIntPtr(b.getHostVendorString(gText)); }, 0, 1, 1},
      {"getHostProductString", audioMasterGetProductString, 0, 0, gText, 0,
       [](Bare& b) { return VstIntPtr(b.getHostProductString(gText)); }, 0, 7, 1},
      {"getHostVendorVersion", audioMasterGetVendorVersion, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.getHostVendorVersion()); }, 0, 1234, 1234},
      {"hostVendorSpecific", audioMasterVendorSpecific, 11, 22, p, 0.5f,
       [p](Bare& b) { return b.hostVendorSpecific(11, 22, p, 0.5f); }, 0, -9, -9},
      {"canHostDo yes", audioMasterCanDo, 0, 0, gText, 0, [](Bare& b) { return VstIntPtr(b.canHostDo(gText)); }, 0,
       1, 1},
      {"canHostDo -1", audioMasterCanDo, 0, 0, gText, 0, [](Bare& b) { return VstIntPtr(b.canHostDo(gText)); }, 0,
       -1, 1},
      {"getHostLanguage", audioMasterGetLanguage, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.getHostLanguage()); }, 0, 2, 2},
      {"openWindow", audioMasterOpenWindow, 0, 0, p, 0,
       [p](Bare& b) { return asIntPtr(b.openWindow(static_cast<VstWindow*>(p))); }, 0, 0x4000, 0x4000},
      {"closeWindow", audioMasterCloseWindow, 0, 0, p, 0,
       [p](Bare& b) { return VstIntPtr(b.closeWindow(static_cast<VstWindow*>(p))); }, 0, 1, 1},
      {"getDirectory", audioMasterGetDirectory, 0, 0, nullptr, 0, [](Bare& b) { return asIntPtr(b.getDirectory()); },
       0, 0x5000, 0x5000},
      {"updateDisplay", audioMasterUpdateDisplay, 0, 0, nullptr, 0,
       [](Bare& b) { return VstIntPtr(b.updateDisplay()); }, 0, 1, 1},
      {"beginEdit", audioMasterBeginEdit, 2, 0, nullptr, 0, [](Bare& b) { return VstIntPtr(b.beginEdit(2)); }, 0, 1,
       1},
      {"endEdit", audioMasterEndEdit, 2, 0, nullptr, 0, [](Bare& b) { return VstIntPtr(b.endEdit(2)); }, 0, 1, 1},
      {"openFileSelector", audioMasterOpenFileSelector, 0, 0, p, 0,
       [p](Bare& b) { return VstIntPtr(b.openFileSelector(static_cast<VstFileSelect*>(p))); }, 0, 1, 1},
  };
  for (const Request& r : rows) {
    SCOPED_TRACE(r.name);
    // No host: the fixed default, and nothing is written.
    Bare none(nullptr);
    std::memset(gText, 'q', sizeof gText);
    EXPECT_EQ(r.call(none), r.withoutHost);
    EXPECT_EQ(gText[0], 'q');

    Bare fx(hostCallback);
    gCalls.clear();
    gAnswers.clear();
    EXPECT_EQ(r.call(fx), r.withoutHost) << "a host answer of 0";
    gAnswers[r.opcode] = [&r](const Call&) { return r.answer; };
    EXPECT_EQ(r.call(fx), r.result);
    ASSERT_EQ(gCalls.size(), 2u);
    for (const Call& c : gCalls) {
      EXPECT_EQ(c.effect, fx.getAeffect());
      EXPECT_EQ(c.opcode, r.opcode);
      EXPECT_EQ(c.index, r.index);
      EXPECT_EQ(c.value, r.value);
      EXPECT_EQ(c.ptr, r.ptr);
      EXPECT_EQ(c.opt, r.opt);
    }
  }
}

TEST_F(Framework, RequestsWithoutAResultAndTheRatePrompts) {
  Bare none(nullptr);
  none.wantEvents(1);
  none.setOutputSamplerate(22050.0f);
  EXPECT_EQ(none.updateSampleRate(), 44100.0);
  EXPECT_EQ(none.updateBlockSize(), 1024);

  Bare fx(hostCallback);
  fx.wantEvents(1);
  EXPECT_EQ(only().opcode, audioMasterWantMidi);
  EXPECT_EQ(gCalls[0].value, 1);
  EXPECT_EQ(gCalls[0].index, 0);
  EXPECT_EQ(gCalls[0].ptr, nullptr);

  gCalls.clear();
  fx.setOutputSamplerate(22050.0f);
  const Call& c = only();
  EXPECT_EQ(c.opcode, audioMasterSetOutputSampleRate);
  EXPECT_EQ(c.opt, 22050.0f);
  EXPECT_EQ(c.index, 0);
  EXPECT_EQ(c.value, 0);
  EXPECT_EQ(c.ptr, nullptr);

  // A host that only answers the prompt leaves the rate as it was...
  gAnswers[audioMasterGetSampleRate] = [](const Call&) { return 48000; };
  gAnswers[audioMasterGetBlockSize] = [](const Call&) { return 256; };
  EXPECT_EQ(fx.updateSampleRate(), 44100.0);
  EXPECT_EQ(fx.updateBlockSize(), 1024);
  // ...one that sets it through the dispatcher from inside the request changes it.
  gAnswers[audioMasterGetSampleRate] = [](const Call& call) {
    call.effect->dispatcher(call.effect, effSetSampleRate, 0, 0, nullptr, 96000.0f);
    return 96000;
  };
  gAnswers[audioMasterGetBlockSize] = [](const Call& call) {
    call.effect->dispatcher(call.effect, effSetBlockSize, 0, 333, nullptr, 0.0f);
    return 333;
  };
  EXPECT_EQ(fx.updateSampleRate(), 96000.0);
  EXPECT_EQ(fx.updateBlockSize(), 333);
}

TEST_F(Framework, ANullFileSelectorNeverReachesTheHost) {
  Bare fx(hostCallback);
  gAnswers[audioMasterOpenFileSelector] = [](const Call&) { return 1; };
  EXPECT_FALSE(fx.openFileSelector(nullptr));
  EXPECT_TRUE(gCalls.empty());
}

// ---------------------------------------------------------------------------
// The extended dispatcher

class Recording : public Bare {
 public:
  Recording() : Bare(hostCallback) {}
  VstInt32 processEvents(VstEvents* e) override {
    lastPtr = e;
    return 7;
  }
  void inputConnected(VstInt32 index, bool state) override { connected.push_back({index, state}); }
  void outputConnected(VstInt32 index, bool state) override { connected.push_back({index + 100, state}); }
  bool offlineNotify(VstAudioFile* files, VstInt32 n, bool start) override {
    lastPtr = files;
    lastValue = n;
    lastFlag = start;
    return true;
  }
  bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char*) override {
    lastValue = category * 1000 + index;
    return truth;
  }
  VstInt32 setChunk(void* data, VstInt32 size, bool isPreset) override {
    lastPtr = data;
    lastValue = size;
    lastFlag = isPreset;
    return 55;
  }
  bool setSpeakerArrangement(VstSpeakerArrangement* in, VstSpeakerArrangement* out) override {
    lastPtr = in;
    lastPtr2 = out;
    return truth;
  }
  VstIntPtr vendorSpecific(VstInt32 a, VstIntPtr b, void* p, float f) override {
    lastValue = a;
    lastValue2 = b;
    lastPtr = p;
    lastOpt = f;
    return -77;
  }
  bool setBypass(bool onOff) override {
    lastFlag = onOff;
    return truth;
  }
  bool keysRequired() override { return truth; }
  bool truth = false;
  void* lastPtr = nullptr;
  void* lastPtr2 = nullptr;
  VstIntPtr lastValue = 0, lastValue2 = 0;
  bool lastFlag = false;
  float lastOpt = 0.0f;
  std::vector<std::pair<int, bool>> connected;
};

VstIntPtr dispatch(AudioEffect& fx, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f) {
  AEffect* e = fx.getAeffect();
  return e->dispatcher(e, opcode, index, value, ptr, opt);
}

TEST_F(Framework, DefaultsOfEveryExtendedOpcode) {
  Bare fx(hostCallback);
  struct Row {
    VstInt32 opcode;
    VstIntPtr expected;
  };
  const Row rows[] = {
      {effProcessEvents, 0},          {effCanBeAutomated, 1},         {effString2Parameter, 0},
      {effGetNumProgramCategories, 1}, {effGetProgramNameIndexed, 0}, {effCopyProgram, 0},
      {effConnectInput, 1},           {effConnectOutput, 1},          {effGetInputProperties, 0},
      {effGetOutputProperties, 0},    {effGetPlugCategory, 0},        {effGetCurrentPosition, 0},
      {effGetDestinationBuffer, 0},   {effOfflineNotify, 0},          {effOfflinePrepare, 0},
      {effOfflineRun, 0},             {effProcessVarIo, 0},           {effSetSpeakerArrangement, 0},
      {effSetBypass, 0},              {effGetEffectName, 0},          {effGetErrorText, 0},
      {effGetVendorString, 0},        {effGetProductString, 0},       {effGetVendorVersion, 0},
      {effVendorSpecific, 0},         {effCanDo, 0},                  {effGetTailSize, 0},
      {effIdle, 0},                   {effGetIcon, 0},                {effSetViewPosition, 0},
      {effGetParameterProperties, 0}, {effKeysRequired, 1},           {effGetVstVersion, 2200},
      {effEditKeyDown, 0},            {effEditKeyUp, 0},              {effSetEditKnobMode, 0},
      {effGetMidiProgramName, 0},     {effGetCurrentMidiProgram, -1}, {effGetMidiProgramCategory, 0},
      {effHasMidiProgramsChanged, 0}, {effGetMidiKeyName, 0},         {effBeginSetProgram, 0},
      {effEndSetProgram, 0},          {69, 0},                        {-1, 0},
  };
  char text[32];
  for (const Row& row : rows) {
    std::memset(text, 'z', sizeof text);
    EXPECT_EQ(dispatch(fx, row.opcode, 5, 0, text, 1.0f), row.expected) << "opcode " << row.opcode;
    for (char ch : text) ASSERT_EQ(ch, 'z') << "opcode " << row.opcode << " wrote into the host's buffer";
  }
  EXPECT_EQ(dispatch(fx, effCanBeAutomated, 1000), 1);
  EXPECT_TRUE(gCalls.empty()) << "no default asks the host";
}

TEST_F(Framework, BlockSizeAndSampleRateTogether) {
  Bare fx(hostCallback);
  EXPECT_EQ(dispatch(fx, effSetBlockSizeAndSampleRate, 0, 512, nullptr, 48000.0f), 1);
  EXPECT_EQ(fx.blockSizeNow(), 512);
  EXPECT_EQ(fx.sampleRateNow(), 48000.0f);
  fx.setBlockSizeAndSampleRate(256, 96000.0f);
  EXPECT_EQ(fx.blockSizeNow(), 256);
  EXPECT_EQ(fx.sampleRateNow(), 96000.0f);
  EXPECT_TRUE(gCalls.empty());
}

TEST_F(Framework, ArgumentsReachTheOperationsAndBooleansBecomeOneOrZero) {
  Recording fx;
  int list;
  EXPECT_EQ(dispatch(fx, effProcessEvents, 0, 0, &list), 7);
  EXPECT_EQ(fx.lastPtr, &list);

  EXPECT_EQ(dispatch(fx, effConnectInput, 3, 0), 1);
  EXPECT_EQ(dispatch(fx, effConnectInput, 4, 7), 1);
  EXPECT_EQ(dispatch(fx, effConnectOutput, 5, -1), 1);
  EXPECT_EQ(fx.connected, (std::vector<std::pair<int, bool>>{{3, false}, {4, true}, {105, true}}));

  EXPECT_EQ(dispatch(fx, effOfflineNotify, 5, 9, &list), 1);
  EXPECT_EQ(fx.lastValue, 9);
  EXPECT_TRUE(fx.lastFlag);
  EXPECT_EQ(fx.lastPtr, &list);
  dispatch(fx, effOfflineNotify, 0, 9, &list);
  EXPECT_FALSE(fx.lastFlag);

  fx.truth = true;
  EXPECT_EQ(dispatch(fx, effGetProgramNameIndexed, 4, 3, nullptr), 1);
  EXPECT_EQ(fx.lastValue, 3004) << "category from value, program from index";
  EXPECT_EQ(dispatch(fx, effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&list), gText), 1);
  EXPECT_EQ(fx.lastPtr, &list);
  EXPECT_EQ(fx.lastPtr2, gText);
  EXPECT_EQ(dispatch(fx, effSetBypass, 0, 2), 1);
  EXPECT_TRUE(fx.lastFlag);
  EXPECT_EQ(dispatch(fx, effKeysRequired), 0) << "inverted";
  fx.truth = false;
  EXPECT_EQ(dispatch(fx, effKeysRequired), 1);
  EXPECT_EQ(dispatch(fx, effSetBypass, 0, 0), 0);
  EXPECT_FALSE(fx.lastFlag);

  EXPECT_EQ(dispatch(fx, effVendorSpecific, 12, 34, &list, 2.5f), -77);
  EXPECT_EQ(fx.lastValue, 12);
  EXPECT_EQ(fx.lastValue2, 34);
  EXPECT_EQ(fx.lastPtr, &list);
  EXPECT_EQ(fx.lastOpt, 2.5f);

  // Opcode 24 is the base class's.
  EXPECT_EQ(dispatch(fx, effSetChunk, 2, 40, &list), 55);
  EXPECT_EQ(fx.lastValue, 40);
  EXPECT_TRUE(fx.lastFlag);
}

class KeyEditor : public AEffEditor {
 public:
  explicit KeyEditor(AudioEffect* fx) : AEffEditor(fx) {}
  VstInt32 onKeyDown(VstKeyCode& k) override {
    keys.push_back(k);
    return 11;
  }
  VstInt32 onKeyUp(VstKeyCode& k) override {
    keys.push_back(k);
    return -12;
  }
  VstInt32 setKnobMode(VstInt32 v) override { return v * 2; }
  std::vector<VstKeyCode> keys;
};

TEST_F(Framework, KeyOpcodesBuildTheKeyCode) {
  Bare fx(hostCallback);
  EXPECT_EQ(dispatch(fx, effEditKeyDown, 65), 0) << "no editor";
  EXPECT_EQ(dispatch(fx, effSetEditKnobMode, 0, 2), 0);

  fx.setEditor(new AEffEditor(&fx));
  EXPECT_EQ(dispatch(fx, effEditKeyDown, 65), -1);
  EXPECT_EQ(dispatch(fx, effEditKeyUp, 65), -1);
  EXPECT_EQ(dispatch(fx, effSetEditKnobMode, 0, 2), 0);

  Bare fx2(hostCallback);
  auto* editor = new KeyEditor(&fx2);
  fx2.setEditor(editor);
  EXPECT_EQ(dispatch(fx2, effEditKeyDown, 65, 0, nullptr, 0.0f), 11);
  EXPECT_EQ(dispatch(fx2, effEditKeyDown, 66, 0x141, nullptr, 2.5f), 11);
  EXPECT_EQ(dispatch(fx2, effEditKeyUp, 67, 0x2FF, nullptr, 3.5f), -12);
  EXPECT_EQ(dispatch(fx2, effEditKeyUp, -1, -1, nullptr, 2.4f), -12);
  EXPECT_EQ(dispatch(fx2, effEditKeyDown, 0, 0, nullptr, 257.0f), 11);
  EXPECT_EQ(dispatch(fx2, effEditKeyDown, 0, 0, nullptr, -0.5f), 11);
  EXPECT_EQ(dispatch(fx2, effEditKeyDown, 0, 0, nullptr, -1.5f), 11);
  ASSERT_EQ(editor->keys.size(), 7u);
  const VstKeyCode expected[] = {{65, 0, 0}, {66, 0x41, 2}, {67, 0xFF, 4}, {-1, 0xFF, 2},
                                 {0, 0, 1},  {0, 0, 0},     {0, 0, 0xFE}};
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(editor->keys[i].character, expected[i].character) << i;
    EXPECT_EQ(editor->keys[i].virt, expected[i].virt) << i;
    EXPECT_EQ(editor->keys[i].modifier, expected[i].modifier) << i;
  }
  EXPECT_EQ(dispatch(fx2, effSetEditKnobMode, 0, 21), 42);
}

TEST_F(Framework, FlagSettersAndTheCategory) {
  Bare fx(nullptr);
  EXPECT_EQ(fx.getPlugCategory(), 0);
  fx.isSynth(true);
  EXPECT_EQ(fx.getPlugCategory(), 2);
  EXPECT_EQ(dispatch(fx, effGetPlugCategory), 2);
  EXPECT_EQ(fx.flags() & effFlagsIsSynth, effFlagsIsSynth);
  fx.isSynth(false);
  EXPECT_EQ(fx.getPlugCategory(), 0);

  fx.setFlags(17);
  fx.isSynth(true);
  EXPECT_EQ(fx.flags(), 273);
  fx.setFlags(0x300);
  fx.noTail(false);
  EXPECT_EQ(fx.flags(), 0x100);
  fx.setFlags(0);
  fx.wantAsyncOperation(true);
  fx.hasExternalBuffer(true);
  EXPECT_EQ(fx.flags(), 0xC00);
  fx.setFlags(~effFlagsIsSynth);
  EXPECT_EQ(fx.getPlugCategory(), 0) << "only bit 256 counts";
}

TEST_F(Framework, UncalledDefaults) {
  Bare fx(nullptr);
  EXPECT_EQ(fx.getChannelParameter(0, 0), 0.0f);
  EXPECT_EQ(fx.offlineGetNumPasses(), 0);
  EXPECT_EQ(fx.offlineGetNumMetaPasses(), 0);
  EXPECT_EQ(fx.getNumCategories(), 1);
  EXPECT_TRUE(fx.canParameterBeAutomated(1 << 20));
}

}  // namespace
