#!/usr/bin/env bash
# Builds every target and runs every test suite that can run here, step by
# step (./test.sh --list prints the steps and what each runs):
#
#   ./test.sh                 every step: linux64, linux64-asan, linux64-tsan,
#                             linux32 (natively, or under qemu-i386), win64 (Wine),
#                             win32 (32-bit Wine: natively, or in an emulated
#                             machine; VANTOREL_WIN32_EMULATED=1 forces the latter),
#                             fuzz (each libFuzzer target briefly),
#                             release (the release files of linux64, linux32,
#                             win64 and win32, installed and checked as users do)
#   ./test.sh linux64 win64   only these steps
#   ./test.sh --list          the steps, what each runs and what it installs
#
# Installs what the chosen steps need first (scripts/deps.sh, by sets;
# VANTOREL_SKIP_DEPS=1 skips that), and builds the emulated machine, where
# one is needed, in the background while the native builds compile. Each
# install, build and test group says one line as it starts and its time as it
# ends, and how far it is at least every 30 s; the logs are in build/logs/, the
# steps' times in build/logs/test-times.tsv (scripts/time-table.py makes a
# table of them). Ends with one line "N passed, N failed" over all steps, and
# exits non-zero when a build or a test failed.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
source "$ROOT/scripts/common.sh"

# What each step installs (scripts/deps.sh's sets) and what it runs.
step_sets() {
  case $1 in
    linux64|linux64-asan|linux64-tsan) echo demo pictures linux ;;
    linux32) echo demo pictures linux32 ;;
    win64) echo demo pictures windows ;;
    win32) echo demo pictures windows win32 win32-machine ;;
    fuzz) echo demo pictures fuzz ;;
    release) echo demo pictures linux32 windows win32 win32-machine release ;;
  esac
}
step_text() {
  case $1 in
    linux64) echo "builds build/linux64 (GCC, x86_64) whole; runs its tests, the benchmarks' short runs and the file and script checks" ;;
    linux64-asan) echo "builds build/linux64-asan (AddressSanitizer and UndefinedBehaviorSanitizer); runs every test under them" ;;
    linux64-tsan) echo "builds build/linux64-tsan (ThreadSanitizer): the tests labelled threads, and runs them" ;;
    linux32) echo "builds build/linux32 (GCC -m32, i386); runs its tests natively where the kernel runs 32-bit programs, else under qemu-i386" ;;
    win64) echo "builds build/win64 (MinGW, x86_64); runs its tests under wine64, one wineserver for all" ;;
    win32) echo "builds build/win32 (MinGW, i686: the product); runs its test programs in 32-bit Wine, natively or in the emulated machine (here: $(win32_way_here))" ;;
    fuzz) echo "builds build/fuzz (clang: libFuzzer targets under ASan and UBSan); runs each target briefly" ;;
    release) echo "makes the release files from build/linux64, linux32, win64 and win32 (scripts/release.sh) and checks them as users install them (tests/release/check.sh)" ;;
  esac
}
win32_way_here() { "$ROOT/scripts/win32-run.sh" --way 2>/dev/null; }

case "${1:-}" in
  --list)
    for p in "${ALL_STEPS[@]}"; do
      say "$p"
      say "    $(step_text "$p")"
      say "    installs: $(step_sets "$p")"
    done
    say "Before the first step: the packages of the chosen steps' sets (scripts/deps.sh --list),"
    say "then the MinGW libraries where a Windows step is chosen; the emulated machine builds"
    say "in the background where win32 or release runs that way."
    exit 0
    ;;
  -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
steps=()
for p in "$@"; do
  case " ${ALL_STEPS[*]} " in
    *" $p "*) ;;
    *) say "unknown step '$p' (known: ${ALL_STEPS[*]}; ./test.sh --list says what each runs)"; exit 2 ;;
  esac
done
# The steps run in their own order, whatever the order asked.
for p in "${ALL_STEPS[@]}"; do
  if [ $# -eq 0 ] || [[ " $* " == *" $p "* ]]; then steps+=("$p"); fi
done

trap cleanup_services EXIT
start=$SECONDS
total_pass=0
total_fail=0
total_skip=0
status=0
uses_win32=
for p in "${steps[@]}"; do case $p in win32|release) uses_win32=1 ;; esac; done
times_start "$LOGS/test-times.tsv" "test.sh ${steps[*]}" "$([ -n "$uses_win32" ] && win32_way_here)"

finish() {
  times_total
  say "$(clock) all steps: $(duration $((SECONDS - start))); logs in build/logs/, the steps' times in build/logs/test-times.tsv"
  if [ "$total_skip" -gt 0 ]; then
    say "$total_pass passed, $total_fail failed, $total_skip skipped"
  else
    say "$total_pass passed, $total_fail failed"
  fi
  exit $status
}
failed_one() { total_fail=$((total_fail + 1)); status=1; }

sets=()
for p in "${steps[@]}"; do
  for s in $(step_sets "$p"); do
    [ "$s" = win32-machine ] && continue
    [[ " ${sets[*]} " == *" $s "* ]] || sets+=("$s")
  done
done
if ! install_deps "${sets[@]}"; then
  failed_one
  finish
fi
# The emulated machine (where it is needed and not built yet) builds while
# the native builds compile; its steps say when it is ready.
if [ -n "$uses_win32" ] && [ -z "${VANTOREL_SKIP_DEPS:-}" ]; then
  bg_start machine "$ROOT/scripts/deps.sh" win32-machine
fi

# Counts a build's results from CTest's JUnit file: "passed failed skipped".
# A CTest test that ran a whole test program (the win32 build's way) counts
# the cases of the GoogleTest report it left in the results folder; a
# program that failed with no failed case in its report counts one failure.
count_junit() { # $1 junit file, $2 folder of GoogleTest reports
  "$PYTHON" - "$1" "$2" <<'PY'
import os, sys, xml.etree.ElementTree as ET
passed = failed = skipped = 0
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    status = case.get("status")
    report = os.path.join(sys.argv[2], case.get("name", "") + ".xml")
    if status in ("run", "fail") and os.path.isfile(report):
        cases = list(ET.parse(report).getroot().iter("testcase"))
        bad = sum(1 for c in cases if c.find("failure") is not None)
        skip = sum(1 for c in cases if c.find("failure") is None
                   and (c.get("result") == "skipped" or c.find("skipped") is not None))
        passed += len(cases) - bad - skip
        skipped += skip
        failed += bad if bad or status == "run" else 1
    elif status == "run":
        passed += 1
    elif status in ("notrun", "disabled") and case.find("skipped") is not None:
        skipped += 1
    else:
        failed += 1
print(passed, failed, skipped)
PY
}

# Adds one group's counts to the totals and words them for its end line.
add_counts() { # passed failed skipped
  total_pass=$((total_pass + $1))
  total_fail=$((total_fail + $2))
  total_skip=$((total_skip + $3))
  STEP_RESULT="$1 passed, $2 failed"
  [ "$3" -gt 0 ] && STEP_RESULT="$STEP_RESULT, $3 skipped"
  [ "$2" -gt 0 ] && status=1
  return 0
}

# The emulated machine's image, where it is still being built: a step of
# its own, the wait.
wait_machine() {
  local pid=${BG_PIDS[machine]:-}
  [ -n "$pid" ] || return 0
  kill -0 "$pid" 2>/dev/null || { bg_wait machine; return; }
  step "win32 wait" log "$LOGS/win32-image.log" "waiting for the emulated machine's image" bg_wait machine
}

# The waits and start-ups before a build's tests, each a step of its own.
start_services() { # $1 preset
  case $1 in
    win64)
      start_xvfb
      step "win64 wine" log "$LOGS/wine.log" "starting Wine (booting its prefix the first time)" start_wine
      ;;
    win32)
      wait_machine || return 1
      # Booted (or warmed up) once, before CTest asks the first program for its tests.
      step "win32 start" log "$LOGS/win32-runner.log" "starting 32-bit Wine ($(win32_way_here); in the emulated machine that is a boot)" start_win32
      ;;
    *) start_xvfb ;;
  esac
}

# One preset's tests, one step: "PRESET tests".
ctest_preset() { # $1 preset
  local p=$1 junit="$LOGS/$1-junit.xml" log="$LOGS/$1-test.log" reports="$ROOT/build/$1/gtest-results"
  local restarts="$LOGS/$1-wine-restarts.log" rc counts pass fail skip
  rm -rf "$junit" "$reports"
  mkdir -p "$reports"
  # scripts/wine-run.sh notes each program it started again after Wine's own
  # start-up failure here.
  : >"$restarts"
  (cd "$ROOT" && VANTOREL_WINE_RESTARTS="$restarts" ctest --preset "$p" --output-junit "$junit") >"$log" 2>&1
  rc=$?
  if [ -f "$junit" ] && counts=$(count_junit "$junit" "$reports"); then
    read -r pass fail skip <<<"$counts"
  else
    pass=0 fail=0 skip=0
  fi
  # CTest failing with no failed test means the run itself broke (e.g. a
  # test program that could not list its tests).
  if [ "$rc" -ne 0 ] && [ "$fail" -eq 0 ]; then fail=1; fi
  add_counts "$pass" "$fail" "$skip"
  [ "$p" = win64 ] && STEP_RESULT="$STEP_RESULT, $(wc -l <"$restarts") started again after Wine failed to start them"
  if [ "$fail" -gt 0 ]; then
    # Failed tests' output and CTest's own complaints; passing tests' lines omitted.
    grep -v -E '^ *(Start +[0-9]+:|[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed)' "$log" | tail -n 300
  fi
  return 0
}

# The release files, made from the four product builds and checked; one
# result per check of tests/release/check.sh.
release_make() {
  "$ROOT/scripts/release.sh" >"$LOGS/release.log" 2>&1 && return 0
  tail -n 40 "$LOGS/release.log"
  return 1
}
release_check() {
  local log="$LOGS/release-test.log" pass fail skip rc
  "$ROOT/tests/release/check.sh" >"$log" 2>&1
  rc=$?
  pass=$(grep -c '^ok ' "$log")
  fail=$(grep -c '^FAIL ' "$log")
  skip=$(grep -c '^skip ' "$log")
  # A check that broke off without a verdict is a failure too.
  if [ "$fail" -eq 0 ] && { [ "$rc" -ne 0 ] || [ "$pass" -eq 0 ]; }; then fail=1; fi
  grep -E '^(FAIL|skip) ' "$log"
  add_counts "$pass" "$fail" "$skip"
}
release_step() {
  if ! build_products || ! step "release build" log "$LOGS/release.log" "making the release files (scripts/release.sh)" release_make; then
    failed_one
    return
  fi
  if ! wait_machine; then
    failed_one
    return
  fi
  step "release tests" log "$LOGS/release-test.log" "checking them as users install them (tests/release/check.sh)" release_check
}

for p in "${steps[@]}"; do
  if [ "$p" = release ]; then
    release_step
    continue
  fi
  if ! build_preset "$p"; then
    failed_one
    continue
  fi
  if ! start_services "$p"; then
    failed_one
    continue
  fi
  what="running its tests"
  [ "$p" = win32 ] && what="running its test programs in $WIN32_WAY 32-bit Wine"
  step "$p tests" tests "$LOGS/$p-test.log" "$what (log: build/logs/$p-test.log)" ctest_preset "$p"
  [ "$p" = win64 ] && stop_wine
  [ "$p" = win32 ] && stop_win32
done

finish
