// The floating-point state of the calling thread, which a plug-in must leave
// as it found it.
#pragma once

#include <string>

namespace validate {

// MXCSR and the x87 control word of the calling thread (0 where the
// processor has none).
struct FpState {
  unsigned mxcsr = 0;
  unsigned x87 = 0;
  bool operator==(const FpState& o) const { return mxcsr == o.mxcsr && x87 == o.x87; }
};
FpState readFpState();
void setMxcsr(unsigned value);
// MXCSR's control bits without the sticky exception flags.
constexpr unsigned kMxcsrControlMask = 0xFFC0;
std::string describe(const FpState& s);

}  // namespace validate
