// What a host reads and sets through the record: parameters and their
// texts, the program, identity, pins, every extended opcode, and MIDI.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "integration/LooperHelpers.h"

namespace {

constexpr float kDefaultSpeed = 64.0f / 127.0f;

class Dialogue : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(plugin.ok()) << plugin.error(); }

  // A text answer into a buffer pre-filled with 'x', so that what was not
  // written shows.
  std::string textOf(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, VstIntPtr* result = nullptr) {
    std::memset(buf, 'x', sizeof buf);
    buf[sizeof buf - 1] = '\0';
    const VstIntPtr r = plugin.dispatch(opcode, index, value, buf);
    if (result) *result = r;
    return buf;
  }
  std::string display(VstInt32 index) { return textOf(effGetParamDisplay, index); }

  // Whether the engine records: a loud constant input passes straight through.
  // Each probe uses a new value, so a loop cannot play it back by chance.
  bool recording() {
    const float probe = 0.625f + 0.001f * static_cast<float>(++probes);
    vtest::AudioBuffers audio(2, 2, 1);
    audio.fillInput(0, probe);
    audio.fillInput(1, probe);
    const float volume = plugin.getParameter(1);
    plugin.setParameter(1, 0.0f);
    plugin.processReplacing(audio);
    plugin.setParameter(1, volume);
    return audio.output(0)[0] == probe;
  }
  int probes = 0;

  vtest::RecordingHost host;
  vtest::PluginInstance plugin{host};
  char buf[256];
};

// ---------------------------------------------------------------------------
// Parameters

TEST_F(Dialogue, AFreshInstanceHasItsDefaults) {
  EXPECT_EQ(plugin.getParameter(0), 1.0f);
  EXPECT_EQ(plugin.getParameter(1), 0.0f);
  EXPECT_EQ(looper::bitsOf(plugin.getParameter(2)), 0x3F010204u);
  EXPECT_EQ(plugin.getParameter(3), 0.0f);
  EXPECT_EQ(plugin.getParameter(-1), 0.0f);
  EXPECT_EQ(textOf(effGetProgramName), "The Only Preset");
  EXPECT_EQ(plugin.dispatch(effGetProgram), 0);
  EXPECT_TRUE(recording());
}

TEST_F(Dialogue, ValuesAreClampedToTheUnitRange) {
  plugin.setParameter(0, 1.5f);
  EXPECT_EQ(plugin.getParameter(0), 1.0f);
  EXPECT_TRUE(recording());
  plugin.setParameter(0, -0.2f);
  EXPECT_EQ(plugin.getParameter(0), 0.0f);
  EXPECT_FALSE(recording());
  plugin.setParameter(0, 1.0f);
  EXPECT_TRUE(recording());
  plugin.setParameter(0, 0.999f);
  EXPECT_EQ(plugin.getParameter(0), 0.999f);
  EXPECT_FALSE(recording());
  plugin.setParameter(0, 1.0f);
  plugin.setParameter(0, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(looper::bitsOf(plugin.getParameter(0)), 0u);
  EXPECT_FALSE(recording());

  plugin.setParameter(1, std::numeric_limits<float>::infinity());
  EXPECT_EQ(plugin.getParameter(1), 1.0f);
  plugin.setParameter(1, -std::numeric_limits<float>::infinity());
  EXPECT_EQ(plugin.getParameter(1), 0.0f);
  plugin.setParameter(2, 7.0f);
  EXPECT_EQ(plugin.getParameter(2), 1.0f);
}

TEST_F(Dialogue, NegativeZeroAndDenormalsAreStoredAsZero) {
  plugin.setParameter(1, -0.0f);
  EXPECT_EQ(looper::bitsOf(plugin.getParameter(1)), 0u);
  EXPECT_EQ(display(1), "0.00");
  plugin.setParameter(2, std::numeric_limits<float>::denorm_min());
  EXPECT_EQ(looper::bitsOf(plugin.getParameter(2)), 0u);
  plugin.setParameter(2, -std::numeric_limits<float>::denorm_min());
  EXPECT_EQ(looper::bitsOf(plugin.getParameter(2)), 0u);
  EXPECT_EQ(display(2), "0.00");
  plugin.setParameter(2, std::numeric_limits<float>::min());
  EXPECT_EQ(plugin.getParameter(2), std::numeric_limits<float>::min());
}

TEST_F(Dialogue, AnIndexOutsideTheThreeChangesNothing) {
  plugin.setParameter(1, 0.4f);
  plugin.setParameter(7, 0.3f);
  plugin.setParameter(-1, 0.3f);
  EXPECT_EQ(plugin.getParameter(0), 1.0f);
  EXPECT_EQ(plugin.getParameter(1), 0.4f);
  EXPECT_EQ(plugin.getParameter(2), kDefaultSpeed);
  EXPECT_EQ(plugin.getParameter(7), 0.0f);
}

TEST_F(Dialogue, NamesLabelsAndDisplays) {
  EXPECT_EQ(textOf(effGetParamName, 0), "Buff Size");
  EXPECT_EQ(textOf(effGetParamName, 1), "Volume");
  EXPECT_EQ(textOf(effGetParamName, 2), "Read Through Speed");
  EXPECT_EQ(textOf(effGetParamName, 3), "reserved");
  EXPECT_EQ(textOf(effGetParamName, -4), "reserved");
  for (int i : {0, 1, 2, 3, 100}) EXPECT_EQ(textOf(effGetParamLabel, i), "%") << i;

  EXPECT_EQ(display(0), "1.00");
  EXPECT_EQ(display(1), "0.00");
  EXPECT_EQ(display(2), "0.50");
  EXPECT_EQ(display(9), "0.00");
  plugin.setParameter(1, 0.25f);
  EXPECT_EQ(plugin.getParameter(1), 0.25f);
  EXPECT_EQ(display(1), "0.25");
  plugin.setParameter(1, 0.125f);  // an exact tie rounds to even
  EXPECT_EQ(display(1), "0.12");
  plugin.setParameter(1, 0.015f);  // the float lies just below the tie
  EXPECT_EQ(display(1), "0.01");
  plugin.setParameter(1, 0.995f);  // the float lies just above it
  EXPECT_EQ(display(1), "1.00");

  vtest::MidiEvents midi;
  midi.noteOn(0, 127, 64);
  plugin.processEvents(midi);
  EXPECT_EQ(display(2), "50.67") << "MIDI speeds show unclamped";

  VstIntPtr r = -7;
  for (VstInt32 op : {effGetParamName, effGetParamLabel, effGetParamDisplay, effGetProgramName, effSetProgramName})
    EXPECT_EQ(plugin.dispatch(op, 0, 0, nullptr), 0) << "null text for opcode " << op;
  textOf(effGetParamDisplay, 0, 0, &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(textOf(effGetProgramName), "The Only Preset");
}

TEST_F(Dialogue, VuAndChunksAreAbsent) {
  EXPECT_EQ(plugin.dispatch(effGetVu), 0);
  void* chunk = &buf;
  EXPECT_EQ(plugin.dispatch(effGetChunk, 0, 0, &chunk), 0);
  EXPECT_EQ(chunk, static_cast<void*>(&buf));
  EXPECT_EQ(plugin.dispatch(effSetChunk, 1, 16, buf), 0);
}

// ---------------------------------------------------------------------------
// Program

TEST_F(Dialogue, TheProgramMirrorsTheParametersButNotMidiSpeeds) {
  plugin.setParameter(0, 0.3f);
  plugin.setParameter(1, 0.25f);
  plugin.setParameter(2, 0.75f);
  EXPECT_EQ(plugin.dispatch(effSetProgram, 0, 0), 0);
  EXPECT_EQ(plugin.getParameter(0), 0.3f);
  EXPECT_EQ(plugin.getParameter(1), 0.25f);
  EXPECT_EQ(plugin.getParameter(2), 0.75f);

  vtest::MidiEvents midi;
  midi.noteOn(0, 72, 100);
  plugin.processEvents(midi);
  EXPECT_EQ(plugin.getParameter(2), 2.0f);
  plugin.dispatch(effSetProgram, 0, 1);  // not below the program count: refused
  EXPECT_EQ(plugin.getParameter(2), 2.0f);
  plugin.dispatch(effSetProgram, 0, -1);  // reaches the program, which declines it
  EXPECT_EQ(plugin.getParameter(2), 2.0f);
  EXPECT_EQ(plugin.dispatch(effGetProgram), 0);
  plugin.dispatch(effSetProgram, 0, 0);  // puts the program's speed back
  EXPECT_EQ(plugin.getParameter(2), 0.75f);
  EXPECT_EQ(plugin.getParameter(0), 0.3f);
  EXPECT_EQ(plugin.dispatch(effGetProgram), 0);
  EXPECT_EQ(host.count(audioMasterAutomate), 0u) << "programs are loaded without automation";
}

TEST_F(Dialogue, ProgramNames) {
  char lead[] = "Lead";
  EXPECT_EQ(plugin.dispatch(effSetProgramName, 0, 0, lead), 0);
  EXPECT_EQ(textOf(effGetProgramName), "Lead");
  VstIntPtr r = 0;
  EXPECT_EQ(textOf(effGetProgramNameIndexed, 0, 0, &r), "Lead");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(textOf(effGetProgramNameIndexed, 0, 5, &r), "Lead") << "any category";
  EXPECT_EQ(r, 1);
  const std::string untouched = textOf(effGetProgramNameIndexed, 1, 0, &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(untouched, std::string(sizeof buf - 1, 'x'));
  textOf(effGetProgramNameIndexed, -1, 0, &r);
  EXPECT_EQ(r, 0);
}

TEST_F(Dialogue, LongProgramNamesAreCutAndAlwaysTerminated) {
  std::string longName(300, 'n');
  for (size_t i = 0; i < longName.size(); ++i) longName[i] = static_cast<char>('a' + i % 26);
  plugin.dispatch(effSetProgramName, 0, 0, &longName[0]);
  // The host gets at most 23 characters and the terminator: nothing beyond.
  const std::string name = textOf(effGetProgramName);
  EXPECT_EQ(name, longName.substr(0, 23));
  EXPECT_EQ(buf[24], 'x');
  EXPECT_EQ(textOf(effGetProgramNameIndexed), longName.substr(0, 23));
  EXPECT_EQ(buf[24], 'x');
  char empty[] = "";
  plugin.dispatch(effSetProgramName, 0, 0, empty);
  EXPECT_EQ(textOf(effGetProgramName), "");
}

// ---------------------------------------------------------------------------
// Identity, capabilities and pins

TEST_F(Dialogue, IdentityAnswers) {
  VstIntPtr r = 0;
  EXPECT_EQ(textOf(effGetEffectName, 0, 0, &r), "Vantorel");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(textOf(effGetVendorString, 0, 0, &r), "Kestrom");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(textOf(effGetProductString, 0, 0, &r), "Vantorel");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(plugin.dispatch(effGetVendorVersion), 1);
  EXPECT_EQ(plugin.dispatch(effGetPlugCategory), 0);
  EXPECT_EQ(plugin.dispatch(effGetVstVersion), 2200);
  EXPECT_EQ(plugin.dispatch(effIdentify, 3, 4, buf, 5.0f), fourCharCode('N', 'v', 'E', 'f'));
  for (VstInt32 op : {effGetEffectName, effGetVendorString, effGetProductString})
    EXPECT_EQ(plugin.dispatch(op, 0, 0, nullptr), 0) << "null buffer, opcode " << op;
}

TEST_F(Dialogue, CanDoReceivesEventsAndNothingElse) {
  auto canDo = [&](const char* text) {
    std::string copy(text);
    return plugin.dispatch(effCanDo, 0, 0, &copy[0]);
  };
  EXPECT_EQ(canDo("receiveVstEvents"), 1);
  EXPECT_EQ(canDo("receiveVstMidiEvent"), 1);
  EXPECT_EQ(canDo("supportsViewDpiScaling"), -1) << "the display scale is taken when sent, never announced";
  EXPECT_EQ(canDo("ReceiveVstEvents"), -1);
  EXPECT_EQ(canDo("receivevstmidievent"), -1);
  EXPECT_EQ(canDo("receiveVstEvents "), -1);
  EXPECT_EQ(canDo("receiveVstEvent"), -1);
  EXPECT_EQ(canDo("sendVstEvents"), -1);
  EXPECT_EQ(canDo(""), -1);
  EXPECT_EQ(plugin.dispatch(effCanDo, 0, 0, nullptr), -1);
}

TEST_F(Dialogue, OutputPinsAreTwoActiveStereoPins) {
  for (int index = 0; index < 2; ++index) {
    VstPinProperties p;
    std::memset(&p, 0x5A, sizeof p);
    EXPECT_EQ(plugin.dispatch(effGetOutputProperties, index, 0, &p), 1);
    EXPECT_STREQ(p.label, index == 0 ? "KV42 1" : "KV42 2");
    EXPECT_EQ(p.flags, kVstPinIsActive | kVstPinIsStereo);
    EXPECT_EQ(p.arrangementType, 0x5A5A5A5A) << "left as the host passed it";
    for (char c : p.shortLabel) EXPECT_EQ(c, 0x5A);
    for (char c : p.future) EXPECT_EQ(c, 0x5A);
  }
  for (int index : {2, 3, -1}) {
    VstPinProperties p, before;
    std::memset(&p, 0x5A, sizeof p);
    before = p;
    EXPECT_EQ(plugin.dispatch(effGetOutputProperties, index, 0, &p), 0) << index;
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0) << index;
  }
  VstPinProperties p;
  std::memset(&p, 0x5A, sizeof p);
  EXPECT_EQ(plugin.dispatch(effGetInputProperties, 0, 0, &p), 0);
  EXPECT_EQ(p.flags, 0x5A5A5A5A);
  EXPECT_EQ(plugin.dispatch(effGetOutputProperties, 0, 0, nullptr), 0);
}

// Every extension opcode, with the instrument's answers.
TEST_F(Dialogue, EveryExtendedOpcodeAnswersExactly) {
  struct Row {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    VstIntPtr expected;
  };
  const Row rows[] = {
      {effCanBeAutomated, 0, 0, 1},         {effCanBeAutomated, 99, 0, 1},
      {effString2Parameter, 0, 0, 0},       {effGetNumProgramCategories, 0, 0, 1},
      {effCopyProgram, 0, 0, 0},            {effConnectInput, 0, 0, 1},
      {effConnectInput, 1, 7, 1},           {effConnectOutput, 0, 0, 1},
      {effConnectOutput, 1, 7, 1},          {effGetInputProperties, 0, 0, 0},
      {effGetPlugCategory, 0, 0, 0},        {effGetCurrentPosition, 0, 0, 0},
      {effGetDestinationBuffer, 0, 0, 0},   {effOfflineNotify, 5, 1, 0},
      {effOfflinePrepare, 0, 1, 0},         {effOfflineRun, 0, 1, 0},
      {effProcessVarIo, 0, 0, 0},           {effSetSpeakerArrangement, 0, 0, 0},
      {effSetBlockSizeAndSampleRate, 0, 512, 1}, {effSetBypass, 0, 1, 0},
      {effSetBypass, 0, 0, 0},              {effGetErrorText, 0, 0, 0},
      {effGetVendorVersion, 0, 0, 1},       {effVendorSpecific, 1, 2, 0},
      {effGetTailSize, 0, 0, 0},            {effIdle, 0, 0, 0},
      {effGetIcon, 0, 0, 0},                {effSetViewPosition, 10, 20, 0},
      {effGetParameterProperties, 0, 0, 0}, {effKeysRequired, 0, 0, 1},
      {effGetVstVersion, 0, 0, 2200},       {effEditKeyDown, 65, 0, -1},
      {effEditKeyUp, 65, 0, -1},            {effSetEditKnobMode, 0, 2, 0},
      {effGetMidiProgramName, 0, 0, 0},     {effGetCurrentMidiProgram, 0, 0, -1},
      {effGetMidiProgramCategory, 0, 0, 0}, {effHasMidiProgramsChanged, 0, 0, 0},
      {effGetMidiKeyName, 0, 0, 0},         {effBeginSetProgram, 0, 0, 0},
      {effEndSetProgram, 0, 0, 0},          {69, 0, 0, 0},
      {-1, 0, 0, 0},                        {effStartProcess, 0, 0, 0},
      {effStopProcess, 0, 0, 0},            {1000, 0, 0, 0},
  };
  for (const Row& row : rows) {
    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(plugin.dispatch(row.opcode, row.index, row.value, buf, 48000.0f), row.expected)
        << "opcode " << row.opcode;
  }
  // Opcodes whose answers the instrument fills are covered above; these need
  // their own arguments.
  VstIntPtr r = 0;
  EXPECT_EQ(textOf(effGetErrorText, 0, 0, &r), std::string(sizeof buf - 1, 'x'));
  EXPECT_EQ(r, 0);
  vtest::MidiEvents none;
  EXPECT_EQ(plugin.processEvents(none), 1);
  EXPECT_EQ(plugin.dispatch(effProcessEvents, 0, 0, nullptr), 1);
}

// ---------------------------------------------------------------------------
// The host dialogue around the instance

TEST(DialogueHost, HostStringsOfAnyLengthUpToTheirRoomAreAccepted) {
  vtest::RecordingHost host;
  size_t seen = 0;
  auto write = [&seen](const vtest::HostCall& c) -> VstIntPtr {
    std::memset(c.ptr, 'h', 255);  // a long, but terminated, answer
    static_cast<char*>(c.ptr)[255] = '\0';
    ++seen;
    return 1;
  };
  host.answer(audioMasterGetVendorString, write);
  host.answer(audioMasterGetProductString, write);
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  EXPECT_EQ(seen, 2u);
  EXPECT_EQ(plugin.getParameter(0), 1.0f);
}

TEST_F(Dialogue, ResumingAsksForMidiSuspendingDoesNot) {
  host.clear();
  plugin.dispatch(effMainsChanged, 0, 0);
  EXPECT_EQ(host.size(), 0u);
  plugin.dispatch(effMainsChanged, 0, 1);
  plugin.dispatch(effMainsChanged, 0, 2);
  const auto calls = host.callsOf(audioMasterWantMidi);
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& c : calls) {
    EXPECT_EQ(c.value, 1);
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.ptr, nullptr);
    EXPECT_EQ(c.effect, plugin.effect());
  }
  EXPECT_EQ(host.size(), 2u);
}

TEST_F(Dialogue, ParameterChangesFromTheHostAreNotReportedBack) {
  host.clear();
  plugin.setParameter(0, 0.5f);
  vtest::MidiEvents midi;
  midi.controller(0, 7, 10);
  plugin.processEvents(midi);
  EXPECT_EQ(host.size(), 0u);
}

// ---------------------------------------------------------------------------
// MIDI

double formulaSpeed(int n) { return std::ldexp(1.0, n / 12 - 5) * (12 + n % 12) / 12.0; }

TEST_F(Dialogue, EveryNoteSetsItsTableSpeed) {
  for (int note = 0; note < 128; ++note) {
    vtest::MidiEvents midi;
    midi.noteOn(note % 16, note, 1 + note % 127);
    plugin.processEvents(midi);
    ASSERT_EQ(plugin.getParameter(2), static_cast<float>(formulaSpeed(note))) << note;
  }
  vtest::MidiEvents midi;
  midi.add(0x90, 60 | 0x80, 100);  // the top bit of the note is ignored
  plugin.processEvents(midi);
  EXPECT_EQ(plugin.getParameter(2), 1.0f);
}

TEST_F(Dialogue, NoteSpeedExamples) {
  const std::pair<int, float> examples[] = {{60, 1.0f}, {72, 2.0f}, {48, 0.5f}, {69, 1.75f},
                                            {57, 0.875f}, {0, 0.03125f}, {61, static_cast<float>(13.0 / 12.0)}};
  for (const auto& [note, speed] : examples) {
    vtest::MidiEvents midi;
    midi.noteOn(9, note, 127);
    plugin.processEvents(midi);
    EXPECT_EQ(plugin.getParameter(2), speed) << note;
  }
}

TEST_F(Dialogue, ReleasesAndSilentNotesLeaveTheSpeed) {
  vtest::MidiEvents midi;
  midi.noteOn(0, 72, 90);
  plugin.processEvents(midi);
  vtest::MidiEvents release;
  release.noteOn(0, 60, 0).add(0x80, 60, 64).add(0x85, 48, 0);
  plugin.processEvents(release);
  EXPECT_EQ(plugin.getParameter(2), 2.0f);
}

TEST_F(Dialogue, PitchBendScalesTheLastNotesSpeed) {
  vtest::MidiEvents midi;
  midi.noteOn(0, 60, 100).add(0xE0, 0, 64);  // the wheel's centre
  plugin.processEvents(midi);
  EXPECT_EQ(plugin.getParameter(2), static_cast<float>((16384.0f / 65535.0f) * 1.5 + 0.5));
  EXPECT_NEAR(plugin.getParameter(2), 0.875006f, 1e-6f);

  vtest::MidiEvents zero;
  zero.add(0xE3, 0, 0);  // a bend value of 0 changes nothing
  plugin.processEvents(zero);
  EXPECT_NEAR(plugin.getParameter(2), 0.875006f, 1e-6f);

  vtest::MidiEvents again;  // bends do not accumulate
  again.add(0xE0, 0, 64).add(0xE0, 0, 64);
  plugin.processEvents(again);
  EXPECT_NEAR(plugin.getParameter(2), 0.875006f, 1e-6f);

  vtest::MidiEvents full;
  full.add(0xE0, 127, 127);
  plugin.processEvents(full);
  EXPECT_EQ(plugin.getParameter(2), static_cast<float>(static_cast<float>(32639 / 65535.0) * 1.5 + 0.5));
}

TEST_F(Dialogue, PitchBendBeforeAnyNoteScalesTheDefaultSpeed) {
  vtest::MidiEvents midi;
  midi.add(0xE0, 1, 0);
  plugin.processEvents(midi);
  EXPECT_EQ(plugin.getParameter(2),
            static_cast<float>((static_cast<double>(static_cast<float>(1 / 65535.0)) * 1.5 + 0.5) *
                               static_cast<double>(kDefaultSpeed)));
}

TEST_F(Dialogue, ControllersMoveBuffSizeAndVolume) {
  vtest::MidiEvents midi;
  midi.controller(0, 1, 127);
  plugin.processEvents(midi);
  EXPECT_EQ(plugin.getParameter(0), 0.0f);
  EXPECT_FALSE(recording());

  vtest::MidiEvents back;
  back.controller(15, 1, 0);
  plugin.processEvents(back);
  EXPECT_EQ(plugin.getParameter(0), 1.0f);
  EXPECT_TRUE(recording());

  vtest::MidiEvents volume;
  volume.controller(3, 7, 0);
  plugin.processEvents(volume);
  EXPECT_EQ(plugin.getParameter(1), 1.0f);
  vtest::MidiEvents mid;
  mid.controller(3, 7, 64);
  plugin.processEvents(mid);
  EXPECT_EQ(plugin.getParameter(1), static_cast<float>(1.0 - static_cast<float>(64 / 127.0)));
  vtest::MidiEvents invalid;  // a data byte above 127 clamps
  invalid.controller(0, 7, 200);
  plugin.processEvents(invalid);
  EXPECT_EQ(plugin.getParameter(1), 0.0f);

  // Other controllers move no parameter, and the program follows 1 and 7.
  vtest::MidiEvents other;
  other.controller(0, 64, 127).controller(0, 2, 127).controller(0, 0, 127);
  plugin.processEvents(other);
  EXPECT_EQ(plugin.getParameter(0), 1.0f);
  EXPECT_EQ(plugin.getParameter(1), 0.0f);
  EXPECT_EQ(plugin.getParameter(2), kDefaultSpeed);
  plugin.dispatch(effSetProgram, 0, 0);
  EXPECT_EQ(plugin.getParameter(1), 0.0f);
}

TEST_F(Dialogue, AControllerAfterABendDoesNotChangeTheSpeed) {
  vtest::MidiEvents midi;
  midi.noteOn(0, 60, 100).controller(0, 64, 127).add(0xE0, 0, 64);
  plugin.processEvents(midi);
  EXPECT_NEAR(plugin.getParameter(2), 0.875006f, 1e-6f) << "the bend uses its own value";
}

TEST_F(Dialogue, MixedListsSkipOtherEventsAndTheLastNoteWins) {
  vtest::MidiEvents midi;
  midi.noteOn(0, 48, 100).noteOn(0, 72, 100).add(0xA0, 60, 100).add(0xD0, 60, 0).add(0xC0, 5, 0).add(0xF8, 0, 0);
  VstEvents* list = midi.events();
  // A SysEx event in the middle whose bytes look like a note on.
  VstMidiEvent sysex;
  std::memset(&sysex, 0, sizeof sysex);
  sysex.type = kVstSysExType;
  sysex.byteSize = sizeof sysex;
  sysex.midiData[0] = static_cast<char>(0x90);
  sysex.midiData[1] = 84;
  sysex.midiData[2] = 100;
  VstEvent** slots = reinterpret_cast<VstEvent**>(reinterpret_cast<char*>(list) + offsetof(VstEvents, events));
  slots[2] = reinterpret_cast<VstEvent*>(&sysex);
  EXPECT_EQ(plugin.dispatch(effProcessEvents, 0, 0, list), 1);
  EXPECT_EQ(plugin.getParameter(2), 2.0f);

  list->numEvents = -3;
  EXPECT_EQ(plugin.dispatch(effProcessEvents, 0, 0, list), 1);
  slots[1] = nullptr;  // a null entry is skipped
  list->numEvents = 2;
  EXPECT_EQ(plugin.dispatch(effProcessEvents, 0, 0, list), 1);
  EXPECT_EQ(plugin.getParameter(2), 0.5f);
}

TEST_F(Dialogue, ALongListIsReadWhole) {
  vtest::MidiEvents midi;
  for (int i = 0; i < 300; ++i) midi.noteOn(i % 16, i % 128, 1 + i % 100);
  EXPECT_EQ(plugin.processEvents(midi), 1);
  EXPECT_EQ(plugin.getParameter(2), static_cast<float>(formulaSpeed(299 % 128)));
}

TEST_F(Dialogue, NullChannelPointersAreHarmless) {
  float out[2][4] = {{9, 9, 9, 9}, {9, 9, 9, 9}};
  float in[4] = {0.5f, 0.5f, 0.5f, 0.5f};
  float* inputs[2] = {in, nullptr};
  float* outputs[2] = {nullptr, out[1]};
  AEffect* e = plugin.effect();
  e->processReplacing(e, inputs, outputs, 4);
  for (float v : out[1]) EXPECT_EQ(v, 0.25f);
  e->process(e, inputs, outputs, 4);
  for (float v : out[1]) EXPECT_EQ(v, 0.5f);
  e->processReplacing(e, nullptr, nullptr, 4);
}

}  // namespace
