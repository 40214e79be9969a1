#!/usr/bin/env bash
# Runs a Linux i386 program: itself where the kernel runs 32-bit programs,
# else under qemu-i386. The test emulator of the linux32 build.
#   scripts/linux32-run.sh build/linux32/vstrun info build/linux32/Vantorel.so
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${VANTOREL_I386_NATIVE:-}" ]; then
  # Where that cannot be told, qemu-i386, which runs them on any kernel.
  if "$here/i386-native.sh"; then VANTOREL_I386_NATIVE=1; else VANTOREL_I386_NATIVE=0; fi
  # Children (vstrun run by a test) need not ask again.
  export VANTOREL_I386_NATIVE
fi
if [ "$VANTOREL_I386_NATIVE" = 1 ]; then exec "$@"; fi
exec /usr/bin/qemu-i386 "$@"
