#!/usr/bin/env python3
"""Opens a package file with Python's zipfile, an independent reader.

usage: read_package.py PACKAGE PASSWORD_HEX IMAGE_PASSWORD_HEX OUTDIR

Passwords are given as the hex of their Windows-1251 bytes. Writes to OUTDIR:
  names.txt         the package's entry names in order, UTF-8, one a line
  entry-<i>         the decrypted bytes of entry i
  image-names.txt   the entry names of image.0, when the package has one
  image-entry-<i>   the decrypted bytes of entry i of image.0
Exits 1 when an entry cannot be read with the password (wrong password, bad
CRC) and 2 when an entry is not encrypted.
"""
import io
import os
import sys
import zipfile


def entry_name(info):
    # Without the UTF-8 flag zipfile decodes names as cp437; the writer stores
    # them in cp866.
    if info.flag_bits & 0x800:
        return info.filename
    return info.filename.encode("cp437").decode("cp866")


def unpack(archive, password, outdir, prefix):
    names = []
    with zipfile.ZipFile(archive) as z:
        for i, info in enumerate(z.infolist()):
            if not info.flag_bits & 1:
                print(f"{entry_name(info)}: not encrypted", file=sys.stderr)
                sys.exit(2)
            data = z.read(info, pwd=password)
            with open(os.path.join(outdir, f"{prefix}entry-{i}"), "wb") as f:
                f.write(data)
            names.append(entry_name(info))
    with open(os.path.join(outdir, f"{prefix}names.txt"), "w", encoding="utf-8", newline="\n") as f:
        f.write("".join(n + "\n" for n in names))
    return names


def main():
    package, password, image_password, outdir = sys.argv[1:5]
    try:
        names = unpack(package, bytes.fromhex(password), outdir, "")
        if "image.0" in names:
            with open(os.path.join(outdir, f"entry-{names.index('image.0')}"), "rb") as f:
                unpack(io.BytesIO(f.read()), bytes.fromhex(image_password), outdir, "image-")
    except (RuntimeError, zipfile.BadZipFile) as e:
        print(e, file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
