// Bounded text copies and the numeric helpers that must not depend on the
// caller's floating-point state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/DVstTypes.h"

// Copies src into dst (capacity bytes, terminator included), always
// terminating. Does nothing when dst is null or capacity is 0; a null src
// copies as the empty text. Returns the number of characters written.
size_t copyText(char* dst, const char* src, size_t capacity);

// Nearest integer, halves to the even neighbour, computed without the
// rounding mode. NaN gives 0; values beyond the int64 range saturate.
int64_t roundHalfEven(double x);

// The value as fixed-point text with exactly two decimals, always with a
// point as separator, no allocation, matching the C library's "%.2f" for
// every float (the product value * 100 is exact in double precision).
// Writes at most capacity bytes including the terminator.
void formatFixed2(float value, char* dst, size_t capacity);
