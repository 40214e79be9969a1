#!/usr/bin/env bash
# The Windows installer as a user runs it, silently, in 32-bit Wine through
# scripts/win32-run.sh (native or emulated), in a prefix nothing else used:
# it installs, the installed DLL is the build's, vstrun.exe renders the demo
# session through it as through the build's DLL, and the uninstaller leaves
# no file and no registry key of ours. Then the 64-bit component in a 64-bit
# prefix, where this machine can run the 32-bit installer there.
#
#   installer.sh SETUP.exe WORK_FOLDER      (lines as tests/release/check.sh)
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
setup=$1 work=$2
failed=0
ok() { echo "ok $1"; }
bad() { echo "FAIL $1: $2"; failed=1; }
skip() { echo "skip $1: $2"; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# Natively a new prefix under WORK; emulated, a machine of its own booted
# from the image's untouched disk.
export VANTOREL_WINEPREFIX="$work/wine/prefix"
R() { "$ROOT/scripts/win32-run.sh" "$@"; }
# A program or DLL the emulated machine runs must be under build/win32.
inst="$ROOT/build/win32/release-test"
trap 'R --stop >/dev/null 2>&1; rm -rf "$inst"' EXIT
rm -rf "$inst"
mkdir -p "$inst" "$work/wine"
cp "$setup" "$inst/Vantorel-setup.exe"

if ! R --start >"$work/runner.log" 2>&1; then
  bad installer "the 32-bit Wine runner did not start: $(tail -n 5 "$work/runner.log")"
  exit 1
fi
vst='C:\Music\VST32' app='C:\Apps\Vantorel'
key_uninst='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantorel'
key_app='HKLM\Software\Vantorel'
exists() { R cmd /c if exist "$1" exit 7 >/dev/null 2>&1; [ $? -eq 7 ]; }
has_key() { R reg query "$1" >/dev/null 2>&1; }

R "$inst/Vantorel-setup.exe" /S "/VST32=$vst" "/D=$app" >"$work/install.log" 2>&1
rc=$?
if [ $rc -eq 0 ] && exists "$vst\\Vantorel.dll" && exists "$app\\Uninstall.exe" && has_key "$key_uninst" &&
    has_key "$key_app"; then
  ok installer-silent
else
  bad installer-silent "setup exited $rc, or a file or key of ours is missing: $(tail -n 5 "$work/install.log")"
fi

R cmd /c copy "$vst\\Vantorel.dll" "$(winpath "$work/installed.dll")" >/dev/null 2>&1
if cmp -s "$work/installed.dll" "$ROOT/build/win32/Vantorel.dll"; then
  ok installer-same-dll
else
  bad installer-same-dll "the installed Vantorel.dll differs from build/win32/Vantorel.dll (or was not there)"
fi

"${PYTHON:-python3}" "$ROOT/tools/demo/make_demo.py" "$work/demo" >/dev/null
session=(-i "$work/demo/demo-drums.wav" --midi "$work/demo/demo.mid" --automation "$work/demo/demo-automation.json"
  --tail 1 --quiet)
vstrun="$ROOT/build/win32/vstrun.exe"
if R "$vstrun" render "$vst\\Vantorel.dll" -o "$work/installed.wav" "${session[@]}" >"$work/render.log" 2>&1 &&
    R "$vstrun" render "$ROOT/build/win32/Vantorel.dll" -o "$work/build.wav" "${session[@]}" >>"$work/render.log" 2>&1 &&
    [ "$(stat -c %s "$work/build.wav")" -gt 100000 ] && cmp -s "$work/installed.wav" "$work/build.wav"; then
  ok installer-render
else
  bad installer-render "the installed DLL's render differs from the build's: $(tail -n 5 "$work/render.log")"
fi

# The uninstaller runs on as a copy of itself after it returns: wait for it
# to take our keys away.
R "$app\\Uninstall.exe" /S >"$work/uninstall.log" 2>&1
for _ in $(seq 60); do has_key "$key_app" || break; sleep 1; done
left=()
for f in 'C:\Music' 'C:\Apps'; do exists "$f" && left+=("$f"); done
for k in "$key_uninst" "$key_app"; do has_key "$k" && left+=("$k"); done
if [ ${#left[@]} -eq 0 ]; then
  ok installer-uninstall
else
  bad installer-uninstall "left behind: ${left[*]}"
fi
R --stop >/dev/null 2>&1

# The 64-bit component needs a 64-bit prefix that runs the 32-bit installer:
# only where the kernel runs 32-bit programs and 32-bit Wine is there.
if [ "$(R --way)" != native ] || [ ! -x /usr/lib/wine/wine ] || [ ! -x /usr/lib/wine/wine64 ]; then
  skip installer-64bit "this machine cannot run 32-bit programs in a 64-bit Wine prefix (no 32-bit support in its kernel, or no wine32), so the 32-bit installer cannot run there"
else
  p64="$work/wine64/prefix"
  w64() {
    WINEPREFIX=$p64 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" \
      timeout -k 5 300 /usr/lib/wine/wine64 "$@" </dev/null
  }
  mkdir -p "$(dirname "$p64")"
  w64 wineboot -i >"$work/wine64.log" 2>&1
  w64 "$setup" /S '/VST32=C:\v32' '/VST64=C:\v64' '/D=C:\Vantorel' >>"$work/wine64.log" 2>&1
  WINEPREFIX=$p64 /usr/lib/wine/wineserver -w
  installed=0
  cmp -s "$p64/drive_c/v32/Vantorel.dll" "$ROOT/build/win32/Vantorel.dll" &&
    cmp -s "$p64/drive_c/v64/Vantorel.dll" "$ROOT/build/win64/Vantorel.dll" && installed=1
  w64 'C:\Vantorel\Uninstall.exe' /S >>"$work/wine64.log" 2>&1
  WINEPREFIX=$p64 /usr/lib/wine/wineserver -w
  if [ $installed -eq 1 ] && [ ! -e "$p64/drive_c/v32" ] && [ ! -e "$p64/drive_c/v64" ] &&
      [ ! -e "$p64/drive_c/Vantorel" ] && ! grep -qi vantorel "$p64/system.reg"; then
    ok installer-64bit
  else
    bad installer-64bit "installed both DLLs: $installed; or the uninstall left files or keys ($work/wine64.log)"
  fi
  WINEPREFIX=$p64 /usr/lib/wine/wineserver -k 2>/dev/null
fi
exit $failed
