#!/usr/bin/python3
"""Checks an unpacked release zip: its files and SHA256SUMS, and of each
executable the machine type, the PE subsystem and OS version (6.1, Windows 7),
the imports (only DLLs of Windows, only functions that Windows 7 exports, as
release/windows7-exports.txt lists them) and the version resource.

usage: check_release.py [--exports FILE] FOLDER win64|win32 VERSION
Prints one line per check and "N passed, N failed"; exits 1 when one failed.
Runs under Debian's /usr/bin/python3, which has python3-pefile.
"""
import hashlib
import pathlib
import re
import sys

import pefile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from check_imports import SYSTEM  # noqa: E402  (the DLLs that come with Windows)

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXPORTS = ROOT / "release" / "windows7-exports.txt"
MACHINE = {"win64": 0x8664, "win32": 0x14C}
SUBSYSTEM = {"wizard.exe": 2, "pkgtool.exe": 3}  # Windows GUI, Windows console
LICENCES = ["zlib.txt", "mingw-w64-runtime-and-winpthreads.txt", "gcc-runtime-libstdc++-runtime-exception.txt",
            "CLI11.txt", "nlohmann-json.txt"]
WINDOWS_7 = (6, 1)


class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, ok, what, detail=""):
        print(("ok   %s" if ok else "FAIL %s" + (": " + detail if detail else "")) % what)
        self.passed, self.failed = self.passed + bool(ok), self.failed + (not ok)


def windows7_exports(path, arch):
    """{(dll, function): version} of what Windows 7 of this architecture exports."""
    listed = {}
    for line in path.read_text(encoding="utf-8").splitlines():
        fields = line.split("#")[0].split()
        if not fields:
            continue
        dll, function, version = fields[:3]
        if len(fields) == 3 or fields[3] == arch:
            listed[(dll.lower(), function)] = tuple(int(n) for n in version.split("."))
    return listed


def version_numbers(version):
    """The four numbers of a version resource for a version text (X.Y.Z[-N-gHASH])."""
    m = re.match(r"^(\d+)\.(\d+)\.(\d+)(?:-(\d+)-g[0-9a-f]+)?", version)
    return tuple(int(n or 0) for n in m.groups())


def check_files(c, folder):
    names = sorted(p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file())
    wanted = sorted(["wizard.exe", "pkgtool.exe", "guide.html", "SHA256SUMS"] + ["licenses/" + n for n in LICENCES])
    c.check(names == wanted, "the zip holds exactly " + ", ".join(wanted), "it holds " + ", ".join(names))
    sums = {}
    for line in (folder / "SHA256SUMS").read_text(encoding="ascii").splitlines():
        digest, name = line.split(None, 1)
        sums[name.lstrip("*")] = digest
    c.check(sorted(sums) == sorted(n for n in names if n != "SHA256SUMS"), "SHA256SUMS names every other file",
            ", ".join(sorted(sums)))
    for name, digest in sorted(sums.items()):
        path = folder / name
        got = hashlib.sha256(path.read_bytes()).hexdigest() if path.is_file() else "(missing)"
        c.check(got == digest, "SHA256SUMS: " + name, "file has " + got)
    guide = (folder / "guide.html").read_text(encoding="utf-8")
    outside = [v for v in re.findall(r'\b(?:src|href)="([^"]*)"', guide) if not re.match(r"^(data:|#|https?:)", v)]
    c.check(not outside and guide.count('src="data:image/png;base64,') == 2,
            "guide.html is one file with both pictures embedded", ", ".join(outside))


def check_exe(c, path, arch, version, exports, list_name):
    pe = pefile.PE(str(path))
    name = path.name
    c.check(pe.FILE_HEADER.Machine == MACHINE[arch], "%s: machine %s" % (name, arch), hex(pe.FILE_HEADER.Machine))
    oh = pe.OPTIONAL_HEADER
    c.check(oh.Subsystem == SUBSYSTEM[name], "%s: subsystem %d" % (name, SUBSYSTEM[name]), str(oh.Subsystem))
    got = [(oh.MajorSubsystemVersion, oh.MinorSubsystemVersion), (oh.MajorOperatingSystemVersion,
                                                                    oh.MinorOperatingSystemVersion)]
    c.check(got == [WINDOWS_7, WINDOWS_7], "%s: subsystem and OS version 6.1" % name, str(got))

    imports = [(entry.dll.decode("ascii").lower(), imp.name.decode("ascii") if imp.name else "#%d" % imp.ordinal)
               for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) for imp in entry.imports]
    dlls = sorted({dll for dll, _ in imports})
    foreign = [d for d in dlls if d not in SYSTEM]
    c.check(dlls and not foreign, "%s: imports only Windows DLLs (%s)" % (name, ", ".join(dlls)),
            "not part of Windows: " + ", ".join(foreign))
    unlisted = sorted("%s!%s" % i for i in imports if i not in exports)
    newer = sorted("%s!%s (%d.%d)" % (i + exports[i]) for i in imports if exports.get(i, (0, 0)) > WINDOWS_7)
    c.check(not unlisted and not newer, "%s: every imported function is in Windows 7" % name,
            "; ".join(["not in %s: %s" % (list_name, ", ".join(unlisted))] * bool(unlisted) +
                      ["newer than Windows 7: " + ", ".join(newer)] * bool(newer)))

    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    numbers = fixed and (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
                         fixed.FileVersionLS & 0xFFFF)
    c.check(strings.get("FileVersion") == version and strings.get("ProductVersion") == version and
            strings.get("OriginalFilename") == name and numbers == version_numbers(version),
            "%s: version resource %s %s" % (name, version, version_numbers(version)),
            "%s %s" % ({k: strings.get(k) for k in ("FileVersion", "ProductVersion", "OriginalFilename")}, numbers))


def main():
    args = sys.argv[1:]
    exports_path = EXPORTS
    if args[:1] == ["--exports"] and len(args) > 1:
        exports_path, args = pathlib.Path(args[1]), args[2:]
    if len(args) != 3 or args[1] not in MACHINE:
        print(__doc__, file=sys.stderr)
        return 2
    folder, arch, version = pathlib.Path(args[0]), args[1], args[2]
    c = Checks()
    check_files(c, folder)
    exports = windows7_exports(exports_path, arch)
    for exe in ("wizard.exe", "pkgtool.exe"):
        if (folder / exe).is_file():
            check_exe(c, folder / exe, arch, version, exports, exports_path.name)
    print("%d passed, %d failed" % (c.passed, c.failed))
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
