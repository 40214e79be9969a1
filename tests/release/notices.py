"""Every library of other authors that the linker put into a shipped file is
credited in packaging/debian/copyright (the source of THIRD-PARTY.txt), and
LICENSE is the text the copyright file gives for our own files.

What went into each file is read from the linker maps the builds leave
beside them (BUILD/Vantorel.link.map, BUILD/vstrun.link.map): the archives
that gave members to the link, and the object files loaded from outside the
repository (start-up code). Each must match a Files pattern of a paragraph
other than our own.

    notices.py REPOSITORY BUILD...
"""
import fnmatch
import os
import re
import sys

root, builds = os.path.abspath(sys.argv[1]), [os.path.abspath(b) for b in sys.argv[2:]]
problems = []


def paragraphs(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    result = []
    for block in re.split(r"\n\s*\n", text.strip("\n")):
        fields, name = {}, None
        for line in block.split("\n"):
            if line.startswith((" ", "\t")) and name:
                fields[name].append("" if line.strip() == "." else line[1:])
            else:
                name, _, value = line.partition(":")
                fields[name] = [value.strip()] if value.strip() else []
        result.append(fields)
    return result


def linked_from_outside(map_path, build):
    """Library files from outside the repository that gave code to the link."""
    with open(map_path, encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    found = set()
    in_members = False
    for line in lines:
        if line.startswith("Archive member included"):
            in_members = True
            continue
        if in_members and re.match(r"^(Discarded input sections|Allocating common symbols|Memory Configuration)", line):
            in_members = False
        if in_members:
            m = re.match(r"^(\S[^(]*\.a)\(", line)
            if m:
                found.add(m.group(1))
        m = re.match(r"^LOAD (\S+\.o)$", line)
        if m:
            found.add(m.group(1))
    outside = set()
    for path in found:
        full = os.path.normpath(path if os.path.isabs(path) else os.path.join(build, path))
        if not (full + "/").startswith(os.path.normpath(root) + "/"):
            outside.add(full)
    return outside


paras = paragraphs(os.path.join(root, "packaging/debian/copyright"))
credited = []  # (patterns, the paragraph's first Comment line)
licences = {}
for p in paras[1:]:
    if "Files" in p:
        patterns = " ".join(p["Files"]).split()
        if patterns != ["*"]:
            credited.append(patterns)
    elif "License" in p:
        licences[p["License"][0]] = p["License"][1:]

seen = 0
for build in builds:
    for shipped in ("Vantorel", "vstrun"):
        map_path = os.path.join(build, f"{shipped}.link.map")
        if not os.path.exists(map_path):
            problems.append(f"{map_path}: missing (the build writes it beside {shipped})")
            continue
        libraries = linked_from_outside(map_path, build)
        if not libraries:
            problems.append(f"{map_path}: names no library at all; the map cannot be read")
        for lib in sorted(libraries):
            seen += 1
            name = os.path.basename(lib)
            if not any(fnmatch.fnmatchcase(name, pat) for patterns in credited for pat in patterns):
                problems.append(f"{os.path.basename(build)}/{shipped}: {lib} is linked in, "
                                f"but no paragraph of packaging/debian/copyright credits {name}")

# LICENSE: the MIT text with our copyright line, word for word the copyright file's.
with open(os.path.join(root, "LICENSE"), encoding="utf-8") as f:
    licence = f.read()
expat = "\n".join(licences.get("Expat", []))
if "Copyright (c) 2026 Kestrom" not in licence or " ".join(expat.split()) not in " ".join(licence.split()) or not expat:
    problems.append("LICENSE is not the Expat text of packaging/debian/copyright with Kestrom's copyright line")

print("\n".join(problems) if problems else f"{seen} linked libraries, each credited")
sys.exit(1 if problems else 0)
