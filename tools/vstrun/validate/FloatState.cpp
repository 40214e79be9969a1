#include "validate/FloatState.h"

#include "validate/Report.h"

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#include <xmmintrin.h>
#define VALIDATE_X86 1
#endif

namespace validate {

FpState readFpState() {
  FpState s;
#ifdef VALIDATE_X86
  s.mxcsr = _mm_getcsr();
#if defined(__GNUC__)
  unsigned short cw = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  s.x87 = cw;
#endif
#endif
  return s;
}

void setMxcsr(unsigned value) {
#ifdef VALIDATE_X86
  _mm_setcsr(value);
#else
  (void)value;
#endif
}

std::string describe(const FpState& s) { return format("MXCSR 0x%04X, x87 control word 0x%04X", s.mxcsr, s.x87); }

}  // namespace validate
