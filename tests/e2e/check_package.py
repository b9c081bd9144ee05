#!/usr/bin/env python3
"""Reads back, on Linux, the package that the build_package scenario wrote
under Wine: the outer archive opens with the key, holds the agreement, the
description and image.0 in that order; image.0 opens with the inner password
and holds PackageData.xml, byte for byte the document the build produced.

usage: check_package.py <build_out directory>
"""
import sys
import zipfile
from pathlib import Path

INNER_PASSWORD = b"5D2A9E41-7C3B-4F86-A1D0-93E6B2C87F15"


def entry_name(info):
    # Names are stored in code page 866 without the UTF-8 flag; Python decodes
    # such names as cp437, so undo that to get the bytes back.
    return info.filename.encode("cp437").decode("cp866")


def main():
    out = Path(sys.argv[1])
    results = []

    def check(ok, what):
        print(("ok: " if ok else "FAIL: ") + what)
        results.append(bool(ok))

    key = (out / "expected.key").read_bytes()
    expected_xml = (out / "expected.xml").read_bytes()
    package = out / "Пакет.1c82pkg"
    with zipfile.ZipFile(package) as z:
        infos = z.infolist()
        names = [entry_name(i) for i in infos]
        check(names == ["Пользовательское соглашение.txt", "Описание пакета.txt", "image.0"],
              "package entries in order: %r" % names)
        check(all(i.flag_bits & 0x1 for i in infos), "every entry is encrypted")
        z.setpassword(key)
        agreement = z.read(infos[0]).decode("cp1251")
        description = z.read(infos[1]).decode("cp1251")
        image = z.read(infos[2])
    check(agreement == "Пользовательское соглашение: текст для проверки.", "agreement text")
    check(description.startswith("Описание пакета:"), "description text")

    inner_path = out / "image.0.readback"
    inner_path.write_bytes(image)
    with zipfile.ZipFile(inner_path) as inner:
        infos = inner.infolist()
        check([i.filename for i in infos] == ["PackageData.xml"], "image.0 holds PackageData.xml only")
        check(all(i.flag_bits & 0x1 for i in infos), "PackageData.xml is encrypted")
        inner.setpassword(INNER_PASSWORD)
        data = inner.read("PackageData.xml")
    inner_path.unlink()
    check(data == expected_xml, "PackageData.xml is the built document byte for byte (%d bytes)" % len(data))
    text = data.decode("cp1251")
    check(text.startswith("<1C8InstallationPackage copyright=\""), "the document's root")
    check(text.count("<AddObject ") == 5, "five objects in the document")
    check('ObjectPath="Общие.Общие модули.Сервис"' in text, "a common module's tree path")

    failed = results.count(False)
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
