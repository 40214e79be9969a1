// What a fuzz target does when an input breaks a promise of the code under
// test that no sanitizer would notice: stop with a message, so libFuzzer
// records the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                         \
  do {                                                                           \
    if (!(cond)) {                                                               \
      std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #cond);   \
      std::abort();                                                              \
    }                                                                            \
  } while (0)
