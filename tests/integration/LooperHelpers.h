// Helpers for tests that drive the looper through its record: fill the
// sample buffer with values that name their own index, then read back which
// indices a loop plays.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/TestHost.h"

namespace looper {

constexpr int kBufferLength = 22050;

// A loud, exactly representable value for buffer index i (never quiet).
inline float loudCode(int i) { return 1.0f + static_cast<float>(i); }
// A quiet value (strictly inside +-0.0005) that still names index i < 400.
inline float quietCode(int i) { return 1.0e-6f * static_cast<float>(i + 1); }

// Index named by a code written by loudCode or quietCode; -1 if none.
inline int indexOf(float v) {
  if (v >= 1.0f) {
    const int i = static_cast<int>(v - 1.0f);
    return loudCode(i) == v ? i : -1;
  }
  for (int i = 0; i < 400; ++i)
    if (quietCode(i) == v) return i;
  return -1;
}

inline uint32_t bitsOf(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// Feeds mono samples in record mode (both inputs carry the sample, so the
// mono mix is the sample itself), in blocks of up to 997 frames.
inline void record(vtest::PluginInstance& plugin, const std::vector<float>& samples) {
  size_t done = 0;
  while (done < samples.size()) {
    const int n = static_cast<int>(std::min<size_t>(997, samples.size() - done));
    vtest::AudioBuffers audio(2, 2, n);
    for (int i = 0; i < n; ++i) audio.input(0)[i] = audio.input(1)[i] = samples[done + i];
    plugin.processReplacing(audio);
    done += n;
  }
}

// A whole buffer: quietCode at the listed indices, loudCode elsewhere.
inline std::vector<float> codedBuffer(const std::vector<int>& quietAt) {
  std::vector<float> b(kBufferLength);
  for (int i = 0; i < kBufferLength; ++i) b[i] = loudCode(i);
  for (int i : quietAt) b[i] = quietCode(i);
  return b;
}

// Runs n frames of silence through processReplacing and returns the left
// output; checks that both channels carry the same samples.
inline std::vector<float> play(vtest::PluginInstance& plugin, int n) {
  vtest::AudioBuffers audio(2, 2, n);
  plugin.processReplacing(audio);
  for (int i = 0; i < n; ++i) EXPECT_EQ(bitsOf(audio.output(0)[i]), bitsOf(audio.output(1)[i])) << "frame " << i;
  return std::vector<float>(audio.output(0), audio.output(0) + n);
}

// The buffer indices that n frames of loop playback read (volume 0).
inline std::vector<int> playIndices(vtest::PluginInstance& plugin, int n) {
  std::vector<int> out;
  for (float v : play(plugin, n)) out.push_back(indexOf(v));
  return out;
}

}  // namespace looper
