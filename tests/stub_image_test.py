#!/usr/bin/env python3
"""The built stub keeps its protections, and the check that says so catches
each one lost: the stub itself must pass, and copies of it with one thing
broken must fail with that fault named.

    stub_image_test.py STUB      (exit 77: no stub built)
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui"))
import stub_ledger  # noqa: E402


def with_field(data, at, fmt, *values):
    data = bytearray(data)
    struct.pack_into(fmt, data, at, *values)
    return bytes(data)


def relocated_outside(data, image):
    """The stub with its first relocated word pointing past the image's end."""
    at = image.file_offset(image.relocation_sites()[0])
    return with_field(data, at, "<I", image.base + image.image_size + 0x1000)


def main():
    path = sys.argv[1]
    if not os.path.exists(path):
        print("skipped: %s is not built" % path)
        return 77
    data = open(path, "rb").read()
    image = stub_ledger.Image(data)
    directory = lambda index: image.directories_at + 8 * index
    text_flags = image.section_table_at + 36
    failures = []

    found = stub_ledger.faults(data)
    if found:
        failures.append("the stub itself: %s" % "; ".join(found))

    cases = [
        ("no random base", with_field(data, image.flags_at, "<H", image.flags & ~stub_ledger.DYNAMIC_BASE),
         "DYNAMIC_BASE"),
        ("relocations dropped", with_field(data, directory(stub_ledger.RELOCATIONS), "<II", 0, 0),
         "base relocation directory is empty"),
        ("relocation pointing out of the image", relocated_outside(data, image), "points outside the image"),
        ("executable data", with_field(data, image.flags_at, "<H", image.flags & ~stub_ledger.NX_COMPAT),
         "NX_COMPAT"),
        ("imports not pointed at", with_field(data, directory(stub_ledger.IMPORTS), "<II", 0, 0),
         "import directory is empty"),
        ("address table outside its section",
         with_field(data, directory(stub_ledger.ADDRESS_TABLE) + 4, "<I", image.image_size),
         "import address table directory does not lie inside one section"),
        ("writable code", with_field(data, text_flags, "<I",
                                     image.sections[0][5] | stub_ledger.WRITABLE),
         "writable and executable"),
        ("stale checksum", with_field(data, image.checksum_at, "<I",
                                      struct.unpack_from("<I", data, image.checksum_at)[0] ^ 1),
         "checksum"),
    ]
    for name, broken, expected in cases:
        # Every broken copy but the checksum's own needs a true checksum, so
        # that only the fault under test can be named.
        if expected != "checksum":
            broken = with_field(broken, image.checksum_at, "<I", image.true_checksum(broken))
        found = stub_ledger.faults(broken)
        if not any(expected in fault for fault in found):
            failures.append("%s: expected a fault naming '%s', got %s" % (name, expected, found))
    # The frame check of the ledger (the stub has no stack probes).
    frames = ("00401000 <Small>:\n  401003:\t81 ec 00 0f 00 00    \tsub    $0xf00,%esp\n"
              "00401010 <Large>:\n  401013:\t81 ec 00 10 00 00    \tsub    $0x1000,%esp\n"
              "  401019:\t83 ec 10             \tsub    $0x10,%eax\n")
    found = stub_ledger.large_frames(frames)
    if len(found) != 1 or not found[0].startswith("Large takes 4096 bytes"):
        failures.append("frame check: expected only Large's page, got %s" % found)
    for failure in failures:
        print(failure)
    print("%d passed, %d failed" % (len(cases) + 2 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
