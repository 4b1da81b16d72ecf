"""End-to-end scenarios for packages made by tolvane-pack: a folder tree with
every kind of file is packed, tested by the tool, extracted by the real stub
under Wine (played by the driver) and compared with its source.

run_e2e.py registers them and hands over its helpers; without a tool (--pack)
they report themselves skipped, and so does windows_made_package without the
Windows build of the tool (--pack-windows). Packages are made with --stub
naming the stub of the win32 build under test, so the tool and the suite run
the same stub.
"""
import calendar
import io
import os
import random
import shutil
import struct
import subprocess
import warnings
import zipfile

from mkpackage import DEFAULT_FLAGS, FLAG_KEEP_TIMES, FLAG_SWITCHES

e2e = None  # the run_e2e module: win(), read(), wait_for(), SUCCESS


class Skipped(Exception):
    """The scenario cannot run here (no tool, no signing programs)."""


def register(module):
    global e2e
    e2e = module
    return [packed_tree, packed_with_password, signed_package, pack_options, packed_zip_inputs,
            lzma_packages, lzma_in_background, windows_made_package, solid_packages]


# The message, the password and several names hold characters of code page
# 1252 outside ASCII, some of them outside Latin-1 too (Œ, €): UTF-8 on this
# side, one byte each in the package, UTF-8 again on disk after Wine has
# mapped the stub's 8-bit names back. The program the command launches has a
# blank and such a character in its name.
MESSAGE = "Café tree: press Extract to unpack it."
COMMAND = r"##bin\écho args.exe|## x"


def make_tree(root, echo):
    """Empty file, empty folders, nested folders, binary data, a file of a few
    MB, names with spaces and 8-bit characters, a read-only file, a symbolic
    link, and the program the package's command launches. Returns the names the package
    lists: files, and folders only when empty."""
    rng = random.Random(6)
    numbers = b"".join(b"%d\n" % i for i in range(250000))
    files = {
        "empty.txt": b"",
        "name with spaces.txt": b"spaces\r\n",
        "Café au lait/résumé final.txt": "crème brûlée\n".encode(),
        "sub/deeper/deepest/table.bin": bytes(range(256)) * 64,
        "sub/deeper/noise.bin": rng.randbytes(100000),
        # Text and noise: several deflate blocks, some of them stored.
        "sub/large.dat": numbers + rng.randbytes(2000000) + numbers,
        "read only.txt": b"never written to\n",
        "bin/écho args.exe": e2e.read(echo),
    }
    empty = ["empty folder", "Œuvre à 5 €", "sub/also empty"]
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.chmod(os.path.join(root, "read only.txt"), 0o444)
    # A symbolic link is packed as the file it points to.
    os.symlink(os.path.join("deeper", "deepest", "table.bin"), os.path.join(root, "sub", "link to table.bin"))
    for name in empty:
        os.makedirs(os.path.join(root, name))
    return sorted(list(files) + ["sub/link to table.bin"] + [n + "/" for n in empty])


def snapshot(root):
    """Every folder (with '/') and file below root, files with their bytes."""
    tree = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        prefix = "" if rel == "." else rel.replace(os.sep, "/") + "/"
        for d in dirs:
            tree[prefix + d + "/"] = None
        for f in files:
            tree[prefix + f] = e2e.read(os.path.join(folder, f))
    return tree


def differences(expected, got):
    """Names missing, names extra and names whose bytes differ."""
    missing = sorted(set(expected) - set(got))
    extra = sorted(set(got) - set(expected))
    changed = sorted(n for n in set(expected) & set(got) if expected[n] != got[n])
    return {k: v for k, v in (("missing", missing), ("extra", extra), ("changed", changed)) if v}


def tool(run, c, what, args, windows=False):
    """Runs tolvane-pack (its Windows build under Wine when 'windows'); a failure
    is recorded with its output. True on success."""
    command, env = [run.pack], None
    if windows:
        # The Windows tool is given the Windows names of our files, as its users type them.
        command, env = ["wine", run.pack_windows], run.env64()
        args = [e2e.win(a) if a.startswith("/") else a for a in args]
    result = subprocess.run(command + args, capture_output=True, timeout=120, check=False, env=env)
    if result.returncode != 0:
        c.failures.append(f"tolvane-pack {what}: exit {result.returncode}\n"
                          + result.stderr.decode(errors="replace"))
    return result.returncode == 0, result.stdout.decode()


def sign(c, base, package):
    """The package signed with a fresh self-signed certificate; None when signing failed."""
    key, cert = os.path.join(base, "key.pem"), os.path.join(base, "cert.pem")
    signed = os.path.join(base, "signed.exe")
    steps = [("certificate", ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                              "-out", cert, "-days", "2", "-subj", "/CN=Tolvane Test"]),
             ("sign", ["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Tolvane test package",
                       "-in", package, "-out", signed]),
             ("verify", ["osslsigncode", "verify", "-CAfile", cert, signed])]
    for what, args in steps:
        result = subprocess.run(args, capture_output=True, timeout=120, check=False)
        if result.returncode != 0:
            c.failures.append(f"{what}: exit {result.returncode}\n" + result.stderr.decode(errors="replace"))
            return None
    c.true("signing appended a signature", os.path.getsize(signed) > os.path.getsize(package))
    return signed


def need_tool(run, windows=False):
    if windows:
        if not os.path.exists(getattr(run, "pack_windows", None) or ""):
            raise Skipped("no Windows tolvane-pack.exe (--pack-windows; build the windows preset)")
    elif not getattr(run, "pack", None):
        raise Skipped("no tolvane-pack given (--pack)")


def round_trip(run, c, name, password=None, signed=False, options=(), windows=False):
    """create -> test -> extract under Wine by pressing Extract -> the same tree,
    the command launched with "##" expanded. 'windows': the tool's Windows build
    creates, lists and tests."""
    need_tool(run, windows)
    if signed and not (shutil.which("osslsigncode") and shutil.which("openssl")):
        raise Skipped("osslsigncode or openssl is not installed")
    base = run.folder(name)
    src, dest = os.path.join(base, "src"), os.path.join(base, "dest")
    names = make_tree(src, run.echo)
    # Where users keep downloads: a path with blanks and 8-bit characters.
    os.makedirs(os.path.join(base, "Téléchargements"))
    package = os.path.join(base, "Téléchargements", "Paquet à extraire.exe")
    secret = ["--password", password] if password else []
    ok, _ = tool(run, c, "create", ["create", package, src, "--stub", run.stub, "--message", MESSAGE,
                                    "--folder", e2e.win(dest), "--command", COMMAND, "-q"]
                 + secret + list(options), windows)
    if not ok:
        return
    if signed:
        _, before = tool(run, c, "info", ["info", package])
        package = sign(c, base, package)
        if not package:
            return
        # When the stub under test is the one the tool embeds, info still knows it once signed;
        # an elevated one is read back from the signed package's resource section.
        asking = ", asking for administrator rights" if "--elevate" in options else ""
        _, after = tool(run, c, "info", ["info", package])
        if f"the stub of this tolvane-pack{asking}\n" in before:
            c.true("info names the signed stub", f"the stub of this tolvane-pack, signed{asking}\n" in after)
        if asking:
            c.true("the signed package asks for administrator rights", "elevation:     requireAdministrator" in after)
    ok, listing = tool(run, c, "list", ["list", package], windows)
    c.equal("names the tool lists", sorted(listing.splitlines()), names)
    tool(run, c, "test", ["test", package, "-q"] + secret, windows)

    steps = ["main", "get:901", "get:101", "list:301", "press:1"]
    steps += [f"password:{password}"] if password else []
    lines, code = run.drive(package, steps + ["box", "exit"], timeout=180)
    # The main dialog's list shows every entry, none selected.
    shown = sorted(line[len("301 -"):] for line in lines if line.startswith("301 -"))
    c.equal("names the stub lists", shown, names)
    c.equal("driver output", [line for line in lines if not line.startswith("301 ")],
            ["main dialog", f"901={MESSAGE}", f"101={e2e.win(dest)}"]
            + ([f"password {password}"] if password else []) + [e2e.SUCCESS, "exit 0"])
    c.equal("exit code", code, 0)

    args = e2e.wait_for(os.path.join(dest, "bin", "args.txt"))
    c.equal("command arguments", args, f"arg {e2e.win(dest)}\\\narg x\ncount 2\n")
    got = snapshot(dest)
    for written_by_command in ("bin/args.txt", "bin/raw.txt"):
        got.pop(written_by_command, None)
    c.equal("extracted tree against its source", differences(snapshot(src), got), {})
    # Attributes are not carried: the copy of a read-only file is writable.
    read_only = os.path.join(dest, "read only.txt")
    c.true("extracted read-only file is writable",
           os.path.exists(read_only) and os.stat(read_only).st_mode & 0o200)


def packed_tree(run, c):
    """A tree with every kind of file: packed, tested, extracted by the stub, identical."""
    round_trip(run, c, "packed_tree")


def packed_with_password(run, c):
    """The same tree encrypted with AES-256 (AE-1 and, below 20 bytes, AE-2
    entries) and with traditional encryption: the stub asks once and the
    answer opens every entry; the traditional one's has an 8-bit character
    (AES passwords are ASCII: tools disagree on the bytes of others)."""
    round_trip(run, c, "packed_with_password", password="s3cret passe")
    # Stored entries take another path through decryption.
    round_trip(run, c, "packed_with_password_stored", password="s3cret passe", options=["--level", "0"])
    round_trip(run, c, "packed_with_zipcrypto", password="s3cret pässe", options=["--encryption", "zipcrypto"])


def lzma_in_background(run, c):
    """Large LZMA entries are decoded on a second thread while the stub goes on
    with the next ones; the first entry always goes there. Whichever thread
    decodes an entry: a damaged one leaves nothing, a later entry of the same
    name wins, UTF-8 names and kept times hold, nothing temporary stays, and
    both the dialog and an unattended run report the failure."""
    base = run.folder("lzma_background")
    rng = random.Random(64)

    def data(size):
        text = b"".join(b"%d %s\n" % (i, rng.choice([b"alpha", b"beta", b"gamma"])) for i in range(size // 12))
        return (text + rng.randbytes(size // 8))[:size]

    when = (2019, 7, 1, 12, 30, 4)
    # The first entry takes long enough (over 100 ms) for its thread to write
    # while the entry of its name waits for it.
    first, second, damaged = ("same.bin", data(8000000)), ("same.bin", data(100000)), ("damaged.bin", data(400000))
    rest = [("Документы/отчёт.bin", data(500000)), ("small.txt", b"small\n"), ("big.bin", data(600000))]
    expected = dict(rest + [second])
    orders = {"same name first": [first, second, damaged] + rest,
              "damaged first": [damaged, first, second] + rest}
    for order, entries in orders.items():
        buffer = io.BytesIO()
        with warnings.catch_warnings(), zipfile.ZipFile(buffer, "w", zipfile.ZIP_LZMA) as z:
            warnings.simplefilter("ignore")   # the repeated name
            for name, content in entries:
                info = zipfile.ZipInfo(name, when)
                info.compress_type = zipfile.ZIP_LZMA
                z.writestr(info, content)
        archive = e2e.corrupt_crc(buffer.getvalue(), "damaged.bin")
        out = os.path.join(base, order.replace(" ", "_"))
        pkg = run.package(out + ".exe", [], archive=archive, flags=DEFAULT_FLAGS | FLAG_SWITCHES | FLAG_KEEP_TIMES)
        c.equal(f"{order}: exit code", run.start(pkg, ["/S", "/D=" + e2e.win(out)], env={"TZ": "UTC"}), 1)
        c.equal(f"{order}: files", e2e.extracted(out), sorted(expected))
        for name, content in expected.items():
            path = os.path.join(out, name)
            c.true(f"{order}: {name}", e2e.read(path) == content)
            c.equal(f"{order}: {name} time", os.path.exists(path) and os.stat(path).st_mtime, calendar.timegm(when))

    dest = os.path.join(base, "dialog")
    pkg = run.package(os.path.join(base, "dialog.exe"), [], folder=e2e.win(dest), archive=archive)
    lines, _ = run.drive(pkg, ["main", "press:1", "box", "press:2", "exit"])
    c.equal("dialog run", lines, ["main dialog", e2e.FAILURE, "exit 0"])
    c.equal("dialog files", e2e.extracted(dest), sorted(expected))


def windows_made_package(run, c):
    """The Windows build of the tool, under Wine, makes, lists and tests the
    package: the stub extracts the same tree. (pack_windows.py compares its
    packages with the Linux tool's.)"""
    round_trip(run, c, "windows_made_package", windows=True)


def signed_package(run, c):
    """A package made to ask for administrator rights, signed afterwards with
    Authenticode, verifies and still extracts (Wine ignores the level)."""
    round_trip(run, c, "signed_package", signed=True, options=["--elevate", "admin"])


# Options of create: (arguments, file list offered, overwrite box, existing file replaced)
OPTION_CASES = [
    ([], True, "visible enabled checked", True),
    (["--no-file-list"], False, "visible enabled checked", True),
    (["--hide-overwrite"], True, "absent", True),
    (["--keep-existing"], True, "visible enabled unchecked", False),
    (["--no-file-list", "--hide-overwrite", "--keep-existing"], False, "absent", False),
]


def pack_options(run, c):
    """Each dialog option of create does what it says in the stub's dialog, and
    to a file that already exists in the destination."""
    need_tool(run)
    for number, (options, listed, box, replaced) in enumerate(OPTION_CASES):
        what = " ".join(options) or "no options"
        base = run.folder(f"pack_options_{number}")
        src, dest = os.path.join(base, "src"), os.path.join(base, "dest")
        for folder, data in ((src, b"new\n"), (dest, b"old\n")):
            os.makedirs(folder)
            with open(os.path.join(folder, "a.txt"), "wb") as f:
                f.write(data)
        package = os.path.join(base, "p.exe")
        ok, _ = tool(run, c, f"create {what}", ["create", package, src, "--stub", run.stub,
                                                "--folder", e2e.win(dest), "-q"] + options)
        if not ok:
            continue
        lines, _ = run.drive(package, ["main", "state:3", "state:702", "state:501", "press:1", "box", "exit"])
        shown = "visible enabled unchecked" if listed else "hidden enabled unchecked"
        c.equal(f"{what}: output", lines, ["main dialog", f"3 {shown}", f"702 {shown}", f"501 {box}",
                                           e2e.SUCCESS, "exit 0"])
        c.equal(f"{what}: existing file", e2e.read(os.path.join(dest, "a.txt")),
                b"new\n" if replaced else b"old\n")


def streamed_zip(files):
    """A zip written to a stream that cannot seek: every entry's sizes and CRC
    follow its data in a descriptor, the local header holds zeros."""
    class Unseekable(io.RawIOBase):
        def __init__(self):
            self.data = bytearray()

        def writable(self):
            return True

        def write(self, b):
            self.data += b
            return len(b)

    out = Unseekable()
    with zipfile.ZipFile(out, "w") as z:
        for name, data, method in files:
            z.writestr(zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6)), data, compress_type=method)
    return bytes(out.data)


def packed_zip_inputs(run, c):
    """Zip archives as inputs (streamed, made by Info-ZIP zip, bzip2 entries)
    together with a folder: the stub extracts every entry."""
    need_tool(run)
    if not shutil.which("zip"):
        c.failures.append("zip is not installed")
        return
    base = run.folder("packed_zip_inputs")
    dest = os.path.join(base, "dest")
    rng = random.Random(9)
    text = b"".join(b"line %d of the streamed entry\n" % i for i in range(20000))
    expected = {
        "streamed/deflated.txt": text,
        "streamed/stored.bin": rng.randbytes(5000),
        "streamed/crème.txt": "brûlée\n".encode(),
        "streamed/bzip2.txt": text[:100000],
        "infozip/one.txt": b"one\n" * 1000,
        "infozip/sub/two.bin": bytes(range(256)) * 50,
        "folder/three.txt": b"three\n",
    }
    # bzip2 entries are recompressed by a tool built with bzip2; its help says so.
    usage = subprocess.run([run.pack, "--help"], capture_output=True, check=False).stdout
    if b"bzip2" not in usage:
        del expected["streamed/bzip2.txt"]
    methods = {"streamed/stored.bin": zipfile.ZIP_STORED, "streamed/bzip2.txt": zipfile.ZIP_BZIP2}
    streamed = os.path.join(base, "streamed.zip")
    with open(streamed, "wb") as f:
        f.write(streamed_zip([(name, data, methods.get(name, zipfile.ZIP_DEFLATED))
                              for name, data in expected.items() if name.startswith("streamed/")]))
    tree = os.path.join(base, "tree")
    for name in ("infozip/one.txt", "infozip/sub/two.bin", "folder/three.txt"):
        os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
        with open(os.path.join(tree, name), "wb") as f:
            f.write(expected[name])
    subprocess.run(["zip", "-qr", os.path.join(base, "infozip.zip"), "infozip"], cwd=tree, check=True)
    inputs = [streamed, os.path.join(base, "infozip.zip"), os.path.join(tree, "folder")]
    # A folder input adds its contents, not its own name.
    expected["three.txt"] = expected.pop("folder/three.txt")
    package = os.path.join(base, "p.exe")
    ok, _ = tool(run, c, "create", ["create", package] + inputs + ["--stub", run.stub, "--folder",
                                                                   e2e.win(dest), "-q"])
    if not ok:
        return
    result = subprocess.run(["unzip", "-tq", package], capture_output=True, check=False) \
        if shutil.which("unzip") else None
    c.true("unzip -t accepts the package", result is None or result.returncode == 0)
    lines, _ = run.drive(package, ["main", "press:1", "box", "exit"])
    c.equal("output", lines, ["main dialog", e2e.SUCCESS, "exit 0"])
    got = {name: data for name, data in snapshot(dest).items() if data is not None}
    c.equal("extracted files against the inputs", differences(expected, got), {})


def set_lzma_properties(archive, name, value):
    """The archive with the lc/lp/pb byte of one LZMA entry's header set to 'value'."""
    data = bytearray(archive)
    data[e2e.data_start(archive, name) + 4] = value
    return bytes(data)


def lzma_packages(run, c):
    """LZMA entries (method 14) as four writers make them: 7z (no end marker),
    Python's zipfile (end marker), tolvane-pack --method lzma, and 7z with
    AES-256 around LZMA. Each extracts in full; an entry whose properties lie
    beyond the format's limits is named in a message and the walk goes on."""
    need_tool(run)
    if not shutil.which("7z"):
        c.failures.append("7z is not installed")
        return
    base = run.folder("lzma_packages")
    rng = random.Random(14)
    numbers = b"".join(b"%d\n" % i for i in range(60000))
    files = [("a.txt", b"alpha\n" * 500), ("docs/noise.bin", numbers + rng.randbytes(70000) + numbers),
             ("tiny.txt", b"x")]
    expected = sorted(n for n, _ in files)
    python_made = e2e.make_zip(files, zipfile.ZIP_LZMA)
    tree = os.path.join(base, "tree")
    for name, data in files:
        os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
        with open(os.path.join(tree, name), "wb") as f:
            f.write(data)
    cases = [("7z", e2e.make_7z(base, "7z", ["-mm=LZMA"], files, password=None), []),
             ("python", python_made, []),
             ("7z aes", e2e.make_7z(base, "7z_aes", ["-mem=AES256", "-mm=LZMA"], files), ["password:secret"])]
    for name, archive, steps in cases:
        dest = os.path.join(base, name.replace(" ", "_"))
        pkg = run.package(os.path.join(base, name.replace(" ", "_") + ".exe"), [], folder=e2e.win(dest),
                          archive=archive)
        lines, code = run.drive(pkg, ["main", "press:1"] + steps + ["box", "exit"])
        c.equal(name, lines, ["main dialog"] + [s.replace(":", " ") for s in steps] + [e2e.SUCCESS, "exit 0"])
        for file, data in files:
            c.equal(f"{name} {file}", e2e.read(os.path.join(dest, file)), data)

    dest = os.path.join(base, "tool")
    package = os.path.join(base, "tool.exe")
    ok, _ = tool(run, c, "create", ["create", package, tree, "--method", "lzma", "--stub", run.stub,
                                    "--folder", e2e.win(dest), "-q"])
    if ok:
        methods = {i.filename: i.compress_type for i in zipfile.ZipFile(package).infolist()}
        c.equal("tool: the large entry is LZMA", methods.get("docs/noise.bin"), zipfile.ZIP_LZMA)
        lines, _ = run.drive(package, ["main", "press:1", "box", "exit"])
        c.equal("tool", lines, ["main dialog", e2e.SUCCESS, "exit 0"])
        c.equal("tool files", e2e.extracted(dest), ["a.txt", "docs/noise.bin", "tiny.txt"])
        c.equal("tool content", e2e.read(os.path.join(dest, "docs", "noise.bin")), files[1][1])

    dest = os.path.join(base, "unsupported")
    pkg = run.package(os.path.join(base, "unsupported.exe"), [], folder=e2e.win(dest),
                      archive=set_lzma_properties(python_made, "docs/noise.bin", 225))
    lines, _ = run.drive(pkg, ["main", "press:1", "box", "box", "press:2", "exit"])
    c.equal("unsupported", lines, ["main dialog", "box: Unsupported compression settings in docs/noise.bin",
                                   e2e.FAILURE, "exit 0"])
    c.equal("unsupported: the other entries", e2e.extracted(dest), ["a.txt", "tiny.txt"])


def solid_entries(package):
    """(name, offset of the data, length, whether it starts a block) of each
    solid entry of an unencrypted package, in archive order."""
    with open(package, "rb") as f:
        data = f.read()
    entries, pos = [], data.find(b"PK\x03\x04")
    while data.startswith(b"PK\x03\x04", pos):
        method, = struct.unpack_from("<H", data, pos + 8)
        size, = struct.unpack_from("<I", data, pos + 18)
        name_length, extra_length = struct.unpack_from("<HH", data, pos + 26)
        start = pos + 30 + name_length + extra_length
        if method == 0x5654:
            control = data[start + 1] if size > 1 else 0
            entries.append((data[pos + 30:pos + 30 + name_length].decode(), start, size,
                            control == 1 or control >= 0xE0))
        pos = start + size
    return entries


def solid_packages(run, c):
    """A solid package of a few thousand files in several blocks extracts equal to
    its tree, unattended and with entries deselected in the file list; a damaged
    entry in the middle of a block fails with the later entries of its block,
    and the other blocks extract; an AES solid package extracts with /P=."""
    need_tool(run)
    base = run.folder("solid")
    tree = os.path.join(base, "tree")
    rng = random.Random(34)
    words = [b"alpha", b"beta", b"gamma", b"delta", b"value", b"index", b"table", b"window"]
    for i in range(2500):
        name = os.path.join(tree, f"part{i % 7}", f"file{i:04}.{('txt', 'cfg', 'py')[i % 3]}")
        os.makedirs(os.path.dirname(name), exist_ok=True)
        with open(name, "wb") as f:
            f.write(b" ".join(rng.choice(words) for _ in range(rng.randrange(20, 400))) + b"\n")
    expected = snapshot(tree)
    pkg = os.path.join(base, "solid.exe")
    ok, _ = tool(run, c, "create --solid", ["create", "-q", pkg, tree + "/", "--solid=150000"])
    if not ok:
        return
    entries = solid_entries(pkg)
    starts = [i for i, e in enumerate(entries) if e[3]]
    c.true(f"{len(entries)} solid entries in {len(starts)} blocks", len(entries) == 2500 and len(starts) >= 3)

    dest = os.path.join(base, "unattended")
    c.equal("unattended: exit code", run.start(pkg, ["/S", "/D=" + e2e.win(dest)], timeout=300), 0)
    c.equal("unattended: the tree", differences(expected, snapshot(dest)), {})

    # Deselected: the first entry of the second block and one in the middle of a block.
    names = [e[0] for e in entries]
    off = [names[starts[1]], names[starts[1] + 5]]
    dest = os.path.join(base, "listed")
    steps = ["main", f"set:101={e2e.win(dest)}", "press:3", "files"] + [f"toggle:301:{n}" for n in off]
    lines, _ = run.drive(pkg, steps + ["press:1", "box", "exit"], timeout=300)
    c.equal("listed: dialog", lines[-2:], [e2e.SUCCESS, "exit 0"])
    c.equal("listed: the tree without the deselected", differences(
        {k: v for k, v in expected.items() if k not in off}, snapshot(dest)), {})

    # A damaged entry in the middle of the second block.
    damaged_at = starts[1] + 3
    name, start, size, _ = entries[damaged_at]
    with open(pkg, "rb") as f:
        data = bytearray(f.read())
    data[start + size // 2] ^= 0x55
    broken = os.path.join(base, "damaged.exe")
    with open(broken, "wb") as f:
        f.write(data)
    dest = os.path.join(base, "damaged")
    c.equal("damaged: exit code", run.start(broken, ["/S", "/D=" + e2e.win(dest)], timeout=300), 1)
    lost = set(names[damaged_at:starts[2]])
    got = snapshot(dest)
    c.equal("damaged: the entry and the later ones of its block are missing, the rest is there",
            differences({k: v for k, v in expected.items() if k not in lost}, got), {})

    # AES: every entry encrypted on its own, the blocks as before.
    aes = os.path.join(base, "aes.exe")
    if tool(run, c, "create --solid --password", ["create", "-q", aes, tree + "/", "--solid=150000",
                                                     "--password", "solid-pass"])[0]:
        dest = os.path.join(base, "aes")
        c.equal("aes: exit code", run.start(aes, ["/S", "/D=" + e2e.win(dest), "/P=solid-pass"], timeout=300), 0)
        c.equal("aes: the tree", differences(expected, snapshot(dest)), {})
