#!/usr/bin/env bash
# Exits 0 when this machine's kernel runs 32-bit x86 programs itself, 1 when
# it does not. It runs a tiny static i386 program that only exits with 42.
# A qemu-i386 registered with binfmt_misc would answer for the kernel, so
# such an entry counts as "no".
set -u
for f in /proc/sys/fs/binfmt_misc/*i386* /proc/sys/fs/binfmt_misc/*i686*; do
  [ -e "$f" ] && grep -qx enabled "$f" 2>/dev/null && exit 1
done
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
# A hand-made ELF: 32-bit, one loadable segment, code "mov eax,1; mov ebx,42;
# int 0x80" (exit(42)) right after the headers. Needs no compiler.
printf '%b' \
'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
'\x00\x00\x00\x00' \
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
'\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
'\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
