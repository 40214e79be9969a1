#!/usr/bin/env bash
# Installs what a piece of work needs on a Debian 12 machine (run as root),
# by sets named here and nowhere else:
#
#   scripts/deps.sh SET...        installs those sets
#   scripts/deps.sh               the same as "scripts/deps.sh test"
#   scripts/deps.sh --list        prints each set and what it holds
#   scripts/deps.sh --packages SET...   prints the Debian packages of those sets
#
# Idempotent: what is there already is not installed or built again, and a
# run that finds everything there says nothing and returns at once. Each step
# (installing the packages, building a library for a target, building the
# emulated machine) says one line as it starts and its time when it ends,
# with a progress line at least every 30 s; the details go to build/logs/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$here/.." && pwd)
source "$here/common.sh"
source "$here/apt-sources.sh"
source "$here/win32/common.sh"
CACHE="${VANTOREL_DEPS:-/var/cache/vantorel-deps}"

# ---- The sets -------------------------------------------------------------
SETS=(demo linux linux32 windows win32 win32-machine fuzz release pictures)
set_text() {
  case $1 in
    demo) echo "the Linux x86_64 build (everything its configuration looks for), the demo, the editor's picture under Xvfb" ;;
    linux) echo "the Linux tests beyond that: Debian's VST 2 plug-ins that vstrun's tests load" ;;
    linux32) echo "the Linux i386 build (libX11 for its editor), and qemu-user to run it where the kernel runs no 32-bit programs" ;;
    windows) echo "the MinGW cross compilers, wine64, and libjpeg-turbo and libsndfile built for both Windows targets" ;;
    win32) echo "32-bit Wine: Debian's wine32 where the kernel runs 32-bit programs, else the tools of the emulated machine" ;;
    win32-machine) echo "the emulated machine's image, where the kernel runs no 32-bit programs (VANTOREL_WIN32_EMULATED=1 forces it)" ;;
    fuzz) echo "clang and its libFuzzer runtime" ;;
    release) echo "the packaging tools: NSIS, lintian, dpkg-dev, zip" ;;
    pictures) echo "tools/pictures, which also composes the editor tests' reference pictures in every build: Pillow and the DejaVu fonts" ;;
    test) echo "all of the above" ;;
  esac
}
set_packages() { # $1 set; the win32 set depends on the way this machine runs 32-bit Wine
  case $1 in
    demo) echo build-essential cmake ninja-build python3 googletest libgtest-dev libbenchmark-dev \
               libjpeg62-turbo-dev libsndfile1-dev libx11-dev libcli11-dev nlohmann-json3-dev libstb-dev xvfb xauth ;;
    linux) echo lsp-plugins-vst dpf-plugins-vst zam-plugins ;;
    linux32)
      # libX11 for the i386 vstrun's editor, which loads it when it opens a window.
      echo gcc-multilib g++-multilib libc6-dev:i386 libjpeg62-turbo-dev:i386 libsndfile1-dev:i386 libx11-6:i386
      # As scripts/linux32-run.sh decides: VANTOREL_I386_NATIVE=0 asks for
      # qemu-i386 on any kernel.
      case ${VANTOREL_I386_NATIVE:-} in
        1) ;;
        0) echo qemu-user ;;
        *) "$here/i386-native.sh" 2>/dev/null || echo qemu-user ;;
      esac
      ;;
    windows) echo g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 \
                  binutils-mingw-w64-x86-64 wine64 ;;
    win32)
      if [ "$(win32_way 2>/dev/null)" = native ]; then echo wine32:i386 libwine:i386
      else echo qemu-system-x86 debootstrap kmod cpio e2fsprogs xz-utils
      fi
      ;;
    win32-machine) ;;
    fuzz) echo clang libclang-rt-14-dev ;;
    release) echo nsis lintian dpkg-dev zip ;;
    pictures) echo python3-pil fonts-dejavu-core ;;
  esac
}

usage() {
  say "usage: scripts/deps.sh [SET...] | --list | --packages SET..."
  say "sets: ${SETS[*]} test"
}
# The sets asked for, "test" spelled out, in the order of SETS.
want=()
expand() {
  local s known
  for s in "$@"; do
    case " ${SETS[*]} test " in *" $s "*) ;; *) say "deps: unknown set '$s'" >&2; usage >&2; return 2 ;; esac
  done
  for known in "${SETS[@]}"; do
    for s in "$@"; do [ "$s" = "$known" ] || [ "$s" = test ] && { want+=("$known"); break; }; done
  done
  return 0
}
wants() { case " ${want[*]} " in *" $1 "*) return 0 ;; esac; return 1; }

case "${1:-}" in
  --list)
    for s in "${SETS[@]}" test; do
      printf '%-14s %s\n' "$s" "$(set_text "$s")"
      [ "$s" = test ] || printf '%-14s   %s\n' "" "$(set_packages "$s" | tr '\n' ' ')"
    done
    exit 0
    ;;
  --packages)
    shift
    expand "$@" || exit 2
    for s in "${want[@]}"; do set_packages "$s"; done | tr ' ' '\n' | sed '/^$/d'
    exit 0
    ;;
  -h|--help) usage; exit 0 ;;
  -*) usage >&2; exit 2 ;;
esac
[ $# -eq 0 ] && set -- test
expand "$@" || exit 2

[ "$(id -u)" -eq 0 ] || { echo "deps: run as root (it installs Debian packages)" >&2; exit 1; }

# ---- Debian's packages ----------------------------------------------------
mapfile -t PACKAGES < <(for s in "${want[@]}"; do set_packages "$s"; done | tr ' ' '\n' | sed '/^$/d' | awk '!seen[$0]++')
export DEBIAN_FRONTEND=noninteractive
# Wait for another apt or dpkg (say an unattended upgrade) instead of failing.
APT=(apt-get -o DPkg::Lock::Timeout=600 -o Dpkg::Use-Pty=0)

# dpkg without a sync after every file: a fresh machine's install, not a live system's upgrade.
apt_get_install() { "${APT[@]}" install -y --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "$@"; }

missing_packages() {
  local out p
  [ ${#PACKAGES[@]} -gt 0 ] || return 0
  # One query answers "everything installed?" in a tenth of a second; only
  # when it says no are the packages asked one by one.
  out=$(dpkg-query -W -f='${db:Status-Status}\n' "${PACKAGES[@]}" 2>&1) && ! grep -qv '^installed$' <<<"$out" && return 0
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# apt's package lists are read again when i386 was just added or when they
# are over a day old (they may be stored compressed, as *_Packages.lz4). When
# some cannot be read even after the pauses of apt_update_retrying, the
# install goes on with the lists as they are: it fails only if what it needs
# is missing from them. An install that fails reads them again and tries once
# more; if it still fails and a suite's lists could not be read, it tries a
# third time from the readable ones (install_from_readable).
apt_install() { # packages
  local log="$LOGS/deps-apt.log" lists_age stale=
  : >"$log"
  lists_age=$(( $(date +%s) - $(stat -c %Y /var/lib/apt/lists/partial 2>/dev/null || echo 0) ))
  if [ -n "${NEED_UPDATE:-}" ] || [ "$lists_age" -gt 86400 ] || ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then
    apt_update_retrying "${APT[@]}" update >>"$log" 2>&1 || {
      stale=", from package lists of which some could not be read (see the log)"
      echo "deps: some package lists could not be read; installing from the lists as they are" >>"$log"
    }
  fi
  if ! apt_get_install "$@" >>"$log" 2>&1; then
    echo "deps: the install failed; reading the package lists again and trying once more" >>"$log"
    "${APT[@]}" update >>"$log" 2>&1
    if ! apt_get_install "$@" >>"$log" 2>&1; then
      install_from_readable "$log" "$@" || { show_log "$log" 40; return 1; }
    fi
  fi
  local n
  n=$(grep -c '^Setting up ' "$log")
  STEP_RESULT="installed $(plural "$n" package)$stale${TWINS_SET:+; $(plural "$TWINS_SET" "installed package") set to the version of the i386 packages (see the log)}"
}

# A mirror caught in the middle of a sync can serve one architecture's list
# of a suite (say the security suite's i386 list) that does not match its
# Release file, for hours. The machine's own packages from that suite are then
# newer than any i386 twin apt can see, and a package installed for both
# architectures must have the same version in both: the i386 packages cannot
# go in. This install ranks that suite below the others and sets the installed
# twins to the version their i386 twins get from the readable lists: mostly
# upgrades to the archive's latest release, a few downgrades from that suite
# (which "apt-get upgrade" brings back, for both architectures, once the
# lists can be read). Only when i386 packages are asked for; the log names
# each package set.
install_from_readable() { # $1 log, then the packages
  local log=$1 pin suites twins status
  shift
  mapfile -t suites < <(apt_unreadable_suites "$log")
  [ ${#suites[@]} -gt 0 ] && grep -q ':i386$' < <(printf '%s\n' "$@") || return 1
  pin=$(mktemp)
  apt_pin_below "${suites[@]}" >"$pin"
  mapfile -t twins < <(apt_twins_to_match "${APT[@]}" -o Dir::Etc::Preferences="$pin" -- "$@")
  {
    echo "deps: the lists of ${suites[*]} could not be read; installing from the others, with these installed packages and their i386 twins set to one version:"
    printf '  %s\n' "${twins[@]}"
  } >>"$log"
  apt_get_install -o Dir::Etc::Preferences="$pin" --allow-downgrades "$@" "${twins[@]}" >>"$log" 2>&1
  status=$?
  rm -f "$pin"
  [ $status -eq 0 ] && TWINS_SET=$(( ${#twins[@]} / 2 ))
  return $status
}

if grep -q ':i386$' < <(printf '%s\n' "${PACKAGES[@]}") && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  NEED_UPDATE=1
fi
mapfile -t MISSING < <(missing_packages)
if [ ${#MISSING[@]} -gt 0 ]; then
  step "install" apt "$LOGS/deps-apt.log" \
    "installing $(plural ${#MISSING[@]} package) of the sets ${want[*]}, with what they need (log: build/logs/deps-apt.log)" \
    apt_install "${MISSING[@]}" || exit 1
fi

# ---- MinGW builds of libjpeg-turbo and libsndfile ---------------------------
# From Debian's own source packages. The Windows builds link a lean libjpeg
# (its prefix ends in -lean): decoder code only, no SIMD, no JPEGMEM
# environment lookup, one section per function so the linker keeps only what
# the editor calls. (Nothing links a full libjpeg-turbo, so none is built.)
mingw_prefix() { # $1 triple  $2 variant
  if [ "$2" = libjpeg-turbo-lean ]; then echo "$CACHE/$1-lean"; else echo "$CACHE/$1"; fi
}
mingw_done() { [ -f "$(mingw_prefix "$1" "$2")/.$2.done" ]; }

fetch_source() { # $1 source package
  local name=$1
  ls "$CACHE/src/${name}"_*.orig.tar.* >/dev/null 2>&1 && return 0
  mkdir -p "$CACHE/src"
  if ! apt_has_deb_src; then
    local mirror key
    mirror=$(apt_mirror) || { echo "deps: no Debian mirror found in apt's sources" >&2; return 1; }
    key=$(apt_mirror_key || true)
    local list=/etc/apt/sources.list.d/vantorel-src.sources
    cat > "$list" <<SRC
Types: deb-src
URIs: $mirror
Suites: bookworm
Components: main
${key:+Signed-By: $key}
SRC
    # Only this entry's list is read: the others were read by the install.
    # As there, a list that cannot be read fails only the source it would
    # have named.
    apt_update_retrying "${APT[@]}" update -qq -o Dir::Etc::SourceList="$list" \
      -o Dir::Etc::SourceParts=- -o APT::Get::List-Cleanup=0 || true
  fi
  (cd "$CACHE/src" && "${APT[@]}" source -o APT::Sandbox::User=root --download-only -qq "$name" >/dev/null)
}

build_mingw() { # $1 triple  $2 source package  $3 variant  $4 log
  local triple=$1 name=$2 variant=$3 log=$4 prefix work srcdir tarball
  prefix=$(mingw_prefix "$triple" "$variant")
  mkdir -p "$prefix"
  : >"$log"
  fetch_source "$name" >>"$log" 2>&1 || { show_log "$log" 40; return 1; }
  tarball=$(ls "$CACHE/src/${name}"_*.orig.tar.* | head -1)
  work=$(mktemp -d)
  tar -xf "$tarball" -C "$work"
  srcdir=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -1)
  local proc=x86_64; [ "$triple" = i686-w64-mingw32 ] && proc=i686
  local common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=$proc
                -DCMAKE_C_COMPILER=$triple-gcc-posix -DCMAKE_CXX_COMPILER=$triple-g++-posix
                -DCMAKE_RC_COMPILER=$triple-windres -DCMAKE_INSTALL_PREFIX="$prefix"
                -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=ON)
  case $variant in
    libjpeg-turbo-lean) cmake -S "$srcdir" -B "$work/b" "${common[@]}" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
                          -DWITH_SIMD=OFF -DWITH_ARITH_ENC=OFF -DWITH_ARITH_DEC=OFF \
                          "-DCMAKE_C_FLAGS=-ffunction-sections -fdata-sections -DNO_GETENV" ;;
    libsndfile) cmake -S "$srcdir" -B "$work/b" "${common[@]}" -DBUILD_SHARED_LIBS=OFF -DENABLE_EXTERNAL_LIBS=OFF \
                  -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
                  -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF ;;
  esac >>"$log" 2>&1 || { show_log "$log" 40; rm -rf "$work"; return 1; }
  { cmake --build "$work/b" -j2 && cmake --install "$work/b"; } >>"$log" 2>&1 ||
    { grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | tail -n 60; rm -rf "$work"; return 1; }
  rm -rf "$work"
  touch "$prefix/.${variant}.done"
}

if wants windows; then
  for t in i686-w64-mingw32 x86_64-w64-mingw32; do
    for v in libjpeg-turbo-lean libsndfile; do
      mingw_done "$t" "$v" && continue
      src=${v%-lean}
      log="$LOGS/deps-$t-$v.log"
      step "mingw $v ${t%%-*}" build "$log" "building $v for $t (log: ${log#$ROOT/})" build_mingw "$t" "$src" "$v" "$log" || exit 1
    done
  done
fi

# ---- The emulated machine ---------------------------------------------------
if wants win32-machine && [ "$(win32_way)" = emulated ] &&
   [ "$(cat "$W32_IMAGES/$(w32_image_version)/version" 2>/dev/null)" != "$(w32_image_version)" ]; then
  step "machine image" log "$LOGS/win32-image.log" \
    "building the emulated machine that runs 32-bit Wine (it can take 10 minutes; log: build/logs/win32-image.log)" \
    bash -c '"$0" >"$1" 2>&1 || { tail -n 40 "$1"; exit 1; }' "$here/win32/image.sh" "$LOGS/win32-image.log" || exit 1
fi
exit 0
