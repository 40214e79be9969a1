#!/bin/sh
# Runs a Windows test program under Wine on a private X server, so that its
# windows really exist and paint: run-under-xvfb.sh program.exe [args...]
#
# A Wine prefix of its own (booted once, kept in the dependency cache) keeps
# this run's wineserver, and so its display, apart from the test prefix
# (VANTOREL_WINEPREFIX; this one is that name with "-gui"). Exits 77
# (skipped) when Xvfb or Wine is not installed.
set -u
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
command -v Xvfb >/dev/null 2>&1 || { echo "Xvfb not installed: skipped"; exit 77; }
[ -x "$WINE" ] || { echo "wine64 not installed: skipped"; exit 77; }

export WINEPREFIX="${VANTOREL_GUI_WINEPREFIX:-${VANTOREL_WINEPREFIX:-/var/cache/vantorel-deps/wineprefix}-gui}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

tmp=$(mktemp -d)
cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1
  [ -n "${xpid:-}" ] && kill "$xpid" 2>/dev/null && wait "$xpid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# -displayfd picks a free display and tells us which.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xpid=$!
i=0
while [ ! -s "$tmp/display" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
[ -s "$tmp/display" ] || { echo "Xvfb did not start:"; cat "$tmp/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$tmp/display")"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1
  "$WINESERVER" -w
fi
"$WINE" "$@"
