#!/usr/bin/env bash
# The Windows installer as users run it, silently, through
# scripts/win32-run.sh (native or emulated), in prefixes nothing else used:
#
# - 32-bit Windows (a 32-bit prefix): into folders with spaces, non-ASCII
#   letters and a trailing backslash; the installed DLL is the build's and
#   renders the demo as the build's does; the uninstaller leaves nothing of
#   ours.
# - 64-bit Windows, where the installer runs under WoW64 (--wow64: a 64-bit
#   prefix with 32-bit support): both folders the same is refused; an
#   earlier version, then this one over it (remembered folders, one uninstall
#   entry, both DLLs the builds'); each installed DLL renders the demo through
#   the matching vstrun.exe; a reinstall without the 64-bit plug-in removes
#   the earlier 64-bit copy; a user's file and someone else's README.txt in a
#   plug-in folder and in the install folder survive; the uninstaller leaves
#   nothing of ours.
#
# The two run at once, each in its own prefix.
#
#   installer.sh SETUP.exe WORK_FOLDER      (lines as tests/release/check.sh)
#   installer.sh --start WORK_FOLDER        starts both runners and Wine in
#                                           each prefix (run it in the
#                                           background while other checks run)
#   installer.sh --stop WORK_FOLDER         stops them
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
setup=$1 work=$(mkdir -p "$2" && cd "$2" && pwd)
failed=0
ok() { echo "ok $1"; }
bad() { echo "FAIL $1: $2"; failed=1; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# Natively new prefixes under WORK; emulated, machines of their own booted
# from the image's untouched disk.
export VANTOREL_WINEPREFIX="$work/wine/prefix"
R() { "$ROOT/scripts/win32-run.sh" "$@"; }
W() { "$ROOT/scripts/win32-run.sh" --wow64 "$@"; }
case $setup in
  --start)
    mkdir -p "$work/wine"
    { R --start && R cmd /c exit; } >"$work/runner.log" 2>&1 &
    { W --start && W cmd /c exit; } >"$work/runner64.log" 2>&1 &
    wait
    exit 0 ;;
  --stop) R --stop >/dev/null 2>&1; exit 0 ;;
esac
inst="$ROOT/build/release-test-setup"  # programs the runner runs live under the repository
trap 'R --stop >/dev/null 2>&1; rm -rf "$inst"' EXIT
rm -rf "$inst"
mkdir -p "$inst" "$work/wine"
cp "$setup" "$inst/Vantorel-setup.exe"
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ROOT/build/linux64/CMakeCache.txt")

key_uninst='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantorel'
key_app='HKLM\Software\Vantorel'
# Each takes the runner (R or W) first. Each Wine program costs seconds in
# the emulated machine, so one cmd looks at many paths or copies many files.
# Now and then Wine fails to start a program while another one ends (as the
# uninstaller's copy does): a look or a copy that gave no answer is tried once
# more, and what each attempt said goes to wine-looks.log.
# looks R PATH...: for each PATH in order, a line "1" when it is there and
# "0" when not; fails when a try did not answer for every PATH.
looks() {
  local r=$1 p args=() out
  shift
  for p in "$@"; do args+=('&' '(if' exist "$p" echo '1)' '&' '(if' not exist "$p" echo '0)'); done
  for _ in 1 2; do
    out=$("$r" cmd /c "${args[@]:1}" 2>>"$work/wine-looks.log" | tr -d '\r' | grep -x '[01]')
    [ "$(grep -c . <<<"$out")" -eq $# ] && { echo "$out"; return 0; }
    echo "looks $*: answered '$out'" >>"$work/wine-looks.log"
  done
  return 1
}
# there R PATH... / gone R PATH...: every PATH there / none of them there.
there() { local out; out=$(looks "$@") && ! grep -qx 0 <<<"$out"; }
gone() { local out; out=$(looks "$@") && ! grep -qx 1 <<<"$out"; }
has_key() { "$1" reg query "$2" /reg:32 >/dev/null 2>&1; }
# fetch R WINDOWS_PATH HOST_FILE [WINDOWS_PATH HOST_FILE]...: copies each file out.
fetch() {
  local r=$1 args=() i
  shift
  for ((i = 1; i < $#; i += 2)); do args+=('&' copy /y "${!i}" "$(winpath "${@:i+1:1}")"); done
  for _ in 1 2; do
    for ((i = 2; i <= $#; i += 2)); do rm -f "${!i}"; done
    "$r" cmd /c "${args[@]:1}" >>"$work/wine-looks.log" 2>&1
    for ((i = 2; i <= $#; i += 2)); do [ -f "${!i}" ] || continue 2; done
    return 0
  done
  echo "fetch $*: failed" >>"$work/wine-looks.log"
  return 1
}
# The uninstaller finishes in a copy of itself after it returns: wait for it
# to take our keys away.
uninstall() { # $1 runner, $2 install folder
  "$1" "$2\\Uninstall Vantorel.exe" /S >>"$work/uninstall.log" 2>&1
  for _ in $(seq 60); do has_key "$1" "$key_app" || break; sleep 1; done
}
# What of ours is left: each argument a file, folder or key that must be gone.
left_of() { # $1 runner, then paths and keys
  local r=$1 x paths=() left=() seen
  shift
  for x in "$@"; do
    case $x in HKLM*) has_key "$r" "$x" && left+=("$x") ;; *) paths+=("$x") ;; esac
  done
  if [ ${#paths[@]} -gt 0 ]; then
    if seen=$(looks "$r" "${paths[@]}"); then
      mapfile -t seen <<<"$seen"
      for x in "${!paths[@]}"; do [ "${seen[x]}" = 0 ] || left+=("${paths[x]}"); done
    else
      left+=("${paths[@]}")
    fi
  fi
  echo "${left[*]}"
}

"${PYTHON:-python3}" "$ROOT/tools/demo/make_demo.py" "$work/demo" >/dev/null
session=(-i "$work/demo/demo-drums.wav" --midi "$work/demo/demo.mid" --automation "$work/demo/demo-automation.json"
  --tail 1 --quiet)
# Renders the demo through installed DLL $3 and the build's $4 with vstrun $2;
# 0 when both worked and gave the same bytes.
same_render() { # $1 runner, $2 vstrun.exe, $3 installed DLL, $4 build DLL, $5 name
  "$1" "$2" render "$3" -o "$work/$5-installed.wav" "${session[@]}" >"$work/$5-render.log" 2>&1 &&
    "$1" "$2" render "$4" -o "$work/$5-build.wav" "${session[@]}" >>"$work/$5-render.log" 2>&1 &&
    [ "$(stat -c %s "$work/$5-build.wav")" -gt 100000 ] && cmp -s "$work/$5-installed.wav" "$work/$5-build.wav"
}

# ---- 32-bit Windows
half32() {
  if ! R --start >>"$work/runner.log" 2>&1; then
    bad installer "the 32-bit Wine runner did not start: $(tail -n 5 "$work/runner.log")"
    return
  fi
  local vst='C:\Music\VST Plug-ins Ünï\' app='C:\Apps\Vantorel' rc left # the folder named with its trailing backslash
  R "$inst/Vantorel-setup.exe" /S "/VST32=$vst" "/D=$app" >"$work/install.log" 2>&1
  rc=$?
  if [ $rc -eq 0 ] && there R "${vst}Vantorel.dll" "$app\\Uninstall Vantorel.exe" "$app\\Vantorel LICENSE.txt" \
      "$app\\Vantorel THIRD-PARTY.txt" && has_key R "$key_uninst"; then
    ok installer-silent
  else
    bad installer-silent "setup exited $rc, or a file or key of ours is missing: $(tail -n 5 "$work/install.log")"
  fi
  if fetch R "${vst}Vantorel.dll" "$work/installed.dll" && cmp -s "$work/installed.dll" "$ROOT/build/win32/Vantorel.dll"; then
    ok installer-same-dll
  else
    bad installer-same-dll "the installed Vantorel.dll differs from build/win32/Vantorel.dll (or was not there)"
  fi
  if same_render R "$ROOT/build/win32/vstrun.exe" "${vst}Vantorel.dll" "$ROOT/build/win32/Vantorel.dll" win32; then
    ok installer-render
  else
    bad installer-render "the installed DLL's render differs from the build's: $(tail -n 5 "$work/win32-render.log")"
  fi
  uninstall R "$app"
  left=$(left_of R 'C:\Music' 'C:\Apps' "$key_uninst" "$key_app")
  [ -z "$left" ] && ok installer-uninstall || bad installer-uninstall "left behind: $left"
}

# ---- 64-bit Windows: the 32-bit installer under WoW64
half64() {
  if ! W --start >>"$work/runner64.log" 2>&1; then
    bad installer-64bit "the WoW64 runner did not start: $(tail -n 5 "$work/runner64.log")"
    return
  fi
  # An earlier version's installer: the same script and files, another
  # version number, DLLs that differ from this version's.
  local earlier="$work/earlier-stage"
  rm -rf "$earlier"
  cp -r "$ROOT/build/release-stage/nsis" "$earlier"
  printf 'earlier version' >>"$earlier/win32/Vantorel.dll"
  printf 'earlier version' >>"$earlier/win64/Vantorel.dll"
  makensis -V2 -INPUTCHARSET UTF8 -DVERSION=0.0.1 -DSTAGE="$earlier" -DOUTFILE="$inst/Vantorel-earlier-setup.exe" \
    "$ROOT/packaging/windows/vantorel.nsi" >"$work/makensis-earlier.log" 2>&1 ||
    bad installer-64bit "the earlier version's installer was not made: $(tail -n 5 "$work/makensis-earlier.log")"

  local plugins='C:\Plug-ins Ünï' app='C:\Programs Ünï\Vantorel' rc earlier_ok=0 entries shown left kept=() d
  local v32="$plugins\\VST 32" v64="$plugins\\VST 64"
  # Someone else's files, where ours go too.
  printf 'my song\r\n' >"$work/my-song.txt"
  printf 'another plug-in read me\r\n' >"$work/README.txt"
  local theirs=(mkdir "$v32" '&' mkdir "$app")
  for d in "$v32" "$app"; do
    theirs+=('&' copy /y "$(winpath "$work/my-song.txt")" "$d\\my-song.txt")
    theirs+=('&' copy /y "$(winpath "$work/README.txt")" "$d\\README.txt")
  done
  W cmd /c "${theirs[@]}" >/dev/null 2>&1

  # Both plug-ins into one folder: refused (spelled differently), nothing done.
  W "$inst/Vantorel-setup.exe" /S '/VST32=C:\Same Folder\' '/VST64=c:\SAME FOLDER' "/D=$app" >"$work/same.log" 2>&1
  rc=$?
  if [ $rc -ne 0 ] && gone W 'C:\Same Folder' && ! has_key W "$key_app"; then
    ok installer-same-folder-refused
  else
    bad installer-same-folder-refused "setup exited $rc for one folder given twice, or installed something"
  fi

  # The earlier version with both plug-ins, then this version over it.
  W "$inst/Vantorel-earlier-setup.exe" /S "/VST32=$v32\\" "/VST64=$v64" "/D=$app" >"$work/install64.log" 2>&1
  fetch W "$v64\\Vantorel.dll" "$work/earlier64.dll" && cmp -s "$work/earlier64.dll" "$earlier/win64/Vantorel.dll" && earlier_ok=1
  W "$inst/Vantorel-setup.exe" /S >>"$work/install64.log" 2>&1
  rc=$?
  entries=$( (W reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /reg:32
    W reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /reg:64) 2>/dev/null | tr -d '\r' | grep -ci 'vantorel')
  shown=$(W reg query "$key_uninst" /v DisplayVersion /reg:32 2>/dev/null | tr -d '\r' | awk '$1 == "DisplayVersion" {print $3}')
  if [ $earlier_ok -eq 1 ] && [ $rc -eq 0 ] && fetch W "$v32\\Vantorel.dll" "$work/up32.dll" "$v64\\Vantorel.dll" "$work/up64.dll" &&
      cmp -s "$work/up32.dll" "$ROOT/build/win32/Vantorel.dll" && cmp -s "$work/up64.dll" "$ROOT/build/win64/Vantorel.dll" &&
      [ "$entries" = 1 ] && [ "$shown" = "$VERSION" ]; then
    ok installer-64bit-upgrade
  else
    bad installer-64bit-upgrade "earlier install right: $earlier_ok; setup exited $rc; uninstall entries: $entries, version '$shown'; or a DLL is not the build's"
  fi

  if same_render W "$ROOT/build/win32/vstrun.exe" "$v32\\Vantorel.dll" "$ROOT/build/win32/Vantorel.dll" wow64-32 &&
      same_render W "$ROOT/build/win64/vstrun.exe" "$v64\\Vantorel.dll" "$ROOT/build/win64/Vantorel.dll" wow64-64; then
    ok installer-64bit-render
  else
    bad installer-64bit-render "an installed DLL's render differs from the build's: $(tail -n 3 "$work"/wow64-*-render.log)"
  fi

  # Reinstalled without the 64-bit plug-in: its copy and the folder made for it go.
  W "$inst/Vantorel-setup.exe" /S /NO64 >>"$work/install64.log" 2>&1
  rc=$?
  if [ $rc -eq 0 ] && [ "$(looks W "$v64" "$v32\\Vantorel.dll" | tr '\n' ' ')" = "0 1 " ]; then
    ok installer-64bit-left-out
  else
    bad installer-64bit-left-out "setup /NO64 exited $rc; the earlier 64-bit copy or its folder is still there, or the 32-bit one is gone"
  fi

  uninstall W "$app"
  left=$(left_of W "$v32\\Vantorel.dll" "$v64" "$app\\Uninstall Vantorel.exe" "$app\\Vantorel README.txt" \
    "$app\\Vantorel LICENSE.txt" "$app\\Vantorel THIRD-PARTY.txt" "$key_uninst" "$key_app")
  local theirs_in=("$v32" "$app") copies=()
  for d in 0 1; do
    copies+=("${theirs_in[d]}\\my-song.txt" "$work/kept-song-$d.txt" "${theirs_in[d]}\\README.txt" "$work/kept-readme-$d.txt")
  done
  fetch W "${copies[@]}"
  for d in 0 1; do
    cmp -s "$work/kept-song-$d.txt" "$work/my-song.txt" && cmp -s "$work/kept-readme-$d.txt" "$work/README.txt" ||
      kept+=("${theirs_in[d]}")
  done
  if [ -z "$left" ] && [ ${#kept[@]} -eq 0 ]; then
    ok installer-64bit-uninstall
  else
    bad installer-64bit-uninstall "left behind: ${left:-nothing}; others' files lost or changed in: ${kept[*]:-none}"
  fi
}

# The two halves use prefixes (emulated: one machine) of their own, at once;
# their lines come in this order.
half32 >"$work/half32.out" 2>&1 &
h32=$!
half64 >"$work/half64.out" 2>&1
wait $h32
cat "$work/half32.out" "$work/half64.out"
grep -q '^FAIL' "$work/half32.out" "$work/half64.out" && failed=1
R --stop >/dev/null 2>&1
exit $failed
