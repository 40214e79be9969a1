#!/usr/bin/env python3
"""Checks a built Linux module as a file.

  check_elf.py MODULE exports NAME...   the defined dynamic symbols (functions
                                        and data) are exactly NAME...
  check_elf.py MODULE class 32|64       ELF class
  check_elf.py FILE defines-none NAME...
                                        none of NAME... is a defined dynamic
                                        symbol (so the file interposes none)

Uses nm from binutils for the symbol table.
"""
import subprocess
import sys


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path, what, args = argv[1], argv[2], argv[3:]
    if what == "class":
        with open(path, "rb") as f:
            head = f.read(5)
        bits = {1: "32", 2: "64"}.get(head[4], "?") if head[:4] == b"\x7fELF" else "not ELF"
        print("%s: ELF class %s (wanted %s)" % (path, bits, args[0]))
        return 0 if bits == args[0] else 1
    if what == "exports":
        out = subprocess.run(["nm", "-D", "--defined-only", path], check=True, capture_output=True, text=True).stdout
        names = []
        for line in out.splitlines():
            parts = line.split()
            if len(parts) >= 3 and parts[1] not in ("A",):  # A: version nodes
                names.append(parts[2].split("@")[0])
        print("%s: exports %s (wanted exactly %s)" % (path, sorted(names), sorted(args)))
        return 0 if sorted(set(names)) == sorted(args) else 1
    if what == "defines-none":
        out = subprocess.run(["nm", "-D", "--defined-only", path], check=True, capture_output=True, text=True).stdout
        names = {line.split()[2].split("@")[0] for line in out.splitlines() if len(line.split()) >= 3}
        found = sorted(names & set(args))
        print("%s: defines %s of %s" % (path, found, sorted(args)))
        return 0 if not found else 1
    print("unknown check %r" % what, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
