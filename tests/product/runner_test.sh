#!/usr/bin/env bash
# What the tests rely on in scripts/win32-run.sh: a program's output and
# exit status come back, a file argument under the repository reaches it
# unchanged, a program and a DLL anywhere in the repository run (not only
# those in build/win32), and the time limit stops a program that runs on.
#   runner_test.sh WIN32_BUILD
set -u
win=$1
run="$(cd "$(dirname "$0")/../.." && pwd)/scripts/win32-run.sh"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

"$run" cmd /c "echo through the runner& exit 3" >"$win/tests/runner-out.txt" 2>/dev/null
rc=$?
out=$(tr -d '\r' <"$win/tests/runner-out.txt")
[ "$rc" -eq 3 ] || fail "exit status: expected 3, got $rc"
[ "$out" = "through the runner" ] || fail "output: got '$out'"

"$run" "$win/vstrun.exe" info "$win/Vantorel.dll" >"$win/tests/runner-info.txt" 2>&1 ||
  fail "vstrun.exe info with a file argument under the repository: $(head -n 3 "$win/tests/runner-info.txt")"
grep -q 'Vantorel' "$win/tests/runner-info.txt" || fail "info did not name the module"

# A copy of the host and the module in another folder of the build tree,
# named by absolute and by relative paths.
elsewhere=$(mktemp -d "$win/../.runner-elsewhere.XXXXXX")
trap 'rm -rf "$elsewhere"' EXIT
cp "$win/vstrun.exe" "$win/Vantorel.dll" "$elsewhere/"
"$run" "$elsewhere/vstrun.exe" info "$elsewhere/Vantorel.dll" >"$win/tests/runner-elsewhere.txt" 2>&1 &&
  grep -q 'Vantorel' "$win/tests/runner-elsewhere.txt" ||
  fail "a program and a DLL outside build/win32: $(head -n 5 "$win/tests/runner-elsewhere.txt")"
(cd "$elsewhere" && "$run" ./vstrun.exe info Vantorel.dll) >"$win/tests/runner-elsewhere.txt" 2>&1 &&
  grep -q 'Vantorel' "$win/tests/runner-elsewhere.txt" ||
  fail "the same by relative paths: $(head -n 5 "$win/tests/runner-elsewhere.txt")"
# Replaced after a run (as a rebuild does): the new file runs, not the old.
cp "$win/tests/fixtures/Automates.dll" "$elsewhere/Vantorel.dll"
"$run" "$elsewhere/vstrun.exe" info "$elsewhere/Vantorel.dll" >"$win/tests/runner-elsewhere.txt" 2>&1 &&
  grep -q '^unique id *Auto ' "$win/tests/runner-elsewhere.txt" ||
  fail "a DLL replaced after a run: $(head -n 8 "$win/tests/runner-elsewhere.txt")"

start=$SECONDS
VANTOREL_WIN32_TIMEOUT=3 "$run" "$win/vstrun.exe" editor "$win/Vantorel.dll" --seconds 60 >/dev/null 2>&1
rc=$?
[ "$rc" -eq 124 ] || fail "time limit: expected status 124, got $rc"
[ $((SECONDS - start)) -lt 45 ] || fail "time limit: the program ran $((SECONDS - start)) s"

# GoogleTest's variables reach the program (a sharded test program relies on
# them), either way.
out=$(GTEST_SHARD_INDEX=3 "$run" cmd /c "echo %GTEST_SHARD_INDEX%" 2>/dev/null | tr -d '\r')
[ "$out" = 3 ] || fail "GTEST_SHARD_INDEX did not reach the program: got '$out'"

[ $failures -eq 0 ] && echo "runner: status, output, file arguments, programs elsewhere, time limit and GoogleTest's variables as expected"
exit $((failures > 0))
