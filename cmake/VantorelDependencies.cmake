# Libraries the targets use. The toolchain file decides where they come from:
# Debian's amd64 or i386 packages for Linux, the MinGW builds that
# scripts/deps.sh leaves in its cache for Windows.

# libjpeg: the editor's pictures.
# Windows builds link libjpeg statically: there the lean decoder-only build
# that scripts/deps.sh makes keeps the module small (normal variables take
# the place of FindJPEG's cached search results).
if(WIN32 AND DEFINED VANTOREL_DEPS_DIR AND DEFINED VANTOREL_MINGW_TRIPLE)
  set(_lean ${VANTOREL_DEPS_DIR}/${VANTOREL_MINGW_TRIPLE}-lean)
  if(EXISTS ${_lean}/lib/libjpeg.a)
    set(JPEG_INCLUDE_DIR ${_lean}/include)
    set(JPEG_LIBRARY_RELEASE ${_lean}/lib/libjpeg.a)
    set(JPEG_LIBRARY_DEBUG ${_lean}/lib/libjpeg.a)
  else()
    message(WARNING "no lean libjpeg in ${_lean} (scripts/deps.sh builds it): the module links the full one")
  endif()
  unset(_lean)
endif()
find_package(JPEG REQUIRED)
message(STATUS "libjpeg: ${JPEG_LIBRARIES}")

# libsndfile: vstrun's audio files. Optional, so that a build without it
# still gives the module and its tests.
find_path(VANTOREL_SNDFILE_INCLUDE_DIR sndfile.h)
find_library(VANTOREL_SNDFILE_LIBRARY NAMES sndfile libsndfile)
if(VANTOREL_SNDFILE_INCLUDE_DIR AND VANTOREL_SNDFILE_LIBRARY)
  add_library(vantorel_sndfile INTERFACE)
  target_include_directories(vantorel_sndfile SYSTEM INTERFACE ${VANTOREL_SNDFILE_INCLUDE_DIR})
  target_link_libraries(vantorel_sndfile INTERFACE ${VANTOREL_SNDFILE_LIBRARY})
  add_library(vantorel::sndfile ALIAS vantorel_sndfile)
  set(VANTOREL_HAVE_SNDFILE ON)
  message(STATUS "libsndfile: ${VANTOREL_SNDFILE_LIBRARY}")
else()
  set(VANTOREL_HAVE_SNDFILE OFF)
  message(STATUS "libsndfile: not found")
endif()

# Header-only libraries serve every target. A cross build must not see all
# of the machine's /usr/include, so each gets a folder of its own that holds
# only a link to the library's headers.
set(VANTOREL_HEADER_ROOT /usr/include CACHE PATH "Where the header-only libraries (CLI11, nlohmann-json, stb) live")
set(_vantorel_hdr ${CMAKE_BINARY_DIR}/_deps/include)
function(_vantorel_header_lib target folder probe)
  if(NOT EXISTS ${VANTOREL_HEADER_ROOT}/${folder}/${probe})
    message(STATUS "${target}: ${VANTOREL_HEADER_ROOT}/${folder}/${probe} not found")
    return()
  endif()
  set(dir ${_vantorel_hdr}/${target})
  file(MAKE_DIRECTORY ${dir})
  if(NOT EXISTS ${dir}/${folder})
    file(CREATE_LINK ${VANTOREL_HEADER_ROOT}/${folder} ${dir}/${folder} SYMBOLIC)
  endif()
  add_library(vantorel_${target} INTERFACE)
  target_include_directories(vantorel_${target} SYSTEM INTERFACE ${dir} ${ARGN})
  add_library(vantorel::${target} ALIAS vantorel_${target})
endfunction()
_vantorel_header_lib(cli11 CLI CLI.hpp)          # #include <CLI/CLI.hpp>
_vantorel_header_lib(json nlohmann json.hpp)     # #include <nlohmann/json.hpp>
_vantorel_header_lib(stb stb stb_image_write.h ${_vantorel_hdr}/stb/stb) # <stb_image_write.h> or <stb/stb_image_write.h>
unset(_vantorel_hdr)

# Windows system libraries the toolkit's Win32 backend draws with.
if(WIN32)
  set(VANTOREL_PLATFORM_LIBS user32 gdi32)
else()
  set(VANTOREL_PLATFORM_LIBS ${CMAKE_DL_LIBS})
endif()

find_package(Threads REQUIRED)
