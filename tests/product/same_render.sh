#!/usr/bin/env bash
# The shipped 32-bit Windows module and the 32-bit Linux one render the same
# seeded session (the demo's drums, MIDI and automation) to the same bytes.
#   same_render.sh WIN32_BUILD LINUX32_BUILD
# Exits 77 (skipped) when the linux32 build is not there to compare with.
set -u
win=$1 lin=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ ! -f "$lin/vstrun" ] || [ ! -f "$lin/Vantorel.so" ]; then
  echo "no linux32 build in $lin to compare with: skipped"
  exit 77
fi
out="$win/tests/same-render"
rm -rf "$out"
mkdir -p "$out"
python3 "$root/tools/demo/make_demo.py" "$out" >/dev/null || exit 1
session=(-i "$out/demo-drums.wav" --midi "$out/demo.mid" --automation "$out/demo-automation.json" --tail 1 --quiet)
"$root/scripts/linux32-run.sh" "$lin/vstrun" render "$lin/Vantorel.so" -o "$out/linux32.wav" "${session[@]}" ||
  { echo "linux32 render failed"; exit 1; }
"$root/scripts/win32-run.sh" "$win/vstrun.exe" render "$win/Vantorel.dll" -o "$out/win32.wav" "${session[@]}" ||
  { echo "win32 render failed"; exit 1; }
size=$(stat -c %s "$out/linux32.wav")
[ "$size" -gt 100000 ] || { echo "the linux32 render is too short ($size bytes)"; exit 1; }
cmp "$out/linux32.wav" "$out/win32.wav" || exit 1
echo "win32 and linux32 renders are identical ($size bytes)"
