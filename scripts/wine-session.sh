#!/usr/bin/env bash
# Keeps one wineserver (and Wine's services) running for a test run, so
# each Windows program starts in ~0.1 s.
#
#   scripts/wine-session.sh start   boots the prefix if needed, starts the server
#   scripts/wine-session.sh stop    stops that server (wineserver -k)
set -euo pipefail
export WINEPREFIX="${VANTOREL_WINEPREFIX:-/var/cache/vantorel-deps/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
here=$(cd "$(dirname "$0")" && pwd)

case "${1:-}" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$(dirname "$WINEPREFIX")"
      /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
    fi
    # -p: stay up with no clients; -f: foreground, so it is our child.
    nohup /usr/lib/wine/wineserver -p -f </dev/null >/dev/null 2>&1 &
    echo $! >"$WINEPREFIX.server.pid"
    # Start the services now, detached from any caller's output.
    "$here/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
    ;;
  stop)
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    if [ -f "$WINEPREFIX.server.pid" ]; then
      pid=$(cat "$WINEPREFIX.server.pid")
      rm -f "$WINEPREFIX.server.pid"
      for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    fi
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
