#include "support/CountedAllocations.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

// The replacements below pair malloc with free on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<bool> gCounting{false}, gOneThread{false};
std::atomic<std::thread::id> gCounted{};
std::atomic<int> gAllocations{0};

void* counted(std::size_t size) {
  if (gCounting.load() && (!gOneThread.load() || gCounted.load() == std::this_thread::get_id())) ++gAllocations;
  return std::malloc(size ? size : 1);
}
}  // namespace

namespace vtest {

void startCountingAllocations(bool thisThreadOnly) {
  gAllocations = 0;
  gCounted.store(std::this_thread::get_id());
  gOneThread.store(thisThreadOnly);
  gCounting.store(true);
}

int stopCountingAllocations() {
  gCounting.store(false);
  return gAllocations.load();
}

}  // namespace vtest

void* operator new(std::size_t size) {
  if (void* p = counted(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = counted(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
