// Hosts written in languages whose run-time unmasks the x87 zero-divide
// exception (control word 0x1332) load us too: loading the module masks
// every x87 exception on the loading thread, so a division by zero there
// gives an infinity instead of a trap.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <thread>

#include "support/TestHost.h"

namespace {

uint16_t x87Control() {
  uint16_t cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

TEST(ModuleLoad, MasksX87ExceptionsOnTheLoadingThread) {
  uint16_t before = 0, after = 0;
  double quotient = 0.0;
  bool loaded = false;
  std::thread loader([&] {
    const uint16_t hostWord = 0x1332;
    __asm__ volatile("fninit\n\tfldcw %0" : : "m"(hostWord));
    before = x87Control();
    auto module = vsthost::Module::load(vtest::modulePath());
    loaded = module != nullptr;
    after = x87Control();
    const double one = 1.0, zero = 0.0;
    __asm__ volatile("fldl %1\n\tfdivl %2\n\tfstpl %0\n\tfnclex" : "=m"(quotient) : "m"(one), "m"(zero));
  });
  loader.join();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(before & 0x0F3F, 0x0332) << "the host's word was in place";
  EXPECT_EQ(after & 0x0F3F, 0x033F) << "all six exceptions masked, 64-bit precision, to nearest";
  EXPECT_TRUE(std::isinf(quotient));
  EXPECT_GT(quotient, 0.0);
}

}  // namespace
