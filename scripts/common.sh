# Shared by test.sh, run.sh and the scripts they call (sourced, not run).
# Expects ROOT to be the repository's root.

# The steps of ./test.sh, in the order they run. "release" is not a CMake
# preset: it packages the four product builds (scripts/release.sh) and checks
# the packages (tests/release/check.sh).
ALL_STEPS=(linux64 linux64-asan linux64-tsan linux32 win64 win32 fuzz release)
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

# ---- Steps --------------------------------------------------------------
# Every step says one line as it starts and one with its time as it ends; a
# step that runs on says every VANTOREL_PROGRESS_EVERY seconds (25) how far
# it is, read from its log: a count, a percentage, or what it is on. The lines
# go to standard output, terminal or not; the details stay in the step's log.
# Each step's time goes into $VANTOREL_TIMES (test.sh and run.sh set it), one
# tab-separated line "name seconds result what", for scripts/time-table.py.
# The clock in front of each line counts from the command's start, shared
# with the scripts it runs through VANTOREL_T0.
: "${VANTOREL_T0:=$(date +%s)}"
export VANTOREL_T0

clock() {
  local s=$(($(date +%s) - VANTOREL_T0))
  printf '[%02d:%02d]' $((s / 60)) $((s % 60))
}
plural() { # $1 count  $2 noun
  if [ "$1" -eq 1 ]; then printf '1 %s' "$2"; else printf '%d %ss' "$1" "$2"; fi
}
duration() { # $1 seconds
  if [ "$1" -lt 60 ]; then printf '%d s' "$1"; else printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); fi
}

# How far a step is, from its log. KIND: build (ninja's [n/N] lines), tests
# (CTest's Start and Test lines), apt (apt-get's and dpkg's lines), or log
# (its last line).
progress_of() { # $1 kind  $2 log
  [ -s "$2" ] || { say "starting"; return; }
  tail -c 300000 "$2" | tr '\r' '\n' | awk -v kind="$1" '
    function shorten(t) { gsub(/[ \t]+/, " ", t); sub(/^ /, "", t); return length(t) > 90 ? substr(t, 1, 87) "..." : t }
    NF { last = $0 }
    kind == "build" && /^\[[0-9]+\/[0-9]+\] / {
      split(substr($1, 2, length($1) - 2), n, "/"); done = n[1]; all = n[2]; what = $NF; sub(/.*\//, "", what) }
    kind == "tests" && /^ *Start +[0-9]+: / { running[$3] = 1; order[++starts] = $3 }
    kind == "tests" && /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
      split($1, n, "/"); done = n[1]; all = n[2]; delete running[$4]
      if ($0 !~ / Passed +[0-9.]+ sec/ && $0 !~ /Not Run|Skipped/) failed++ }
    # dpkg unpacks most packages before it sets any up; what it unpacks
    # counts too (the upgraded and downgraded as well as the new).
    kind == "apt" && / newly installed, / {
      all = got = done = unpacked = 0; phase = ""
      for (i = 1; i < NF; i++) if ($(i + 1) ~ /^(upgraded|newly|downgraded)/) all += $i }
    kind == "apt" && /^Get:[0-9]+ / { got++ }
    kind == "apt" && /^Unpacking / { unpacked++; what = $2; phase = "unpacked" }
    kind == "apt" && /^Setting up / { done++; what = $3; phase = "set up" }
    END {
      if (kind == "build" && all) { printf "%d of %d compiled or linked (%d%%), last %s\n", done, all, 100 * done / all, what; exit }
      if (kind == "tests" && (all || starts)) {
        on = ""; for (i = starts; i >= 1 && length(on) < 60; i--) if (order[i] in running) { on = on (on ? ", " : "") order[i]; delete running[order[i]] }
        if (!all) { printf "%d started, none done yet%s\n", starts, on ? "; running " on : ""; exit }
        printf "%d of %d tests done, %d failed%s\n", done, all, failed, on ? "; running " on : ""; exit }
      if (kind == "apt" && phase) { printf "%d of %d packages %s, last %s\n", phase == "set up" ? done : unpacked, all, phase, what; exit }
      if (kind == "apt" && got && all) { printf "%d of %d packages downloaded\n", got, all; exit }
      print last ? shorten(last) : "starting"
    }'
}

STEP_RESULT=
# Runs one step: step NAME KIND LOG WHAT COMMAND... The command's own output
# is its business (steps send it to LOG). A command that sets STEP_RESULT
# has that printed (and recorded) instead of "done". Returns the command's
# status.
step() {
  local name=$1 kind=$2 log=$3 what=$4 t0 watcher rc dt result
  shift 4
  t0=$(date +%s)
  say "$(clock) $name: $what"
  (
    every=${VANTOREL_PROGRESS_EVERY:-25}
    # Ends with the step, or with the script should that be killed.
    while sleep "$every" </dev/null >/dev/null 2>&1 && kill -0 $$ 2>/dev/null; do
      say "$(clock)   $name: $(progress_of "$kind" "$log") ($(duration $(($(date +%s) - t0))) so far)"
    done
  ) &
  watcher=$!
  STEP_RESULT=
  "$@"
  rc=$?
  kill "$watcher" 2>/dev/null
  wait "$watcher" 2>/dev/null
  dt=$(($(date +%s) - t0))
  if [ -n "$STEP_RESULT" ]; then result=$STEP_RESULT
  elif [ "$rc" -eq 0 ]; then result=done
  else result="FAILED (status $rc; log: ${log#$ROOT/})"
  fi
  say "$(clock) $name: $result in $(duration "$dt")"
  [ -n "${VANTOREL_TIMES:-}" ] && printf '%s\t%s\t%s\t%s\n' "$name" "$dt" "$result" "$what" >>"$VANTOREL_TIMES"
  return "$rc"
}

# A command that says its own steps (deps.sh), run in the background while
# the foreground goes on: bg_start NAME COMMAND...; bg_wait NAME waits for it
# and returns its status. It runs in a process group of its own, so that
# stopping it (bg_stop_all, on exit) stops everything it started.
declare -A BG_PIDS=()
bg_start() { # NAME COMMAND...
  local name=$1
  shift
  setsid "$@" </dev/null &
  BG_PIDS[$name]=$!
}
bg_wait() { # NAME
  local pid=${BG_PIDS[$1]:-}
  [ -n "$pid" ] || return 0
  unset "BG_PIDS[$1]"
  wait "$pid"
}
bg_stop_all() {
  local n
  for n in "${!BG_PIDS[@]}"; do
    kill -TERM -- "-${BG_PIDS[$n]}" 2>/dev/null
    wait "${BG_PIDS[$n]}" 2>/dev/null
  done
  BG_PIDS=()
}

# Starts a command's time file: one comment line naming the command, the
# 32-bit Windows way, the cores and the day, then one line per step.
times_start() { # $1 file  $2 command
  export VANTOREL_TIMES=$1
  printf '# %s\tway=%s\tcores=%s\t%s\n' "$2" "${3:-}" "$(nproc)" "$(date -u +%Y-%m-%dT%H:%MZ)" >"$VANTOREL_TIMES"
}
# Ends it with the whole run's wall clock.
times_total() {
  [ -n "${VANTOREL_TIMES:-}" ] || return 0
  printf 'total\t%s\t\twhole run\n' $(($(date +%s) - VANTOREL_T0)) >>"$VANTOREL_TIMES"
}

# Installs the named sets of scripts/deps.sh (which says its own steps);
# quick when everything is there. VANTOREL_SKIP_DEPS=1 skips it.
install_deps() { # SET...
  [ -n "${VANTOREL_SKIP_DEPS:-}" ] && return 0
  "$ROOT/scripts/deps.sh" "$@"
}

# Configures a preset's build folder (first time only: afterwards ninja
# re-runs CMake by itself when a CMakeLists.txt changes) and builds it whole,
# or only the named targets. One step, "PRESET build"; the log is
# build/logs/PRESET-build.log.
build_preset() { # $1 preset, then targets (default: all)
  local p=$1 what
  shift
  what="configuring and building build/$p"
  [ -f "$ROOT/build/$p/build.ninja" ] && [ -f "$ROOT/build/$p/CMakeCache.txt" ] && what="building build/$p"
  [ $# -gt 0 ] && what="$what ($*)"
  step "$p build" build "$LOGS/$p-build.log" "$what" build_preset_now "$p" "$@"
}
build_preset_now() {
  local p=$1 log="$LOGS/$1-build.log"
  shift
  : >"$log"
  if [ ! -f "$ROOT/build/$p/build.ninja" ] || [ ! -f "$ROOT/build/$p/CMakeCache.txt" ]; then
    if ! (cd "$ROOT" && cmake --preset "$p") >>"$log" 2>&1; then
      say "$p: configure FAILED"
      show_log "$log" 60
      return 1
    fi
  fi
  local build=(--preset "$p")
  [ $# -gt 0 ] && build=("build/$p" --target "$@")
  if ! (cd "$ROOT" && cmake --build "${build[@]}") >>"$log" 2>&1; then
    # The compiler's messages, not ninja's progress lines.
    grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | tail -n 120
    return 1
  fi
}

# The four product builds' module and vstrun, which the release is made of;
# a step each, quick where the build is there.
build_products() {
  local p
  for p in win32 win64 linux64 linux32; do build_preset "$p" vstrun Vantorel || return 1; done
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
  bg_stop_all
  stop_win32
  stop_wine
  stop_xvfb
}
