#!/usr/bin/env bash
# The demo: installs what the builds need, builds Vantorel and vstrun, and
# plays a drum loop through Vantorel: recording, looping at several sizes and
# speeds, a pitch bend and a volume ramp, driven by an automation file and a
# MIDI file. Everything it makes lands in out/:
#
#   out/vantorel-demo.wav     the rendered result
#   out/vantorel-editor.png   Vantorel's editor (needs the win64 build, Wine, Xvfb)
#   out/demo/                 the input it made: drums, MIDI, automation
#
#   ./run.sh                  the demo
#   ./run.sh info [BUILD...]  what a host sees in each build's module
#                             (linux64 linux32 win64 win32; default all four)
#   ./run.sh release          the release files in out/release/: installer,
#                             zips, .debs, tarballs, debug archives, SHA256SUMS
#                             (scripts/release.sh; docs/releasing.md)
set -uo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
source "$ROOT/scripts/common.sh"
trap cleanup_services EXIT

# Configures a preset's build folder once and builds only what the demo needs.
build_targets() { # $1 preset, then targets
  local p=$1 log="$LOGS/$1-run.log"
  shift
  : >"$log"
  if [ ! -f "$ROOT/build/$p/build.ninja" ] || [ ! -f "$ROOT/build/$p/CMakeCache.txt" ]; then
    (cd "$ROOT" && cmake --preset "$p") >>"$log" 2>&1 || { say "$p: configure FAILED"; show_log "$log" 60; return 1; }
  fi
  (cd "$ROOT" && cmake --build "build/$p" --target "$@") >>"$log" 2>&1 ||
    { say "$p: build FAILED"; grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | tail -n 80; return 1; }
}

info() {
  local presets=("$@") status=0
  [ ${#presets[@]} -eq 0 ] && presets=(linux64 linux32 win64 win32)
  for p in "${presets[@]}"; do
    case $p in linux64|linux32|win64|win32) ;; *) say "unknown build '$p' (known: linux64 linux32 win64 win32)"; return 2 ;; esac
    build_targets "$p" vstrun Vantorel || { status=1; continue; }
    local b="$ROOT/build/$p"
    say "== $p"
    case $p in
      linux64) "$b/vstrun" info "$b/Vantorel.so" || status=1 ;;
      linux32) "$ROOT/scripts/linux32-run.sh" "$b/vstrun" info "$b/Vantorel.so" || status=1 ;;
      win64)
        start_wine
        "$ROOT/scripts/wine-run.sh" "$b/vstrun.exe" info "Z:$b/Vantorel.dll" | tr -d '\r' || status=1
        ;;
      win32)
        # 32-bit Wine, natively or in the emulated i386 machine; stopped on exit.
        start_win32 || { status=1; continue; }
        "$ROOT/scripts/win32-run.sh" "$b/vstrun.exe" info "$b/Vantorel.dll" | tr -d '\r' || status=1
        ;;
    esac
  done
  return $status
}

demo() {
  local out="$ROOT/out" b="$ROOT/build/linux64" w="$ROOT/build/win64"
  build_targets linux64 vstrun Vantorel || return 1
  mkdir -p "$out/demo"
  python3 "$ROOT/tools/demo/make_demo.py" "$out/demo" || { say "demo: making the input FAILED"; return 1; }

  "$b/vstrun" render "$b/Vantorel.so" -i "$out/demo/demo-drums.wav" -o "$out/vantorel-demo.wav" \
    --automation "$out/demo/demo-automation.json" --midi "$out/demo/demo.mid" --tail 1 --quiet ||
    { say "demo: rendering FAILED"; return 1; }

  # The editor runs in the Windows build, under Wine on a virtual display.
  local shot=""
  rm -f "$out/vantorel-editor.png"
  if [ ! -x /usr/lib/wine/wine64 ] || ! command -v Xvfb >/dev/null; then
    say "demo: no screenshot of the editor (it needs wine64 and Xvfb; scripts/deps.sh installs them)"
  elif ! build_targets win64 vstrun Vantorel; then
    say "demo: no screenshot of the editor (the win64 build failed; see build/logs/win64-run.log)"
  else
    start_xvfb
    start_wine
    if "$ROOT/scripts/wine-run.sh" "$w/vstrun.exe" editor "Z:$w/Vantorel.dll" --seconds 1.5 \
        --param "Buff Size=0.5" --param "Volume=0.25" --screenshot "Z:$out/vantorel-editor.png" >/dev/null &&
        [ -s "$out/vantorel-editor.png" ]; then
      shot="$out/vantorel-editor.png"
    else
      say "demo: no screenshot of the editor (vstrun editor failed under Wine)"
    fi
  fi

  say ""
  say "Made:"
  say "  ${out#$ROOT/}/vantorel-demo.wav    drums through Vantorel: record, loops of 1/2, 1/4 and 1/8 beat,"
  say "                              double speed, a pitch bend, a volume ramp, then a new recording"
  [ -n "$shot" ] && say "  ${shot#$ROOT/}  Vantorel's editor, faders at Buff Size 0.5 and Volume 0.25"
  say "  ${out#$ROOT/}/demo/                 its input: demo-drums.wav, demo.mid, demo-automation.json"
  say ""
  "$b/vstrun" info "$b/Vantorel.so" | head -n 8
}

install_deps || exit 1
case "${1:-}" in
  info) shift; info "$@" ;;
  release) "$ROOT/scripts/release.sh" ;;
  "") demo ;;
  *) say "usage: ./run.sh [info [linux64|linux32|win64|win32]... | release]"; exit 2 ;;
esac
