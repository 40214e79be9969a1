#!/usr/bin/env python3
"""Checks that a built module ships lean.

  check_size.py MODULE MAX_BYTES

MODULE is at most MAX_BYTES long, carries no debug sections of its own, and
points (.gnu_debuglink) to MODULE.debug, which exists next to it.
"""
import os
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    path, limit = sys.argv[1], int(sys.argv[2])
    data = open(path, "rb").read()
    problems = []
    if len(data) > limit:
        problems.append(f"{len(data)} bytes, more than {limit}")
    if b".debug_info" in data or b".debug_line" in data:
        problems.append("debug sections are still in the file")
    debug = os.path.basename(path) + ".debug"
    if b".gnu_debuglink" not in data or debug.encode() + b"\0" not in data:
        problems.append(f"no .gnu_debuglink to {debug}")
    if not os.path.isfile(path + ".debug"):
        problems.append(f"{path}.debug is missing")
    for p in problems:
        print(f"{path}: {p}")
    print(f"{path}: {len(data)} bytes")
    sys.exit(1 if problems else 0)


main()
