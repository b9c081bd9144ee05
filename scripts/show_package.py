#!/usr/bin/env python3
"""Reads a package file back on Linux with Python's zipfile and prints what it
holds: its entries, the entry of the inner archive image.0, and the objects of
PackageData.xml with the clipboard formats stored for each.

usage: show_package.py PACKAGE KEY [--expect FILE] [--same-document OTHER OTHER_KEY]

KEY is the package key (empty: the default package password). With --expect,
also compares the objects with FILE (UTF-8; lines "object<TAB>section<TAB>tree
path" each followed by its "item<TAB>format<TAB>hex of the stored bytes"
lines, in document order) and exits 1 on any difference. With
--same-document, also compares PackageData.xml byte for byte with that of
the package OTHER (opened with OTHER_KEY) and exits 1 when they differ.
"""
import hashlib
import argparse
import io
import sys
import zipfile
import re

IMAGE_PASSWORD = "5D2A9E41-7C3B-4F86-A1D0-93E6B2C87F15"
DEFAULT_PASSWORD = "E0B47C29-1A6D-4E53-8F92-6C1D05A3B7E8"
SECTIONS = ["CommonModules", "Directories", "Processings", "Subsystems"]


def entry_name(info):
    # Without the UTF-8 flag zipfile decodes names as cp437; they are cp866.
    if info.flag_bits & 0x800:
        return info.filename
    return info.filename.encode("cp437").decode("cp866")


def unescape(data):
    for entity, char in ((b"&lt;", b"<"), (b"&gt;", b">"), (b"&quot;", b'"'), (b"&apos;", b"'"), (b"&amp;", b"&")):
        data = data.replace(entity, char)
    return data


def read_document(package, key):
    """PackageData.xml of a package, opened with its key (empty: the default password)."""
    with zipfile.ZipFile(package) as z:
        z.setpassword((key or DEFAULT_PASSWORD).encode("cp1251"))
        image = z.read("image.0")
    with zipfile.ZipFile(io.BytesIO(image)) as inner:
        inner.setpassword(IMAGE_PASSWORD.encode())
        return inner.read("PackageData.xml")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("package")
    ap.add_argument("key")
    ap.add_argument("--expect")
    ap.add_argument("--same-document", nargs=2, metavar=("OTHER", "OTHER_KEY"))
    args = ap.parse_args()
    password = (args.key or DEFAULT_PASSWORD).encode("cp1251")

    with zipfile.ZipFile(args.package) as z:
        z.setpassword(password)
        print("package %s (%d bytes), key %s" % (args.package, sum(i.compress_size for i in z.infolist()), args.key or "(empty: default password)"))
        image = None
        for info in z.infolist():
            data = z.read(info)
            encrypted = "encrypted" if info.flag_bits & 1 else "NOT ENCRYPTED"
            print("  entry %-34s %7d bytes, %s" % (entry_name(info), len(data), encrypted))
            if entry_name(info) == "image.0":
                image = data
    if image is None:
        print("no image.0 in the package")
        return 1
    with zipfile.ZipFile(io.BytesIO(image)) as inner:
        inner.setpassword(IMAGE_PASSWORD.encode())
        infos = inner.infolist()
        print("  image.0 holds %s" % ", ".join("%s (%d bytes)" % (entry_name(i), i.file_size) for i in infos))
        document = inner.read("PackageData.xml")

    # The document is not read with an XML parser: its root's name begins
    # with a digit and the stored clipboard bytes may hold control
    # characters, both of which a conforming parser refuses.
    found = []
    root = re.match(rb"<([^ >]+)", document).group(1).decode()
    print("objects of PackageData.xml (root %s, %d bytes):" % (root, len(document)))
    for section, body in re.findall(rb"<(\w+)>(.*?)</\1>", document, re.S):
        for path, inner in re.findall(rb'<AddObject ObjectPath="([^"]*)"(?:/>|>(.*?)</AddObject>)', body, re.S):
            items = [(name.decode("cp1251"), unescape(data))
                     for name, data in re.findall(rb'<Item FormatName="([^"]*)"(?:/>|>(.*?)</Item>)', inner, re.S)]
            found.append((section.decode(), unescape(path).decode("cp1251"), items))
            print("  %-13s %s: %s" % (section.decode(), found[-1][1], ", ".join(name for name, _ in items)))

    same = True
    if args.same_document:
        other = read_document(*args.same_document)
        same = other == document
        print("%s: PackageData.xml is %s that of %s (sha256 %s, %s)" % (
            "ok" if same else "FAIL", "the same as" if same else "NOT the same as", args.same_document[0],
            hashlib.sha256(document).hexdigest()[:16], hashlib.sha256(other).hexdigest()[:16]))
    if not args.expect:
        return 0 if same else 1
    expected = []
    with open(args.expect, encoding="utf-8") as f:
        for line in f.read().splitlines():
            parts = line.split("\t")
            if parts[0] == "object":
                expected.append((parts[1], parts[2], []))
            elif parts[0] == "item":
                expected[-1][2].append((parts[1], bytes.fromhex(parts[2])))
    # The document keeps report order within each section.
    order = {name: i for i, name in enumerate(SECTIONS)}
    expected.sort(key=lambda o: order[o[0]])
    ok = found == expected
    if not ok:
        for e, g in zip(expected, found):
            if e != g:
                print("FAIL: expected %r\n      found    %r" % (e[:2] + ([n for n, _ in e[2]],), g[:2] + ([n for n, _ in g[2]],)))
                break
        if len(expected) != len(found):
            print("FAIL: %d objects expected, %d found" % (len(expected), len(found)))
    print("%s: the objects, formats and stored bytes are as expected" % ("ok" if ok else "FAIL"))
    return 0 if ok and same else 1


if __name__ == "__main__":
    sys.exit(main())
