#!/usr/bin/env bash
# Makes the release files into out/release/ (or $1) from the builds
# build/win32, build/win64, build/linux64 and build/linux32, building what is
# missing of vstrun and the module first:
#
#   Vantorel-V-windows-setup.exe        installer (NSIS): 32-bit plug-in, 64-bit one on 64-bit Windows
#   Vantorel-V-win32.zip, -win64.zip    Vantorel.dll, vstrun.exe, README.txt
#   vantorel_V_amd64.deb, _i386.deb     /usr/lib/vst/Vantorel.so, /usr/bin/vstrun, man page, docs
#   Vantorel-V-linux64.tar.gz, -linux32.tar.gz   Vantorel.so, vstrun, README.txt
#   Vantorel-V-<build>-debug.tar.gz     the .debug files of each build, for symbolising crash reports
#   SHA256SUMS
#
# V is the CMake project's version. Every file is byte-reproducible: times
# come from SOURCE_DATE_EPOCH (default: the last commit's time), archive
# members are sorted and owned by root, and nothing depends on the folder
# the repository is in.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/common.sh"

OUT=${1:-$ROOT/out/release}
STAGE="$ROOT/build/release-stage"
MAINTAINER=${VANTOREL_MAINTAINER:-Kestrom <vantorel@kestrom.invalid>}
BUILDS=(win32 win64 linux64 linux32)

fail() { say "release: $*"; exit 1; }

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

rm -rf "$STAGE" "$OUT"
mkdir -p "$STAGE" "$OUT"

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
      (cd "$STAGE/$p" && find "$N-$p" -type f | sort | zip -X -D -9 -q "$OUT/$N-$p.zip" -@) || fail "zip $p"
      ;;
    *)
      readme "$d/README.txt"
      settle "$STAGE/$p"
      targz "$OUT/$N-$p.tar.gz" "$STAGE/$p" "$N-$p" || fail "tar $p"
      ;;
  esac
  settle "$STAGE/$p-debug"
  targz "$OUT/$N-$p-debug.tar.gz" "$STAGE/$p-debug" "$N-$p-debug" || fail "tar $p-debug"
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
  size=$(du -k -s --apparent-size --exclude=DEBIAN "$r" | cut -f1)
  sed -e "s/@VERSION@/$VERSION/" -e "s/@ARCH@/$arch/" -e "s/@MAINTAINER@/$MAINTAINER/" \
    -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$deps/" "$ROOT/packaging/debian/control" >"$r/DEBIAN/control"
  (cd "$r" && find usr -type f | sort | xargs md5sum) >"$r/DEBIAN/md5sums"
  settle "$r"
  dpkg-deb --root-owner-group -Zxz --build "$r" "$OUT/vantorel_${VERSION}_$arch.deb" >"$LOGS/dpkg-deb-$arch.log" 2>&1 ||
    { cat "$LOGS/dpkg-deb-$arch.log"; fail "dpkg-deb $arch"; }
done

# The Windows installer; File keeps each file's time, settled above.
w="$STAGE/nsis"
mkdir -p "$w/win32" "$w/win64"
cp "$ROOT/build/win32/Vantorel.dll" "$w/win32/" && cp "$ROOT/build/win64/Vantorel.dll" "$w/win64/" || fail "no DLLs"
readme "$w/README.txt" crlf
settle "$w"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$VERSION" -DSTAGE="$w" -DOUTFILE="$OUT/$N-windows-setup.exe" \
  "$ROOT/packaging/windows/vantorel.nsi" >"$LOGS/makensis.log" 2>&1 || { cat "$LOGS/makensis.log"; fail "makensis"; }

(cd "$OUT" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%P\n' | sort | xargs sha256sum >SHA256SUMS)
touch -d "@$SOURCE_DATE_EPOCH" "$OUT"/*
say "release $VERSION in ${OUT#$ROOT/}/:"
(cd "$OUT" && ls -l --time-style=+ | tail -n +2 | awk '{printf "  %9d  %s\n", $5, $NF}')
