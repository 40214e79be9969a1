// The buffer engine's inner state, set and read directly: the loop-start
// search, the loop end, wrapping and the write index.
#include <gtest/gtest.h>

#include "instrument/uPlugin.h"

namespace {

// Opens the engine's members to the test.
class Probe : public APlugin {
 public:
  Probe() : APlugin(nullptr) {}
  using APlugin::loopEnd;
  using APlugin::loopStart;
  using APlugin::loopStartFound;
  using APlugin::readPosition;
  using APlugin::sampleBuffer;
  using APlugin::searchLoopStart;
  using APlugin::writeIndex;

  float run(float left, float right) {
    float in[2][1] = {{left}, {right}};
    float out[2][1] = {{0.0f}, {0.0f}};
    float* inputs[2] = {in[0], in[1]};
    float* outputs[2] = {out[0], out[1]};
    processReplacing(inputs, outputs, 1);
    EXPECT_EQ(out[0][0], out[1][0]);
    return out[0][0];
  }
  void loud() {
    for (int i = 0; i < kBufferLength; ++i) sampleBuffer[i] = 1.0f + static_cast<float>(i);
  }
  // A loud recording that starts with three quiet samples (so the loop
  // starts at 3), Buff Size dropped to size, one sample run.
  void loopAfterThreeQuiet(float size) {
    loud();
    sampleBuffer[0] = sampleBuffer[1] = sampleBuffer[2] = 0.0f;
    setParameter(kParamBuffSize, size);
    run(0.0f, 0.0f);
  }
};

TEST(EngineState, LoopStartSearchExamples) {
  Probe p;
  ASSERT_TRUE(p.isComplete());
  p.loud();
  const float head[6] = {0.1f, 0.0001f, 0.2f, -0.0004f, 0.0005f, 0.00049f};
  for (int i = 0; i < 6; ++i) p.sampleBuffer[i] = head[i];
  EXPECT_EQ(p.searchLoopStart(), 6);

  p.loud();
  p.sampleBuffer[0] = p.sampleBuffer[1] = p.sampleBuffer[2] = 0.0f;
  EXPECT_EQ(p.searchLoopStart(), 3);

  p.loud();
  p.sampleBuffer[4] = -0.0005f;  // the threshold itself is loud, both signs
  p.sampleBuffer[9] = 0.0005f;
  EXPECT_EQ(p.searchLoopStart(), APlugin::kBufferLength);
  p.sampleBuffer[22047] = p.sampleBuffer[22048] = p.sampleBuffer[22049] = -0.0f;
  EXPECT_EQ(p.searchLoopStart(), 22050) << "third quiet sample at the last index";
  p.sampleBuffer[22049] = 2.0f;
  EXPECT_EQ(p.searchLoopStart(), 22050) << "two quiet samples: one past the end";
}

TEST(EngineState, TheFreshBufferIsSilentSoItsSearchGivesThree) {
  Probe p;
  for (int i = 0; i < APlugin::kBufferLength; ++i) ASSERT_EQ(p.sampleBuffer[i], 0.0f) << i;
  EXPECT_EQ(p.searchLoopStart(), 3);
}

TEST(EngineState, LoopEndFollowsBuffSizeFromTheLoopStart) {
  Probe p;
  p.loopAfterThreeQuiet(0.0f);
  EXPECT_EQ(p.loopStart, 3);
  EXPECT_EQ(p.loopStartFound, 1);
  EXPECT_EQ(p.loopEnd, 25);
  p.setParameter(0, 0.5f);
  p.run(0.0f, 0.0f);
  EXPECT_EQ(p.loopEnd, 11049);
  p.setParameter(0, 0.99999994f);
  p.run(0.0f, 0.0f);
  EXPECT_EQ(p.loopEnd, 22072);
}

TEST(EngineState, MovingBuffSizeBelowOneKeepsTheLoopStart) {
  Probe p;
  p.loopAfterThreeQuiet(0.0f);
  ASSERT_EQ(p.loopStart, 3);
  p.sampleBuffer[0] = 5.0f;  // a new search would now find 22050
  p.setParameter(0, 0.4f);
  p.run(0.0f, 0.0f);
  EXPECT_EQ(p.loopStart, 3);
  p.setParameter(0, 1.0f);
  p.run(0.0f, 0.0f);  // records a quiet sample at writeIndex 0
  EXPECT_EQ(p.loopStartFound, 0);
  p.sampleBuffer[0] = 5.0f;
  p.setParameter(0, 0.4f);
  p.run(0.0f, 0.0f);
  EXPECT_EQ(p.loopStart, 22050);
}

TEST(EngineState, AWrapKeepsOnlyTheRoundedPositionsRemainder) {
  Probe p;
  p.setParameter(kParamReadThroughSpeed, 0.3f);
  p.loopAfterThreeQuiet(0.0f);
  ASSERT_EQ(p.loopEnd, 25);
  p.readPosition = 24.9;
  EXPECT_EQ(p.run(0.0f, 0.0f), 26.0f) << "plays index round(24.9) = 25";
  EXPECT_EQ(p.readPosition, 0.0) << "25.2 rounds to 25, 25 mod 25 is 0";
}

TEST(EngineState, IndicesPastTheBufferReadItsStart) {
  Probe p;
  p.setParameter(kParamReadThroughSpeed, 1.0f);
  p.loopAfterThreeQuiet(0.99999994f);
  ASSERT_EQ(p.loopEnd, 22072);
  p.readPosition = 22060.0;
  EXPECT_EQ(p.run(0.0f, 0.0f), p.sampleBuffer[10]);
  p.readPosition = 22071.5;  // rounds to the loop end itself
  EXPECT_EQ(p.run(0.0f, 0.0f), p.sampleBuffer[22]);
  EXPECT_EQ(p.readPosition, 0.0);
}

TEST(EngineState, TheWriteIndexWrapsAtTheBufferLength) {
  Probe p;
  p.writeIndex = 22049;
  p.run(0.5f, 0.5f);
  EXPECT_EQ(p.sampleBuffer[22049], 0.5f);
  EXPECT_EQ(p.writeIndex, 22050);
  p.run(0.25f, 0.25f);
  EXPECT_EQ(p.sampleBuffer[0], 0.25f);
  EXPECT_EQ(p.writeIndex, 1);
}

}  // namespace
