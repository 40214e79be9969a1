#!/usr/bin/env bash
# The runner's two Windows environments are what they claim, natively and in
# the emulated machine: the 32-bit prefix runs 32-bit programs as 32-bit
# Windows does; the --wow64 prefix runs a 32-bit program under WoW64
# (IsWow64Process = 1), a 64-bit program, and builtins as 64-bit programs.
# Programs sit in a folder with non-ASCII letters and get a non-ASCII
# argument, which must arrive unchanged.
#   wow64_test.sh WIN32_BUILD   (needs tests/wow64_probe.exe and wow64_probe64.exe there)
set -u
# The runner, not the caller, makes Wine read arguments as UTF-8.
export LC_ALL=C LANG=C
win=$1
run="$(cd "$(dirname "$0")/../.." && pwd)/scripts/win32-run.sh"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

dir="$win/tests/wow64 prøbe é"
rm -rf "$dir"
mkdir -p "$dir"
trap 'rm -rf "$dir"' EXIT
cp "$win/tests/wow64_probe.exe" "$dir/prøbe32.exe" && cp "$win/tests/wow64_probe64.exe" "$dir/prøbe64.exe" ||
  { echo "FAIL the probes are not built"; exit 1; }
arg='Größe – ñ'

expect() { # $1 what, $2 expected output, then the runner's arguments
  local what=$1 want=$2 got
  shift 2
  got=$("$run" "$@" 2>&1 | tr -d '\r')
  [ "$got" = "$want" ] || fail "$what: expected '$want', got '$got'"
}
expect "32-bit program under WoW64" "bits=32 wow64=1 arg=$arg" --wow64 "$dir/prøbe32.exe" "$arg"
expect "64-bit program" "bits=64 wow64=0 arg=$arg" --wow64 "$dir/prøbe64.exe" "$arg"
(cd "$dir" && expect "64-bit program by a relative path" "bits=64 wow64=0 arg=x" --wow64 ./prøbe64.exe x)
expect "builtin in the WoW64 prefix" "AMD64" --wow64 cmd /c 'echo %PROCESSOR_ARCHITECTURE%'
expect "32-bit program in the 32-bit prefix" "bits=32 wow64=0 arg=$arg" "$dir/prøbe32.exe" "$arg"

[ $failures -eq 0 ] && echo "wow64: both prefixes are what they claim, non-ASCII paths and arguments pass"
exit $((failures > 0))
