#!/usr/bin/env bash
# Runs a Windows program under wine64: the test emulator of the win64 build
# (CMAKE_CROSSCOMPILING_EMULATOR) and a handy way to run its tools by hand.
#
#   scripts/wine-run.sh build/win64/vstrun.exe info Z:/work/main/build/win64/Vantorel.dll
#
# Uses the prefix VANTOREL_WINEPREFIX (default
# /var/cache/vantorel-deps/wineprefix), never a WINEPREFIX of your own, and
# boots it on first use. With a persistent server running
# (scripts/wine-session.sh start) each launch costs ~0.1 s instead of ~3 s.
set -u
export WINEPREFIX="${VANTOREL_WINEPREFIX:-/var/cache/vantorel-deps/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
WINE=/usr/lib/wine/wine64

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || "$WINE" wineboot -i </dev/null >/dev/null 2>&1
  ) 9>"$WINEPREFIX.lock"
fi

# Wine's background services (services.exe, explorer.exe, ...) start with the
# first program of a session and inherit its output handles. Were those our
# caller's pipe, the caller (CTest) would wait for them until its timeout, so
# the program writes to files that we then copy out.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$WINE" "$@" >"$tmp/out" 2>"$tmp/err"
rc=$?
# Now and then, with several programs starting at once, Wine gives up on one
# before it runs: a failure with not one byte of output. Every program here
# says something when it fails itself, so that one is started once more.
if [ $rc -ne 0 ] && [ ! -s "$tmp/out" ] && [ ! -s "$tmp/err" ]; then
  echo "wine-run: $1 ended with status $rc before any output; starting it again" >&2
  "$WINE" "$@" >"$tmp/out" 2>"$tmp/err"
  rc=$?
fi
cat "$tmp/out"
cat "$tmp/err" >&2
exit $rc
