#!/usr/bin/env python3
"""Fits the stub's headers into the file's first 512-byte block.

    fit_headers.py STUB

The linker follows the DOS header with a 64-byte DOS program, which pushes the
fourth section header 24 bytes past the first block, so every section starts
a whole block later in the file. This keeps the program's code and gives it a
shorter message, moves the PE headers up behind it and every section's
contents one block down, and writes the checksum anew. An image whose headers
already take one block is left as it is.
"""
import struct
import sys

import stub_ledger

BLOCK = 0x200
DOS_HEADER = 0x40
# What the linker's DOS program does: print the message 14 bytes after its
# start (DOS loads it at offset 0 of its segment) and exit with 1.
DOS_CODE = bytes.fromhex("0e1fba0e00b409cd21b8014ccd21")
DOS_PROGRAM = DOS_CODE + b"Needs Windows.\r\n$"


def fit(data):
    image = stub_ledger.Image(data)
    if image.header_size <= BLOCK:
        return data
    pe, = struct.unpack_from("<I", data, 0x3C)
    headers = data[pe:image.section_table_at + 40 * len(image.sections)]
    new_pe = (DOS_HEADER + len(DOS_PROGRAM) + 7) & ~7
    if data[DOS_HEADER:DOS_HEADER + len(DOS_CODE)] != DOS_CODE:
        raise ValueError("the linker's DOS program is not the one expected")
    if new_pe + len(headers) > BLOCK:
        raise ValueError("the headers need %d bytes, more than one block" % (new_pe + len(headers)))
    if any(data[pe + len(headers):image.header_size]):
        raise ValueError("the headers' padding holds data")
    shift = image.header_size - BLOCK
    out = bytearray(data[:DOS_HEADER] + DOS_PROGRAM)
    out += bytes(new_pe - len(out)) + headers
    out += bytes(BLOCK - len(out)) + data[image.header_size:]
    struct.pack_into("<I", out, 0x3C, new_pe)
    moved = stub_ledger.Image(bytes(out))
    struct.pack_into("<I", out, moved.optional + 60, BLOCK)
    for i, (_, _, _, raw_at, raw_size, _) in enumerate(moved.sections):
        if raw_size:
            struct.pack_into("<I", out, moved.section_table_at + 40 * i + 20, raw_at - shift)
    moved = stub_ledger.Image(bytes(out))
    struct.pack_into("<I", out, moved.checksum_at, moved.true_checksum())
    return bytes(out)


def main(argv):
    with open(argv[1], "rb") as f:
        data = f.read()
    fitted = fit(data)
    if fitted is not data:
        with open(argv[1], "wb") as f:
            f.write(fitted)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
