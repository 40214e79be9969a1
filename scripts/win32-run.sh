#!/usr/bin/env bash
# Runs a Windows program in Wine: the test emulator of the win32 build
# (CMAKE_CROSSCOMPILING_EMULATOR) and the way to run its tools by hand.
#
#   scripts/win32-run.sh build/win32/vstrun.exe info build/win32/Vantorel.dll
#   scripts/win32-run.sh --wow64 PROGRAM [ARGS...]
#                                    runs a 32-bit or 64-bit program (a file, or
#                                    a builtin such as cmd or reg) in a 64-bit
#                                    prefix with 32-bit support, as on 64-bit
#                                    Windows; builtins run as 64-bit programs
#   scripts/win32-run.sh [--wow64] --start   starts the session now (else the first program does)
#   scripts/win32-run.sh --stop      ends every warm session (Wine, Xvfb, machine)
#   scripts/win32-run.sh --way       prints "native" or "emulated"
#
# Without --wow64 the program runs in a 32-bit prefix, as on 32-bit Windows.
# Two ways, picked automatically:
#   native    where the kernel runs 32-bit programs: Debian's wine32 (and
#             wine64) with prefixes of our own, one wineserver kept warm and a
#             private Xvfb display for each;
#   emulated  elsewhere (or with VANTOREL_WIN32_EMULATED=1): an x86_64 machine
#             under qemu-system-x86_64 with both prefixes on its disk
#             (scripts/win32/machine.sh), booted on first use and kept running
#             for the programs that follow.
# Either way the repository is seen at its own path, so file arguments under
# it work unchanged, and any program or DLL in it runs; arguments and paths
# may hold any Unicode letters. The program's output and exit status come
# back, and it is stopped after VANTOREL_WIN32_TIMEOUT seconds (default 600;
# exit 124).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/win32/common.sh"

kind=win32
[ "${1:-}" = --wow64 ] && { kind=wow64; shift; }
w32_kind "$kind"
case "${1:-}" in
  --stop)
    for k in win32 wow64; do w32_kind "$k"; win32_native_stop; done
    "$here/win32/machine.sh" stop; exit 0 ;;
  --way) win32_way; exit 0 ;;
  --start)
    if [ "$(win32_way)" = emulated ]; then exec "$here/win32/machine.sh" start; fi
    win32_native_start; exit ;;
  ""|-h|--help) awk 'NR == 1 { next } !/^#/ { exit } { sub(/^# ?/, ""); print }' "$0"; exit 2 ;;
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
  exec "$here/win32/machine.sh" run "$kind" "$@"
fi
win32_native_run "$@"
