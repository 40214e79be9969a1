#!/usr/bin/env bash
# Runs a 32-bit Windows program in 32-bit Wine: the test emulator of the
# win32 build (CMAKE_CROSSCOMPILING_EMULATOR) and the way to run its tools
# by hand.
#
#   scripts/win32-run.sh build/win32/vstrun.exe info build/win32/Vantorel.dll
#   scripts/win32-run.sh --start     starts the session now (else the first program does)
#   scripts/win32-run.sh --stop      ends the warm session (Wine, Xvfb, machine)
#   scripts/win32-run.sh --way       prints "native" or "emulated"
#
# Two ways, picked automatically:
#   native    where the kernel runs 32-bit programs: Debian's wine32 with a
#             32-bit prefix of our own, one wineserver kept warm and a private
#             Xvfb display;
#   emulated  elsewhere (or with VANTOREL_WIN32_EMULATED=1): an i386 machine
#             under qemu-system-i386 (scripts/win32/machine.sh), booted on
#             first use and kept running for the programs that follow.
# Either way the repository is seen at its own path, so file arguments under
# it work unchanged; the program's output and exit status come back, and it
# is stopped after VANTOREL_WIN32_TIMEOUT seconds (default 600; exit 124).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/win32/common.sh"

case "${1:-}" in
  --stop) win32_native_stop; "$here/win32/machine.sh" stop; exit 0 ;;
  --way) win32_way; exit 0 ;;
  --start)
    if [ "$(win32_way)" = emulated ]; then exec "$here/win32/machine.sh" start; fi
    win32_native_start; exit ;;
  ""|-h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac

# A Windows program may read "/work/x" as an option (CLI11 does), so file
# arguments under the repository go in as Wine's Z: paths, which name the
# same file both ways.
args=("$1")
shift
for a in "$@"; do
  case $a in "$W32_ROOT"/*) args+=("Z:$a") ;; *) args+=("$a") ;; esac
done
set -- "${args[@]}"

if [ "$(win32_way)" = emulated ]; then
  exec "$here/win32/machine.sh" run "$@"
fi
win32_native_run "$@"
