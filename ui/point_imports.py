#!/usr/bin/env python3
"""Points the linked stub's import directory and import address table
directory at its import tables, which the linker script puts at the start of
the first section (the linker fills these directories only for a section
named after the tables). Fails unless the tables are there.

    point_imports.py STUB
"""
import struct
import sys

IMPORTS, ADDRESS_TABLE = 1, 12   # their indexes among the data directories
DESCRIPTOR = 20                  # bytes of an import descriptor


def point(image):
    image = bytearray(image)
    pe, = struct.unpack_from("<I", image, 0x3C)
    if image[:2] != b"MZ" or image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    optional = pe + 24
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    directories = optional + 96
    table = optional + optional_size
    start, = struct.unpack_from("<I", image, table + 12)   # the first section's address
    raw, = struct.unpack_from("<I", image, table + 20)     # and its place in the file

    def word(rva):
        return struct.unpack_from("<I", image, raw + rva - start)[0]

    # The descriptors: lookup table, time, chain, name, address table; an empty one ends them.
    descriptors, first, last = 0, None, None
    while any(image[raw + DESCRIPTOR * descriptors:raw + DESCRIPTOR * (descriptors + 1)]):
        base = start + DESCRIPTOR * descriptors
        name, thunks = word(base + 12), word(base + 16)
        if not name or not thunks:
            raise ValueError("the first section does not start with import descriptors")
        end = thunks
        while word(end):
            end += 4
        first = thunks if first is None else min(first, thunks)
        last = end + 4 if last is None else max(last, end + 4)
        descriptors += 1
    if not descriptors:
        raise ValueError("the first section does not start with import descriptors")
    struct.pack_into("<II", image, directories + 8 * IMPORTS, start, DESCRIPTOR * (descriptors + 1))
    struct.pack_into("<II", image, directories + 8 * ADDRESS_TABLE, first, last - first)
    return bytes(image)


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        image = f.read()
    with open(path, "wb") as f:
        f.write(point(image))


if __name__ == "__main__":
    main()
