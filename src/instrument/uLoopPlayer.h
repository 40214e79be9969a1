// Loop playback for one block: the read position advances by a fixed
// increment per frame and wraps at the loop's end, dropping its fraction.
//
// Frame by frame that is a serial chain (position += increment). But the
// position starts each loop at an integer and grows by a float increment:
// while both lie on the grid of multiples of 2^-37 and stay below 2^16,
// every sum is exact in double precision (16 + 37 bits fit in 53), so the
// position of frame j is simply start + j * increment, which is what the
// chain gives, bit for bit. Frames then no longer wait on each other. Off
// that grid (increments below 2^-14, or a position that came from one) the
// player falls back to the chain.
#pragma once

#include <cstdint>

namespace vantorel {

constexpr int32_t kLoopBufferLength = 22050;

// True when position + k * increment is exact in double for every k whose
// result stays below 2^16: both on the 2^-37 grid, position in [0, 2^15),
// increment in [0, 2^15). Needs round-to-nearest (the engine's state).
bool exactSteps(double position, double increment);

// Plays frames samples of a loop ending at loopEnd (>= 1) from buffer
// (kLoopBufferLength samples; indices past its end wrap to its start). Each
// frame plays round(position) and then advances; at or past loopEnd the
// position becomes round(position) mod loopEnd. The output of a frame is
// gain * sample, rounded to float, written over (Accumulate false) or added
// to outL and outR; either may be null. Returns the position after the block.
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
