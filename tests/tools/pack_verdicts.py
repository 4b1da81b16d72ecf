#!/usr/bin/env python3
"""tolvane-pack against inputs that go wrong: pack_verdicts.py GROUP.

inputs: one small zip per way an entry can be damaged; create takes exactly
  those the stub extracts (test passes on the package) and names the stub's
  reason for the others. Python's zipfile (zlib) is only the oracle that the
  accepted ones are whole.
reasons: packages whose entries the stub cannot read for a cause of their
  own (ZIP64 sizes, sizes only after the data, strong encryption, a full disk),
  and list --json of a name from a Unicode Path field.
changing: an input rewritten or truncated while create reads it.
interrupt: Ctrl+C during test and extract, a killed extract or create: nothing left.
"""
import json
import os
import signal
import struct
import subprocess
import sys
import time
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pack_cli import PACK, check, expect, make_stub, mkpackage, pack, run_group, write  # noqa: E402

TEXT = b"alpha beta gamma " * 200


def deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def one_entry_zip(payload, size, crc, method=8, flags=0, local=None, name=b"a.txt", extra=b""):
    """A zip of one entry, by hand: 'local' overrides the local header's
    (compressed size, size); the central directory has the true sizes."""
    packed, plain = local or (len(payload), size)
    header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x5821, crc, packed, plain,
                         len(name), len(extra)) + name + extra
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, 0, 0x5821, crc, len(payload),
                          size, len(name), len(extra), 0, 0, 0, 0, 0) + name + extra
    body = header + payload
    return body + central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(body), 0)


def group_inputs():
    make_stub()
    good, crc = deflate(TEXT), zlib.crc32(TEXT)
    cases = [  # name, zip, what create says (None: accepted)
        ("deflated", one_entry_zip(good, len(TEXT), crc), None),
        ("stored", one_entry_zip(TEXT, len(TEXT), crc, method=0), None),
        ("descriptor", one_entry_zip(good, len(TEXT), crc, flags=8, local=(0, 0)), None),
        ("bytes after the stream", one_entry_zip(good + b"GARBAGE!", len(TEXT), crc), "the compressed data are damaged"),
        ("stream cut", one_entry_zip(good[:len(good) // 2], len(TEXT), crc), "data ends early"),
        ("damaged stream", one_entry_zip(b"\xff" * 40, len(TEXT), crc), "the compressed data are damaged"),
        ("crc", one_entry_zip(good, len(TEXT), crc ^ 1), "CRC mismatch"),
        ("size too small", one_entry_zip(good, len(TEXT) - 10, crc), "its data decode to more than the declared 3390"),
        ("size too large", one_entry_zip(good, len(TEXT) + 10, crc), "its data do not decode to the declared 3410"),
        ("stored size", one_entry_zip(TEXT, len(TEXT) + 1, crc, method=0), "its data do not decode to the declared 3401"),
    ]
    with zipfile.ZipFile("lzma.zip", "w", zipfile.ZIP_LZMA) as z:
        z.writestr("a.txt", TEXT)
    cases.append(("lzma", open("lzma.zip", "rb").read(), None))
    for name, data, reason in cases:
        tag = name.replace(" ", "-")
        write(f"{tag}.zip", data)
        os.makedirs(tag)
        r = pack("create", f"{tag}/p.exe", f"{tag}.zip", "--stub", "stub.exe", "-q")
        if reason is None:
            expect(r, 0, f"create takes {name}")
            expect(pack("test", f"{tag}/p.exe", "-q"), 0, f"test passes the package of {name}")
            check(zipfile.ZipFile(f"{tag}.zip").read("a.txt") == TEXT, f"the oracle reads {name}")
        else:
            expect(r, 1, f"create refuses {name}", err=f"{tag}.zip:a.txt: the stub would not extract it: {reason}")
            check(os.listdir(tag) == [], f"nothing left after refusing {name}", str(os.listdir(tag)))


def local_header(data, name):
    return data.rfind(b"PK\x03\x04", 0, data.find(name))


def group_reasons():
    make_stub()
    write("src/a.txt", TEXT)
    write("src/b.txt", TEXT[::-1])
    expect(pack("create", "pkg.exe", "src", "--stub", "stub.exe", "-q"), 0, "create")
    data = open("pkg.exe", "rb").read()
    a = local_header(data, b"a.txt")
    cases = [  # name, (offset, bytes) written into a copy, what test says of a.txt
        ("zip64", [(a + 18, b"\xff" * 8)], "its sizes are in a ZIP64 field, which the stub does not read"),
        ("descriptor", [(a + 6, b"\x08\x00"), (a + 18, bytes(8))], "its sizes come only in the data descriptor"),
        ("strong", [(a + 6, b"\x41\x00")], "it uses strong encryption (flag bit 6)"),
    ]
    for name, changes, reason in cases:
        damaged = bytearray(data)
        for offset, new in changes:
            damaged[offset:offset + len(new)] = new
        write(f"{name}.exe", bytes(damaged))
        expect(pack("test", f"{name}.exe", "--password", "x"), 1, f"test names {name}",
               err=f"not extracted: a.txt: {reason}")

    # A full disk: the cause, once, and the run stops there.
    os.makedirs("small")
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", "small"], capture_output=True).returncode:
        print("a full disk: skipped (no tmpfs can be mounted)")
    else:
        try:
            write("big/one.bin", os.urandom(100000))
            write("big/two.bin", os.urandom(100000))
            expect(pack("create", "big.exe", "big", "--stub", "stub.exe", "-q"), 0, "create of a large package")
            r = pack("extract", "big.exe", "-d", "small", "-q")
            expect(r, 1, "extract onto a full disk", err="one.bin: no space left on the device")
            check(r.err.count("\n") <= 3 and "1 more entry: not reached: the disk is full" in r.err,
                  "a full disk is told once", r.err)
            check(os.listdir("small") == [], "nothing half written on the full disk", str(os.listdir("small")))
        finally:
            subprocess.run(["umount", "small"])

    # A legacy name with its UTF-8 form in a Unicode Path field: list --json
    # shows the real fields under the name the stub lists.
    field = b"\x01" + struct.pack("<I", zlib.crc32(b"cafe.txt")) + "caf\u00e9.txt".encode()
    extra = struct.pack("<HH", 0x7075, len(field)) + field
    good = deflate(TEXT)
    zip_bytes = one_entry_zip(good, len(TEXT), zlib.crc32(TEXT), name=b"cafe.txt", extra=extra)
    write("unicode.exe", mkpackage.build_package(mkpackage.stand_in_stub(), zip_bytes))
    r = pack("list", "--json", "unicode.exe")
    expect(r, 0, "list --json of a Unicode Path name")
    entries = json.loads(r.out)["entries"] if r.rc == 0 else [{}]
    want = {"name": "caf\u00e9.txt", "size": len(TEXT), "packed": len(good), "method": "deflate",
            "crc32": "%08x" % zlib.crc32(TEXT), "time": "2024-01-01 00:00:00"}
    got = {k: entries[0].get(k) for k in want}
    check(got == want, "list --json fields of a Unicode Path name", f"{got} != {want}")
    expect(pack("list", "-v", "unicode.exe"), 0, "list -v of a Unicode Path name", out="%08x" % zlib.crc32(TEXT))


def group_changing():
    """An input rewritten, or cut and grown again, over and over while create
    runs: refused by name, never packed with a wrong CRC, never a crash,
    nothing left beside the output. On one thread, the files before it take a
    while, so that it changes between its listing and its reading however
    busy the machine is."""
    make_stub()
    size = 48 << 20
    for i in range(8):
        write(f"src/a{i}.bin", os.urandom(1 << 20))
    write("src/big.bin", os.urandom(1 << 20) * 48)
    writer = {
        "rewritten": "f = open(p, 'r+b')\nwhile True:\n    f.seek(0); f.write(os.urandom(4096)); f.flush()\n",
        "truncated": "while True:\n    os.truncate(p, 1 << 20); os.truncate(p, %d)\n" % size,
    }
    for name, loop in writer.items():
        os.makedirs(name)
        started = f"{name}.started"
        code = f"import os\np = 'src/big.bin'\nopen('{started}', 'w').close()\n" + loop
        proc = subprocess.Popen([sys.executable, "-c", code])
        while not os.path.exists(started):
            time.sleep(0.01)
        try:
            r = pack("create", f"{name}/p.exe", "src", "--stub", "stub.exe", "--threads", "1", "-q")
        finally:
            proc.kill()
            proc.wait()
        expect(r, 1, f"create refuses an input {name} while read", err="src/big.bin")
        check("changed while it was packed" in r.err or "shrank while it was read" in r.err,
              f"the input {name} is named as changed", r.err)
        check(os.listdir(name) == [], f"nothing left after an input {name}", str(os.listdir(name)))
        os.truncate("src/big.bin", size)


def interrupt_after(args, ready, how=signal.SIGINT, env=None):
    """Runs the tool and sends it 'how' once 'ready()' holds; its exit code."""
    proc = subprocess.Popen([PACK, *args], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    deadline = time.time() + 60
    while not ready() and proc.poll() is None and time.time() < deadline:
        time.sleep(0.002)
    proc.send_signal(how)
    proc.wait()
    return proc.returncode


def group_interrupt():
    make_stub()
    write("src/0-first.txt", "first")
    for i in range(6):
        write(f"src/{i}.bin", os.urandom(1 << 20) * 24)
    expect(pack("create", "pkg.exe", "src", "--stub", "stub.exe", "--level", "0", "-q"), 0, "create")

    def any_output(folder):
        return lambda: any(os.scandir(folder))

    for how in (signal.SIGINT, signal.SIGKILL):
        out = f"out-{how.name}"
        os.makedirs(out)
        rc = interrupt_after(["extract", "pkg.exe", "-d", out], any_output(out), how)
        check(rc == -how, f"extract ends by {how.name}", f"exit {rc}")
        left = [n for n in os.listdir(out) if n.startswith("~tv")]
        check(left == [], f"{how.name} during extract leaves no temporary file", str(left))

    # A killed create: its package had no name yet.
    os.makedirs("killed")
    started = time.time()
    rc = interrupt_after(["create", "killed/p.exe", "src", "--stub", "stub.exe", "--level", "12"],
                         lambda: time.time() > started + 0.5, signal.SIGKILL)
    check(rc == -signal.SIGKILL and os.listdir("killed") == [], "a killed create leaves nothing",
          f"exit {rc}, {os.listdir('killed')}")

    os.makedirs("tmp")
    env = dict(os.environ, TMPDIR=os.path.abspath("tmp"))

    def test_started():
        return any(any(os.scandir(e.path)) for e in os.scandir("tmp"))

    rc = interrupt_after(["test", "pkg.exe"], test_started, env=env)
    check(rc == -signal.SIGINT, "test ends by SIGINT", f"exit {rc}")
    check(os.listdir("tmp") == [], "Ctrl+C during test leaves nothing", str(os.listdir("tmp")))


if __name__ == "__main__":
    run_group(globals())
