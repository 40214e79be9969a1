# 64-bit Windows; its programs run under wine64 (scripts/wine-run.sh).
set(VANTOREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Tests run under Wine through scripts/wine-run.sh, with a prefix of our own
# outside every build folder. Naming the prefix here keeps `ctest`
# self-contained: no variables to export by hand.
if(DEFINED ENV{VANTOREL_WINEPREFIX})
  set(VANTOREL_WINEPREFIX $ENV{VANTOREL_WINEPREFIX})
else()
  set(VANTOREL_WINEPREFIX /var/cache/vantorel-deps/wineprefix)
endif()
get_filename_component(_vantorel_wine_run ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env VANTOREL_WINEPREFIX=${VANTOREL_WINEPREFIX} ${_vantorel_wine_run})
unset(_vantorel_wine_run)
