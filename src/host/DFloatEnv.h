// Every call from the host runs in a floating-point state of our own:
// round to nearest, all exceptions masked, denormals flushed (so denormal
// input costs no time), x87 at its default precision on 32-bit builds. The
// caller's state is restored on the way out, so results never depend on the
// thread the host calls us from.
#pragma once

#include <cstdint>

// The MXCSR exists where SSE does; a build for an older processor does its
// arithmetic on the x87 alone.
#if defined(__SSE__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>
#define VANTOREL_MXCSR 1
#endif

class FloatEnvGuard {
 public:
  static constexpr unsigned kAudioMxcsr = 0x1F80u | 0x8000u | 0x0040u;  // masked, nearest, FTZ, DAZ
  static constexpr uint16_t kX87Control = 0x037F;                        // masked, 64-bit, nearest

  FloatEnvGuard() {
#ifdef VANTOREL_MXCSR
    saved_mxcsr_ = _mm_getcsr();
    _mm_setcsr(kAudioMxcsr);
#endif
#if defined(__i386__)
    __asm__ volatile("fnstcw %0" : "=m"(saved_x87_));
    const uint16_t cw = kX87Control;
    __asm__ volatile("fldcw %0" : : "m"(cw));
#endif
  }
  ~FloatEnvGuard() {
#if defined(__i386__)
    __asm__ volatile("fldcw %0" : : "m"(saved_x87_));
#endif
#ifdef VANTOREL_MXCSR
    _mm_setcsr(saved_mxcsr_);
#endif
  }
  FloatEnvGuard(const FloatEnvGuard&) = delete;
  FloatEnvGuard& operator=(const FloatEnvGuard&) = delete;

 private:
#ifdef VANTOREL_MXCSR
  unsigned saved_mxcsr_ = 0;
#endif
#if defined(__i386__)
  uint16_t saved_x87_ = 0;
#endif
};

// The module's step at load: mask every x87 exception on the loading thread
// (control word 0x1332 | 0x3F), so hosts that unmask them cannot trap inside
// our maths. The module's entry file runs it; nothing else should.
inline void applyModuleControlWord() {
#if defined(__i386__) || defined(__x86_64__)
  const uint16_t cw = 0x1332 | 0x003F;
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(cw));
#endif
}
