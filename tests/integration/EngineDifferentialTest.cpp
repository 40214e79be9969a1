// The shipped engine against the engine it replaced (ReferenceLooper.h), bit
// for bit, over seeded random sessions: parameter changes between blocks,
// notes, bends and controllers 1 and 7 inside blocks, blocks of 1 to 4096
// frames, process and processReplacing, in place, out of place and into one
// output buffer, loops that wrap, shrink and grow, speeds down to the very
// small.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "integration/ReferenceLooper.h"
#include "support/TestHost.h"

namespace {

uint32_t bitsOf(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// Portable draws (the standard distributions differ between libraries).
struct Dice {
  explicit Dice(uint32_t seed) : rng(seed) {}
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }
  float unit() { return static_cast<float>(rng() >> 8) / 16777216.0f; }
  bool chance(int percent) { return below(100) < static_cast<uint32_t>(percent); }
  std::mt19937 rng;
};

float drawSpeed(Dice& d) {
  switch (d.below(6)) {
    case 0: return 0.0f;
    case 1: return 1.0e-5f * d.unit();  // positions no longer exact sums
    case 2: return FLT_MIN * 4.0f;
    case 3: return static_cast<float>(d.below(5)) * 0.25f;
    default: return d.unit();
  }
}

float drawSample(Dice& d) {
  switch (d.below(8)) {
    case 0: return 0.0f;
    case 1: return (d.unit() - 0.5f) * 0.001f;  // near the quiet threshold
    case 2: return (d.unit() - 0.5f) * FLT_MIN;  // denormal
    default: return d.unit() * 2.0f - 1.0f;
  }
}

int drawFrames(Dice& d) {
  switch (d.below(5)) {
    case 0: return 1 + static_cast<int>(d.below(8));
    case 1: return 64;
    case 2: return 1 + static_cast<int>(d.below(256));
    case 3: return 1 + static_cast<int>(d.below(4096));
    default: return 4096 - static_cast<int>(d.below(3));
  }
}

void changeSomething(Dice& d, vtest::PluginInstance& plugin) {
  vtest::MidiEvents midi;
  const int events = static_cast<int>(d.below(4));
  for (int i = 0; i < events; ++i) {
    const int at = static_cast<int>(d.below(64));
    switch (d.below(4)) {
      case 0: midi.noteOn(static_cast<int>(d.below(16)), static_cast<int>(d.below(128)), 1 + d.below(127), at); break;
      case 1: midi.pitchBend(0, static_cast<int>(d.below(16384)), at); break;
      case 2: midi.controller(0, 1, d.chance(40) ? 0 : static_cast<int>(d.below(128)), at); break;
      default: midi.controller(0, 7, static_cast<int>(d.below(128)), at); break;
    }
  }
  if (events) plugin.processEvents(midi);
  if (d.chance(25)) {
    // Record, loops near full length (past the buffer's end), short loops.
    const float sizes[] = {1.0f, 1.0f, 0.999f, 0.0f, d.unit(), d.unit() * 0.01f};
    plugin.setParameter(0, sizes[d.below(6)]);
  }
  if (d.chance(15)) plugin.setParameter(1, d.chance(50) ? 0.0f : d.unit());
  if (d.chance(25)) plugin.setParameter(2, drawSpeed(d));
}

void runSession(uint32_t seed, int blocks) {
  vtest::RecordingHost host;
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  plugin.dispatch(effOpen);
  plugin.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
  plugin.dispatch(effMainsChanged, 0, 1);
  reference::Looper ref;
  Dice d(seed);
  for (int block = 0; block < blocks; ++block) {
    changeSomething(d, plugin);
    ref.buffSize = plugin.getParameter(0);
    ref.volume = plugin.getParameter(1);
    ref.readThroughSpeed = plugin.getParameter(2);

    const int frames = drawFrames(d);
    const bool accumulate = d.chance(40), inPlace = d.chance(40);
    const bool oneOutput = d.chance(10);  // a host that sums both channels into one buffer
    std::vector<float> data(4 * static_cast<size_t>(frames));
    for (float& s : data) s = drawSample(d);
    if (d.chance(20))  // the same on both inputs, the way a mono source arrives
      std::copy(data.begin(), data.begin() + frames, data.begin() + frames);
    std::vector<float> mine = data, theirs = data;
    auto channels = [&](std::vector<float>& v, float** in, float** out) {
      in[0] = v.data();
      in[1] = v.data() + frames;
      out[0] = inPlace ? in[0] : v.data() + 2 * frames;
      out[1] = inPlace ? in[1] : v.data() + 3 * frames;
      if (oneOutput) out[1] = out[0];
    };
    float *inA[2], *outA[2], *inB[2], *outB[2];
    channels(mine, inA, outA);
    channels(theirs, inB, outB);
    AEffect* e = plugin.effect();
    if (accumulate) {
      e->process(e, inA, outA, frames);
      ref.process(inB, outB, frames);
    } else {
      e->processReplacing(e, inA, outA, frames);
      ref.processReplacing(inB, outB, frames);
    }
    for (size_t i = 0; i < mine.size(); ++i)
      ASSERT_EQ(bitsOf(mine[i]), bitsOf(theirs[i]))
          << "seed " << seed << " block " << block << " (" << frames << " frames, "
          << (accumulate ? "process" : "processReplacing") << (inPlace ? ", in place" : "")
          << (oneOutput ? ", one output" : "") << ") word " << i
          << " buffSize " << ref.buffSize << " speed " << ref.readThroughSpeed;
  }
}

TEST(EngineDifferential, RandomSessionsMatchTheReferenceBitForBit) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    runSession(seed, 250);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
