#!/usr/bin/env python3
"""Reads an encrypted ZIP archive with Python's zipfile, an independent reader.

usage: zip_read.py ARCHIVE PASSWORD_HEX OUTDIR

Writes each entry's data to OUTDIR/<index> and OUTDIR/manifest.txt with one
tab-separated line per entry, in archive order:
  index, stored name decoded as code page 866, name of the Info-ZIP Unicode
  Path field (or "-"), date_time as Y-M-D-h-m-s, external attributes (hex),
  create_system, create_version, extract_version, compress_type, flag_bits.
The Unicode Path field is accepted only with version 1 and the CRC-32 of the
stored name, as its definition demands.
"""
import os
import struct
import sys
import zipfile
import zlib


def unicode_path(extra, stored):
    i = 0
    while i + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, i)
        body = extra[i + 4:i + 4 + size]
        if tag == 0x7075:
            version, crc = struct.unpack_from("<BI", body, 0)
            if version != 1 or crc != zlib.crc32(stored):
                raise SystemExit("bad Unicode Path field")
            return body[5:].decode("utf-8")
        i += 4 + size
    return "-"


def main():
    archive, password_hex, outdir = sys.argv[1:4]
    password = bytes.fromhex(password_hex)
    lines = []
    with zipfile.ZipFile(archive) as zf:
        zf.setpassword(password)
        for index, info in enumerate(zf.infolist()):
            # Without bit 11 zipfile decodes names as cp437; undo that to get
            # the stored bytes back.
            stored = info.filename.encode("cp437") if not info.flag_bits & 0x800 else info.filename.encode()
            with open(os.path.join(outdir, str(index)), "wb") as out:
                out.write(zf.read(info))
            lines.append("\t".join([
                str(index), stored.decode("cp866"), unicode_path(info.extra, stored),
                "-".join(str(v) for v in info.date_time), "%x" % info.external_attr,
                str(info.create_system), str(info.create_version), str(info.extract_version),
                str(info.compress_type), str(info.flag_bits)]))
    with open(os.path.join(outdir, "manifest.txt"), "w", encoding="utf-8") as m:
        m.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
