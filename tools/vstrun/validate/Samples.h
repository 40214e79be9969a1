// What the checks look for in audio (non-finite and denormal samples,
// differences between two runs) and the signal they feed.
#pragma once

#include <random>
#include <string>

#include "validate/Buffers.h"

namespace validate {

// The first non-finite sample of the outputs as "channel C sample S (value)",
// or empty when all are finite. Denormals likewise; countDenormals counts
// them over every channel.
std::string firstNonFinite(AudioBuffers& out, int frames);
std::string firstDenormal(AudioBuffers& out, int frames, int* frame = nullptr);
int countDenormals(AudioBuffers& out, int frames);

// A reproducible test signal: noise at about -12 dBFS from a seed.
void fillNoise(AudioBuffers& in, int frames, std::mt19937& rng);

// The largest absolute difference of two buffers over frames, and where.
struct Difference {
  float max = 0.0f;
  int channel = -1, frame = -1;
};
// Not-a-number counts as an infinite difference.
Difference compare(float* const* a, float* const* b, int channels, int frames, float offsetOfB = 0.0f);
Difference compare(AudioBuffers& a, AudioBuffers& b, int frames, float offsetOfB = 0.0f);

// Copies frames of every channel (as many as both have) from src at
// srcOffset to dst at dstOffset.
void copyAudio(AudioBuffers& src, int srcOffset, AudioBuffers& dst, int dstOffset, int frames);

}  // namespace validate
