#!/usr/bin/env python3
"""Draws the wizard's two icons and writes them as .ico files (32-bit colour
with alpha): the pointing hand of the capture icon (16x16, with 24x24 and
32x32 enlargements for screens above 96 DPI) and the application icon (a
parcel, 16x16, 32x32, 48x48). Run from anywhere; rewrites app/hand.ico and
app/wizard.ico."""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent.parent

# '#' outline, 'o' skin, 's' shade, '.' transparent.
HAND = [
    "................",
    ".....##.........",
    "....#oo#........",
    "....#oo#........",
    "....#oo#........",
    "....#oo###......",
    "....#oo#oo##....",
    ".##.#oo#oo#o##..",
    "#oo##oooooo#oo#.",
    "#ooo#oooooooos#.",
    ".#oooooooooooo#.",
    ".#ooooooooooos#.",
    "..#oooooooooss#.",
    "...#oooooooos#..",
    "....#ooooooss#..",
    "....##########..",
]
HAND_COLOURS = {"#": (40, 30, 20, 255), "o": (250, 214, 170, 255), "s": (214, 170, 128, 255), ".": (0, 0, 0, 0)}


def hand(size):
    return [[HAND_COLOURS[HAND[y * 16 // size][x * 16 // size]] for x in range(size)] for y in range(size)]


def parcel(size):
    """A brown parcel with a red band and a light label, drawn at any size."""
    def px(x, y):
        u, v = (x + 0.5) / size, (y + 0.5) / size
        if not (0.08 <= u <= 0.92 and 0.18 <= v <= 0.92):
            return (0, 0, 0, 0)
        edge = min(u - 0.08, 0.92 - u, v - 0.18, 0.92 - v) < 1.2 / size
        if edge:
            return (90, 55, 20, 255)
        if abs(u - 0.5) < 0.07 or abs(v - 0.40) < 0.06:
            return (200, 30, 30, 255)
        if 0.58 <= u <= 0.86 and 0.58 <= v <= 0.84:
            return (250, 245, 225, 255)
        return (200, 145, 80, 255) if v > 0.40 else (220, 170, 100, 255)
    return [[px(x, y) for x in range(size)] for y in range(size)]


def dib(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(struct.pack("BBBB", b, g, r, a) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_row = (size + 31) // 32 * 4
    mask = b""
    for row in reversed(pixels):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


def write_ico(path, images):
    blobs = [dib(p) for p in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for pixels, blob in zip(images, blobs):
        n = len(pixels)
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    path.write_bytes(out + b"".join(blobs))


write_ico(HERE / "hand.ico", [hand(16), hand(24), hand(32)])
write_ico(HERE / "wizard.ico", [parcel(16), parcel(32), parcel(48)])
