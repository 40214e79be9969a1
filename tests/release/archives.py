"""The release archives hold exactly what we ship, root-owned, under one
folder named after the archive, and the modules and programs in them are the
builds' own bytes.

    archives.py RELEASE_FOLDER BUILD_FOLDER VERSION
"""
import os
import sys
import tarfile
import zipfile

rel, build, version = sys.argv[1:4]
problems = []


def expect(archive, names, members):
    """members: {name: bytes}; names: what the archive must hold, nothing else."""
    got = sorted(members)
    if got != sorted(names):
        problems.append(f"{archive}: holds {got}, not {sorted(names)}")


def check_bytes(archive, folder, members, build_dir, files):
    for f in files:
        with open(os.path.join(build, build_dir, f), "rb") as fh:
            if members.get(f"{folder}/{f}") != fh.read():
                problems.append(f"{archive}: {f} differs from {build_dir}/{f}")


def read_tar(path):
    members = {}
    with tarfile.open(path) as t:
        for m in t.getmembers():
            if m.uid or m.gid:
                problems.append(f"{os.path.basename(path)}: {m.name} owned by {m.uid}:{m.gid}")
            if m.isfile():
                members[m.name] = t.extractfile(m).read()
    return members


def read_zip(path):
    with zipfile.ZipFile(path) as z:
        return {i.filename: z.read(i) for i in z.infolist()}


for b, kind, files in (("win32", "zip", ["Vantorel.dll", "vstrun.exe"]),
                       ("win64", "zip", ["Vantorel.dll", "vstrun.exe"]),
                       ("linux64", "tar.gz", ["Vantorel.so", "vstrun"]),
                       ("linux32", "tar.gz", ["Vantorel.so", "vstrun"])):
    folder = f"Vantorel-{version}-{b}"
    name = f"{folder}.{kind}"
    members = (read_zip if kind == "zip" else read_tar)(os.path.join(rel, name))
    expect(name, [f"{folder}/{f}" for f in files + ["README.txt"]], members)
    check_bytes(name, folder, members, b, files)
    readme = members.get(f"{folder}/README.txt", b"")
    if f"Vantorel {version}".encode() not in readme:
        problems.append(f"{name}: README.txt does not name version {version}")

    dfolder = f"Vantorel-{version}-{b}-debug"
    dname = f"{dfolder}.tar.gz"
    debug = [f + ".debug" for f in files]
    members = read_tar(os.path.join(rel, dname))
    expect(dname, [f"{dfolder}/{f}" for f in debug], members)
    check_bytes(dname, dfolder, members, b, debug)

print("\n".join(problems))
sys.exit(1 if problems else 0)
