#!/usr/bin/env python3
"""Lists a package's entries and those of its image.0 with Python's zipfile,
an independent reader, in the columns of `pkgtool inspect`.

usage: list_package.py PACKAGE PASSWORD_HEX IMAGE_PASSWORD_HEX

Prints one line per entry, package first, then image.0:
  two blanks, name, method, packed size, size, modified, encryption, CRC,
tab-separated. Passwords are the hex of their Windows-1251 bytes.
"""
import io
import sys
import zipfile


def name_of(info):
    if info.flag_bits & 0x800:
        return info.filename
    return info.filename.encode("cp437").decode("cp866")


def lines(z):
    for info in z.infolist():
        method = {0: "stored", 8: "deflated"}.get(info.compress_type, "method %d" % info.compress_type)
        print("  %s\t%s\t%d\t%d\t%04d-%02d-%02d %02d:%02d:%02d\t%s\tCRC %08X" % (
            name_of(info), method, info.compress_size, info.file_size, *info.date_time,
            "encrypted" if info.flag_bits & 1 else "plain", info.CRC))


def main():
    package, password_hex, image_password_hex = sys.argv[1:4]
    with zipfile.ZipFile(package) as z:
        z.setpassword(bytes.fromhex(password_hex))
        lines(z)
        image = z.read("image.0")
    with zipfile.ZipFile(io.BytesIO(image)) as inner:
        inner.setpassword(bytes.fromhex(image_password_hex))
        lines(inner)


if __name__ == "__main__":
    main()
