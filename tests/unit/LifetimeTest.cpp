// An instance owns its sample buffer, its program and its editor bridge and
// gives every byte back when the host closes it; a host that is not a VST 2
// host gets nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "host/DAEffectX.h"
#include "instrument/uPlugin.h"
#include "toolkit/NativeWindow.h"

// The replaced operators below pair malloc with free on purpose.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 11
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<long> liveBlocks{0};
std::atomic<long> totalAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  ++liveBlocks;
  ++totalAllocations;
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  void* p = std::malloc(size ? size : 1);
  if (p) {
    ++liveBlocks;
    ++totalAllocations;
  }
  return p;
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept {
  if (p) {
    --liveBlocks;
    std::free(p);
  }
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

std::vector<VstInt32> opcodes;
VstIntPtr versionAnswer = 2400;

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float) {
  opcodes.push_back(opcode);
  if (opcode == audioMasterVersion) return versionAnswer;
  if (opcode == audioMasterGetVendorString || opcode == audioMasterGetProductString) {
    // The plug-in must offer room for a long answer, and start it empty.
    const char* text = static_cast<const char*>(ptr);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(text[255], '\0');
    return 1;
  }
  return 0;
}

TEST(Lifetime, CloseReleasesEverythingMainAllocated) {
  opcodes.reserve(64);
  for (int open = 0; open < 2; ++open) {
    const long before = liveBlocks.load();
    const long allocationsBefore = totalAllocations.load();
    AEffect* e = createEffectInstance(host);
    ASSERT_NE(e, nullptr);
    EXPECT_GE(totalAllocations.load() - allocationsBefore, 3);  // buffer, program, bridge at least
    if (open) {
      // With the editor opened and closed in between.
      // An offscreen window, so the editor opens without a window system.
      toolkit::setNativeWindowFactory(
          [](toolkit::Form& form, void*) { return toolkit::createOffscreenWindow(form); });
      EXPECT_EQ(e->dispatcher(e, effEditOpen, 0, 0, nullptr, 0.0f), 1);
      toolkit::setNativeWindowFactory(nullptr);
      e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
      e->dispatcher(e, effEditClose, 0, 0, nullptr, 0.0f);
    }
    EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(liveBlocks.load(), before);
  }
}

TEST(Lifetime, HostWithoutVersionGetsNothingAndIsAskedOnce) {
  opcodes.clear();
  opcodes.reserve(64);
  versionAnswer = 0;
  const long before = liveBlocks.load();
  EXPECT_EQ(createEffectInstance(host), nullptr);
  versionAnswer = 2400;
  EXPECT_EQ(opcodes, (std::vector<VstInt32>{audioMasterVersion}));
  EXPECT_EQ(liveBlocks.load(), before);
  EXPECT_EQ(createEffectInstance(nullptr), nullptr);
}

}  // namespace
