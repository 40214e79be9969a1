// The parts of vstrun's render path on their own: MIDI files, automation,
// the host callback's answers and the channel rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "render/Automation.h"
#include "render/MidiFile.h"
#include "render/Render.h"
#include "vsthost/Host.h"

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> v;
  for (int b : list) v.push_back(static_cast<uint8_t>(b));
  return v;
}

std::vector<uint8_t> smf(int format, int division, const std::vector<std::vector<uint8_t>>& tracks) {
  std::vector<uint8_t> f = bytes({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, format, 0, static_cast<int>(tracks.size()),
                                  (division >> 8) & 0xFF, division & 0xFF});
  for (const auto& t : tracks) {
    const uint32_t n = static_cast<uint32_t>(t.size());
    for (int b : {'M', 'T', 'r', 'k'}) f.push_back(static_cast<uint8_t>(b));
    for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<uint8_t>(n >> shift));
    f.insert(f.end(), t.begin(), t.end());
  }
  return f;
}

TEST(MidiFile, TimesFollowTheTempoMapAcrossTracks) {
  // Track 0: tempo 60 BPM (1 s per quarter) at 0, 120 BPM at tick 2 * 480.
  const auto conductor = bytes({0x00, 0xFF, 0x51, 3, 0x0F, 0x42, 0x40,     // 1000000 us
                                0x87, 0x40, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20,  // delta 960: 500000 us
                                0x00, 0xFF, 0x2F, 0x00});
  // Track 1: notes at ticks 480 (1 s) and 1440 (2 s + 0.5 s), running status,
  // a program change (one data byte) and channel pressure in between.
  const auto notes = bytes({0x83, 0x60, 0x91, 60, 100,  // tick 480
                            0x00, 0xC1, 5,              // program change
                            0x00, 0xD1, 7,              // channel pressure
                            0x87, 0x40, 0x91, 62, 90,   // tick 1440
                            0x00, 63, 80,               // running status, same tick
                            0x00, 0xFF, 0x2F, 0x00});
  const auto events = vstrun::parseMidiFile(smf(1, 480, {conductor, notes}));
  ASSERT_EQ(events.size(), 5u);
  EXPECT_DOUBLE_EQ(events[0].seconds, 1.0);
  EXPECT_EQ(events[0].bytes[0], 0x91);
  EXPECT_EQ(events[0].size, 3);
  EXPECT_EQ(events[1].size, 2);
  EXPECT_EQ(events[1].bytes[1], 5);
  EXPECT_EQ(events[2].bytes[0], 0xD1);
  EXPECT_DOUBLE_EQ(events[3].seconds, 2.5);
  EXPECT_EQ(events[4].bytes[0], 0x91);
  EXPECT_EQ(events[4].bytes[1], 63);
  EXPECT_DOUBLE_EQ(events[4].seconds, 2.5);
}

TEST(MidiFile, SmpteTimingAndSkippedChunksAndEvents) {
  // 25 frames per second, 40 ticks per frame: 1000 ticks per second.
  auto f = smf(0, 0xE728, {bytes({0x00, 0xF0, 0x02, 0x01, 0xF7,     // sysex
                                  0x00, 0xFF, 0x03, 0x01, 'x',      // track name
                                  0x87, 0x68, 0xB0, 7, 100,         // tick 1000
                                  0x00, 0xFF, 0x2F, 0x00})});
  // An unknown chunk before the track is skipped.
  const auto alien = bytes({'X', 'Y', 'Z', 'W', 0, 0, 0, 2, 1, 2});
  f.insert(f.begin() + 14, alien.begin(), alien.end());
  const auto events = vstrun::parseMidiFile(f);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_DOUBLE_EQ(events[0].seconds, 1.0);
  EXPECT_EQ(events[0].bytes[0], 0xB0);
}

TEST(MidiFile, MalformedFilesAreRefusedWithAReason) {
  const std::vector<std::vector<uint8_t>> bad = {
      bytes({'R', 'I', 'F', 'F'}),                                      // not MIDI
      smf(2, 96, {bytes({0x00, 0xFF, 0x2F, 0x00})}),                   // type 2
      smf(0, 0, {bytes({0x00, 0xFF, 0x2F, 0x00})}),                    // division 0
      smf(0, 96, {bytes({0x00, 0x90, 60})}),                           // ends mid-event
      smf(0, 96, {bytes({0x00, 60, 100})}),                            // data without status
      smf(0, 96, {bytes({0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 1, 2})}),  // delta of five bytes
      smf(0, 96, {bytes({0x00, 0x90, 0x90, 1})}),                      // status as data
      smf(0, 96, {bytes({0x00, 0xFF, 0x51, 2, 1, 2})}),                // tempo of two bytes
      smf(0, 96, {bytes({0x00, 0xFF, 0x51, 3, 7})}),                   // tempo past the track's end
      smf(0, 96, {bytes({0x00, 0xF0, 0x7F})}),                         // sysex longer than the track
      smf(0, 96, {bytes({0x00, 0xF2, 1, 2})}),                         // system common message
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_THROW(vstrun::parseMidiFile(bad[i]), std::runtime_error);
  }
  // A header that promises more tracks than the file holds.
  auto missing = smf(1, 96, {bytes({0x00, 0xFF, 0x2F, 0x00})});
  missing[11] = 2;
  EXPECT_THROW(vstrun::parseMidiFile(missing), std::runtime_error);
  try {
    vstrun::parseMidiFile(bad[4]);
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("running status"), std::string::npos) << e.what();
  }
}

TEST(Automation, ParsesTheFormatAndRefusesMistakes) {
  const auto file = vstrun::parseAutomation(R"({"comment": "x", "unit": "samples", "keyframes": [
      {"time": 10, "param": "Volume", "value": 0.5},
      {"time": 20, "param": 2, "value": 1, "ramp": "linear", "comment": "up"}]})");
  EXPECT_TRUE(file.samples);
  ASSERT_EQ(file.keyframes.size(), 2u);
  EXPECT_EQ(file.keyframes[0].paramName, "Volume");
  EXPECT_EQ(file.keyframes[1].paramIndex, 2);
  EXPECT_TRUE(file.keyframes[1].linear);
  EXPECT_FALSE(file.keyframes[0].linear);

  const char* bad[] = {
      "",
      "[]",
      R"({"keyframes": {}})",
      R"({"unit": "beats", "keyframes": []})",
      R"({"keyframe": []})",
      R"({"keyframes": [{"time": -1, "param": 0, "value": 0}]})",
      R"({"keyframes": [{"time": "1", "param": 0, "value": 0}]})",
      R"({"unit": "samples", "keyframes": [{"time": 1.5, "param": 0, "value": 0}]})",
      R"({"keyframes": [{"time": 1, "param": -1, "value": 0}]})",
      R"({"keyframes": [{"time": 1, "param": 0.5, "value": 0}]})",
      R"({"keyframes": [{"time": 1, "value": 0}]})",
      R"({"keyframes": [{"time": 1, "param": 0, "value": 1.01}]})",
      R"({"keyframes": [{"time": 1, "param": 0, "value": 0, "ramp": "cubic"}]})",
      R"({"keyframes": [{"time": 1, "param": 0, "vale": 0}]})",
      R"({"keyframes": [{"time": 1e999, "param": 0, "value": 0}]})",
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    EXPECT_THROW(vstrun::parseAutomation(text), std::runtime_error);
  }
}

TEST(Automation, StepsAndRampsInFrames) {
  const auto file = vstrun::parseAutomation(R"({"keyframes": [
      {"time": 1.0, "param": "B", "value": 0.5, "ramp": "linear"},
      {"time": 0.5, "param": "A", "value": 0.25},
      {"time": 0.5, "param": "A", "value": 0.75},
      {"time": 2.0, "param": "B", "value": 1.0, "ramp": "linear"}]})");
  auto resolve = [](const std::string& n) { return n == "A" ? 0 : n == "B" ? 1 : -1; };
  vstrun::Automation a(file, 100.0, 2, resolve, [](int32_t) { return 0.0f; });
  float v = -1;
  EXPECT_FALSE(a.valueAt(0, 49, &v));      // nothing for A before its keyframe
  ASSERT_TRUE(a.valueAt(0, 50, &v));
  EXPECT_FLOAT_EQ(v, 0.75f);                // the later of two at one time wins
  ASSERT_TRUE(a.valueAt(1, 0, &v));
  EXPECT_FLOAT_EQ(v, 0.0f);                 // B ramps from its start value
  ASSERT_TRUE(a.valueAt(1, 50, &v));
  EXPECT_FLOAT_EQ(v, 0.25f);
  ASSERT_TRUE(a.valueAt(1, 150, &v));
  EXPECT_FLOAT_EQ(v, 0.75f);
  ASSERT_TRUE(a.valueAt(1, 500, &v));
  EXPECT_FLOAT_EQ(v, 1.0f);

  // Spans stop at keyframes and are short while a ramp runs.
  EXPECT_EQ(a.span(0, 512), 50);    // A's keyframe
  EXPECT_EQ(a.span(50, 512), 50);   // B's next keyframe
  EXPECT_EQ(a.span(100, 512), vstrun::Automation::kRampStep);  // B ramps to 200
  EXPECT_EQ(a.span(190, 512), 10);
  EXPECT_EQ(a.span(200, 512), 512);
  vstrun::Automation steps(vstrun::parseAutomation(R"({"unit": "samples", "keyframes": [{"time": 300, "param": 0, "value": 1}]})"),
                           100.0, 1, resolve, [](int32_t) { return 0.0f; });
  EXPECT_EQ(steps.span(0, 512), 300);
  EXPECT_EQ(steps.span(300, 512), 512);

  // apply sets only what changed.
  std::vector<std::pair<int32_t, float>> sets;
  auto record = [&](int32_t i, float x) { sets.emplace_back(i, x); };
  steps.apply(0, record);
  EXPECT_TRUE(sets.empty());
  steps.apply(300, record);
  steps.apply(400, record);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].first, 0);
  EXPECT_FLOAT_EQ(sets[0].second, 1.0f);

  // Unknown names and indices are refused.
  auto unknown = vstrun::parseAutomation(R"({"keyframes": [{"time": 0, "param": "C", "value": 1}]})");
  EXPECT_THROW(vstrun::Automation(unknown, 100.0, 2, resolve, [](int32_t) { return 0.0f; }), std::runtime_error);
  auto beyond = vstrun::parseAutomation(R"({"keyframes": [{"time": 0, "param": 2, "value": 1}]})");
  EXPECT_THROW(vstrun::Automation(beyond, 100.0, 2, resolve, [](int32_t) { return 0.0f; }), std::runtime_error);
}

TEST(RenderChannels, OutputChannelRules) {
  EXPECT_EQ(vstrun::outputChannelsFor(1, 2), 2);  // mono file, stereo plug-in: stereo
  EXPECT_EQ(vstrun::outputChannelsFor(2, 2), 2);
  EXPECT_EQ(vstrun::outputChannelsFor(2, 8), 2);  // extra outputs are not written
  EXPECT_EQ(vstrun::outputChannelsFor(6, 8), 6);
  EXPECT_EQ(vstrun::outputChannelsFor(2, 1), 1);
  EXPECT_EQ(vstrun::outputChannelsFor(2, 0), 0);
}

TEST(HostCallback, AnswersWhatPlugInsAsk) {
  vsthost::Host host;
  host.setSampleRate(48000.0);
  host.setBlockSize(256);
  audioMasterCallback cb = vsthost::Host::callback();
  EXPECT_EQ(cb(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f), 2400);
  EXPECT_EQ(cb(nullptr, audioMasterTempoAt, 0, 0, nullptr, 0.0f), 1200000);
  EXPECT_EQ(cb(nullptr, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f), 48000);
  EXPECT_EQ(cb(nullptr, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 256);
  EXPECT_EQ(cb(nullptr, audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f), vsthost::kProcessLevelUser);
  EXPECT_GT(cb(nullptr, audioMasterGetVendorVersion, 0, 0, nullptr, 0.0f), 0);

  char text[256];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(cb(nullptr, audioMasterGetVendorString, 0, 0, text, 0.0f), 1);
  EXPECT_STREQ(text, "Kestrom");
  EXPECT_EQ(cb(nullptr, audioMasterGetProductString, 0, 0, text, 0.0f), 1);
  EXPECT_STREQ(text, "vstrun");

  char question[64];
  for (const char* yes : {"sendVstEvents", "sendVstMidiEvent", "sendVstTimeInfo", "startStopProcess"}) {
    std::strcpy(question, yes);
    EXPECT_EQ(cb(nullptr, audioMasterCanDo, 0, 0, question, 0.0f), 1) << yes;
  }
  for (const char* no : {"receiveVstEvents", "receiveVstMidiEvent", "offline", "openFileSelector"}) {
    std::strcpy(question, no);
    EXPECT_EQ(cb(nullptr, audioMasterCanDo, 0, 0, question, 0.0f), -1) << no;
  }
  std::strcpy(question, "somethingElse");
  EXPECT_EQ(cb(nullptr, audioMasterCanDo, 0, 0, question, 0.0f), 0);

  EXPECT_FALSE(host.wantsMidi());
  cb(nullptr, audioMasterWantMidi, 0, 1, nullptr, 0.0f);
  EXPECT_TRUE(host.wantsMidi());

  std::vector<std::pair<VstInt32, float>> automated;
  host.onAutomate([&](VstInt32 i, float v) { automated.emplace_back(i, v); });
  cb(nullptr, audioMasterAutomate, 3, 0, nullptr, 0.25f);
  ASSERT_EQ(automated.size(), 1u);
  EXPECT_EQ(automated[0].first, 3);
  EXPECT_FLOAT_EQ(automated[0].second, 0.25f);
}

TEST(HostCallback, TimeInfoFollowsPositionAndFilter) {
  vsthost::Host host;
  host.setSampleRate(44100.0);
  host.setSamplePosition(44100.0 * 3);  // 3 s at 120 BPM: beat 6, bar start 4
  host.setPlaying(true);
  audioMasterCallback cb = vsthost::Host::callback();
  const VstIntPtr all = kVstNanosValid | kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid |
                        kVstClockValid;
  const auto* t = reinterpret_cast<const VstTimeInfo*>(cb(nullptr, audioMasterGetTime, 0, all, nullptr, 0.0f));
  ASSERT_NE(t, nullptr);
  EXPECT_DOUBLE_EQ(t->samplePos, 132300.0);
  EXPECT_DOUBLE_EQ(t->sampleRate, 44100.0);
  EXPECT_DOUBLE_EQ(t->ppqPos, 6.0);
  EXPECT_DOUBLE_EQ(t->tempo, 120.0);
  EXPECT_DOUBLE_EQ(t->barStartPos, 4.0);
  EXPECT_DOUBLE_EQ(t->nanoSeconds, 3e9);
  EXPECT_EQ(t->timeSigNumerator, 4);
  EXPECT_EQ(t->timeSigDenominator, 4);
  EXPECT_EQ(t->samplesToNextClock, 0);
  EXPECT_EQ(t->flags, kVstTransportPlaying | all);

  const auto* some = reinterpret_cast<const VstTimeInfo*>(cb(nullptr, audioMasterGetTime, 0, kVstTempoValid, nullptr, 0.0f));
  EXPECT_EQ(some->flags, kVstTransportPlaying | kVstTempoValid);
  EXPECT_DOUBLE_EQ(some->tempo, 120.0);
  EXPECT_EQ(some->ppqPos, 0.0);  // not asked for, not filled
}

TEST(HostCallback, RoutesByRecordAndAnswersTheIdBeingLoaded) {
  vsthost::Host a, b;
  AEffect ea{}, eb{};
  ea.uniqueID = 11;
  eb.uniqueID = 22;
  a.attach(&ea);
  b.attach(&eb);
  a.setBlockSize(64);
  b.setBlockSize(128);
  audioMasterCallback cb = vsthost::Host::callback();
  EXPECT_EQ(cb(&ea, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 64);
  EXPECT_EQ(cb(&eb, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 128);
  EXPECT_EQ(cb(&ea, audioMasterCurrentId, 0, 0, nullptr, 0.0f), 11);
  // While a module's entry runs, requests without a record go to the loader.
  a.beginLoading(77);
  EXPECT_EQ(cb(nullptr, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 64);
  a.detach();
  EXPECT_EQ(cb(nullptr, audioMasterCurrentId, 0, 0, nullptr, 0.0f), 77);
  a.endLoading();
  // Pins: 0 means connected.
  eb.numInputs = 2;
  eb.numOutputs = 1;
  EXPECT_EQ(cb(&eb, audioMasterPinConnected, 1, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(cb(&eb, audioMasterPinConnected, 1, 1, nullptr, 0.0f), 1);
}

}  // namespace
