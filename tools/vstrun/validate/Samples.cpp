#include "validate/Samples.h"

#include <cmath>
#include <cstring>

#include "validate/Report.h"

namespace validate {

std::string firstNonFinite(AudioBuffers& out, int frames) {
  for (int c = 0; c < out.channels(); ++c)
    for (int i = 0; i < frames; ++i)
      if (!std::isfinite(out.channel(c)[i]))
        return format("channel %d sample %d (%g)", c, i, static_cast<double>(out.channel(c)[i]));
  return "";
}

std::string firstDenormal(AudioBuffers& out, int frames, int* frame) {
  for (int c = 0; c < out.channels(); ++c)
    for (int i = 0; i < frames; ++i)
      if (std::fpclassify(out.channel(c)[i]) == FP_SUBNORMAL) {
        if (frame) *frame = i;
        return format("channel %d sample %d (%g)", c, i, static_cast<double>(out.channel(c)[i]));
      }
  return "";
}

int countDenormals(AudioBuffers& out, int frames) {
  int n = 0;
  for (int c = 0; c < out.channels(); ++c)
    for (int i = 0; i < frames; ++i) n += std::fpclassify(out.channel(c)[i]) == FP_SUBNORMAL;
  return n;
}

void fillNoise(AudioBuffers& in, int frames, std::mt19937& rng) {
  std::uniform_real_distribution<float> d(-0.25f, 0.25f);
  for (int c = 0; c < in.channels(); ++c)
    for (int i = 0; i < frames; ++i) in.channel(c)[i] = d(rng);
}

Difference compare(AudioBuffers& a, AudioBuffers& b, int frames, float offsetOfB) {
  const int n = a.channels() < b.channels() ? a.channels() : b.channels();
  return compare(a.pointers(), b.pointers(), n, frames, offsetOfB);
}

Difference compare(float* const* a, float* const* b, int channels, int frames, float offsetOfB) {
  Difference d;
  for (int c = 0; c < channels; ++c)
    for (int i = 0; i < frames; ++i) {
      float x = std::fabs(a[c][i] - (b[c][i] - offsetOfB));
      if (std::isnan(x)) x = INFINITY;
      if (x > d.max) {
        d.max = x;
        d.channel = c;
        d.frame = i;
      }
    }
  return d;
}

void copyAudio(AudioBuffers& src, int srcOffset, AudioBuffers& dst, int dstOffset, int frames) {
  const int n = src.channels() < dst.channels() ? src.channels() : dst.channels();
  for (int c = 0; c < n; ++c)
    std::memcpy(dst.channel(c) + dstOffset, src.channel(c) + srcOffset, sizeof(float) * static_cast<size_t>(frames));
}

}  // namespace validate
