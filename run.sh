#!/usr/bin/env bash
# The demo: installs what it needs, builds Vantorel and vstrun for Linux, and
# plays a drum loop through Vantorel: recording, looping at several sizes and
# speeds, a pitch bend and a volume ramp, driven by an automation file and a
# MIDI file. Everything it makes lands in out/:
#
#   out/vantorel-demo.wav     the rendered result
#   out/vantorel-editor.png   Vantorel's editor, opened by vstrun on a virtual X display (Xvfb)
#   out/demo/                 the input it made: drums, MIDI, automation
#
#   ./run.sh                  the demo
#   ./run.sh info [BUILD...]  what a host sees in each build's module
#                             (linux64 linux32 win64 win32; default all four)
#   ./run.sh release          the release files in out/release/: installer,
#                             zips, .debs, tarballs, debug archives, SHA256SUMS
#                             (scripts/release.sh; docs/releasing.md)
#
# Each command installs only what it needs (scripts/deps.sh, by sets;
# VANTOREL_SKIP_DEPS=1 skips that) and says each step as it starts, with its
# time when it ends; the logs are in build/logs/.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
source "$ROOT/scripts/common.sh"
trap cleanup_services EXIT

info() {
  local presets=("$@") status=0 sets=(demo)
  [ ${#presets[@]} -eq 0 ] && presets=(linux64 linux32 win64 win32)
  for p in "${presets[@]}"; do
    case $p in
      linux64) ;;
      linux32) sets+=(linux32) ;;
      win64) sets+=(windows) ;;
      win32) sets+=(windows win32 win32-machine) ;;
      *) say "unknown build '$p' (known: linux64 linux32 win64 win32)"; return 2 ;;
    esac
  done
  install_deps "${sets[@]}" || return 1
  for p in "${presets[@]}"; do
    build_preset "$p" vstrun Vantorel || { status=1; continue; }
    local b="$ROOT/build/$p"
    case $p in
      win64) step "win64 wine" log "$LOGS/wine.log" "starting Wine (booting its prefix the first time)" start_wine ;;
      win32)
        # 32-bit Wine, natively or in the emulated machine; stopped on exit.
        step "win32 start" log "$LOGS/win32-runner.log" "starting 32-bit Wine (in the emulated machine that is a boot)" \
          start_win32 || { status=1; continue; }
        ;;
    esac
    say "== $p"
    case $p in
      linux64) "$b/vstrun" info "$b/Vantorel.so" || status=1 ;;
      linux32) "$ROOT/scripts/linux32-run.sh" "$b/vstrun" info "$b/Vantorel.so" || status=1 ;;
      win64) "$ROOT/scripts/wine-run.sh" "$b/vstrun.exe" info "Z:$b/Vantorel.dll" | tr -d '\r' || status=1 ;;
      win32) "$ROOT/scripts/win32-run.sh" "$b/vstrun.exe" info "$b/Vantorel.dll" | tr -d '\r' || status=1 ;;
    esac
  done
  return $status
}

render_demo() { # $1 out  $2 build
  local out=$1 b=$2 log="$LOGS/demo.log"
  mkdir -p "$out/demo"
  "$PYTHON" "$ROOT/tools/demo/make_demo.py" "$out/demo" >"$log" 2>&1 || { show_log "$log" 20; return 1; }
  "$b/vstrun" render "$b/Vantorel.so" -i "$out/demo/demo-drums.wav" -o "$out/vantorel-demo.wav" \
    --automation "$out/demo/demo-automation.json" --midi "$out/demo/demo.mid" --tail 1 --quiet >>"$log" 2>&1 ||
    { show_log "$log" 20; return 1; }
}

# The editor, opened by the Linux vstrun on a virtual X display.
editor_picture() { # $1 picture  $2 build
  local log="$LOGS/demo-editor.log"
  start_xvfb
  [ -n "${DISPLAY:-}" ] || { say "no virtual display (Xvfb; scripts/deps.sh installs it)"; return 1; }
  "$2/vstrun" editor "$2/Vantorel.so" --seconds 1.5 --param "Buff Size=0.5" --param "Volume=0.25" \
    --screenshot "$1" >"$log" 2>&1 && [ -s "$1" ] && return 0
  show_log "$log" 20
  return 1
}

demo() {
  local out="$ROOT/out" b="$ROOT/build/linux64" shot="$ROOT/out/vantorel-editor.png"
  install_deps demo || return 1
  build_preset linux64 vstrun Vantorel || return 1
  step "demo" log "$LOGS/demo.log" "making the drums, MIDI and automation, and rendering them through Vantorel" \
    render_demo "$out" "$b" || return 1
  rm -f "$shot"
  step "editor" log "$LOGS/demo-editor.log" "photographing Vantorel's editor on a virtual display" \
    editor_picture "$shot" "$b" || shot=""

  say ""
  say "Made:"
  say "  ${out#$ROOT/}/vantorel-demo.wav    drums through Vantorel: record, loops of 1/2, 1/4 and 1/8 beat,"
  say "                              double speed, a pitch bend, a volume ramp, then a new recording"
  [ -n "$shot" ] && say "  ${shot#$ROOT/}  Vantorel's editor, faders at Buff Size 0.5 and Volume 0.25"
  say "  ${out#$ROOT/}/demo/                 its input: demo-drums.wav, demo.mid, demo-automation.json"
  say ""
  "$b/vstrun" info "$b/Vantorel.so" | head -n 8
}

release() {
  install_deps demo linux32 windows release || return 1
  build_products || return 1
  step "release" log "$LOGS/release.log" "making the release files (scripts/release.sh)" "$ROOT/scripts/release.sh"
}

times_start "$LOGS/run-times.tsv" "run.sh $*"
case "${1:-}" in
  info) shift; info "$@" ;;
  release) release ;;
  "") demo ;;
  *) say "usage: ./run.sh [info [linux64|linux32|win64|win32]... | release]"; exit 2 ;;
esac
rc=$?
times_total
exit $rc
