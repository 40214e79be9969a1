// Running out of memory, each allocation failing in turn (a throwing one
// throws, a nothrow one answers null): while an instance is built, the entry
// answers null, leaves nothing allocated and has asked the host only its
// version; while the editor opens, the host gets 0 and no window is left.
// No exception reaches the host either way.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "instrument/uPlugin.h"
#include "toolkit/NativeWindow.h"

// The replacements below pair malloc with free on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<int> gFailAt{0};  // fail the n-th allocation (1-based); 0: never
std::atomic<int> gSeen{0};
std::atomic<int> gLive{0};

bool failsNow() { return gFailAt.load() > 0 && ++gSeen == gFailAt.load(); }

void* nothrowAllocate(std::size_t size) {
  if (failsNow()) return nullptr;
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
  if (failsNow()) throw std::bad_alloc();
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

TEST(AllocationFailure, AFailedAllocationWhileTheEditorOpensAnswersZeroAndLeavesNoWindow) {
  // Offscreen windows: the window system's own allocations are not ours to fail.
  toolkit::setNativeWindowFactory([](toolkit::Form& form, void*) { return toolkit::createOffscreenWindow(form); });
  AEffect* e = createEffectInstance(host);
  ASSERT_NE(e, nullptr);
  auto closedRect = [e] {
    ERect* r = nullptr;
    e->dispatcher(e, effEditGetRect, 0, 0, &r, 0.0f);
    return r && r->bottom == 249 && r->right == 399;
  };
  int failures = 0;
  for (int n = 1; n < 1000; ++n) {
    const int live = gLive.load();
    gSeen = 0;
    gFailAt = n;
    const VstIntPtr opened = e->dispatcher(e, effEditOpen, 0, 0, nullptr, 0.0f);
    gFailAt = 0;
    if (opened == 1) {
      // Opening needed fewer than n allocations: done.
      EXPECT_FALSE(closedRect());
      e->dispatcher(e, effEditClose, 0, 0, nullptr, 0.0f);
      EXPECT_EQ(gLive.load(), live) << "closing releases what opening allocated";
      break;
    }
    ++failures;
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(closedRect()) << "allocation " << n << " failed and a window stayed";
    EXPECT_EQ(gLive.load(), live) << "allocation " << n << " failed and something stayed allocated";
  }
  EXPECT_GE(failures, 5) << "the window, its controls, pictures and native window are allocated";
  EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
  toolkit::setNativeWindowFactory(nullptr);
}

}  // namespace
