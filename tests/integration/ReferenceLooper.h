// The buffer engine as it stood before it was rewritten for speed, kept
// word for word (members gathered into one struct, the host and editor calls
// left out) so that the shipped engine can be compared with it bit for bit.
// The parameters are whatever the instance under test answers through
// getParameter; the reference only plays them. Do not "improve" this file:
// its worth is that it is the old code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include <emmintrin.h>

#include "host/DFloatEnv.h"

namespace reference {

class Looper {
 public:
  static constexpr int kBufferLength = 22050;

  // What the engine reads from the instrument; loopMode follows buffSize.
  float buffSize = 1.0f;
  float volume = 0.0f;
  float readThroughSpeed = 64.0f / 127.0f;

  void process(float** inputs, float** outputs, int32_t frames) { processBlock<true>(inputs, outputs, frames); }
  void processReplacing(float** inputs, float** outputs, int32_t frames) {
    processBlock<false>(inputs, outputs, frames);
  }

 private:
  struct EngineState {
    float* buffer;
    int32_t writeIndex;
    double readPosition;
    double readIncrement;
    int32_t loopStartFound;
    int32_t loopStart;
    int32_t loopEnd;
    float loopEndSize;
  };

  static constexpr float kQuiet = 0.0005f;
  static constexpr int kQuietCount = 3;
  static constexpr double kLoopLengthOffset = 0.001;

  static int64_t roundToEven(double x) {
#if defined(__x86_64__) || defined(_M_X64)
    return _mm_cvtsd_si64(_mm_set_sd(x));
#else
    return _mm_cvtsd_si32(_mm_set_sd(x));
#endif
  }

  int searchLoopStart() const {
    int quiet = 0;
    for (int i = 0; i < kBufferLength; ++i) {
      const float s = sampleBuffer[i];
      if (s > -kQuiet && s < kQuiet && ++quiet == kQuietCount) return i + 1;
    }
    return kBufferLength;
  }

  float step(EngineState& e, float left, float right) {
    e.readIncrement = readThroughSpeed;
    const float mono = static_cast<float>((static_cast<double>(left) + static_cast<double>(right)) * 0.5);
    if (e.writeIndex >= kBufferLength) e.writeIndex %= kBufferLength;
    const double gain = 1.0 - static_cast<double>(volume);
    const float size = buffSize;
    if (size >= 1.0f) {
      e.loopStartFound = 0;
      e.buffer[e.writeIndex++] = mono;
      return static_cast<float>(gain * mono);
    }
    if (e.loopStartFound == 0 && (buffSize < 1.0f ? 1 : 0) == 1) {
      e.loopStartFound = 1;
      e.loopStart = searchLoopStart();
      e.loopEndSize = -1.0f;
    }
    if (size != e.loopEndSize) {
      e.loopEnd = e.loopStart + static_cast<int32_t>(roundToEven((static_cast<double>(size) + kLoopLengthOffset) *
                                                                 static_cast<double>(kBufferLength - e.loopStart)));
      e.loopEndSize = size;
    }
    int64_t index = roundToEven(e.readPosition);
    e.readPosition += e.readIncrement;
    if (e.readPosition >= static_cast<double>(e.loopEnd))
      e.readPosition = static_cast<double>(roundToEven(e.readPosition) % e.loopEnd);
    if (index >= kBufferLength) index -= kBufferLength;
    if (index >= kBufferLength) index %= kBufferLength;
    return static_cast<float>(gain * e.buffer[index]);
  }

  template <bool Accumulate>
  static void recordRun(const float* inL, const float* inR, float* buffer, float* outL, float* outR,
                        int32_t frames, double gain) {
    for (int32_t i = 0; i < frames; ++i) {
      const float mono = static_cast<float>((static_cast<double>(inL[i]) + static_cast<double>(inR[i])) * 0.5);
      buffer[i] = mono;
      const float out = static_cast<float>(gain * mono);
      if (Accumulate) {
        outL[i] = outL[i] + out;
        outR[i] = outR[i] + out;
      } else {
        outL[i] = out;
        outR[i] = out;
      }
    }
  }

  template <bool Accumulate>
  void recordBlock(const float* inL, const float* inR, float* outL, float* outR, int32_t sampleFrames) {
    const double gain = 1.0 - static_cast<double>(volume);
    int32_t w = writeIndex;
    if (w >= kBufferLength) w %= kBufferLength;
    for (int32_t done = 0; done < sampleFrames;) {
      if (w >= kBufferLength) w = 0;
      const int32_t run = std::min(sampleFrames - done, kBufferLength - w);
      recordRun<Accumulate>(inL + done, inR + done, sampleBuffer.data() + w, outL + done, outR + done, run, gain);
      done += run;
      w += run;
    }
    writeIndex = w;
    readIncrement = readThroughSpeed;
    loopStartFound = 0;
  }

  template <bool Accumulate>
  void processBlock(float** inputs, float** outputs, int32_t sampleFrames) {
    FloatEnvGuard fpu;  // the state the module's entry functions run the engine in
    if (sampleFrames <= 0) return;
    const float* inL = inputs ? inputs[0] : nullptr;
    const float* inR = inputs ? inputs[1] : nullptr;
    float* outL = outputs ? outputs[0] : nullptr;
    float* outR = outputs ? outputs[1] : nullptr;
    if (inL && inR && outL && outR && buffSize >= 1.0f) {
      recordBlock<Accumulate>(inL, inR, outL, outR, sampleFrames);
      return;
    }
    EngineState e{sampleBuffer.data(), writeIndex, readPosition, readIncrement, loopStartFound, loopStart, loopEnd,
                  -1.0f};
    for (int32_t i = 0; i < sampleFrames; ++i) {
      const float out = step(e, inL ? inL[i] : 0.0f, inR ? inR[i] : 0.0f);
      if (Accumulate) {
        if (outL) outL[i] = outL[i] + out;
        if (outR) outR[i] = outR[i] + out;
      } else {
        if (outL) outL[i] = out;
        if (outR) outR[i] = out;
      }
    }
    writeIndex = e.writeIndex;
    readPosition = e.readPosition;
    readIncrement = e.readIncrement;
    loopStartFound = e.loopStartFound;
    loopStart = e.loopStart;
    loopEnd = e.loopEnd;
  }

  std::vector<float> sampleBuffer = std::vector<float>(kBufferLength, 0.0f);
  int32_t writeIndex = 0;
  double readPosition = 0.0;
  double readIncrement = 0.0;
  int32_t loopStartFound = 0;
  int32_t loopStart = 0;
  int32_t loopEnd = 0;
};

}  // namespace reference
