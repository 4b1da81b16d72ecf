#!/usr/bin/env python3
"""The stub's byte ledger, and the checks its image must pass.

    stub_ledger.py ledger STUB LIMIT FULL_IMAGE NM OBJDUMP LIB...
        prints the stub's unpadded size, the room left below LIMIT, each
        section's content, and the code and constant bytes of each folder:
        FULL_IMAGE is the same link with its symbols (read with NM); each
        function counts for the folder whose library (LIB, libtolvane_NAME.a,
        whose objects carry their own code beside the optimiser's, read with
        OBJDUMP) defines it; what no library defines is the dialogs' own.
        Fails on a function that takes a page of stack or more at once: the
        stub is built without stack probes, and such a frame could step
        over the stack's guard page.
    stub_ledger.py check STUB
        fails unless the image keeps its protections: import, import address
        table and base relocation directories present and inside their
        sections, every relocation inside the image, a random base and no
        executable data (DYNAMIC_BASE, NX_COMPAT), no section both writable
        and executable, and the image's checksum (over its sections, not the
        padding or a package's contents after them).
"""
import collections
import os
import re
import struct
import subprocess
import sys

IMPORTS, RELOCATIONS, ADDRESS_TABLE = 1, 5, 12
DYNAMIC_BASE, NX_COMPAT = 0x40, 0x100
WRITABLE, EXECUTABLE = 0x80000000, 0x20000000


class Image:
    def __init__(self, data):
        self.data = data
        pe, = struct.unpack_from("<I", data, 0x3C)
        if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        count, = struct.unpack_from("<H", data, pe + 6)
        optional_size, = struct.unpack_from("<H", data, pe + 20)
        self.optional = pe + 24
        self.checksum_at = self.optional + 64
        self.base, = struct.unpack_from("<I", data, self.optional + 28)
        self.image_size, self.header_size = struct.unpack_from("<II", data, self.optional + 56)
        self.flags, = struct.unpack_from("<H", data, self.optional + 70)
        self.flags_at = self.optional + 70
        self.directories_at = self.optional + 96
        self.section_table_at = self.optional + optional_size
        self.sections = []
        for i in range(count):
            at = self.section_table_at + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode()
            size, address, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
            characteristics, = struct.unpack_from("<I", data, at + 36)
            self.sections.append((name, address, size, raw_at, raw_size, characteristics))

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.directories_at + 8 * index)

    def section_of(self, address, length=1):
        for section in self.sections:
            if section[1] <= address and address + length <= section[1] + section[2]:
                return section
        return None

    def file_offset(self, address):
        _, start, _, raw_at, _, _ = self.section_of(address, 4)
        return raw_at + address - start

    def word(self, address):
        return struct.unpack_from("<I", self.data, self.file_offset(address))[0]

    def relocation_sites(self):
        address, size = self.directory(RELOCATIONS)
        section = self.section_of(address, size)
        at = section[3] + address - section[1]
        end, sites = at + size, []
        while at < end:
            page, block = struct.unpack_from("<II", self.data, at)
            if block < 8:
                raise ValueError("a relocation block shorter than its header")
            for k in range((block - 8) // 2):
                entry, = struct.unpack_from("<H", self.data, at + 8 + 2 * k)
                if entry >> 12:
                    sites.append(page + (entry & 0xFFF))
            at += block
        return sites

    def content_end(self):
        """Where the file would end if the last section were not padded."""
        return max(raw_at + min(size, raw_size) for _, _, size, raw_at, raw_size, _ in self.sections
                   if raw_size)

    def image_end(self):
        """Where the image the linker wrote ends: what follows (the padding to
        the stub's size; a package's header and archive) is not part of it."""
        return max(raw_at + raw_size for _, _, _, raw_at, raw_size, _ in self.sections)

    def true_checksum(self, data=None):
        """The checksum of the image (of 'data', a changed copy of it)."""
        data = self.data if data is None else data
        return checksum(data[:self.image_end()], self.checksum_at)


def checksum(data, at):
    """The PE checksum: 16-bit one's-complement sum of the file, its own field
    counted as zero, plus the file's length."""
    length = len(data)
    data = bytearray(data)
    data[at:at + 4] = b"\0\0\0\0"
    if length % 2:
        data.append(0)
    total = sum(struct.unpack("<%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + length


def faults(data):
    image = Image(data)
    found = []
    for index, name in ((IMPORTS, "import"), (ADDRESS_TABLE, "import address table"),
                        (RELOCATIONS, "base relocation")):
        address, size = image.directory(index)
        if not address or not size:
            found.append("the %s directory is empty" % name)
        elif not image.section_of(address, size):
            found.append("the %s directory does not lie inside one section" % name)
    if not image.flags & DYNAMIC_BASE:
        found.append("DYNAMIC_BASE is not set: the image does not load at a random base")
    if not image.flags & NX_COMPAT:
        found.append("NX_COMPAT is not set")
    for name, _, _, _, _, characteristics in image.sections:
        if characteristics & WRITABLE and characteristics & EXECUTABLE:
            found.append("section %s is writable and executable" % name)
    if image.directory(RELOCATIONS)[1] and not any("relocation" in fault for fault in found):
        try:
            for site in image.relocation_sites():
                if not image.section_of(site, 4):
                    found.append("a relocation at %#x lies outside the image's sections" % site)
                elif not 0 <= image.word(site) - image.base < image.image_size:
                    found.append("the relocation at %#x points outside the image" % site)
        except (ValueError, struct.error, TypeError) as error:
            found.append("the relocations cannot be read: %s" % error)
    stored, = struct.unpack_from("<I", data, image.checksum_at)
    computed = image.true_checksum()
    if stored != computed:
        found.append("the checksum is %#x, the image's is %#x" % (stored, computed))
    return found


def folder_of_library(path):
    match = re.match(r"libtolvane_(\w+)\.a$", os.path.basename(path))
    name = match.group(1) if match else os.path.basename(path)
    return "platform" if name == "win32" else name


def plain_name(symbol):
    """A function's name as its library defines it: without the suffixes of
    the copies the optimiser makes and the stdcall argument size."""
    return symbol.lstrip("_").split(".")[0].split("@")[0]


def symbols(nm, path, defined_kinds):
    out = subprocess.run([nm, "-n", path], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in defined_kinds:
            yield int(parts[0], 16), parts[2]


def library_symbols(objdump, library):
    out = subprocess.run([objdump, "-t", library], capture_output=True, text=True, check=True).stdout
    return re.findall(r"^\[ *\d+\]\(sec +[1-9]\d*\).* (\S+)$", out, re.M)


def folder_bytes(nm, objdump, full_image, libraries, text):
    owner = {}
    for library in libraries:
        for name in library_symbols(objdump, library):
            owner.setdefault(plain_name(name), folder_of_library(library))
    _, start, size, _, _, _ = text
    start_va = start + Image(open(full_image, "rb").read()).base
    placed = sorted((a, n) for a, n in symbols(nm, full_image, "TtRr")
                    if start_va <= a < start_va + size and not n.startswith(".")
                    and "idata" not in n and not n.startswith(("__imp", "__head", "__IAT")))
    totals = collections.Counter()
    for (address, name), following in zip(placed, placed[1:] + [(start_va + size, "")]):
        totals[owner.get(plain_name(name), "ui")] += following[0] - address
    return totals


PAGE = 4096


def large_frames(disassembly):
    """The functions of an objdump disassembly that move the stack pointer by
    a page or more at once, each with the bytes it takes."""
    found, function = [], None
    for line in disassembly.splitlines():
        head = re.match(r"[0-9a-f]+ <(.*)>:$", line)
        if head:
            function = head.group(1)
            continue
        step = re.search(r"\tsub\s+\$0x([0-9a-f]+),%esp", line)
        if step and int(step.group(1), 16) >= PAGE:
            found.append("%s takes %d bytes of stack at once" % (function, int(step.group(1), 16)))
    return found


def ledger(stub, limit, full_image, nm, objdump, libraries):
    data = open(stub, "rb").read()
    image = Image(data)
    end = image.content_end()
    print("stub: %d bytes unpadded, %d of %d, %d bytes of room" % (end, end, limit, limit - end))
    print("  headers %d" % image.header_size)
    for name, _, size, raw_at, raw_size, _ in image.sections:
        if raw_size:
            print("  %-7s %6d in %6d (%d free in its last file block)"
                  % (name, size, raw_size, raw_size - size if size < raw_size else 0))
    address, size = image.directory(RELOCATIONS)
    print("  relocations: %d, %d bytes" % (len(image.relocation_sites()) if size else 0, size))
    text = next(s for s in image.sections if s[5] & EXECUTABLE)
    totals = folder_bytes(nm, objdump, full_image, libraries, text)
    print("  code and constants by folder, after link-time optimisation: " +
          ", ".join("%s %d" % item for item in sorted(totals.items(), key=lambda i: -i[1])))
    code = subprocess.run([objdump, "-d", full_image], capture_output=True, text=True, check=True).stdout
    found = large_frames(code)
    for fault in found:
        print("%s: %s (no stack probes: a frame stays below a page)" % (full_image, fault))
    return 1 if found else 0


def main(argv):
    if len(argv) >= 3 and argv[1] == "check":
        found = faults(open(argv[2], "rb").read())
        for fault in found:
            print("%s: %s" % (argv[2], fault))
        return 1 if found else 0
    if len(argv) >= 7 and argv[1] == "ledger":
        return ledger(argv[2], int(argv[3], 0), argv[4], argv[5], argv[6], argv[7:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
