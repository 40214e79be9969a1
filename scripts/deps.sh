#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian 12 machine (run as root).
# Idempotent: a second run checks and returns quickly.
set -euo pipefail

[ "$(id -u)" -eq 0 ] || { echo "deps: run as root (it installs Debian packages)" >&2; exit 1; }

here=$(cd "$(dirname "$0")" && pwd)
source "$here/apt-sources.sh"
source "$here/win32/common.sh"
CACHE="${VANTOREL_DEPS:-/var/cache/vantorel-deps}"

APT_PACKAGES=(
  build-essential cmake ninja-build python3
  gcc-multilib g++-multilib
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  nasm qemu-user wine64 xvfb xauth
  googletest libgtest-dev libbenchmark-dev
  libjpeg62-turbo-dev libsndfile1-dev libx11-dev
  libcli11-dev nlohmann-json3-dev libstb-dev
  python3-pil fonts-dejavu-core
  clang libclang-rt-14-dev
  lsp-plugins-vst dpf-plugins-vst zam-plugins
  nsis lintian dpkg-dev zip
)
APT_I386=(libc6-dev:i386 libjpeg62-turbo-dev:i386 libsndfile1-dev:i386)
# The shipped 32-bit Windows module runs in 32-bit Wine, and the WoW64
# prefix in wine64 beside it: Debian's wine32 where the kernel runs 32-bit
# programs, else an emulated x86_64 machine with both that
# scripts/win32/image.sh builds from the archive.
WIN32_WAY=$(win32_way)
if [ "$WIN32_WAY" = native ]; then
  APT_I386+=(wine32:i386 libwine:i386)
else
  APT_PACKAGES+=(qemu-system-x86 debootstrap kmod cpio e2fsprogs xz-utils)
fi

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  NEED_UPDATE=1
fi
# One query answers "everything installed?" in a tenth of a second; only
# when it says no do we look for the missing packages one by one.
all_installed() {
  local out
  out=$(dpkg-query -W -f='${db:Status-Status}\n' "${APT_PACKAGES[@]}" "${APT_I386[@]}" 2>&1) || return 1
  ! grep -qv '^installed$' <<<"$out"
}
if [ -n "${NEED_UPDATE:-}" ] || ! all_installed; then
  for p in "${APT_PACKAGES[@]}" "${APT_I386[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
fi
if [ ${#missing[@]} -gt 0 ] || [ -n "${NEED_UPDATE:-}" ]; then
  echo "deps: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# MinGW builds of libjpeg-turbo and libsndfile, from Debian's own source packages.
# The plug-in itself links a lean libjpeg of its own (its prefix ends in
# -lean): decoder code only, no SIMD, no JPEGMEM environment lookup, one
# section per function so the linker keeps only what the editor calls.
build_mingw() { # $1 triple  $2 source package  [$3 variant, default: the package]
  local triple=$1 name=$2 variant=${3:-$2} prefix="$CACHE/$1"
  [ "$variant" = libjpeg-turbo-lean ] && prefix="$CACHE/$1-lean"
  [ -f "$prefix/.${variant}.done" ] && return 0
  mkdir -p "$CACHE/src" "$prefix"
  if ! ls "$CACHE/src/${name}"_*.orig.tar.* >/dev/null 2>&1; then
    if ! apt_has_deb_src; then
      local mirror key
      mirror=$(apt_mirror) || { echo "deps: no Debian mirror found in apt's sources" >&2; return 1; }
      key=$(apt_mirror_key || true)
      cat > /etc/apt/sources.list.d/vantorel-src.sources <<SRC
Types: deb-src
URIs: $mirror
Suites: bookworm
Components: main
${key:+Signed-By: $key}
SRC
      apt-get update -qq
    fi
    (cd "$CACHE/src" && apt-get source -o APT::Sandbox::User=root --download-only -qq "$name" >/dev/null)
  fi
  local tarball work
  tarball=$(ls "$CACHE/src/${name}"_*.orig.tar.* | head -1)
  work=$(mktemp -d)
  tar -xf "$tarball" -C "$work"
  local srcdir
  srcdir=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -1)
  local proc=x86_64; [ "$triple" = i686-w64-mingw32 ] && proc=i686
  local common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=$proc
                -DCMAKE_C_COMPILER=$triple-gcc-posix -DCMAKE_CXX_COMPILER=$triple-g++-posix
                -DCMAKE_RC_COMPILER=$triple-windres -DCMAKE_INSTALL_PREFIX="$prefix"
                -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=ON)
  local log="$CACHE/$triple-$variant.log"
  case $variant in
    libjpeg-turbo-lean) cmake -S "$srcdir" -B "$work/b" "${common[@]}" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
                          -DWITH_SIMD=OFF -DWITH_ARITH_ENC=OFF -DWITH_ARITH_DEC=OFF \
                          "-DCMAKE_C_FLAGS=-ffunction-sections -fdata-sections -DNO_GETENV" >"$log" 2>&1 ;;
    libjpeg-turbo) cmake -S "$srcdir" -B "$work/b" "${common[@]}" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF >"$log" 2>&1 ;;
    libsndfile) cmake -S "$srcdir" -B "$work/b" "${common[@]}" -DBUILD_SHARED_LIBS=OFF -DENABLE_EXTERNAL_LIBS=OFF \
                  -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
                  -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF >"$log" 2>&1 ;;
  esac || { cat "$log" >&2; rm -rf "$work"; return 1; }
  { cmake --build "$work/b" -j2 && cmake --install "$work/b"; } >>"$log" 2>&1 ||
    { tail -n 80 "$log" >&2; rm -rf "$work"; return 1; }
  rm -rf "$work"
  touch "$prefix/.${variant}.done"
  echo "deps: built $variant for $triple" >&2
}
for t in i686-w64-mingw32 x86_64-w64-mingw32; do
  build_mingw "$t" libjpeg-turbo
  build_mingw "$t" libjpeg-turbo libjpeg-turbo-lean
  build_mingw "$t" libsndfile
done

if [ "$WIN32_WAY" = emulated ]; then
  "$here/win32/image.sh"
fi
