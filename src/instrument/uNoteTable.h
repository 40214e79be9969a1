// Read speed for each MIDI note: 2^(octave - 5) * (12 + step) / 12. Note 60
// plays the recording at its own speed; each octave doubles it, and within
// an octave the speed rises in twelve equal steps of the octave's base.
#pragma once

#include <array>

namespace vantorel {

constexpr double noteSpeedFormula(int note) {
  double scale = 1.0;
  for (int k = note / 12 - 5; k > 0; --k) scale *= 2.0;
  for (int k = note / 12 - 5; k < 0; ++k) scale *= 0.5;
  return scale * (12 + note % 12) / 12;
}

constexpr std::array<double, 128> makeNoteSpeeds() {
  std::array<double, 128> table{};
  for (int n = 0; n < 128; ++n) table[n] = noteSpeedFormula(n);
  return table;
}

inline constexpr std::array<double, 128> kNoteSpeeds = makeNoteSpeeds();

static_assert(kNoteSpeeds[60] == 1.0 && kNoteSpeeds[72] == 2.0 && kNoteSpeeds[48] == 0.5, "");
static_assert(kNoteSpeeds[69] == 1.75 && kNoteSpeeds[0] == 0.03125, "");

}  // namespace vantorel
