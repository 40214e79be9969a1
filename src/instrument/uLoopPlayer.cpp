#include "instrument/uLoopPlayer.h"

#include <algorithm>

namespace vantorel {

namespace {

constexpr double kGrid = 137438953472.0;  // 2^37
constexpr double kLimit = kExactLoopEnd;  // 2^15

// Whether x (in [0, 2^15)) is a multiple of 2^-37. Scaling by a power of two
// is exact, and truncation does not depend on the rounding mode or on the
// precision of the x87, whose excess bits would make an addition of 2^52
// keep a fraction here.
inline bool onGrid(double x) {
  const double scaled = x * kGrid;
  return static_cast<double>(static_cast<int64_t>(scaled)) == scaled;
}

// Buffer index of a position below 2 * kLoopBufferLength.
inline int32_t wrapIndex(int32_t index) { return index >= kLoopBufferLength ? index - kLoopBufferLength : index; }

template <bool Accumulate>
inline void emit(float* out, int32_t i, float value) {
  if (!out) return;
  if (Accumulate) out[i] = out[i] + value;
  else out[i] = value;
}

#ifdef VANTOREL_SSE2
// Four frames at a time: the same operations as the loop below, lane by lane
// (exact positions, rounding to even by the MXCSR, the product in double,
// rounded once to float), so the output is the same bit for bit. Returns
// how many frames it played: run rounded down to a multiple of four.
template <bool Accumulate>
int32_t playRunBy4(const float* buffer, double start, double increment, double gain, float* outL, float* outR,
                   int32_t run) {
  const __m128d step = _mm_set1_pd(4.0 * increment);  // a power-of-two multiple: exact
  const __m128d g = _mm_set1_pd(gain);
  const __m128i length = _mm_set1_epi32(kLoopBufferLength);
  const __m128i last = _mm_set1_epi32(kLoopBufferLength - 1);
  // Positions of frames j..j+3; each is start + k * increment, exact.
  __m128d p01 = _mm_set_pd(start + increment, start);
  __m128d p23 = _mm_set_pd(start + 3.0 * increment, start + 2.0 * increment);
  int32_t j = 0;
  for (; j + 4 <= run; j += 4) {
    __m128i index = _mm_unpacklo_epi64(_mm_cvtpd_epi32(p01), _mm_cvtpd_epi32(p23));
    index = _mm_sub_epi32(index, _mm_and_si128(_mm_cmpgt_epi32(index, last), length));
    alignas(16) int32_t at[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(at), index);
    const __m128 samples = _mm_set_ps(buffer[at[3]], buffer[at[2]], buffer[at[1]], buffer[at[0]]);
    const __m128 lo = _mm_cvtpd_ps(_mm_mul_pd(g, _mm_cvtps_pd(samples)));
    const __m128 hi = _mm_cvtpd_ps(_mm_mul_pd(g, _mm_cvtps_pd(_mm_movehl_ps(samples, samples))));
    const __m128 values = _mm_movelh_ps(lo, hi);
    if (Accumulate) {
      _mm_storeu_ps(outL + j, _mm_add_ps(_mm_loadu_ps(outL + j), values));
      _mm_storeu_ps(outR + j, _mm_add_ps(_mm_loadu_ps(outR + j), values));
    } else {
      _mm_storeu_ps(outL + j, values);
      _mm_storeu_ps(outR + j, values);
    }
    p01 = _mm_add_pd(p01, step);
    p23 = _mm_add_pd(p23, step);
  }
  return j;
}
#endif

// Frames j = 0..run-1 play round(start + j * increment), each sum exact.
template <bool Accumulate>
void playRun(const float* buffer, double start, double increment, double gain, float* outL, float* outR,
             int32_t run) {
  if (outL && outR) {
    int32_t first = 0;
#ifdef VANTOREL_SSE2
    // Frame by frame, outputs that overlap only in part see each frame's
    // writes in turn; four at a time, only the same or separate ones do.
    if (outL == outR || outL + run <= outR || outR + run <= outL)
      first = playRunBy4<Accumulate>(buffer, start, increment, gain, outL, outR, run);
#endif
    double offset = static_cast<double>(first) * increment;
    for (int32_t j = first; j < run; ++j, offset += increment) {
      // offset is j * increment, exact like every sum here, so adding it up
      // gives the same value as multiplying and needs no conversion.
      const float value = static_cast<float>(gain * buffer[wrapIndex(roundToEven(start + offset))]);
      if (Accumulate) {
        outL[j] = outL[j] + value;
        outR[j] = outR[j] + value;
      } else {
        outL[j] = value;
        outR[j] = value;
      }
    }
    return;
  }
  for (int32_t j = 0; j < run; ++j) {
    const float value =
        static_cast<float>(gain * buffer[wrapIndex(roundToEven(start + static_cast<double>(j) * increment))]);
    emit<Accumulate>(outL, j, value);
    emit<Accumulate>(outR, j, value);
  }
}

}  // namespace

bool exactSteps(double position, double increment) {
  return position >= 0.0 && position < kLimit && increment >= 0.0 && increment < kLimit && onGrid(position) &&
         onGrid(increment);
}

template <bool Accumulate>
double playLoop(const float* buffer, double position, double increment, int32_t loopEnd, double gain,
                float* outL, float* outR, int32_t frames) {
  const double end = static_cast<double>(loopEnd);
  // Past kExactLoopEnd the sums could leave the exact range.
  const bool exactIncrement = loopEnd <= kExactLoopEnd && exactSteps(0.0, increment);
  int32_t i = 0;
  while (i < frames) {
    if (!exactIncrement || !exactSteps(position, 0.0)) {
      // The serial chain, one frame at a time.
      int32_t index = roundToEven(position);
      position += increment;
      if (position >= end) position = static_cast<double>(roundToEven(position) % loopEnd);
      if (index >= kLoopBufferLength) index %= kLoopBufferLength;
      const float value = static_cast<float>(gain * buffer[index]);
      emit<Accumulate>(outL, i, value);
      emit<Accumulate>(outR, i, value);
      ++i;
      continue;
    }
    // steps = the first k >= 1 with position + k * increment >= end; the
    // estimate is within one of it and the exact comparisons settle it.
    const int32_t remaining = frames - i;
    int32_t steps;
    if (position >= end) {
      steps = 1;
    } else if (increment == 0.0) {
      steps = remaining + 1;
    } else {
      const double estimate = (end - position) / increment;
      if (estimate > static_cast<double>(remaining) + 2.0) {
        steps = remaining + 1;  // no wrap in this block
      } else {
        steps = std::max<int32_t>(1, static_cast<int32_t>(estimate));
        while (steps > 1 && position + static_cast<double>(steps - 1) * increment >= end) --steps;
        while (position + static_cast<double>(steps) * increment < end) ++steps;
      }
    }
    const bool wraps = steps <= remaining;
    const int32_t run = wraps ? steps : remaining;
    playRun<Accumulate>(buffer, position, increment, gain, outL ? outL + i : nullptr, outR ? outR + i : nullptr,
                        run);
    position += static_cast<double>(run) * increment;
    if (wraps) position = static_cast<double>(roundToEven(position) % loopEnd);
    i += run;
  }
  return position;
}

void prefetchSamples(const float* buffer, int32_t from, int32_t count) {
  constexpr int32_t kLine = 16;  // samples per 64-byte cache line
  constexpr int32_t kMost = 256;
  if (from < 0 || from >= kLoopBufferLength) from = 0;
  count = std::min(std::max(count, 1), kMost);
  const int32_t end = from + count;
  for (int32_t i = from; i < std::min(end, kLoopBufferLength) + kLine - 1; i += kLine)
    __builtin_prefetch(buffer + std::min(i, kLoopBufferLength - 1), 1);
  for (int32_t i = 0; i < end - kLoopBufferLength; i += kLine) __builtin_prefetch(buffer + i, 1);
}

template double playLoop<false>(const float*, double, double, int32_t, double, float*, float*, int32_t);
template double playLoop<true>(const float*, double, double, int32_t, double, float*, float*, int32_t);

}  // namespace vantorel
