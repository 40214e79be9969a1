// The loop player computes a block's read positions as start + j * increment
// instead of adding the increment frame by frame. That is only sound where
// every such sum is exact; these tests check the claim itself, and that the
// player's test for it rejects the increments it does not hold for.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <random>
#include <vector>

#include "instrument/uLoopPlayer.h"
#include "instrument/uNoteTable.h"

// The same tests built for a processor without SSE2 (unit_loop_player_plain).
#if defined(VANTOREL_EXPECT_PLAIN) && defined(VANTOREL_SSE2)
#error "built without SSE2, yet the loop player chose its SSE2 path"
#endif

namespace {

using vantorel::exactSteps;
using vantorel::kLoopBufferLength;
using vantorel::playLoop;

// Every read speed the engine can be given: notes, notes bent, parameter
// values (floats in 0..1), from the smallest accepted one up.
std::vector<float> speeds() {
  std::vector<float> v = {1.0f / 16384.0f, 1.0f, 0.5f, 0.75f, 1.0f / 3.0f, 0.1f, 0.77f, 64.0f / 127.0f};
  for (int n = 0; n < 128; n += 7) {
    const float note = static_cast<float>(vantorel::kNoteSpeeds[n]);
    v.push_back(note);
    v.push_back(static_cast<float>((32639.0 / 65535.0 * 1.5 + 0.5) * note));  // full bend up
    v.push_back(static_cast<float>((1.0 / 65535.0 * 1.5 + 0.5) * note));      // smallest bend
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 24; ++i) {
    const float f = static_cast<float>(rng() >> 8) / 16777216.0f;
    if (f >= 1.0f / 16384.0f) v.push_back(f);
  }
  return v;
}

// A fact of double arithmetic, not of the player's code: checked in the
// main build only (emulated x87 code takes a minute over it).
#ifndef VANTOREL_EXPECT_PLAIN
TEST(LoopPlayer, SumsOfAnIntegerStartAndFloatSpeedsAreExactInsideTheLoopRange) {
  for (float speed : speeds()) {
    const double inc = speed;
    for (double start : {0.0, 1.0, 25.0, 11049.0, 22049.0, 22072.0}) {
      ASSERT_TRUE(exactSteps(start, inc)) << start << " + k * " << speed;
      // The chain as the engine used to run it, against the direct form,
      // up to the largest position a loop reaches (its end plus a step).
      double chain = start;
      for (int k = 1; k <= 40000 && chain < 22073.0 + inc; ++k) {
        chain += inc;
        ASSERT_EQ(chain, start + static_cast<double>(k) * inc) << start << " + " << k << " * " << speed;
      }
      // The position where a block ended carries on with another speed.
      ASSERT_TRUE(exactSteps(chain, 0.75)) << chain;
    }
  }
}
#endif

TEST(LoopPlayer, OffGridSpeedsAndPositionsAreLeftToTheChain) {
  // 1e-9 carries bits down to 2^-53: next to a position of 1000 the chain
  // and the direct form part ways, and the player must not take the short cut.
  const double inc = 1.0e-9f;
  EXPECT_FALSE(exactSteps(1000.0, inc));
  volatile double chain = 1000.0;  // a double, even where the x87 would hold more
  bool differs = false;
  for (int k = 1; k <= 5000 && !differs; ++k) {
    chain = chain + inc;
    differs = chain != 1000.0 + static_cast<double>(k) * inc;
  }
  EXPECT_TRUE(differs);
  EXPECT_FALSE(exactSteps(1000.0 + inc, 0.5));
  EXPECT_FALSE(exactSteps(1.0, FLT_MIN));
  EXPECT_FALSE(exactSteps(3.0, 0x1p-40)) << "a fraction that only an x87's excess bits can hold";
  EXPECT_FALSE(exactSteps(-1.0, 0.5));
  EXPECT_FALSE(exactSteps(40000.0, 0.5));
  EXPECT_TRUE(exactSteps(3.0, 0.0));
}

// The player itself, on a buffer whose sample i is i: each output sample
// names the index that frame played.
struct Case {
  const char* what;
  double position, increment;
  int32_t loopEnd;
  std::vector<float> played;
  double after;  // the position returned
};

const Case kCases[] = {
    {"reaching the end exactly starts again at 0", 0, 1, 4, {0, 1, 2, 3, 0, 1, 2, 3, 0, 1}, 2},
    {"halves round to even", 0, 0.5, 2, {0, 0, 1, 2, 0, 0, 1, 2}, 0},
    {"a wrap rounds before it takes the remainder", 0, 2.5, 6, {0, 2, 5, 2, 4, 1}, 3.5},
    {"at the end on entry", 4, 1, 4, {4, 1, 2, 3, 0}, 1},
    {"past the end on entry", 10.5, 1, 4, {10, 0, 1, 2}, 3},
    {"zero increment stays put", 3, 0, 4, {3, 3, 3, 3, 3}, 3},
    {"zero increment past the end wraps once", 5, 0, 4, {5, 1, 1, 1, 1, 1}, 1},
    {"indices past the buffer read its start", 22046, 1, 22052,
     {22046, 22047, 22048, 22049, 0, 1, 0, 1, 2, 3}, 4},
    {"a loop ending beyond the exact range", 32767, 8192, 60000,
     {10717, 18909, 5051, 13243, 5535, 13727, 21919, 8061}, 38303},
};

// Outputs as offsets into one array (-1: none), so they can coincide or overlap.
struct Layout {
  int left, right;
};

template <bool Accumulate>
void expectPlayed(const std::vector<float>& buffer, const Case& c, Layout at) {
  const int frames = static_cast<int>(c.played.size());
  std::vector<float> got(2 * frames + 8, 100.0f), want = got;
  float* left = at.left < 0 ? nullptr : got.data() + at.left;
  float* right = at.right < 0 ? nullptr : got.data() + at.right;
  const double after =
      playLoop<Accumulate>(buffer.data(), c.position, c.increment, c.loopEnd, 1.0, left, right, frames);
  // Frame by frame, left before right.
  for (int j = 0; j < frames; ++j)
    for (int o : {at.left, at.right})
      if (o >= 0) want[o + j] = (Accumulate ? want[o + j] : 0.0f) + c.played[j];
  EXPECT_EQ(after, c.after) << c.what;
  EXPECT_EQ(got, want) << c.what << (Accumulate ? ", adding" : ", replacing") << ", left at " << at.left
                       << ", right at " << at.right;
}

TEST(LoopPlayer, PlaysWrapsAndWritesEachFrameAsTheChainWould) {
  std::vector<float> buffer(kLoopBufferLength);
  for (int i = 0; i < kLoopBufferLength; ++i) buffer[i] = static_cast<float>(i);
  for (const Case& c : kCases) {
    const int n = static_cast<int>(c.played.size());
    const Layout layouts[] = {{0, n + 4}, {0, 0}, {0, 2}, {3, 0}, {-1, 0}, {0, -1}, {-1, -1}};
    for (Layout at : layouts) {
      expectPlayed<false>(buffer, c, at);
      expectPlayed<true>(buffer, c, at);
    }
  }
}

}  // namespace
