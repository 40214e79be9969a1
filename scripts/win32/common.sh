# Shared by the 32-bit Windows runner's scripts (sourced, not run): which
# way runs the programs, and the native way itself.

W32_CACHE="${VANTOREL_DEPS:-/var/cache/vantorel-deps}"
W32_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
W32_ROOT=$(cd "$W32_SCRIPTS/.." && pwd)
W32_TIMEOUT="${VANTOREL_WIN32_TIMEOUT:-600}"
W32_WINE=/usr/lib/wine/wine
W32_WINE64=/usr/lib/wine/wine64

# What the runner keeps while it runs, all in one folder of the cache
# (docs/development.md lists it): the native session of each prefix, the
# emulated machine of each checkout, the i386 probe.
W32_RUN="$W32_CACHE/run"
w32_key() { printf %s "$1" | md5sum | cut -c1-8; }

# Two prefixes, both beside the win64 tests' one, so that whoever picks a
# prefix of their own for those gets these of their own too:
#   win32  a 32-bit prefix, as on 32-bit Windows: the win32 test suites;
#   wow64  a 64-bit prefix with 32-bit support, as on 64-bit Windows, where
#          32-bit programs run under WoW64 (--wow64).
# w32_kind picks one: its prefix, its WINEARCH and its native session.
w32_kind() { # win32 | wow64
  W32_KIND=$1
  W32_PREFIX="${VANTOREL_WINEPREFIX:-$W32_CACHE/wineprefix}-$1"
  case $1 in win32) W32_ARCH=win32 W32_BOOT=$W32_WINE ;; *) W32_ARCH=win64 W32_BOOT=$W32_WINE64 ;; esac
  W32_SESSION="$W32_RUN/native-$(w32_key "$W32_PREFIX")"
}
w32_kind win32

# The Wine loader for one program of the current kind: always the 32-bit one
# in the 32-bit prefix; in the WoW64 prefix the one of the program's bitness
# (guest/wine-loader, which the emulated machine uses too).
w32_loader() { # $1 the program as given
  if [ "$W32_KIND" = win32 ]; then echo "$W32_WINE"; else "$W32_SCRIPTS/win32/guest/wine-loader" "$W32_PREFIX" "$PWD" "$1"; fi
}

# What goes into the emulated machine's disk besides Debian's base system
# (amd64, with i386 as a second architecture): both halves of Wine.
W32_GUEST_PACKAGES="wine64 libwine wine32:i386 libwine:i386 fonts-wine xvfb xauth busybox-static procps"
# Raise when scripts/win32/image.sh changes what it makes in another way.
W32_IMAGE_RECIPE=2

# The machine image's version: a digest of the guest's scripts, its package
# list and the recipe number, so a change to any of them makes image.sh build
# a new image. Contents and names only, the same on any checkout path or day.
w32_image_version() {
  (
    export LC_ALL=C
    echo "recipe $W32_IMAGE_RECIPE"
    echo "packages $W32_GUEST_PACKAGES"
    for f in "$W32_SCRIPTS"/win32/guest/*; do
      echo "file ${f##*/} $(wc -c <"$f")"
      cat "$f"
    done
  ) | sha256sum | cut -c1-16
}
W32_IMAGES="$W32_CACHE/win32-machine"

# How the machine is emulated, for its first boot and every boot after. Its
# processor has 4-level page tables (no la57: a shorter walk for each page the
# emulator looks up) and no SMAP. Its kernel reads time from the processor's
# time-stamp counter, which the emulator takes from the host's: without that
# it picks the emulated HPET, and every clock read in Wine (many in each
# process start) becomes a trip through the emulated device.
W32_QEMU=(qemu-system-x86_64 -accel tcg,thread=multi -cpu max,-smap,-la57 -smp 2 -m 3072)
W32_KERNEL_ARGS="console=ttyS0 quiet panic=1 no_timer_check clocksource=tsc tsc=reliable vinit=/usr/sbin/vantorel-init"

# "emulated" when asked for (VANTOREL_WIN32_EMULATED=1) or when the kernel
# cannot run 32-bit programs; "native" when it can. When the probe cannot
# tell, the emulated machine, which runs anywhere, and a word about it.
win32_way() {
  case "${VANTOREL_WIN32_EMULATED:-0}" in
    ""|0|no|false) ;;
    *) echo emulated; return ;;
  esac
  "$W32_SCRIPTS/i386-native.sh"
  case $? in
    0) echo native ;;
    1) echo emulated ;;
    *) echo "win32-run: taking the emulated machine, as it cannot be told whether 32-bit programs run here" >&2
       echo emulated ;;
  esac
}

w32_alive() { [ -f "$1" ] && kill -0 "$(cat "$1" 2>/dev/null)" 2>/dev/null; }

w32_wine_env() {
  export WINEPREFIX="$W32_PREFIX" WINEARCH="$W32_ARCH" WINEDEBUG=-all
  # Wine reads arguments and file names in the locale's character set:
  # UTF-8, so that non-ASCII ones pass through whatever the caller's locale.
  export LC_ALL=C.UTF-8
  # No .NET or HTML engine to install, and no debugger: a crash ends the
  # program instead of waiting for someone to attach.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
}

# Starts Xvfb and a persistent wineserver once; later calls find them up.
# The display comes first: a wineserver started without one keeps a desktop
# that can make no windows.
win32_native_start() {
  [ -x "$W32_WINE" ] || { echo "win32-run: 32-bit Wine is missing (scripts/deps.sh installs wine32)" >&2; return 1; }
  [ -x "$W32_BOOT" ] || { echo "win32-run: $W32_BOOT is missing (scripts/deps.sh installs wine64)" >&2; return 1; }
  w32_wine_env
  mkdir -p "$W32_SESSION"
  local s=$W32_SESSION
  (
    flock 9
    if w32_alive "$s/xvfb.pid" && w32_alive "$s/server.pid"; then exit 0; fi
    win32_native_stop_locked
    rm -f "$s/display"
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$s/display" </dev/null >"$s/xvfb.log" 2>&1 9>&- &
    echo $! >"$s/xvfb.pid"
    for _ in $(seq 100); do [ -s "$s/display" ] && break; sleep 0.05; done
    [ -s "$s/display" ] || { echo "win32-run: Xvfb did not start" >&2; cat "$s/xvfb.log" >&2; exit 1; }
    export DISPLAY=":$(head -n1 "$s/display")"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$(dirname "$WINEPREFIX")"
      "$W32_BOOT" wineboot -i </dev/null >"$s/boot.log" 2>&1 9>&-
      /usr/lib/wine/wineserver -w 9>&-
    fi
    setsid /usr/lib/wine/wineserver -p -f </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$s/server.pid"
    # Until it listens, a Wine program would start a server of its own, and
    # ours would give way to it.
    # It works in its server folder, where the socket appears.
    local pid
    pid=$(cat "$s/server.pid")
    for _ in $(seq 100); do [ -S "/proc/$pid/cwd/socket" ] && break; sleep 0.05; done
    w32_alive "$s/server.pid" || { echo "win32-run: the wineserver did not stay up" >&2; exit 1; }
    # Wine's services start with the first program and inherit its output:
    # let that be this one, not a caller's pipe.
    "$W32_BOOT" cmd /c exit </dev/null >/dev/null 2>&1 9>&-
    exit 0
  ) 9>"$s.lock" || return 1
  DISPLAY=":$(head -n1 "$s/display")"
  export DISPLAY
}

win32_native_stop_locked() {
  local s=$W32_SESSION
  if w32_alive "$s/server.pid"; then
    WINEPREFIX="$W32_PREFIX" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    kill "$(cat "$s/server.pid")" 2>/dev/null || true
  fi
  w32_alive "$s/xvfb.pid" && kill "$(cat "$s/xvfb.pid")" 2>/dev/null
  rm -f "$s/server.pid" "$s/xvfb.pid"
}

win32_native_stop() {
  [ -d "$W32_SESSION" ] || return 0
  ( flock 9; win32_native_stop_locked ) 9>"$W32_SESSION.lock"
}

# Runs one program; its output goes through files, because Wine's background
# services would otherwise hold a caller's pipe open.
win32_native_run() {
  win32_native_start || exit 1
  local tmp rc
  tmp=$(mktemp -d "$W32_SESSION/out.XXXXXX")
  timeout -k 5 "$W32_TIMEOUT" "$(w32_loader "$1")" "$@" >"$tmp/out" 2>"$tmp/err"
  rc=$?
  cat "$tmp/out"
  cat "$tmp/err" >&2
  rm -rf "$tmp"
  [ $rc -eq 124 ] && echo "win32-run: stopped after ${W32_TIMEOUT} s: $*" >&2
  exit $rc
}
