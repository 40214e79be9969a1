// The host-side helpers every integration test and vstrun rely on.
#include <gtest/gtest.h>

#include "support/TestHost.h"

namespace {

TEST(VstHost, FourCharTextReadsMostSignificantByteFirst) {
  EXPECT_EQ(vsthost::fourCharText(0x56737450), "VstP");
  EXPECT_EQ(vsthost::fourCharText(fourCharCode('K', 'V', '4', '2')), "KV42");
  EXPECT_EQ(vsthost::fourCharText(0x00000001), "0x00000001");
  EXPECT_EQ(vsthost::fourCharText(static_cast<VstInt32>(0xFFFFFFFF)), "0xFFFFFFFF");
}

TEST(VstHost, FlagNames) {
  EXPECT_EQ(vsthost::flagNames(17), "HasEditor CanReplacing");
  EXPECT_EQ(vsthost::flagNames(0), "");
  EXPECT_EQ(vsthost::flagNames(64 | 8), "CanMono 64");
}

TEST(VstHost, MinimalHostReportsVersion24AndNothingElse) {
  EXPECT_EQ(vsthost::minimalHostCallback(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f), 2400);
  EXPECT_EQ(vsthost::minimalHostCallback(nullptr, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(vsthost::minimalHostCallback(nullptr, audioMasterAutomate, 1, 0, nullptr, 0.5f), 0);
}

TEST(VstHost, LoadingAMissingFileFailsWithAReason) {
  std::string error;
  auto module = vsthost::Module::load(std::string(vtest::sourceDir()) + "/no-such-module.bin", &error);
  EXPECT_FALSE(module);
  EXPECT_FALSE(error.empty());
}

TEST(RecordingHost, RecordsAndAnswers) {
  vtest::RecordingHost host;
  audioMasterCallback cb = host.callback();
  EXPECT_EQ(cb(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f), 2400);
  host.answer(audioMasterGetSampleRate, 48000);
  EXPECT_EQ(cb(nullptr, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f), 48000);
  host.answer(audioMasterCanDo, [](const vtest::HostCall& c) { return c.index + 1; });
  EXPECT_EQ(cb(nullptr, audioMasterCanDo, 41, 0, nullptr, 0.0f), 42);
  EXPECT_EQ(cb(nullptr, audioMasterAutomate, 2, 0, nullptr, 0.5f), 0);

  ASSERT_EQ(host.size(), 4u);
  const auto automate = host.callsOf(audioMasterAutomate);
  ASSERT_EQ(automate.size(), 1u);
  EXPECT_EQ(automate[0].index, 2);
  EXPECT_FLOAT_EQ(automate[0].opt, 0.5f);
  EXPECT_EQ(automate[0].thread, std::this_thread::get_id());

  host.resetAnswer(audioMasterGetSampleRate);
  EXPECT_EQ(cb(nullptr, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f), 0);
  host.clear();
  EXPECT_EQ(host.size(), 0u);
}

TEST(RecordingHost, TheInnermostHostIsActive) {
  vtest::RecordingHost outer;
  {
    vtest::RecordingHost inner;
    outer.callback()(nullptr, audioMasterIdle, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(inner.count(audioMasterIdle), 1u);
    EXPECT_EQ(outer.count(audioMasterIdle), 0u);
  }
  outer.callback()(nullptr, audioMasterIdle, 0, 0, nullptr, 0.0f);
  EXPECT_EQ(outer.count(audioMasterIdle), 1u);
}

TEST(MidiEvents, BuildsAListOfAnyLength) {
  vtest::MidiEvents midi;
  midi.noteOn(0, 60, 100).controller(0, 7, 64, 5).pitchBend(0, 8192 + 100);
  VstEvents* list = midi.events();
  ASSERT_EQ(list->numEvents, 3);
  // The list is longer than the two slots the record declares.
  VstEvent* const* slots = reinterpret_cast<VstEvent* const*>(reinterpret_cast<const unsigned char*>(list) +
                                                              offsetof(VstEvents, events));
  auto* third = reinterpret_cast<VstMidiEvent*>(slots[2]);
  EXPECT_EQ(third->type, kVstMidiType);
  EXPECT_EQ(third->byteSize, 32);
  EXPECT_EQ(static_cast<unsigned char>(third->midiData[0]), 0xE0);
  EXPECT_EQ(static_cast<unsigned char>(third->midiData[1]), (8292 & 0x7F));
  EXPECT_EQ(static_cast<unsigned char>(third->midiData[2]), (8292 >> 7));
  auto* second = reinterpret_cast<VstMidiEvent*>(slots[1]);
  EXPECT_EQ(second->deltaFrames, 5);
}

}  // namespace
