#!/usr/bin/env bash
# Builds every target and runs every test suite that can run here:
#
#   ./test.sh                 all builds: linux64, linux64-asan, linux64-tsan,
#                             linux32 (natively, or under qemu-i386), win64 (Wine),
#                             win32 (32-bit Wine: natively, or in an emulated i386
#                             machine; VANTOREL_WIN32_EMULATED=1 forces the latter),
#                             fuzz (each libFuzzer target briefly),
#                             release (the release files of linux64, linux32,
#                             win64 and win32, installed and checked as users do)
#   ./test.sh linux64 win64   only these builds
#
# Installs the dependencies first (scripts/deps.sh; VANTOREL_SKIP_DEPS=1 skips
# that). Build and test logs go to build/logs/. Ends with one line
# "N passed, N failed" over all builds, and exits non-zero when a build or a
# test failed.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")" && pwd)
source "$ROOT/scripts/common.sh"

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=("${ALL_PRESETS[@]}")
for p in "${presets[@]}"; do
  case " ${ALL_PRESETS[*]} " in *" $p "*) ;; *) say "unknown build '$p' (known: ${ALL_PRESETS[*]})"; exit 2 ;; esac
done

trap cleanup_services EXIT
start=$SECONDS
total_pass=0
total_fail=0
total_skip=0
status=0

if ! install_deps; then
  say "0 passed, 1 failed"
  exit 1
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

# The release files, made from the four product builds and checked; one
# result per check of tests/release/check.sh.
release_step() {
  local log="$LOGS/release-test.log" pass fail skip
  if ! "$ROOT/scripts/release.sh" >"$LOGS/release.log" 2>&1; then
    say "release: making the release files FAILED"
    tail -n 40 "$LOGS/release.log"
    total_fail=$((total_fail + 1))
    status=1
    return
  fi
  "$ROOT/tests/release/check.sh" >"$log" 2>&1
  local rc=$?
  pass=$(grep -c '^ok ' "$log")
  fail=$(grep -c '^FAIL ' "$log")
  skip=$(grep -c '^skip ' "$log")
  # A check that broke off without a verdict is a failure too.
  if [ "$fail" -eq 0 ] && { [ "$rc" -ne 0 ] || [ "$pass" -eq 0 ]; }; then fail=1; fi
  total_pass=$((total_pass + pass))
  total_fail=$((total_fail + fail))
  total_skip=$((total_skip + skip))
  grep -E '^(FAIL|skip) ' "$log"
  say "release: $pass passed, $fail failed$([ "$skip" -gt 0 ] && echo ", $skip skipped") ($((SECONDS - t0)) s)"
  [ "$fail" -gt 0 ] && status=1
}

for p in "${presets[@]}"; do
  t0=$SECONDS
  if [ "$p" = release ]; then
    release_step
    continue
  fi
  if ! build_preset "$p"; then
    total_fail=$((total_fail + 1))
    status=1
    continue
  fi

  case $p in
    win64)
      start_xvfb
      start_wine
      ;;
    win32)
      # Boot (or warm up) once, before CTest asks the first program for its tests.
      if ! start_win32; then
        total_fail=$((total_fail + 1))
        status=1
        continue
      fi
      ;;
    *) start_xvfb ;;
  esac

  junit="$LOGS/$p-junit.xml"
  log="$LOGS/$p-test.log"
  reports="$ROOT/build/$p/gtest-results"
  rm -rf "$junit" "$reports"
  mkdir -p "$reports"
  (cd "$ROOT" && ctest --preset "$p" --output-junit "$junit") >"$log" 2>&1
  rc=$?
  if [ -f "$junit" ] && counts=$(count_junit "$junit" "$reports"); then
    read -r pass fail skip <<<"$counts"
  else
    pass=0 fail=0 skip=0
  fi
  # CTest failing with no failed test means the run itself broke (e.g. a
  # test program that could not list its tests).
  if [ "$rc" -ne 0 ] && [ "$fail" -eq 0 ]; then fail=1; fi
  total_pass=$((total_pass + pass))
  total_fail=$((total_fail + fail))
  total_skip=$((total_skip + skip))
  line="$p: $pass passed, $fail failed"
  [ "$p" = win32 ] && line="$p ($WIN32_WAY Wine): $pass passed, $fail failed"
  [ "$skip" -gt 0 ] && line="$line, $skip skipped"
  say "$line ($((SECONDS - t0)) s)"
  if [ "$fail" -gt 0 ]; then
    status=1
    # Failed tests' output and CTest's own complaints; passing tests' lines omitted.
    grep -v -E '^ *(Start +[0-9]+:|[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed)' "$log" | tail -n 300
  fi
  [ "$p" = win64 ] && stop_wine
  [ "$p" = win32 ] && stop_win32
done

say "all builds: $((SECONDS - start)) s, logs in build/logs/"
if [ "$total_skip" -gt 0 ]; then
  say "$total_pass passed, $total_fail failed, $total_skip skipped"
else
  say "$total_pass passed, $total_fail failed"
fi
exit $status
