#!/usr/bin/env bash
# Makes the release files into out/release/ (or the folder $1) from the
# builds build/win32, build/win64, build/linux64 and build/linux32, building
# what is missing of vstrun and the module first:
#
#   Vantorel-V-windows-setup.exe        installer (NSIS): 32-bit plug-in, 64-bit one on 64-bit Windows
#   Vantorel-V-win32.zip, -win64.zip    Vantorel.dll, vstrun.exe, README.txt, LICENSE, THIRD-PARTY.txt
#   vantorel_V_amd64.deb, _i386.deb     /usr/lib/vst/Vantorel.so, /usr/bin/vstrun, man page, docs
#   Vantorel-V-linux64.tar.gz, -linux32.tar.gz   Vantorel.so, vstrun, README.txt, LICENSE, THIRD-PARTY.txt
#   Vantorel-V-<build>-debug.tar.gz     the .debug files of each build, for symbolising crash reports
#   Vantorel-V-source.tar.gz            the commit's source (git archive), for rebuilding and relinking
#   SHA256SUMS
#
# The output folder may be new, empty, or one that an earlier run filled
# (SHA256SUMS and exactly the files it lists); anything else is refused, and
# only the earlier run's files are replaced. Everything is made in the
# staging folder first, so a failed run leaves the output folder as it was.
#
# V is the CMake project's version. Every file is byte-reproducible: times
# come from SOURCE_DATE_EPOCH (default: the last commit's time), archive
# members are sorted and owned by root, and nothing depends on the folder
# the repository is in.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/common.sh"

OUT=${1:-$ROOT/out/release}
STAGE="$ROOT/build/release-stage"
NEW="$STAGE/out"
MAINTAINER=${VANTOREL_MAINTAINER:-Kestrom <vantorel@kestrom.invalid>}
BUILDS=(win32 win64 linux64 linux32)

fail() { say "release: $*" >&2; exit 1; }

# The files an earlier run left in $1: printed one a line when the folder
# holds SHA256SUMS and exactly the release files it lists; fails otherwise.
earlier_release() { # $1 folder
  local d=$1 name listed others
  [ -f "$d/SHA256SUMS" ] && [ ! -L "$d/SHA256SUMS" ] || return 1
  listed=$(awk '{ print (NF == 2 && length($1) == 64 && $1 ~ /^[0-9a-f]+$/) ? $2 : "/bad" }' "$d/SHA256SUMS")
  [ -n "$listed" ] || return 1
  while IFS= read -r name; do
    [[ $name =~ ^(Vantorel-|vantorel_)[A-Za-z0-9._+-]+$ ]] || [ "$name" = SHA256SUMS ] || return 1
  done <<<"$listed"
  others=$(cd "$d" && find . -mindepth 1 -maxdepth 1 ! -name SHA256SUMS -printf '%P\n' | sort)
  while IFS= read -r name; do
    [ -n "$name" ] || continue
    grep -qxF -- "$name" <<<"$listed" && [ -f "$d/$name" ] && [ ! -L "$d/$name" ] || return 1
  done <<<"$others"
  printf '%s\n' "$listed" SHA256SUMS
}

# Refuse an output folder that holds anything not made by an earlier run,
# before spending minutes on builds; and one in the staging folder, which
# each run makes anew.
case "$(realpath -m -- "$OUT")/" in
  "$STAGE"/*) fail "$OUT is inside ${STAGE#$ROOT/}, which every run empties; name another folder" ;;
esac
if [ -e "$OUT" ] || [ -L "$OUT" ]; then
  [ -d "$OUT" ] || fail "$OUT exists and is not a folder; name a new or empty folder"
  if [ -n "$(find "$OUT" -mindepth 1 -maxdepth 1 -print -quit)" ] && ! earlier_release "$OUT" >/dev/null; then
    fail "$OUT is not empty and was not made by scripts/release.sh (it holds $(cd "$OUT" && find . -mindepth 1 -maxdepth 1 -printf '%P\n' | sort | head -n 3 | paste -sd, -)...); nothing was changed: name a new or empty folder"
  fi
fi

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct) || fail "no commit time for SOURCE_DATE_EPOCH"
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
umask 022

for p in "${BUILDS[@]}"; do
  log="$LOGS/$p-release.log"
  : >"$log"
  if [ ! -f "$ROOT/build/$p/build.ninja" ] || [ ! -f "$ROOT/build/$p/CMakeCache.txt" ]; then
    (cd "$ROOT" && cmake --preset "$p") >>"$log" 2>&1 || { show_log "$log" 60; fail "$p: configure FAILED"; }
  fi
  (cd "$ROOT" && cmake --build "build/$p" --target vstrun Vantorel) >>"$log" 2>&1 ||
    { grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | tail -n 80; fail "$p: build FAILED"; }
done

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ROOT/build/linux64/CMakeCache.txt")
[ -n "$VERSION" ] || fail "no project version in build/linux64/CMakeCache.txt"
for p in "${BUILDS[@]}"; do
  v=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ROOT/build/$p/CMakeCache.txt")
  [ "$v" = "$VERSION" ] || fail "build/$p is of version '$v', build/linux64 of $VERSION: reconfigure it"
done
N="Vantorel-$VERSION"

# The staging folder is ours (under build/); the output folder is touched
# only at the end.
rm -rf "$STAGE"
mkdir -p "$STAGE" "$NEW"

# Fixed times and modes on everything staged, folders included.
settle() { # $1 folder
  find "$1" -type d -exec chmod 0755 {} +
  find "$1" -type f -exec chmod 0644 {} +
  find "$1" -type f \( -name vstrun -o -name '*.exe' \) -exec chmod 0755 {} +
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}
readme() { # $1 destination  [$2 crlf]
  sed "s/@VERSION@/$VERSION/g" "$ROOT/packaging/README.txt" >"$1"
  [ "${2:-}" = crlf ] && sed -i 's/$/\r/' "$1"
  return 0
}
# Our licence and the notices of the libraries linked into the files.
notices() { # $1 folder  [$2 crlf]
  cp "$ROOT/LICENSE" "$1/LICENSE"
  [ "${2:-}" = crlf ] && sed -i 's/$/\r/' "$1/LICENSE"
  "$PYTHON" "$ROOT/packaging/third-party.py" "$ROOT/packaging/debian/copyright" "$VERSION" "$1/THIRD-PARTY.txt" ${2:-}
}
targz() { # $1 archive, $2 folder, $3... members
  local a=$1 d=$2
  shift 2
  tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --format=gnu -C "$d" -cf - "$@" | gzip -9n >"$a"
}

# Archives for musicians, and the debug information of each build.
for p in "${BUILDS[@]}"; do
  b="$ROOT/build/$p" d="$STAGE/$p/$N-$p" g="$STAGE/$p-debug/$N-$p-debug"
  mkdir -p "$d" "$g"
  case $p in win*) notices "$d" crlf && notices "$g" crlf ;; *) notices "$d" && notices "$g" ;; esac
  case $p in
    win*) files=(Vantorel.dll vstrun.exe) ;;
    *) files=(Vantorel.so vstrun) ;;
  esac
  for f in "${files[@]}"; do
    cp "$b/$f" "$d/$f" && cp "$b/$f.debug" "$g/$f.debug" || fail "$p: $f or $f.debug missing"
  done
  case $p in
    win*)
      readme "$d/README.txt" crlf
      settle "$STAGE/$p"
      (cd "$STAGE/$p" && find "$N-$p" -type f | sort | zip -X -D -9 -q "$NEW/$N-$p.zip" -@) || fail "zip $p"
      ;;
    *)
      readme "$d/README.txt"
      settle "$STAGE/$p"
      targz "$NEW/$N-$p.tar.gz" "$STAGE/$p" "$N-$p" || fail "tar $p"
      ;;
  esac
  settle "$STAGE/$p-debug"
  targz "$NEW/$N-$p-debug.tar.gz" "$STAGE/$p-debug" "$N-$p-debug" || fail "tar $p-debug"
done

# Debian packages (native: the version has no Debian revision).
date_r=$(date -u -R -d "@$SOURCE_DATE_EPOCH")
for p in linux64 linux32; do
  case $p in linux64) arch=amd64 ;; linux32) arch=i386 ;; esac
  r="$STAGE/deb-$arch"
  b="$ROOT/build/$p"
  doc="$r/usr/share/doc/vantorel"
  mkdir -p "$r/DEBIAN" "$r/usr/lib/vst" "$r/usr/bin" "$r/usr/share/man/man1" "$doc"
  cp "$b/Vantorel.so" "$r/usr/lib/vst/Vantorel.so"
  cp "$b/vstrun" "$r/usr/bin/vstrun"
  sed "s/@VERSION@/$VERSION/g" "$ROOT/packaging/vstrun.1" | gzip -9n >"$r/usr/share/man/man1/vstrun.1.gz"
  cp "$ROOT/packaging/debian/copyright" "$doc/copyright"
  sed -e "s/@VERSION@/$VERSION/g" -e "s/@MAINTAINER@/$MAINTAINER/" -e "s/@DATE@/$date_r/" \
    "$ROOT/packaging/debian/changelog" | gzip -9n >"$doc/changelog.gz"
  # Library dependencies as Debian computes them (dpkg-shlibdeps wants a
  # debian/control to read; an empty one in a scratch folder will do).
  sd="$STAGE/shlibdeps-$arch"
  mkdir -p "$sd/debian"
  : >"$sd/debian/control"
  deps=$(cd "$sd" && dpkg-shlibdeps -O -e"$r/usr/bin/vstrun" -e"$r/usr/lib/vst/Vantorel.so" 2>"$LOGS/shlibdeps-$arch.log" |
    sed -n 's/^shlibs:Depends=//p')
  [ -n "$deps" ] || { cat "$LOGS/shlibdeps-$arch.log"; fail "dpkg-shlibdeps found no dependencies for $arch"; }
  # Installed-Size as dpkg-gencontrol counts it: each file's size in KiB,
  # rounded up, and 1 for each folder; nothing of the file system's own.
  size=$(cd "$r" && find . -mindepth 1 -path ./DEBIAN -prune -o \( -type f -printf '%s\n' -o -printf 'dir\n' \) |
    awk '$1 == "dir" { n += 1; next } { n += int(($1 + 1023) / 1024) } END { print n + 0 }')
  sed -e "s/@VERSION@/$VERSION/" -e "s/@ARCH@/$arch/" -e "s/@MAINTAINER@/$MAINTAINER/" \
    -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$deps/" "$ROOT/packaging/debian/control" >"$r/DEBIAN/control"
  (cd "$r" && find usr -type f | sort | xargs md5sum) >"$r/DEBIAN/md5sums"
  settle "$r"
  dpkg-deb --root-owner-group -Zxz --build "$r" "$NEW/vantorel_${VERSION}_$arch.deb" >"$LOGS/dpkg-deb-$arch.log" 2>&1 ||
    { cat "$LOGS/dpkg-deb-$arch.log"; fail "dpkg-deb $arch"; }
done

# The Windows installer; File keeps each file's time, settled above.
w="$STAGE/nsis"
mkdir -p "$w/win32" "$w/win64"
cp "$ROOT/build/win32/Vantorel.dll" "$w/win32/" && cp "$ROOT/build/win64/Vantorel.dll" "$w/win64/" || fail "no DLLs"
readme "$w/README.txt" crlf
notices "$w" crlf
settle "$w"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$VERSION" -DSTAGE="$w" -DOUTFILE="$NEW/$N-windows-setup.exe" \
  "$ROOT/packaging/windows/vantorel.nsi" >"$LOGS/makensis.log" 2>&1 || { cat "$LOGS/makensis.log"; fail "makensis"; }

# The source of the commit, for rebuilding, and for relinking vstrun.exe
# with another libsndfile; with the notices beside LICENSE.
if [ -n "$(git -C "$ROOT" status --porcelain --untracked-files=no)" ]; then
  say "release: warning: uncommitted changes; the source archive holds the commit $(git -C "$ROOT" rev-parse --short HEAD) without them" >&2
fi
mkdir -p "$STAGE/source"
notices "$STAGE/source"
git -C "$ROOT" -c tar.umask=0022 archive --format=tar --prefix="$N-source/" \
  --add-file="$STAGE/source/THIRD-PARTY.txt" HEAD | gzip -9n >"$NEW/$N-source.tar.gz" || fail "git archive"

(cd "$NEW" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%P\n' | sort | xargs sha256sum >SHA256SUMS)
touch -d "@$SOURCE_DATE_EPOCH" "$NEW"/*

# Only now the output folder: the earlier run's files out, the new ones in.
if [ -d "$OUT" ]; then
  earlier=$(earlier_release "$OUT") || earlier=
  if [ -z "$earlier" ] && [ -n "$(find "$OUT" -mindepth 1 -maxdepth 1 -print -quit)" ]; then
    fail "$OUT changed while the release was made and now holds files of someone else's; the release is in ${NEW#$ROOT/}"
  fi
  while IFS= read -r f; do
    [ -n "$f" ] && rm -f -- "$OUT/$f"
  done <<<"$earlier"
fi
mkdir -p "$OUT"
mv "$NEW"/* "$OUT"/
say "release $VERSION in ${OUT#$ROOT/}/:"
(cd "$OUT" && ls -l --time-style=+ | tail -n +2 | awk '{printf "  %9d  %s\n", $5, $NF}')