// The integer types of the host interface and four-character codes: what
// the records need, with nothing to link.
#pragma once

#include <cstdint>

typedef int32_t VstInt32;
typedef intptr_t VstIntPtr;

// "VstP" -> 0x56737450: the first character is the most significant byte.
constexpr VstInt32 fourCharCode(char c0, char c1, char c2, char c3) {
  return static_cast<VstInt32>((static_cast<uint32_t>(static_cast<unsigned char>(c0)) << 24) |
                               (static_cast<uint32_t>(static_cast<unsigned char>(c1)) << 16) |
                               (static_cast<uint32_t>(static_cast<unsigned char>(c2)) << 8) |
                               static_cast<uint32_t>(static_cast<unsigned char>(c3)));
}
