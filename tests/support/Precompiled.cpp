// The precompiled header of the test programs (tests/CMakeLists.txt) is made
// while compiling this file; it holds nothing of its own.
