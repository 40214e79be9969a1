// Running out of memory while an instance is built: each allocation of the
// construction fails in turn; the entry must answer null and leave nothing
// allocated (LeakSanitizer checks the latter in the sanitizer build), and
// must never have asked the host more than its version.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "instrument/uPlugin.h"

// The replacements below pair malloc with free on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<int> gFailAt{0};  // fail the n-th nothrow allocation (1-based); 0: never
std::atomic<int> gSeen{0};
std::atomic<int> gLive{0};

void* nothrowAllocate(std::size_t size) {
  if (gFailAt.load() > 0 && ++gSeen == gFailAt.load()) return nullptr;
  void* p = std::malloc(size ? size : 1);
  if (p) ++gLive;
  return p;
}
void release(void* p) {
  if (!p) return;
  --gLive;
  std::free(p);
}
void* allocate(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  ++gLive;
  return p;
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return nothrowAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return nothrowAllocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

std::atomic<int> gHostCalls{0};
VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  ++gHostCalls;
  return opcode == audioMasterVersion ? 2400 : 0;
}

TEST(AllocationFailure, EveryFailedAllocationGivesNullAndLeavesNothing) {
  int failures = 0;
  for (int n = 1; n < 64; ++n) {
    const int live = gLive.load();
    gSeen = 0;
    gHostCalls = 0;
    gFailAt = n;
    AEffect* e = createEffectInstance(host);
    gFailAt = 0;
    if (e) {
      // Construction needed fewer than n allocations: done.
      EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
      EXPECT_EQ(gLive.load(), live) << "close releases what main allocated";
      break;
    }
    ++failures;
    EXPECT_EQ(gLive.load(), live) << "allocation " << n << " failed and something stayed allocated";
    EXPECT_EQ(gHostCalls.load(), 1) << "only the version request before a failure " << n;
  }
  EXPECT_GE(failures, 3) << "program, editor and sample buffer are allocated";
}

}  // namespace
