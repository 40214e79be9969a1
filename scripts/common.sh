# Shared by test.sh and run.sh (sourced, not run). Expects ROOT to be the
# repository's root.

# "release" is not a CMake preset: it packages the four product builds
# (scripts/release.sh) and checks the packages (tests/release/check.sh).
ALL_PRESETS=(linux64 linux64-asan linux64-tsan linux32 win64 win32 fuzz release)
LOGS="$ROOT/build/logs"
mkdir -p "$LOGS"

# Two jobs: the machines this runs on have two cores, often shared.
export CMAKE_BUILD_PARALLEL_LEVEL=2
export CTEST_PARALLEL_LEVEL=2

say() { printf '%s\n' "$*"; }

# Debian's interpreter (deps.sh installs it) rather than whatever shim is first.
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3

# Prints the end of a log, for a step that failed.
show_log() { # $1 log  $2 lines
  say "---- ${1#$ROOT/} (last ${2:-80} lines) ----"
  tail -n "${2:-80}" "$1"
  say "----"
}

# Installs what the builds need; quick when everything is there.
install_deps() {
  if [ -n "${VANTOREL_SKIP_DEPS:-}" ]; then return 0; fi
  if ! "$ROOT/scripts/deps.sh" >"$LOGS/deps.log" 2>&1; then
    say "deps: FAILED"
    show_log "$LOGS/deps.log" 60
    return 1
  fi
}

# Configures (first time only: afterwards ninja re-runs CMake by itself when a
# CMakeLists.txt changes) and builds one preset. Logs go to build/logs.
build_preset() { # $1 preset
  local p=$1 log="$LOGS/$1-build.log"
  : >"$log"
  if [ ! -f "$ROOT/build/$p/build.ninja" ] || [ ! -f "$ROOT/build/$p/CMakeCache.txt" ]; then
    if ! (cd "$ROOT" && cmake --preset "$p") >>"$log" 2>&1; then
      say "$p: configure FAILED"
      show_log "$log" 60
      return 1
    fi
  fi
  if ! (cd "$ROOT" && cmake --build --preset "$p") >>"$log" 2>&1; then
    say "$p: build FAILED"
    # The compiler's messages, not ninja's progress lines.
    grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | tail -n 120
    return 1
  fi
}

# A virtual X display for programs that open windows (Wine, X11), so tests
# never need a real screen and never touch one.
XVFB_PID=
start_xvfb() {
  [ -n "$XVFB_PID" ] && return 0
  command -v Xvfb >/dev/null || return 0
  local f
  f=$(mktemp)
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$f" >"$LOGS/xvfb.log" 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do [ -s "$f" ] && break; sleep 0.1; done
  if [ -s "$f" ]; then
    export DISPLAY=":$(head -1 "$f")"
  else
    say "Xvfb did not start; windows tests will have no display"
    kill "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
  rm -f "$f"
}
stop_xvfb() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}

WINE_UP=
start_wine() {
  [ -n "$WINE_UP" ] && return 0
  "$ROOT/scripts/wine-session.sh" start >"$LOGS/wine.log" 2>&1 || true
  WINE_UP=1
}
stop_wine() {
  if [ -n "$WINE_UP" ]; then
    "$ROOT/scripts/wine-session.sh" stop >>"$LOGS/wine.log" 2>&1 || true
    WINE_UP=
  fi
}

# The 32-bit Windows runner's session (a warm wineserver, or the emulated
# machine), started once per run.
WIN32_UP= WIN32_WAY=
start_win32() {
  [ -n "$WIN32_UP" ] && return 0
  WIN32_WAY=$("$ROOT/scripts/win32-run.sh" --way)
  if ! "$ROOT/scripts/win32-run.sh" --start >"$LOGS/win32-runner.log" 2>&1; then
    say "win32: the 32-bit Wine runner did not start ($WIN32_WAY)"
    show_log "$LOGS/win32-runner.log" 40
    return 1
  fi
  WIN32_UP=1
}
stop_win32() {
  if [ -n "$WIN32_UP" ]; then
    "$ROOT/scripts/win32-run.sh" --stop >>"$LOGS/win32-runner.log" 2>&1 || true
    WIN32_UP=
  fi
}

cleanup_services() {
  stop_win32
  stop_wine
  stop_xvfb
}
