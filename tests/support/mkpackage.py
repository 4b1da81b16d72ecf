#!/usr/bin/env python3
"""Builds a package: stub bytes, the optional 256-byte configuration header, then a ZIP archive.

    mkpackage.py [--stub FILE] [--message TEXT] [--folder TEXT] [--command TEXT]
                 [--flags N] [--magic TEXT] [--no-header] ZIP OUT

Without --stub the stub is 31744 zero bytes. Texts are taken as the exact bytes given on
the command line (8-bit ANSI); each may be up to 255 bytes, and texts beyond the header's
room are cut at its end.
"""
import argparse
import os
import sys

STUB_SIZE = 0x7C00
HEADER_SIZE = 256


def build_header(flags, message, folder, command, magic=b"@TV"):
    texts = [message[:255], folder[:255], command[:255]]
    header = magic[:3].ljust(3, b"\0") + bytes([flags & 0xFF] + [len(t) for t in texts])
    header += b"".join(texts)
    return header[:HEADER_SIZE].ljust(HEADER_SIZE, b".")


def build_package(stub, zip_bytes, header=True, flags=0x0A, message=b"", folder=b"",
                  command=b"", magic=b"@TV"):
    out = stub if stub is not None else bytes(STUB_SIZE)
    if header:
        out += build_header(flags, message, folder, command, magic)
    return out + zip_bytes


def main(argv):
    parser = argparse.ArgumentParser(description="Build a self-extracting package.")
    parser.add_argument("--stub", help="stub executable (default: 31744 zero bytes)")
    parser.add_argument("--message", default="")
    parser.add_argument("--folder", default="")
    parser.add_argument("--command", default="")
    parser.add_argument("--flags", default="0x0A", help="flag byte, decimal or 0x hex")
    parser.add_argument("--magic", default="@TV", help="header magic (for tests of a wrong one)")
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
