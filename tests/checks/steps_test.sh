#!/usr/bin/env bash
# The set-up commands' plumbing: steps that say what they do and how far
# they are, the sets scripts/deps.sh installs, test.sh's list of steps, and
# the table of where the time went.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
check() { # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fails=$((fails + 1)); fi
}
has() { grep -qE -- "$2" "$1"; }

# A step prints its start, a progress line read from its log while it runs
# (into a file here, not a terminal), its end with the time, and records it.
(
  source "$ROOT/scripts/common.sh"
  export VANTOREL_PROGRESS_EVERY=1 VANTOREL_TIMES="$tmp/times.tsv"
  compile() { for i in 1 2 3; do echo "[$i/12] Building CXX object src/x$i.o" >>"$tmp/build.log"; sleep 0.8; done; }
  tests() {
    printf '      Start  1: One\n      Start  2: Two\n1/5 Test  #1: One ....   Passed    0.01 sec\n' >"$tmp/test.log"
    printf '2/5 Test  #2: Two ....***Failed    0.01 sec\n      Start  3: Three\n' >>"$tmp/test.log"
    sleep 1.6
    STEP_RESULT="4 passed, 1 failed"
    return 3
  }
  step "demo build" build "$tmp/build.log" "building the demo" compile
  step "demo tests" tests "$tmp/test.log" "running its tests" tests
  echo "status $?"
) >"$tmp/out"
check "a step says its start and its end with the time" has "$tmp/out" '^\[[0-9]{2}:[0-9]{2}\] demo build: building the demo$'
check "... and its time when it ends" has "$tmp/out" '\] demo build: done in [0-9]+ s$'
check "a build's progress is a count and a percentage" has "$tmp/out" 'demo build: [123] of 12 compiled or linked \([0-9]+%\), last x[123]\.o \([0-9]+ s so far\)'
check "a test group's progress counts done, failed and running tests" has "$tmp/out" 'demo tests: 2 of 5 tests done, 1 failed; running Three'
check "a step's own result replaces 'done', and its status comes back" \
  bash -c "grep -q 'demo tests: 4 passed, 1 failed in' '$tmp/out' && grep -qx 'status 3' '$tmp/out'"
check "each step's time is recorded" has "$tmp/times.tsv" $'^demo build\t[0-9]+\tdone\tbuilding the demo$'

printf 'Get:1 http://mirror InRelease\n0 upgraded, 25 newly installed, 0 to remove\nGet:1 http://mirror a\nSetting up liba (1.0) ...\n' >"$tmp/apt.log"
check "an install's progress counts the packages set up of all it installs" \
  bash -c "source '$ROOT/scripts/common.sh' && [ \"\$(progress_of apt '$tmp/apt.log')\" = '1 of 25 packages set up, last liba' ]"
printf '3 upgraded, 25 newly installed, 2 downgraded, 0 to remove and 5 not upgraded.\nUnpacking liba:i386 (1.0) ...\nSetting up libb (1.0) ...\nUnpacking libc:i386 (1.0) over (2.0) ...\n' >>"$tmp/apt.log"
check "while dpkg unpacks, the count is of what it unpacked, upgrades and downgrades too" \
  bash -c "source '$ROOT/scripts/common.sh' && [ \"\$(progress_of apt '$tmp/apt.log')\" = '2 of 30 packages unpacked, last libc:i386' ]"

# A background command's status comes back; stopping it (as on exit) stops
# what it started too, so that no build of the emulated machine outlives the run.
(
  source "$ROOT/scripts/common.sh"
  bg_start quick bash -c 'exit 7'
  bg_wait quick
  echo "status $?"
  bg_start slow bash -c 'sleep 300 & echo $! >"$0"; wait' "$tmp/grandchild"
  for _ in $(seq 50); do [ -s "$tmp/grandchild" ] && break; sleep 0.1; done
  bg_stop_all
  gone=
  for _ in $(seq 50); do kill -0 "$(cat "$tmp/grandchild")" 2>/dev/null || { gone=1; break; }; sleep 0.1; done
  [ -n "$gone" ] && echo stopped || echo "still running"
) >"$tmp/bg"
check "a background command's status comes back" grep -qx 'status 7' "$tmp/bg"
check "stopping a background command stops what it started" grep -qx stopped "$tmp/bg"

# The sets: the demo's stays small but holds all that the linux64 build's
# configuration looks for (a thing missing then stays missing in its cache);
# "test" holds every set.
"$ROOT/scripts/deps.sh" --packages demo >"$tmp/demo" && "$ROOT/scripts/deps.sh" --packages test >"$tmp/test"
check "the demo set has what linux64's configuration looks for" \
  bash -c "for p in cmake ninja-build googletest libbenchmark-dev libsndfile1-dev libx11-dev libjpeg62-turbo-dev xvfb; do grep -qx \$p '$tmp/demo' || exit 1; done"
check "the demo set leaves the Windows, release and sanitiser tools out" \
  bash -c "! grep -qE '^(wine|g\+\+-mingw|nsis|lintian|clang|qemu-system|lsp-plugins)' '$tmp/demo'"
check "the test set holds every package of every set" \
  bash -c "for s in demo linux linux32 windows win32 fuzz release pictures; do '$ROOT/scripts/deps.sh' --packages \$s | grep -vxFf '$tmp/test' && exit 1; done; exit 0"
"$ROOT/scripts/deps.sh" --packages demo nosuchset >/dev/null 2>&1
check "an unknown set is refused" [ $? -eq 2 ]
"$ROOT/scripts/deps.sh" --packages test nosuchset >/dev/null 2>&1
check "... also beside 'test'" [ $? -eq 2 ]
# What runs 32-bit code follows the kernel: qemu-user for linux32 only where
# the kernel runs no 32-bit programs, the emulated machine's tools for win32
# where that way is taken (or forced), else Debian's wine32.
"$ROOT/scripts/i386-native.sh" 2>/dev/null
native=$?
VANTOREL_I386_NATIVE= "$ROOT/scripts/deps.sh" --packages linux32 >"$tmp/l32"
if [ "$native" -eq 0 ]; then
  check "linux32 runs natively here, without qemu-user" bash -c "! grep -qx qemu-user '$tmp/l32'"
else
  check "linux32 needs qemu-user here" grep -qx qemu-user "$tmp/l32"
fi
check "linux32 forced under qemu-i386 installs qemu-user" \
  bash -c "VANTOREL_I386_NATIVE=0 '$ROOT/scripts/deps.sh' --packages linux32 | grep -qx qemu-user"
VANTOREL_WIN32_EMULATED=1 "$ROOT/scripts/deps.sh" --packages win32 >"$tmp/w32"
check "the emulated way installs the machine's tools, not wine32" \
  bash -c "grep -qx qemu-system-x86 '$tmp/w32' && ! grep -q '^wine32' '$tmp/w32'"
if [ "$native" -eq 0 ]; then
  VANTOREL_WIN32_EMULATED=0 "$ROOT/scripts/deps.sh" --packages win32 >"$tmp/w32n"
  check "the native way installs wine32, not the machine's tools" \
    bash -c "grep -qx 'wine32:i386' '$tmp/w32n' && ! grep -q '^qemu-system' '$tmp/w32n'"
fi

# test.sh lists every step; an unknown step is refused before anything runs.
"$ROOT/test.sh" --list >"$tmp/list"
check "test.sh --list names each step with what it runs and installs" \
  bash -c "for s in linux64 linux64-asan linux64-tsan linux32 win64 win32 fuzz release; do grep -qx \$s '$tmp/list' || exit 1; done; grep -q 'installs: demo pictures windows win32' '$tmp/list'"
# Every build with tests composes the editor's reference pictures (Pillow).
check "every step installs the picture script's set" \
  bash -c "[ \$(grep -c '^ *installs: .*\bpictures\b' '$tmp/list') -eq 8 ]"
VANTOREL_SKIP_DEPS=1 "$ROOT/test.sh" linux64 nosuchstep >"$tmp/unknown" 2>&1
check "test.sh refuses an unknown step" bash -c "[ $? -eq 2 ] && grep -q \"unknown step 'nosuchstep'\" '$tmp/unknown'"

# How far a build is before ninja counts anything: what its log said last.
printf -- '-- Configuring done\n\n' >"$tmp/configure.log"
printf 'x%.0s' $(seq 200) >"$tmp/long.log"
check "a step's last log line stands in for a count, cut to a line" bash -c "source '$ROOT/scripts/common.sh' &&
  [ \"\$(progress_of build '$tmp/configure.log')\" = '-- Configuring done' ] && [ \"\$(progress_of log '$tmp/long.log' | wc -c)\" -le 91 ]"

# The table: a run's step times beside an older test.sh's output, grouped.
printf '# test.sh\tway=native\n%s\t%s\tdone\tx\n' "linux64 build" 100 "linux64 tests" 30 "install" 65 >"$tmp/new.tsv"
printf 'total\t200\t\twhole run\n' >>"$tmp/new.tsv"
printf 'linux64: 189 passed, 0 failed (243 s)\nwin32 (emulated Wine): 1 passed, 0 failed (632 s)\nall builds: 1823 s\n189 passed, 0 failed\n' >"$tmp/old.out"
"${PYTHON:-python3}" "$ROOT/scripts/time-table.py" before="$tmp/old.out" after="$tmp/new.tsv" >"$tmp/table"
check "the table sums a group and sets runs side by side" has "$tmp/table" '^\| \*\*linux64\*\* \| 4:03 \| 2:10 \|$'
check "... with each step of a group" has "$tmp/table" '^\| &nbsp;&nbsp;tests \|  \| 0:30 \|$'
check "... a group only one run has" has "$tmp/table" '^\| \*\*win32\*\* \| 10:32 \|  \|$'
check "... and the whole run's wall clock" has "$tmp/table" 'wall clock\)\*\* \| 30:23 \| 3:20 \|$'
# A step that ran twice (the release step builds the products again, quickly)
# counts twice in its row; a background step is a group of its own and not
# part of the wall clock's sum.
printf '# r\n%s\t%s\tdone\tx\n' "linux64 build" 100 "machine image" 300 "linux64 build" 2 "total" 130 >"$tmp/twice.tsv"
"${PYTHON:-python3}" "$ROOT/scripts/time-table.py" "$tmp/twice.tsv" >"$tmp/table2"
check "a step that ran twice sums in one row" has "$tmp/table2" '^\| &nbsp;&nbsp;build \| 1:42 \|$'
check "... and a background step stays a group of its own" \
  bash -c "grep -q '^| \*\*machine\*\* | 5:00 |$' '$tmp/table2' && grep -q 'wall clock)\*\* | 2:10 |$' '$tmp/table2'"
: >"$tmp/empty.tsv"
"${PYTHON:-python3}" "$ROOT/scripts/time-table.py" "$tmp/empty.tsv" >/dev/null 2>&1
check "a file without step times is refused" [ $? -eq 1 ]

[ "$fails" -eq 0 ]
