// Counting the allocations a test program makes through operator new. A
// test that must allocate nothing compiles CountedAllocations.cpp into its
// program (it replaces the program's operator new and delete) and counts
// around the code it looks at.
#pragma once

namespace vtest {

// Starts counting from 0: every thread's allocations, or only the calling
// thread's.
void startCountingAllocations(bool thisThreadOnly = false);
// Stops counting; the allocations counted since the start.
int stopCountingAllocations();

}  // namespace vtest
