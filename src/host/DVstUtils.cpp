#include "host/DVstUtils.h"

#include <cstring>

size_t copyText(char* dst, const char* src, size_t capacity) {
  if (!dst || capacity == 0) return 0;
  size_t n = 0;
  if (src)
    while (n + 1 < capacity && src[n] != '\0') {
      dst[n] = src[n];
      ++n;
    }
  dst[n] = '\0';
  return n;
}

int64_t roundHalfEven(double x) {
  if (x != x) return 0;
  if (x >= 9223372036854775807.0) return INT64_MAX;
  if (x <= -9223372036854775808.0) return INT64_MIN;
  // Truncation is independent of the rounding mode; the remainder is exact.
  int64_t t = static_cast<int64_t>(x);
  double frac = x - static_cast<double>(t);
  if (frac > 0.5 || (frac == 0.5 && (t & 1))) return t + 1;
  if (frac < -0.5 || (frac == -0.5 && (t & 1))) return t - 1;
  return t;
}

void formatFixed2(float value, char* dst, size_t capacity) {
  if (!dst || capacity == 0) return;
  char buf[64];
  size_t len = 0;
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 31) != 0;
  if (value != value) {
    std::memcpy(buf, negative ? "-nan" : "nan", negative ? 5 : 4);
    copyText(dst, buf, capacity);
    return;
  }
  if (negative) buf[len++] = '-';
  const double magnitude = negative ? -static_cast<double>(value) : static_cast<double>(value);
  if (magnitude > 1.7e308) {
    std::memcpy(buf + len, "inf", 4);
    copyText(dst, buf, capacity);
    return;
  }
  // Hundredths as an exact integer: a float has 24 significant bits and 100
  // needs 5, so the product is exact (and an integer once it passes 2^53).
  const double scaled = magnitude * 100.0;
  char digits[64];
  size_t nd = 0;
  if (scaled < 9.0e18) {
    uint64_t cents = static_cast<uint64_t>(roundHalfEven(scaled));
    do {
      digits[nd++] = static_cast<char>('0' + cents % 10);
      cents /= 10;
    } while (cents != 0);
  } else {
    // mantissa * 2^shift in 32-bit limbs (a float times 100 stays below 2^136).
    uint64_t dbits;
    std::memcpy(&dbits, &scaled, sizeof dbits);
    const int shift = static_cast<int>((dbits >> 52) & 0x7FF) - 1075;
    const uint64_t mantissa = (dbits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
    uint32_t limbs[6] = {};
    const int word = shift / 32, bit = shift % 32;
    const uint64_t low = mantissa << bit;
    const uint64_t high = bit ? mantissa >> (64 - bit) : 0;
    const uint32_t parts[3] = {static_cast<uint32_t>(low), static_cast<uint32_t>(low >> 32),
                               static_cast<uint32_t>(high)};
    for (int i = 0; i < 3 && word + i < 6; ++i) limbs[word + i] = parts[i];
    bool nonzero = true;
    while (nonzero && nd < sizeof digits) {
      uint64_t rem = 0;
      nonzero = false;
      for (int i = 5; i >= 0; --i) {
        const uint64_t cur = (rem << 32) | limbs[i];
        limbs[i] = static_cast<uint32_t>(cur / 10);
        rem = cur % 10;
        if (limbs[i]) nonzero = true;
      }
      digits[nd++] = static_cast<char>('0' + rem);
    }
  }
  while (nd < 3) digits[nd++] = '0';
  for (size_t i = nd; i > 2; --i) buf[len++] = digits[i - 1];
  buf[len++] = '.';
  buf[len++] = digits[1];
  buf[len++] = digits[0];
  buf[len] = '\0';
  copyText(dst, buf, capacity);
}
