# Linux i386 with the multilib gcc. Its programs run natively where the
# kernel runs 32-bit programs and under qemu-i386 elsewhere: the choice is
# made when the tests run (scripts/linux32-run.sh), not here.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Debian's i386 packages (libjpeg62-turbo-dev:i386 and friends).
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake)
get_filename_component(_vantorel_linux32_run ${CMAKE_CURRENT_LIST_DIR}/../../scripts/linux32-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_vantorel_linux32_run})
unset(_vantorel_linux32_run)
