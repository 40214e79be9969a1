#!/usr/bin/env bash
# Builds the release of the current commit twice, in two fresh clones, and
# compares the results byte for byte: first the release files (the source
# archive among them), then every file they were made from. Names the first
# file that differs. The two builds differ in all that must not matter:
#
#   - file system: the second clone lives on a tmpfs (its own mount when this
#     runs as root and may mount, else /dev/shm), the first on WORK_FOLDER's;
#   - path: folders of different lengths;
#   - umask (022, then 077) and locale (C.UTF-8, then POSIX);
#   - time: one after the other.
#
#   scripts/check-reproducible.sh [WORK_FOLDER]    (default: a new folder in /tmp)
#
# Takes a while (eight builds, no compiler cache); run on request. Uncommitted
# changes are not part of the check: it builds the commit.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=${1:-$(mktemp -d /tmp/vantorel-repro.XXXXXX)}
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
commit=$(git -C "$ROOT" rev-parse HEAD)
say() { echo "check-reproducible: $*"; }
say "commit $commit, in $WORK"

# The second clone's file system: a tmpfs, and another type than the first's.
fstype() { stat -f -c %T "$1"; }
SECOND_FS="$WORK/tmpfs"
mounted=0
mkdir -p "$SECOND_FS"
if [ "$(id -u)" -eq 0 ] && mount -t tmpfs -o size=12g,mode=0755 vantorel-repro "$SECOND_FS" 2>/dev/null; then
  mounted=1
elif [ "$(fstype /dev/shm 2>/dev/null)" = tmpfs ]; then
  rmdir "$SECOND_FS"
  SECOND_FS=$(mktemp -d /dev/shm/vantorel-repro.XXXXXX)
else
  say "no tmpfs to build the second clone on (not root, and /dev/shm is not one)"
  exit 2
fi
cleanup() {
  if [ $mounted -eq 1 ]; then umount "$SECOND_FS" 2>/dev/null || true; rmdir "$SECOND_FS" 2>/dev/null || true; fi
  case $SECOND_FS in /dev/shm/vantorel-repro.*) rm -rf "$SECOND_FS" ;; esac
}
trap cleanup EXIT
if [ "$(fstype "$SECOND_FS")" = "$(fstype "$WORK")" ]; then
  say "the second clone's file system ($(fstype "$SECOND_FS")) is the same type as the first's; pick a WORK_FOLDER off tmpfs"
  exit 2
fi

build_one() { # $1 folder (made here), $2 umask, $3 locale
  local src="$1/vantorel" log="$1.log"
  mkdir -p "$1"
  (
    umask "$2"
    # No compiler cache, nothing of the caller's build settings.
    unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER CCACHE_DIR CCACHE_BASEDIR CCACHE_NOHASHDIR SOURCE_DATE_EPOCH
    export LC_ALL=$3 LANG=$3
    git clone -q --no-hardlinks "$ROOT" "$src" && git -C "$src" checkout -q --detach "$commit"
    say "building in $src ($(fstype "$src"), umask $2, $3, $(date -u +%T))"
    "$src/scripts/release.sh" >"$log" 2>&1
  ) || { tail -n 30 "$log"; return 1; }
}

build_one "$WORK/first" 022 C.UTF-8 || { say "the first build FAILED"; exit 1; }
sleep 2  # a later second, so that any leaked clock shows
build_one "$SECOND_FS/second-build" 077 POSIX || { say "the second build FAILED"; exit 1; }

a="$WORK/first/vantorel" b="$SECOND_FS/second-build/vantorel"
# The release files, then what went into them (staged binaries, packages' contents).
status=0
for part in out/release build/release-stage; do
  list_a=$(cd "$a/$part" && find . -type f | LC_ALL=C sort)
  list_b=$(cd "$b/$part" && find . -type f | LC_ALL=C sort)
  if [ "$list_a" != "$list_b" ]; then
    say "$part holds different files:"
    diff <(echo "$list_a") <(echo "$list_b") | head -n 10 || true
    status=1
    continue
  fi
  n=0 differs=0
  while read -r f; do
    n=$((n + 1))
    if ! cmp -s "$a/$part/$f" "$b/$part/$f"; then
      say "DIFFERS: $part/${f#./}"
      cmp "$a/$part/$f" "$b/$part/$f" | head -n 1 || true
      differs=$((differs + 1))
    fi
  done <<<"$list_a"
  if [ $differs -eq 0 ]; then
    say "$part: $n files, all identical"
  else
    say "$part: $differs of $n files differ"
    status=1
  fi
done
if [ $status -eq 0 ]; then
  say "REPRODUCIBLE ($(cd "$a/out/release" && ls | wc -l) release files; SHA256SUMS $(cd "$a/out/release" && sha256sum SHA256SUMS | cut -c1-16))"
fi
exit $status
