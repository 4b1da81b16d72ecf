#!/usr/bin/env python3
"""Moves the linked stub's PE header up to follow the 64-byte DOS header at
once, without the linker's DOS program ("cannot be run in DOS mode"), so
that the header of a four-section image fits in one 512-byte file block
instead of two; every section's data moves one block forward.

    compact_header.py STUB
"""
import struct
import sys

DOS_HEADER = 0x40      # the MZ header; its last field (at 0x3C) locates the PE header
FILE_BLOCK = 0x200     # the file alignment


def compact(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[:2] != b"MZ" or image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections, = struct.unpack_from("<H", image, pe + 6)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    optional = pe + 24
    header_size, = struct.unpack_from("<I", image, optional + 60)
    table = optional + optional_size
    length = table + 40 * sections - pe
    if DOS_HEADER + length > FILE_BLOCK or header_size <= FILE_BLOCK:
        return image   # nothing to gain
    shift = header_size - FILE_BLOCK
    header = bytearray(image[:DOS_HEADER] + image[pe:pe + length])
    header += bytes(FILE_BLOCK - len(header))
    struct.pack_into("<I", header, 0x3C, DOS_HEADER)
    moved = DOS_HEADER - pe
    struct.pack_into("<I", header, optional + moved + 60, FILE_BLOCK)
    for i in range(sections):
        field = table + moved + 40 * i + 20   # PointerToRawData
        raw, = struct.unpack_from("<I", header, field)
        if raw:
            struct.pack_into("<I", header, field, raw - shift)
    if any(image[pe + length:header_size]):
        raise ValueError("bytes follow the section table")
    return bytes(header) + image[header_size:]


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        image = f.read()
    with open(path, "wb") as f:
        f.write(compact(image))


if __name__ == "__main__":
    main()
