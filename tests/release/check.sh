#!/usr/bin/env bash
# Checks the release files in out/release/ (scripts/release.sh) the way users
# install them. One line per check: "ok NAME", "FAIL NAME: why" or
# "skip NAME: why"; exits non-zero when a check failed.
#
#   tests/release/check.sh [RELEASE_FOLDER]
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
REL=${1:-$ROOT/out/release}
WORK="$ROOT/build/release-test"
failed=0
ok() { echo "ok $1"; }
bad() { echo "FAIL $1: $2"; failed=1; }
skip() { echo "skip $1: $2"; }

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ROOT/build/linux64/CMakeCache.txt")
N="Vantorel-$VERSION"
rm -rf "$WORK"
mkdir -p "$WORK"
# The installer's check, further down, runs in Wine prefixes of its own:
# they boot now, while the files and packages are checked. Whatever way this
# script ends, the start-up and the runners end with it (the installer's
# check stops them too, when it gets to run).
setsid "$ROOT/tests/release/installer.sh" --start "$WORK" </dev/null >/dev/null 2>&1 &
starting=$!
# It waits for what it started: while it runs, its process group is ours.
trap 'kill -0 $starting 2>/dev/null && kill -- -$starting 2>/dev/null; "$ROOT/tests/release/installer.sh" --stop "$WORK"' EXIT
trap 'exit 130' INT TERM HUP

# Every file listed, every sum right, nothing else in the folder.
(cd "$REL" && sha256sum --quiet -c SHA256SUMS) >"$WORK/sums.log" 2>&1 &&
  [ "$(cd "$REL" && ls | grep -vx SHA256SUMS | sort)" = "$(awk '{print $2}' "$REL/SHA256SUMS" | sort)" ] &&
  [ "$(wc -l <"$REL/SHA256SUMS")" -eq 12 ] &&
  ok sha256sums || bad sha256sums "$(cat "$WORK/sums.log")"

# Archives: exact member lists (root-owned, one folder), shipped bytes equal to the builds'.
if out=$("${PYTHON:-python3}" "$ROOT/tests/release/archives.py" "$REL" "$ROOT/build" "$VERSION" 2>&1); then
  ok archives
else
  bad archives "$out"
fi

# Every library the linker put into a shipped file is credited in the
# copyright file (read from the builds' linker maps), and LICENSE is its MIT text.
if out=$("${PYTHON:-python3}" "$ROOT/tests/release/notices.py" "$ROOT" "$ROOT"/build/{win32,win64,linux64,linux32} 2>&1); then
  ok notices
else
  bad notices "$out"
fi

# Debian packages: file list, unpacked module validated by the unpacked
# vstrun, lintian without error.
for arch in amd64 i386; do
  deb="$REL/vantorel_${VERSION}_$arch.deb"
  case $arch in amd64) b=linux64 run=() ;; i386) b=linux32 run=("$ROOT/scripts/linux32-run.sh") ;; esac
  want=$(printf '%s\n' ./ ./usr/ ./usr/bin/ ./usr/bin/vstrun ./usr/lib/ ./usr/lib/vst/ ./usr/lib/vst/Vantorel.so \
    ./usr/share/ ./usr/share/doc/ ./usr/share/doc/vantorel/ ./usr/share/doc/vantorel/changelog.gz \
    ./usr/share/doc/vantorel/copyright ./usr/share/man/ ./usr/share/man/man1/ ./usr/share/man/man1/vstrun.1.gz)
  got=$(dpkg-deb -c "$deb" | awk '{print $6}')
  owners=$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)
  arch_field=$(dpkg-deb -f "$deb" Architecture)
  if [ "$got" = "$want" ] && [ "$owners" = root/root ] && [ "$arch_field" = "$arch" ]; then
    ok "deb-$arch-files"
  else
    bad "deb-$arch-files" "$(diff <(echo "$want") <(echo "$got") | tr '\n' ' ') owners=$owners arch=$arch_field"
  fi
  r="$WORK/root-$arch"
  dpkg -x "$deb" "$r"
  if ! cmp -s "$r/usr/lib/vst/Vantorel.so" "$ROOT/build/$b/Vantorel.so"; then
    bad "deb-$arch-validate" "the packaged module differs from build/$b/Vantorel.so"
  elif ! v=$("${run[@]}" "$r/usr/bin/vstrun" --version 2>&1) || [ "$v" != "vstrun $VERSION" ]; then
    bad "deb-$arch-validate" "vstrun --version said '$v', not 'vstrun $VERSION'"
  elif "${run[@]}" "$r/usr/bin/vstrun" validate "$r/usr/lib/vst/Vantorel.so" --level 1 >"$WORK/validate-$arch.log" 2>&1; then
    ok "deb-$arch-validate"
  else
    bad "deb-$arch-validate" "$(tail -n 15 "$WORK/validate-$arch.log")"
  fi
  # The packaged man page documents every command and option the packaged
  # vstrun's --help lists, and no other.
  if out=$("${PYTHON:-python3}" "$ROOT/tests/release/manpage.py" "$r/usr/share/man/man1/vstrun.1.gz" \
      "${run[@]}" "$r/usr/bin/vstrun" 2>&1); then
    ok "deb-$arch-manpage"
  else
    bad "deb-$arch-manpage" "$out"
  fi
  # Errors and warnings fail; the full output stays in the log.
  lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$WORK/lintian-$arch.log" 2>&1
  rc=$?
  if [ $rc -eq 0 ] && ! grep -qE '^[EW]: ' "$WORK/lintian-$arch.log"; then
    ok "deb-$arch-lintian"
  else
    bad "deb-$arch-lintian" "$(grep -E '^[EW]: ' "$WORK/lintian-$arch.log" | head -n 20)"
  fi
done

# The installer in 32-bit Wine, in a prefix of its own (natively a new one;
# emulated, the machine's pristine disk in a machine of its own).
"$ROOT/tests/release/installer.sh" "$REL/$N-windows-setup.exe" "$WORK" || failed=1

# release.sh given a folder of the user's, or an earlier release's folder
# that the user added a file to: it refuses (before building anything), and
# every file stays as it was.
safety="$WORK/release-folder"
mkdir -p "$safety/mine/sub" "$safety/earlier"
printf 'precious\n' >"$safety/mine/song.txt"
printf 'also mine\n' >"$safety/mine/sub/notes.txt"
printf 'a release file\n' >"$safety/earlier/$N-win32.zip"
(cd "$safety/earlier" && sha256sum "$N-win32.zip" >SHA256SUMS)
printf 'precious\n' >"$safety/earlier/my-notes.txt"
before=$(cd "$safety" && find . -printf '%p %s %T@\n' | sort | md5sum)
refused=0
for d in "$safety/mine" "$safety/earlier" "$safety/mine/song.txt"; do
  "$ROOT/scripts/release.sh" "$d" >"$WORK/release-folder.log" 2>&1 && continue
  grep -q 'release: .*nothing was changed\|release: .*is not a folder' "$WORK/release-folder.log" && refused=$((refused + 1))
done
if [ $refused -eq 3 ] && [ "$(cd "$safety" && find . -printf '%p %s %T@\n' | sort | md5sum)" = "$before" ]; then
  ok release-folder-safety
else
  bad release-folder-safety "refused $refused of 3 folders, or a file there changed: $(tail -n 3 "$WORK/release-folder.log")"
fi

exit $failed
