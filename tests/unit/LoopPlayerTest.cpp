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

namespace {

using vantorel::exactSteps;

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

TEST(LoopPlayer, OffGridSpeedsAndPositionsAreLeftToTheChain) {
  // 1e-9 carries bits down to 2^-53: next to a position of 1000 the chain
  // and the direct form part ways, and the player must not take the short cut.
  const double inc = 1.0e-9f;
  EXPECT_FALSE(exactSteps(1000.0, inc));
  double chain = 1000.0;
  bool differs = false;
  for (int k = 1; k <= 5000 && !differs; ++k) {
    chain += inc;
    differs = chain != 1000.0 + static_cast<double>(k) * inc;
  }
  EXPECT_TRUE(differs);
  EXPECT_FALSE(exactSteps(1000.0 + inc, 0.5));
  EXPECT_FALSE(exactSteps(1.0, FLT_MIN));
  EXPECT_FALSE(exactSteps(-1.0, 0.5));
  EXPECT_FALSE(exactSteps(40000.0, 0.5));
  EXPECT_TRUE(exactSteps(3.0, 0.0));
}

}  // namespace
