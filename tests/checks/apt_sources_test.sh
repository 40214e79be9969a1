#!/usr/bin/env bash
# The set-up's reading of apt's sources, on fixture files in a temporary
# folder: both forms Debian 12 machines come with, comments, disabled
# entries and the security suite listed before the archive.
set -u
source "$(dirname "$0")/../../scripts/apt-sources.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
check() { # $1 what  $2 expected  $3 actual
  if [ "$2" != "$3" ]; then echo "FAIL $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
fixture() { # $1 name; file contents on stdin as "PATH<TAB>LINE" pairs
  export APT_SOURCES_DIR="$tmp/$1"
  mkdir -p "$APT_SOURCES_DIR/sources.list.d"
  while IFS=$'\t' read -r f line; do printf '%s\n' "$line" >>"$APT_SOURCES_DIR/$f"; done
}
has_src() { apt_has_deb_src && echo yes || echo no; }

# An installer-made machine: one classic line, a commented-out deb-src.
fixture classic <<'EOF2'
sources.list	# deb-src http://ftp.example.org/debian bookworm main
sources.list	deb http://ftp.example.org/debian bookworm main
EOF2
check "classic mirror" http://ftp.example.org/debian "$(apt_mirror)"
check "classic commented deb-src" no "$(has_src)"
check "classic key" "" "$(apt_mirror_key)"

# Options in brackets, security first, an enabled deb-src.
fixture classic-options <<'EOF2'
sources.list	deb [arch=amd64 signed-by=/k/security.gpg] http://security.example.org/debian-security bookworm-security main
sources.list	deb [signed-by=/k/archive.gpg] http://ftp.example.org/debian bookworm main contrib
sources.list.d/src.list	deb-src http://ftp.example.org/debian bookworm main
EOF2
check "options mirror" http://ftp.example.org/debian "$(apt_mirror)"
check "options key" /k/archive.gpg "$(apt_mirror_key)"
check "options deb-src" yes "$(has_src)"

# A cloud image: deb822 only, no sources.list at all; a disabled deb-src.
fixture deb822 <<'EOF2'
sources.list.d/debian.sources	Types: deb
sources.list.d/debian.sources	URIs: http://deb.example.org/debian
sources.list.d/debian.sources	Suites: bookworm bookworm-updates
sources.list.d/debian.sources	Components: main
sources.list.d/debian.sources	Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
sources.list.d/debian.sources	
sources.list.d/debian.sources	# Types: deb-src
sources.list.d/debian.sources	Types: deb-src
sources.list.d/debian.sources	URIs: http://deb.example.org/debian
sources.list.d/debian.sources	Suites: bookworm
sources.list.d/debian.sources	Enabled: no
EOF2
check "deb822 mirror" http://deb.example.org/debian "$(apt_mirror)"
check "deb822 key" /usr/share/keyrings/debian-archive-keyring.gpg "$(apt_mirror_key)"
check "deb822 disabled deb-src" no "$(has_src)"

# No sources at all: no mirror, and saying so is not a crash.
fixture empty </dev/null
check "no sources" "" "$(apt_mirror 2>/dev/null; echo "$?" | grep -v '^1$')"

# A mirror in the middle of a sync: reading the lists is tried again until it
# works, and gives up with the last attempt's status when it never does.
flaky() { echo x >>"$tmp/tries"; [ "$(wc -l <"$tmp/tries")" -ge "$1" ] || return 100; }
export APT_UPDATE_PAUSES="0 0 0"
rm -f "$tmp/tries"; apt_update_retrying flaky 3 2>/dev/null
check "update that works the third time" "0 3" "$? $(wc -l <"$tmp/tries")"
rm -f "$tmp/tries"; apt_update_retrying flaky 9 2>/dev/null
check "update that never works" "100 4" "$? $(wc -l <"$tmp/tries")"

# A mirror that serves one list that does not match its Release file: the
# suite is named from the update's output, and of the i386 packages an
# install would bring, only those whose twin is installed for both
# architectures at another version are set to one version.
cat >"$tmp/update.log" <<'EOF2'
Hit:1 http://deb.example.org/debian bookworm InRelease
E: Failed to fetch http://deb.example.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]
E: Failed to fetch http://deb.example.org/debian-security/dists/bookworm-security/main/binary-amd64/Packages.xz  File has unexpected size (1 != 2).
E: Some index files failed to download. They have been ignored, or old ones used instead.
EOF2
check "unreadable suites" bookworm-security "$(apt_unreadable_suites "$tmp/update.log")"
fake_apt() {
  case " $* " in *" -s "*"Dir::State::status="*" install "*) ;; *) echo "not a simulation on an empty status: $*" >&2; return 1 ;; esac
  printf '%s\n' "Inst libfoo:i386 (2 Debian:12 [i386])" "Inst libbar:i386 (1 Debian:12 [i386])" \
    "Inst libbaz:i386 (5 Debian:12 [i386])" "Inst libqux:i386 (4 Debian:12 [i386])" "Inst tool (7 Debian:12 [amd64])"
}
dpkg() { echo amd64; }
dpkg-query() { # -W -f=FORMAT PACKAGE
  local f=${2#-f=}
  case $3 in
    libfoo:amd64) f=${f//'${Version}'/3}; f=${f//'${Multi-Arch}'/same} ;;
    libbar:amd64) f=${f//'${Version}'/1}; f=${f//'${Multi-Arch}'/same} ;;
    libbaz:amd64) f=${f//'${Version}'/6}; f=${f//'${Multi-Arch}'/foreign} ;;
    *) return 1 ;;
  esac
  printf "${f//'${db:Status-Status}'/installed}"
}
check "twins to match" "libfoo:amd64=2 libfoo:i386=2" "$(apt_twins_to_match fake_apt -o X=1 -- a b | tr '\n' ' ' | sed 's/ $//')"
unset -f dpkg dpkg-query

[ $failures -eq 0 ] && echo "apt sources: all cases read as expected"
exit $((failures > 0))
