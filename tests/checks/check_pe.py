#!/usr/bin/env python3
"""Checks a built Windows module as a file, for builds that cannot run it.

  check_pe.py MODULE machine i386|amd64     the PE machine type
  check_pe.py MODULE exports NAME...        the export table names exactly NAME...
  check_pe.py MODULE imports                every imported DLL is a Windows system DLL
  check_pe.py MODULE timestamp              the header holds no time (builds reproduce)

Standard library only: reads the PE headers, the export directory and the
import and delay-import directories itself.
"""
import struct
import sys

MACHINES = {"i386": 0x14C, "amd64": 0x8664}

# DLLs that every Windows installation has. MinGW runtime DLLs
# (libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll) are not among them:
# the module must link those statically.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "ntdll.dll",
    "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "comctl32.dll",
    "comdlg32.dll", "winmm.dll", "ws2_32.dll", "shlwapi.dll", "uxtheme.dll",
    "dwmapi.dll", "version.dll", "imm32.dll", "msimg32.dll", "bcrypt.dll",
    "crypt32.dll", "secur32.dll", "setupapi.dll", "rpcrt4.dll", "ucrtbase.dll",
}


class PE:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = pe + 4
        (self.machine, nsections, self.timestamp, _, _, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", d, coff)
        opt = coff + 20
        magic = struct.unpack_from("<H", d, opt)[0]
        if magic == 0x10B:
            dirs = opt + 96
        elif magic == 0x20B:
            dirs = opt + 112
        else:
            raise ValueError("unknown optional header magic 0x%x" % magic)
        self.pe32plus = magic == 0x20B
        ndirs = struct.unpack_from("<I", d, dirs - 4)[0]
        self.dirs = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(ndirs)]
        sec = opt + opt_size
        self.sections = []
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", d, sec + 40 * i)
            self.sections.append((va, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("RVA 0x%x outside every section" % rva)

    def cstr(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii", "replace")

    def directory(self, i):
        return self.dirs[i] if i < len(self.dirs) else (0, 0)

    def exports(self):
        rva, size = self.directory(0)
        if not rva:
            return []
        o = self.offset(rva)
        nnames, names_rva = struct.unpack_from("<I", self.data, o + 24)[0], struct.unpack_from("<I", self.data, o + 32)[0]
        names = []
        for i in range(nnames):
            name_rva = struct.unpack_from("<I", self.data, self.offset(names_rva) + 4 * i)[0]
            names.append(self.cstr(name_rva))
        return names

    def imports(self):
        dlls = []
        rva, _ = self.directory(1)
        if rva:
            o = self.offset(rva)
            while True:
                desc = struct.unpack_from("<IIIII", self.data, o)
                if not any(desc):
                    break
                dlls.append(self.cstr(desc[3]))
                o += 20
        rva, _ = self.directory(13)  # delay-load imports
        if rva:
            o = self.offset(rva)
            while True:
                desc = struct.unpack_from("<IIIIIIII", self.data, o)
                if not any(desc):
                    break
                dlls.append(self.cstr(desc[1]))
                o += 32
        return dlls


def is_system(dll):
    lower = dll.lower()
    return lower in SYSTEM_DLLS or lower.startswith("api-ms-win-") or lower.startswith("ext-ms-win-")


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path, what, args = argv[1], argv[2], argv[3:]
    pe = PE(path)
    if what == "machine":
        want = MACHINES[args[0]]
        print("%s: machine 0x%x (%s wanted 0x%x)" % (path, pe.machine, args[0], want))
        return 0 if pe.machine == want else 1
    if what == "exports":
        names = pe.exports()
        print("%s: exports %s (wanted exactly %s)" % (path, sorted(names), sorted(args)))
        return 0 if sorted(names) == sorted(args) else 1
    if what == "imports":
        dlls = pe.imports()
        bad = [d for d in dlls if not is_system(d)]
        print("%s: imports %s" % (path, ", ".join(dlls) or "nothing"))
        if bad:
            print("not Windows system DLLs: %s" % ", ".join(bad))
        return 1 if bad else 0
    if what == "timestamp":
        print("%s: time stamp %d (wanted 0)" % (path, pe.timestamp))
        return 0 if pe.timestamp == 0 else 1
    print("unknown check %r" % what, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
