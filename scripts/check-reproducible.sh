#!/usr/bin/env bash
# Builds the release of the current commit twice, in two fresh clones at
# different paths and at different times, and compares the results byte for
# byte: first the release files, then every file they were made from. Names
# the first file that differs. Takes a while (eight builds); run on request.
#
#   scripts/check-reproducible.sh [WORK_FOLDER]    (default: a new folder in /tmp)
#
# Uncommitted changes are not part of the check: it builds the commit.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=${1:-$(mktemp -d /tmp/vantorel-repro.XXXXXX)}
commit=$(git -C "$ROOT" rev-parse HEAD) || exit 1
echo "check-reproducible: commit $commit, in $WORK"

build_one() { # $1 folder name
  local src="$WORK/$1/vantorel"
  rm -rf "$WORK/$1"
  mkdir -p "$WORK/$1"
  git clone -q --no-hardlinks "$ROOT" "$src" && git -C "$src" checkout -q --detach "$commit" || return 1
  echo "check-reproducible: building in $src ($(date -u +%T))"
  "$src/scripts/release.sh" >"$WORK/$1.log" 2>&1 || { tail -n 30 "$WORK/$1.log"; return 1; }
}

build_one first || { echo "check-reproducible: the first build FAILED"; exit 1; }
sleep 2  # a later second, so that any leaked clock shows
build_one second-build || { echo "check-reproducible: the second build FAILED"; exit 1; }

a="$WORK/first/vantorel" b="$WORK/second-build/vantorel"
# The release files, then what went into them (staged binaries, packages' contents).
status=0
for part in out/release build/release-stage; do
  list_a=$(cd "$a/$part" && find . -type f | sort)
  list_b=$(cd "$b/$part" && find . -type f | sort)
  if [ "$list_a" != "$list_b" ]; then
    echo "check-reproducible: $part holds different files:"
    diff <(echo "$list_a") <(echo "$list_b") | head -n 10
    status=1
    continue
  fi
  n=0
  while read -r f; do
    n=$((n + 1))
    if ! cmp -s "$a/$part/$f" "$b/$part/$f"; then
      echo "check-reproducible: DIFFERS: $part/${f#./}"
      cmp "$a/$part/$f" "$b/$part/$f" | head -n 1
      status=1
      break
    fi
  done <<<"$list_a"
  [ $status -eq 0 ] && echo "check-reproducible: $part: $n files, all identical"
done
if [ $status -eq 0 ]; then
  echo "check-reproducible: REPRODUCIBLE ($(cd "$a/out/release" && sha256sum SHA256SUMS | cut -c1-16))"
fi
exit $status
