#!/usr/bin/env python3
"""Builds a package: stub bytes, the optional 256-byte configuration header, then a ZIP archive.

    mkpackage.py [--stub FILE] [--message TEXT] [--folder TEXT] [--command TEXT]
                 [--flags N] [--magic TEXT] [--no-header] ZIP OUT

Without --stub the stub is STUB_SIZE zero bytes. Texts are taken as the exact bytes given on
the command line (8-bit ANSI); each may be up to 255 bytes, and texts beyond the header's
room are cut at its end.
"""
import argparse
import os
import sys

# The one place the tests' Python code knows the package layout.
STUB_SIZE = 0x7C00
HEADER_SIZE = 0x100
MAGIC = b"@TV"
FIXED_SIZE = len(MAGIC) + 4        # magic, flags, three text lengths

FLAG_FILE_LIST = 0x02
FLAG_HIDE_OVERWRITE = 0x04
FLAG_OVERWRITE_MASK = 0x18
FLAG_OVERWRITE = 0x08              # bits 3-4 exactly 01: overwrite is checked
FLAG_SWITCHES = 0x20
FLAG_KEEP_TIMES = 0x40
FLAG_WAIT_FOR_COMMAND = 0x80       # the command starts in the destination; /S waits for it
DEFAULT_FLAGS = FLAG_FILE_LIST | FLAG_OVERWRITE


def build_header(flags, message, folder, command, magic=MAGIC, lengths=None):
    """The header's bytes; 'lengths' overrides the text lengths (for headers whose
    lengths overrun the texts)."""
    texts = [message[:255], folder[:255], command[:255]]
    if lengths is None:
        lengths = [len(t) for t in texts]
    header = magic[:3].ljust(3, b"\0") + bytes([flags & 0xFF] + list(lengths))
    header += b"".join(texts)
    return header[:HEADER_SIZE].ljust(HEADER_SIZE, b".")


def parse_header(package):
    """(flags, message, folder, command) of a package's header, or None without the magic."""
    header = package[STUB_SIZE:STUB_SIZE + HEADER_SIZE]
    if header[:len(MAGIC)] != MAGIC:
        return None
    flags, lengths = header[3], header[4:FIXED_SIZE]
    texts, pos = [], FIXED_SIZE
    for length in lengths:
        texts.append(package[STUB_SIZE + pos:STUB_SIZE + pos + length])
        pos += length
    return (flags, *texts)


def stand_in_stub(program=b"MZ"):
    """A stub of the right length: 'program' padded with zero bytes."""
    return program + bytes(STUB_SIZE - len(program))


def build_package(stub, zip_bytes, header=True, flags=DEFAULT_FLAGS, message=b"", folder=b"",
                  command=b"", magic=MAGIC):
    out = stub if stub is not None else bytes(STUB_SIZE)
    if header:
        out += build_header(flags, message, folder, command, magic)
    return out + zip_bytes


def main(argv):
    parser = argparse.ArgumentParser(description="Build a self-extracting package.")
    parser.add_argument("--stub", help="stub executable (default: zero bytes of the stub's size)")
    parser.add_argument("--message", default="")
    parser.add_argument("--folder", default="")
    parser.add_argument("--command", default="")
    parser.add_argument("--flags", default=hex(DEFAULT_FLAGS), help="flag byte, decimal or 0x hex")
    parser.add_argument("--magic", default=MAGIC.decode(), help="header magic (for tests of a wrong one)")
    parser.add_argument("--no-header", action="store_true")
    parser.add_argument("zip")
    parser.add_argument("out")
    args = parser.parse_args(argv)

    stub = None
    if args.stub:
        with open(args.stub, "rb") as f:
            stub = f.read()
    with open(args.zip, "rb") as f:
        zip_bytes = f.read()
    enc = os.fsencode
    data = build_package(stub, zip_bytes, header=not args.no_header, flags=int(args.flags, 0),
                         message=enc(args.message), folder=enc(args.folder),
                         command=enc(args.command), magic=enc(args.magic))
    with open(args.out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
