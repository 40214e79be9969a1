#!/usr/bin/env bash
# Tells whether this machine's kernel runs 32-bit x86 programs itself:
# exits 0 when it does, 1 when it does not, 2 when it cannot tell (no folder
# it may run a program from). It runs a tiny static i386 program that only
# exits with 42, next to a shell script that does the same: where the script
# runs and the i386 program does not, the answer is no. The folder is the
# runner's state folder in the cache, else the repository's build folder;
# never /tmp, which is often mounted noexec and would make every kernel look
# unable.
# A qemu-i386 registered with binfmt_misc would answer for the kernel, so such
# an entry counts as "no".
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
for f in /proc/sys/fs/binfmt_misc/*i386* /proc/sys/fs/binfmt_misc/*i686*; do
  [ -e "$f" ] && grep -qx enabled "$f" 2>/dev/null && exit 1
done

# Writes name into folder, whole or not at all (other runs may be reading it).
put() { # $1 folder, $2 name, then printf's %b arguments
  local dir=$1 name=$2 t
  shift 2
  t=$(mktemp "$dir/.$name.XXXXXX" 2>/dev/null) || return 1
  if printf '%b' "$@" >"$t" && chmod 755 "$t" && mv -f "$t" "$dir/$name"; then return 0; fi
  rm -f "$t"
  return 1
}

tried=()
for dir in "${VANTOREL_DEPS:-/var/cache/vantorel-deps}/run/i386-probe" "$root/build/.i386-probe"; do
  tried+=("$dir")
  mkdir -p "$dir" 2>/dev/null || continue
  put "$dir" control '#!/bin/sh\nexit 42\n' || continue
  # A hand-made ELF: 32-bit, one loadable segment, code "mov eax,1; mov
  # ebx,42; int 0x80" (exit(42)) right after the headers. Needs no compiler.
  put "$dir" i386 \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' || continue
  "$dir/control" 2>/dev/null
  [ $? -eq 42 ] || continue  # no program may run from here
  "$dir/i386" 2>/dev/null
  [ $? -eq 42 ] && exit 0
  exit 1
done
echo "i386-native: cannot tell whether this kernel runs 32-bit programs: no program could run from ${tried[*]}" >&2
exit 2
