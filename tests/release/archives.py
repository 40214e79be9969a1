"""The release archives hold exactly what we ship, root-owned, under one
folder named after the archive, and the modules and programs in them are the
builds' own bytes. Every archive, the debug ones and the source included,
carries LICENSE and THIRD-PARTY.txt, as made from the repository now.

    archives.py RELEASE_FOLDER BUILD_FOLDER VERSION
"""
import os
import subprocess
import sys
import tarfile
import tempfile
import zipfile

rel, build, version = sys.argv[1:4]
root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
problems = []
NOTICES = ["LICENSE", "THIRD-PARTY.txt"]


def notices(crlf):
    """LICENSE and THIRD-PARTY.txt as the release must carry them."""
    with open(os.path.join(root, "LICENSE"), "rb") as f:
        licence = f.read()
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "THIRD-PARTY.txt")
        subprocess.run([sys.executable, os.path.join(root, "packaging/third-party.py"),
                        os.path.join(root, "packaging/debian/copyright"), version, out] + (["crlf"] if crlf else []),
                       check=True)
        with open(out, "rb") as f:
            third = f.read()
    if crlf:
        licence = licence.replace(b"\n", b"\r\n")
    return {"LICENSE": licence, "THIRD-PARTY.txt": third}


EXPECTED = {False: notices(False), True: notices(True)}


def check_notices(archive, folder, members, crlf):
    for name, want in EXPECTED[crlf].items():
        got = members.get(f"{folder}/{name}")
        if got is None:
            problems.append(f"{archive}: no {name}")
        elif got != want:
            problems.append(f"{archive}: {name} is not the one the repository makes")


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
    expect(name, [f"{folder}/{f}" for f in files + ["README.txt"] + NOTICES], members)
    check_bytes(name, folder, members, b, files)
    check_notices(name, folder, members, kind == "zip")
    readme = members.get(f"{folder}/README.txt", b"")
    if f"Vantorel {version}".encode() not in readme:
        problems.append(f"{name}: README.txt does not name version {version}")

    dfolder = f"Vantorel-{version}-{b}-debug"
    dname = f"{dfolder}.tar.gz"
    debug = [f + ".debug" for f in files]
    members = read_tar(os.path.join(rel, dname))
    expect(dname, [f"{dfolder}/{f}" for f in debug + NOTICES], members)
    check_bytes(dname, dfolder, members, b, debug)
    check_notices(dname, dfolder, members, kind == "zip")

# The source: the commit's files, and the notices at its top.
sfolder = f"Vantorel-{version}-source"
sname = f"{sfolder}.tar.gz"
members = read_tar(os.path.join(rel, sname))
tracked = subprocess.run(["git", "-C", root, "ls-tree", "-r", "--name-only", "HEAD"], check=True,
                         capture_output=True, text=True).stdout.split()
expect(sname, [f"{sfolder}/{f}" for f in tracked + ["THIRD-PARTY.txt"]], members)
check_notices(sname, sfolder, members, False)

print("\n".join(problems))
sys.exit(1 if problems else 0)
