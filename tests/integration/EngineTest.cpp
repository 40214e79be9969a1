// The looper's sound as a host hears it: recording, the loop-start search,
// loop length, read speed and wrapping, through the module's record.
#include <gtest/gtest.h>

#include <vector>

#include "integration/LooperHelpers.h"

namespace {

using looper::bitsOf;
using looper::loudCode;
using looper::quietCode;

class Engine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(plugin.ok()) << plugin.error(); }

  // Records a whole buffer with quiet samples at the given indices, then
  // switches to loop mode at the given "Buff Size" with read speed 1.0.
  void loopOver(const std::vector<int>& quietAt, float buffSize) {
    looper::record(plugin, looper::codedBuffer(quietAt));
    plugin.setParameter(2, 1.0f);
    plugin.setParameter(0, buffSize);
  }

  vtest::RecordingHost host;
  vtest::PluginInstance plugin{host};
};

TEST_F(Engine, RecordModeMixesToMonoAndAppliesVolume) {
  vtest::AudioBuffers audio(2, 2, 4);
  const float left[4] = {1.0f, -0.25f, 0.1f, 3.0f};
  const float right[4] = {0.5f, 0.75f, 0.1f, -1.0f};
  const float mono[4] = {0.75f, 0.25f, 0.1f, 1.0f};
  for (int i = 0; i < 4; ++i) {
    audio.input(0)[i] = left[i];
    audio.input(1)[i] = right[i];
  }
  plugin.processReplacing(audio);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(audio.output(0)[i], mono[i]) << i;
    EXPECT_EQ(audio.output(1)[i], mono[i]) << i;
  }

  plugin.setParameter(1, 0.25f);
  plugin.processReplacing(audio);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(audio.output(1)[i], 0.75f * mono[i]) << i;
}

TEST_F(Engine, FullAttenuationSilencesButKeepsRecording) {
  plugin.setParameter(1, 1.0f);
  std::vector<float> samples;
  for (int i = 0; i < 40; ++i) samples.push_back(i < 3 ? quietCode(i) : loudCode(i));
  vtest::AudioBuffers audio(2, 2, 40);
  for (int i = 0; i < 40; ++i) audio.input(0)[i] = audio.input(1)[i] = samples[i];
  plugin.processReplacing(audio);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(bitsOf(audio.output(0)[i]), 0u) << i;
    EXPECT_EQ(bitsOf(audio.output(1)[i]), 0u) << i;
  }
  // What was recorded under full attenuation plays back at full level.
  plugin.setParameter(1, 0.0f);
  plugin.setParameter(2, 1.0f);
  plugin.setParameter(0, 0.0f);
  const std::vector<float> out = looper::play(plugin, 26);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(out[i], samples[i]) << i;
  EXPECT_EQ(out[25], samples[0]);
}

TEST_F(Engine, ProcessAddsToTheOutputAndProcessReplacingOverwrites) {
  vtest::AudioBuffers audio(2, 2, 64);
  audio.fillInput(0, 1.0f);
  audio.fillInput(1, 1.0f);
  plugin.process(audio);
  plugin.process(audio);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(audio.output(0)[i], 2.0f);
    EXPECT_EQ(audio.output(1)[i], 2.0f);
  }
  audio.fillOutput(0, 5.0f);
  audio.fillOutput(1, -5.0f);
  plugin.processReplacing(audio);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(audio.output(0)[i], 1.0f);
    EXPECT_EQ(audio.output(1)[i], 1.0f);
  }
}

TEST_F(Engine, EveryBlockAsksForTheTempoOnceEvenWithoutFrames) {
  vtest::AudioBuffers audio(2, 2, 8);
  audio.fillOutput(0, 7.0f);
  audio.fillOutput(1, 7.0f);
  host.clear();
  AEffect* e = plugin.effect();
  e->processReplacing(e, audio.inputs(), audio.outputs(), 0);
  e->process(e, audio.inputs(), audio.outputs(), 0);
  e->processReplacing(e, audio.inputs(), audio.outputs(), -3);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(audio.output(0)[i], 7.0f);
    EXPECT_EQ(audio.output(1)[i], 7.0f);
  }
  e->processReplacing(e, audio.inputs(), audio.outputs(), 8);
  e->process(e, audio.inputs(), audio.outputs(), 8);
  const auto calls = host.callsOf(audioMasterTempoAt);
  ASSERT_EQ(calls.size(), 5u);
  for (const auto& c : calls) {
    EXPECT_EQ(c.effect, e);
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.value, 0);
    EXPECT_EQ(c.ptr, nullptr);
    EXPECT_EQ(c.opt, 0.0f);
  }
  EXPECT_EQ(host.size(), 5u) << "a block makes no other request";
}

TEST_F(Engine, InputAndOutputMayBeTheSameBuffers) {
  vtest::PluginInstance other(host);
  ASSERT_TRUE(other.ok());
  const int n = 300;
  auto signal = [](int block, int i) { return static_cast<float>(((block * 131 + i * 17) % 101) - 50) / 40.0f; };
  for (int block = 0; block < 120; ++block) {
    if (block == 80) {
      plugin.setParameter(0, 0.3f);
      other.setParameter(0, 0.3f);
    }
    vtest::AudioBuffers separate(2, 2, n);
    std::vector<float> left(n), right(n);
    for (int i = 0; i < n; ++i) {
      separate.input(0)[i] = left[i] = signal(block, i);
      separate.input(1)[i] = right[i] = signal(block + 7, i);
    }
    plugin.processReplacing(separate);
    float* channels[2] = {left.data(), right.data()};
    AEffect* e = other.effect();
    e->processReplacing(e, channels, channels, n);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(bitsOf(left[i]), bitsOf(separate.output(0)[i])) << block << ":" << i;
      ASSERT_EQ(bitsOf(right[i]), bitsOf(separate.output(1)[i])) << block << ":" << i;
    }
  }
}

TEST_F(Engine, RecordingWrapsToTheBufferStartAfter22050Samples) {
  looper::record(plugin, looper::codedBuffer({0, 1, 2}));
  looper::record(plugin, {quietCode(7)});  // the 22051st sample
  plugin.setParameter(2, 1.0f);
  plugin.setParameter(0, 0.0f);
  const std::vector<float> out = looper::play(plugin, 27);
  EXPECT_EQ(out[0], quietCode(7));
  EXPECT_EQ(out[1], quietCode(1));
  EXPECT_EQ(out[24], loudCode(24));
  EXPECT_EQ(out[25], quietCode(7));
}

TEST_F(Engine, LoopStartCountsQuietSamplesAcrossTheWalk) {
  // Quiet at 1, 3 and 5 (0.0005 itself is not quiet): the loop starts at 6,
  // so with "Buff Size" 0 it is 6 + round(0.001 * 22044) = 28 samples long.
  std::vector<float> b = looper::codedBuffer({});
  const float head[6] = {0.1f, 0.0001f, 0.2f, -0.0004f, 0.0005f, 0.00049f};
  for (int i = 0; i < 6; ++i) b[i] = head[i];
  looper::record(plugin, b);
  plugin.setParameter(2, 1.0f);
  plugin.setParameter(0, 0.0f);
  const std::vector<float> out = looper::play(plugin, 31);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], head[i]) << i;
  for (int i = 6; i < 28; ++i) EXPECT_EQ(out[i], loudCode(i)) << i;
  EXPECT_EQ(out[28], head[0]);
  EXPECT_EQ(out[29], head[1]);
}

TEST_F(Engine, ThreeLeadingZerosGiveALoopOf25) {
  std::vector<float> b = looper::codedBuffer({});
  b[0] = b[1] = b[2] = 0.0f;
  looper::record(plugin, b);
  plugin.setParameter(2, 1.0f);
  plugin.setParameter(0, 0.0f);
  const std::vector<float> out = looper::play(plugin, 52);
  for (int i = 3; i < 25; ++i) EXPECT_EQ(out[i], loudCode(i)) << i;
  EXPECT_EQ(out[25], 0.0f);
  EXPECT_EQ(out[28], loudCode(3));
  EXPECT_EQ(out[49], loudCode(24));
  EXPECT_EQ(out[50], 0.0f);
}

TEST_F(Engine, WithFewerThanThreeQuietSamplesTheWholeBufferLoops) {
  loopOver({100, 20000}, 0.0f);  // loop start 22050, loop end 22050
  const std::vector<float> out = looper::play(plugin, 22053);
  EXPECT_EQ(out[99], loudCode(99));
  EXPECT_EQ(out[100], quietCode(100));
  EXPECT_EQ(out[22049], loudCode(22049));
  EXPECT_EQ(out[22050], loudCode(0));
  EXPECT_EQ(out[22052], loudCode(2));
}

TEST_F(Engine, LoopLengthFollowsBuffSize) {
  loopOver({0, 1, 2}, 0.0f);  // loop start 3
  std::vector<int> idx = looper::playIndices(plugin, 27);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(idx[i], i);
  EXPECT_EQ(idx[25], 0);
  EXPECT_EQ(idx[26], 1);

  // 3 + round(0.501 * 22047) = 11049; the position (2) carries on.
  plugin.setParameter(0, 0.5f);
  idx = looper::playIndices(plugin, 11048);
  EXPECT_EQ(idx[0], 2);
  EXPECT_EQ(idx[11046], 11048);
  EXPECT_EQ(idx[11047], 0);
}

TEST_F(Engine, HalfSpeedRoundsTiesToEven) {
  loopOver({0, 1, 2}, 0.0f);
  plugin.setParameter(2, 0.5f);
  EXPECT_EQ(looper::playIndices(plugin, 12), (std::vector<int>{0, 0, 1, 2, 2, 2, 3, 4, 4, 4, 5, 6}));
}

TEST_F(Engine, AWrapDropsThePositionsFraction) {
  // Speed 0.75 reaches 24.75 after 33 steps: that step plays index 25 (the
  // loop end itself), the position 25.5 rounds to 26 and wraps to 1, not 0.5.
  loopOver({0, 1, 2}, 0.0f);
  plugin.setParameter(2, 0.75f);
  const std::vector<int> idx = looper::playIndices(plugin, 38);
  EXPECT_EQ(idx[32], 24);
  EXPECT_EQ(idx[33], 25);
  EXPECT_EQ(idx[34], 1);
  EXPECT_EQ(idx[35], 2);
  EXPECT_EQ(idx[36], 2);
  EXPECT_EQ(idx[37], 3);
}

TEST_F(Engine, ALoopLongerThanTheBufferReadsItsStartAgain) {
  // "Buff Size" just below 1.0 with loop start 3: loop end 22072, so indices
  // 22050..22071 play the buffer's first 22 samples.
  loopOver({0, 1, 2}, 0.99999994f);
  const std::vector<int> idx = looper::playIndices(plugin, 22075);
  EXPECT_EQ(idx[22049], 22049);
  for (int k = 22050; k < 22072; ++k) EXPECT_EQ(idx[k], k - 22050) << k;
  EXPECT_EQ(idx[22072], 0);
  EXPECT_EQ(idx[22073], 1);
}

TEST_F(Engine, TheFastestLoopStaysInsideTheBuffer) {
  loopOver({0, 1, 2}, 0.99999994f);
  vtest::MidiEvents midi;
  midi.noteOn(0, 127, 100).add(0xE0, 127, 127);  // about 63 samples a step
  plugin.processEvents(midi);
  EXPECT_GT(plugin.getParameter(2), 63.0f);
  for (int block = 0; block < 10; ++block) {
    const std::vector<int> idx = looper::playIndices(plugin, 4096);
    for (size_t i = 0; i < idx.size(); ++i) ASSERT_GE(idx[i], 0) << block << ":" << i;
  }
}

TEST_F(Engine, OnlyARecordedSampleMakesTheNextLoopSearchAgain) {
  loopOver({0, 1, 2}, 0.0f);
  std::vector<int> idx = looper::playIndices(plugin, 26);
  EXPECT_EQ(idx[25], 0);  // loop of 25; the position is now 1
  plugin.setParameter(0, 0.2f);
  plugin.setParameter(0, 0.0f);
  EXPECT_EQ(looper::playIndices(plugin, 25)[24], 0) << "same loop after moving Buff Size below 1.0";

  // One recorded sample (a loud one, at index 0) leaves two quiet samples:
  // the next loop starts at 22050 and no longer wraps after 25.
  plugin.setParameter(0, 1.0f);
  looper::record(plugin, {loudCode(0)});
  plugin.setParameter(0, 0.0f);
  idx = looper::playIndices(plugin, 40);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(idx[i], i + 1) << i;
}

}  // namespace
