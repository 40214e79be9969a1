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
WINE="${VANTOREL_WINE64:-/usr/lib/wine/wine64}"  # another Wine (or a stand-in) when set

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

# Now and then, with several programs starting at once, Wine fails to start
# one. That program never ran, so it is started once more, and only then: a
# program that failed or crashed itself never is. Wine's own failure shows in
# what it says (its loader's and its server connection's messages, and
# nothing else), or, when it says nothing, in a status no program gets from
# Wine: Wine turns a program's faults into exception codes, so a fault signal
# ending the process means Wine itself fell over before the program said a
# thing. Each restart is counted, one line in $VANTOREL_WINE_RESTARTS (./test.sh
# prints the count).
startup_failed() {
  [ "$rc" -ne 0 ] && [ ! -s "$tmp/out" ] || return 1
  if [ -s "$tmp/err" ]; then
    ! tr -d '\r' <"$tmp/err" | grep -qvE \
      '^($|wine: (could not load|could not find BaseThreadInitThunk|failed to (start|load|open|create main module|map))|wine client error|wineserver|could not exec (wineserver|the wine loader)|.*the wine server failed to run|.*could not be mapped at preferred address)'
  else
    case $rc in 132|134|135|136|139) return 0 ;; *) return 1 ;; esac
  fi
}
if startup_failed; then
  echo "wine-run: Wine could not start $1 (status $rc); starting it again" >&2
  [ -n "${VANTOREL_WINE_RESTARTS:-}" ] && echo "status $rc: $*" >>"$VANTOREL_WINE_RESTARTS"
  cat "$tmp/err" >&2
  "$WINE" "$@" >"$tmp/out" 2>"$tmp/err"
  rc=$?
fi
cat "$tmp/out"
cat "$tmp/err" >&2
# A failure that says nothing at all still says its status, so that the log
# tells a program's own exit from Wine's.
[ "$rc" -ne 0 ] && [ ! -s "$tmp/out" ] && [ ! -s "$tmp/err" ] && echo "wine-run: $1 ended with status $rc and wrote nothing" >&2
exit $rc
