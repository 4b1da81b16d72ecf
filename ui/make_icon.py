#!/usr/bin/env python3
"""Writes the stub's icon: one 32 x 32 image with 16 colours (4 bits per pixel),
stored as PNG, which the system reads in icons since Windows Vista: about 210
bytes where the uncompressed bitmap and its mask take 744.

    make_icon.py OUT.ico

The picture, a parcel with an arrow pointing into it, is drawn below as text:
one character per pixel, '.' transparent, the others index the palette.
"""
import struct
import sys
import zlib

PALETTE = [  # the 16 standard colours, as (red, green, blue)
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
INK = {"k": 0, "o": 3, "g": 8, "w": 15, "y": 11, "b": 12, "n": 4, "s": 7}

PICTURE = """
............kkkkkkkk............
............kbbbbbbk............
............kbbbbbbk............
............kbbbbbbk............
............kbbbbbbk............
............kbbbbbbk............
............kbbbbbbk............
........kkkkkbbbbbbkkkkk........
.........kbbbbbbbbbbbbk.........
..........kbbbbbbbbbbk..........
...kkkkkkkkkbbbbbbbbkkkkkkkkk...
..kyyyyyyyyykbbbbbbkyyyyyyyyyk..
.kyyyyyyyyyyykbbbbkyyyyyyyyyyyk.
kyyyyyyyyyyyyykbbkyyyyyyyyyyyyyk
kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk
.koooooooooooooooooooooooooooog.
.koooooooooooooooooooooooooooog.
.koooooooooooooooooooooooooooog.
.kooooooooooowwwwwwooooooooooog.
.kooooooooooowkkkkwooooooooooog.
.kooooooooooowwwwwwooooooooooog.
.koooooooooooooooooooooooooooog.
.koooooooooooooooooooooooooooog.
.koooooooooooooooooooooooooooog.
.koooooooooooooooooooooooooooog.
.koooooooooooooooooooooooooooog.
.koooooooooooooooooooooooooooog.
.koooooooooooooooooooooooooooog.
.koooooooooooooooooooooooooooog.
.kggggggggggggggggggggggggggggg.
..kkkkkkkkkkkkkkkkkkkkkkkkkkkk..
................................
"""


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def icon_bytes():
    rows = PICTURE.split()
    assert len(rows) == 32 and all(len(r) == 32 for r in rows)
    # Index 0 is the transparent one; the palette holds only the colours drawn.
    inks = sorted({INK[c] for row in rows for c in row if c != "."})
    index = {ink: i + 1 for i, ink in enumerate(inks)}
    pixels = b""
    for row in rows:  # top-down, each row after its filter byte (none)
        indices = [index[INK[c]] if c != "." else 0 for c in row]
        pixels += b"\0" + bytes(indices[i] << 4 | indices[i + 1] for i in range(0, 32, 2))
    palette = bytes(3) + b"".join(bytes(PALETTE[ink]) for ink in inks)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 32, 32, 4, 3, 0, 0, 0)) +
           chunk(b"PLTE", palette) + chunk(b"tRNS", b"\0") + chunk(b"IDAT", zlib.compress(pixels, 9)) +
           chunk(b"IEND", b""))
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(png), 6 + 16)
    return directory + entry + png


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(icon_bytes())
