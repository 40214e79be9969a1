# GoogleTest from Debian's sources, built for whatever this build targets
# (cross builds included), so no prebuilt test library has to match.
set(VANTOREL_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${VANTOREL_GOOGLETEST_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${VANTOREL_GOOGLETEST_DIR} (scripts/deps.sh installs them)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${VANTOREL_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
# The test programs' own debug information (tests/CMakeLists.txt), GoogleTest's too.
set(VANTOREL_TEST_DEBUG_FLAGS -g1 CACHE STRING "Debug information flags of the test programs' own files")
target_compile_options(gtest PRIVATE ${VANTOREL_TEST_DEBUG_FLAGS})
target_compile_options(gtest_main PRIVATE ${VANTOREL_TEST_DEBUG_FLAGS})
include(GoogleTest)

# Google Benchmark exists only for the machine itself, and timing an
# instrumented build says nothing.
set(_vantorel_bench_default OFF)
if(NOT CMAKE_CROSSCOMPILING AND NOT VANTOREL_SANITIZE)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    set(_vantorel_bench_default ON)
  endif()
endif()
option(VANTOREL_BENCHMARKS "Build the benchmarks under tests/bench" ${_vantorel_bench_default})
if(VANTOREL_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
unset(_vantorel_bench_default)
