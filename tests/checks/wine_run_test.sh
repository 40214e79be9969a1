#!/usr/bin/env bash
# scripts/wine-run.sh starts a program a second time only when Wine itself
# could not start it, and counts that; a program that fails or crashes by
# itself, with or without output, is never run again. A stand-in for Wine
# plays each case: its first start does what the case says, a second prints
# "second start".
set -u
run="$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine-run.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/prefix" && touch "$tmp/prefix/system.reg"
cat >"$tmp/wine" <<'EOF2'
#!/usr/bin/env bash
n=$(cat "$STARTS" 2>/dev/null || echo 0)
echo $((n + 1)) >"$STARTS"
[ "$n" -gt 0 ] && { echo "second start"; exit 0; }
case $1 in
  startup) echo "wine: failed to start L\"C:\\\\x.exe\"" >&2; exit 1 ;;
  server) echo "wine client error:4a: read: Connection reset by peer" >&2; exit 1 ;;
  loader-fault) kill -SEGV $$ ;;
  silent) exit 5 ;;
  crash) echo "wine: Unhandled page fault on read access to 00000002 at address 7B012345" >&2; exit 5 ;;
  killed) kill -TERM $$ ;;
  mixed) echo "wine: failed to start L\"x\"" >&2; echo "Assertion failed: p" >&2; exit 3 ;;
esac
EOF2
chmod +x "$tmp/wine"
export VANTOREL_WINE64="$tmp/wine" VANTOREL_WINEPREFIX="$tmp/prefix" VANTOREL_WINE_RESTARTS="$tmp/restarts"
failures=0
case_() { # $1 case  $2 expected starts
  export STARTS="$tmp/starts-$1"
  local before after
  before=$(cat "$tmp/restarts" 2>/dev/null | wc -l)
  "$run" "$1" >"$tmp/out" 2>"$tmp/err"
  after=$(cat "$tmp/restarts" 2>/dev/null | wc -l)
  local starts
  starts=$(cat "$STARTS")
  if [ "$starts" != "$2" ] || [ $((after - before)) -ne $(($2 - 1)) ]; then
    echo "FAIL $1: started $starts times (expected $2), counted $((after - before)) restarts"
    failures=$((failures + 1))
  fi
  if [ "$2" = 2 ] && ! grep -qx "second start" "$tmp/out"; then
    echo "FAIL $1: the second start's output did not come back"; failures=$((failures + 1))
  fi
}
case_ startup 2
case_ server 2
case_ loader-fault 2
case_ silent 1
grep -q 'silent ended with status 5 and wrote nothing' "$tmp/err" ||
  { echo "FAIL silent: its status is not in the log"; failures=$((failures + 1)); }
case_ crash 1
case_ killed 1
case_ mixed 1
[ $failures -eq 0 ] && echo "wine-run: restarts Wine's own start-up failures only, and counts them"
exit $((failures > 0))
