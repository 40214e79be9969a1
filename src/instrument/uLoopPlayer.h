// Loop playback for one block: the read position advances by a fixed
// increment per frame and wraps at the loop's end, dropping its fraction.
//
// Frame by frame that is a serial chain (position += increment). But the
// position starts each loop at an integer and grows by a float increment:
// while both lie on the grid of multiples of 2^-37 and stay below 2^16,
// every sum is exact in double precision (16 + 37 bits fit in 53), so the
// position of frame j is simply start + j * increment, which is what the
// chain gives, bit for bit. Frames then no longer wait on each other. Off
// that grid (increments below 2^-14, or a position that came from one), or
// for a loop ending past kExactLoopEnd, the player falls back to the chain.
//
// An exact sum is the same in every rounding mode, and so are the grid test
// and the search for the wrapping frame (its estimate is settled by exact
// comparisons). Only turning a position into a buffer index rounds, and that
// needs round-to-nearest, which every host call runs in (FloatEnvGuard).
#pragma once

#include <cstdint>

// The four-frames-at-a-time loop and the rounding conversion use SSE2 where
// the build may (every x86-64 build; 32-bit ones built with -msse2, as the
// product is); a build for a processor without it takes the plain path.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define VANTOREL_SSE2 1
#else
#include "host/DVstUtils.h"
#endif

namespace vantorel {

constexpr int32_t kLoopBufferLength = 22050;

// The largest loop end the exact path takes (2^15): positions below it plus
// an increment below it stay below 2^16, and every index it plays stays
// below twice the buffer, which one subtraction wraps.
constexpr int32_t kExactLoopEnd = 32768;
static_assert(kExactLoopEnd < 2 * kLoopBufferLength, "one subtraction wraps every index of the exact path");

// Nearest integer, ties to even. With SSE2 the conversion rounds by the
// MXCSR, which the entry functions set to nearest; without it the rounding
// is done by hand, whatever the mode. Arguments stay far inside int32.
inline int32_t roundToEven(double x) {
#ifdef VANTOREL_SSE2
  return _mm_cvtsd_si32(_mm_set_sd(x));
#else
  return static_cast<int32_t>(roundHalfEven(x));
#endif
}

// True when position + k * increment is exact in double for every k whose
// result stays below 2^16: both on the 2^-37 grid, position in [0, 2^15),
// increment in [0, 2^15). Holds in any rounding mode.
bool exactSteps(double position, double increment);

// Plays frames samples of a loop ending at loopEnd (>= 1) from buffer
// (kLoopBufferLength samples; indices past its end wrap to its start). Each
// frame plays round(position) and then advances; at or past loopEnd the
// position becomes round(position) mod loopEnd. The output of a frame is
// gain * sample, rounded to float, written over (Accumulate false) or added
// to outL and outR, left before right; either may be null, and they may
// overlap. Returns the position after the block.
template <bool Accumulate>
double playLoop(const float* buffer, double position, double increment, int32_t loopEnd, double gain,
                float* outL, float* outR, int32_t frames);

// Asks the cache for the samples the next block will likely touch: count
// samples from index from on, wrapping at the buffer's end (at most 1 KB).
// With many instances a block's buffer stretch was last touched hundreds of
// blocks ago and has left the caches; fetched now, it arrives while the host
// runs the other instances instead of stalling the next block.
void prefetchSamples(const float* buffer, int32_t from, int32_t count);

}  // namespace vantorel
