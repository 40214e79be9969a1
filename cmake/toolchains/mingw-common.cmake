# Shared part of the MinGW toolchains; the including file sets
# VANTOREL_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix compilers: their thread model has std::thread and std::mutex.
set(CMAKE_C_COMPILER ${VANTOREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTOREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTOREL_MINGW_TRIPLE}-windres)

# Libraries Debian does not package for MinGW, built by scripts/deps.sh.
if(DEFINED ENV{VANTOREL_DEPS})
  set(VANTOREL_DEPS_DIR $ENV{VANTOREL_DEPS})
else()
  set(VANTOREL_DEPS_DIR /var/cache/vantorel-deps)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${VANTOREL_MINGW_TRIPLE} ${VANTOREL_DEPS_DIR}/${VANTOREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: the binaries import nothing but Windows system DLLs.
set(_vantorel_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_vantorel_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_vantorel_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_vantorel_static}")
unset(_vantorel_static)
