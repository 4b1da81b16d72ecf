#!/usr/bin/env python3
"""Writes the stub's icon: one 32 x 32 image with 16 colours (4 bits per pixel).

    make_icon.py OUT.ico

The picture, a parcel with an arrow pointing into it, is drawn below as text:
one character per pixel, '.' transparent, the others index the palette.
"""
import struct
import sys

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


def icon_bytes():
    rows = PICTURE.split()
    assert len(rows) == 32 and all(len(r) == 32 for r in rows)
    colour = b""
    mask = b""
    for row in reversed(rows):  # bitmaps are stored bottom-up
        indices = [INK.get(c, 0) for c in row]
        colour += bytes(indices[i] << 4 | indices[i + 1] for i in range(0, 32, 2))
        bits = 0
        for c in row:
            bits = bits << 1 | (c == ".")
        mask += struct.pack(">I", bits)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(colour) + len(mask), 0, 0, 16, 0)
    image = info + palette + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(icon_bytes())
