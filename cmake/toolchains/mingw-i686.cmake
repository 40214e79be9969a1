# 32-bit Windows, the product. Its programs run in 32-bit Wine through
# scripts/win32-run.sh: natively where the kernel runs 32-bit programs, else
# in an emulated i386 machine. The module is also checked as a file
# (tests/checks).
set(VANTOREL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# SSE arithmetic, so results never depend on the x87 precision a host left.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# The runner's 32-bit prefix is named after VANTOREL_WINEPREFIX, as the
# win64 build's is; naming it here keeps `ctest` self-contained.
if(DEFINED ENV{VANTOREL_WINEPREFIX})
  set(VANTOREL_WINEPREFIX $ENV{VANTOREL_WINEPREFIX})
else()
  set(VANTOREL_WINEPREFIX ${VANTOREL_DEPS_DIR}/wineprefix)
endif()
get_filename_component(_vantorel_win32_run ${CMAKE_CURRENT_LIST_DIR}/../../scripts/win32-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env VANTOREL_WINEPREFIX=${VANTOREL_WINEPREFIX} ${_vantorel_win32_run})
unset(_vantorel_win32_run)
