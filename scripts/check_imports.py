#!/usr/bin/env python3
"""Checks that Windows executables import only DLLs that come with Windows
itself, so they run on a bare system (the build links everything else
statically).

usage: check_imports.py OBJDUMP program.exe...
Prints each executable's DLLs and "N passed, N failed"; exits 1 on a DLL
outside the list.
"""
import subprocess
import sys

# DLLs of Windows 7 and later that the programs may use.
SYSTEM = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "uxtheme.dll", "version.dll",
    "winmm.dll",
}


def main():
    objdump, programs = sys.argv[1], sys.argv[2:]
    passed = failed = 0
    for exe in programs:
        out = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
        dlls = sorted({line.split("DLL Name:")[1].strip().lower() for line in out.splitlines() if "DLL Name:" in line})
        foreign = [d for d in dlls if d not in SYSTEM]
        ok = bool(dlls) and not foreign
        print("%s %s imports %s%s" % ("ok  " if ok else "FAIL", exe, ", ".join(dlls),
                                      "; not part of Windows: " + ", ".join(foreign) if foreign else ""))
        passed, failed = passed + ok, failed + (not ok)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
