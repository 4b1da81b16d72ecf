"""End-to-end scenarios for international entry names, with Wine's ANSI code
page set through the locale (ru_RU.UTF-8: 1251, ja_JP.UTF-8: 932).

Names marked UTF-8 (flag bit 11, as Python's zipfile and 7-Zip write them) and
a legacy name with a Unicode Path field must come out on disk exactly, show
in the file-selection list and deselect there; a name without either keeps
its code page meaning. bsdtar's archives (sizes only after the data, which
the stub cannot walk) go through tolvane-pack, whose package of such names
round-trips under 1251.

run_e2e.py registers them and hands over its helpers.
"""
import io
import os
import shutil
import subprocess
import zipfile
import zlib

e2e = None  # the run_e2e module


class Skipped(Exception):
    """The scenario cannot run here (a program or a locale is missing)."""


def register(module):
    global e2e
    e2e = module
    return [utf8_names, utf8_packed, right_place]


# Cyrillic, Greek, Japanese and emoji names, folders among them; the fullwidth
# solidus U+FF0F and full stop U+FF0E are ordinary characters, never a
# separator or a dot.
FILES = {
    "Привет мир.txt": b"ru\n",
    "Ελληνικά/αρχείο.txt": b"el\n",
    "日本語/ファイル.txt": b"ja\n",
    "emoji 😀.txt": b"emoji\n",
    "a／b．txt": b"fullwidth\n",
    "папка/вложенная/файл.txt": b"deep\n",
}
EMPTY = "пустая папка/"
LEGACY = "caf\xe9.txt"            # bytes of code page 1252, no flag: read in the ANSI code page
UNICODE_PATH = "Юникод.txt"       # stored in code page 866 with its UTF-8 form in a 0x7075 field


def tree(root):
    """Every folder (with '/') and file below root, files with their bytes."""
    found = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        prefix = "" if rel == "." else rel.replace(os.sep, "/") + "/"
        found.update({prefix + d + "/": None for d in dirs})
        found.update({prefix + f: e2e.read(os.path.join(folder, f)) for f in files})
    return found


def expected_tree(files, empty=()):
    """The tree extracting 'files' and the empty folders 'empty' gives."""
    want = dict(files)
    for name in list(files) + list(empty):
        parts = name.rstrip("/").split("/")
        for i in range(1, len(parts) + (name.endswith("/"))):
            want["/".join(parts[:i]) + "/"] = None
    return want


def write_tree(root):
    for name, data in FILES.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, EMPTY))


def python_zip():
    """Python's zipfile: bit 11 on every non-ASCII name; plus the two legacy entries."""
    buffer = io.BytesIO()
    stored = UNICODE_PATH.encode("cp866")
    placeholder = "u" * len(stored)
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in FILES.items():
            z.writestr(name, data)
        z.writestr(EMPTY, b"")
        z.writestr("L" * len(LEGACY), b"legacy\n")
        utf8 = UNICODE_PATH.encode()
        info = zipfile.ZipInfo(placeholder)
        info.extra = (b"\x75\x70" + (5 + len(utf8)).to_bytes(2, "little") + b"\x01"
                      + zlib.crc32(stored).to_bytes(4, "little") + utf8)
        z.writestr(info, b"unicode path\n")
    data = buffer.getvalue()
    # ASCII placeholders of the same length keep zipfile from setting bit 11.
    data = data.replace(b"L" * len(LEGACY), LEGACY.encode("latin-1"))
    return data.replace(placeholder.encode(), stored)


def need(*programs):
    for program in programs:
        if not shutil.which(program):
            raise Skipped(f"{program} is not installed")


def check_locales(run):
    if not shutil.which("localedef"):
        raise Skipped("localedef is not installed (package locales)")
    run.locales()


def package(run, path, archive, folder, codepage, message="", flags=0x0A):
    with open(run.stub, "rb") as f:
        stub = f.read()
    data = e2e.build_package(stub, archive, header=True, flags=flags, message=message.encode(codepage),
                             folder=folder.encode(codepage), command=b"")
    with open(path, "wb") as f:
        f.write(data)
    return path


def listed(lines, list_id=301):
    """The list items the driver printed: name -> selected."""
    prefix = f"{list_id} "
    return {line[len(prefix) + 1:]: line[len(prefix)] == "+" for line in lines if line.startswith(prefix)}


def utf8_names(run, c):
    """Archives of Python's zipfile and 7-Zip under code pages 1251 and 932: exact
    names on disk (below a folder with a character of the code page), the list
    shows and deselects them, field 55 and the message boxes show them; a name
    without the flag keeps its code page meaning."""
    check_locales(run)
    base = run.folder("utf8_names")
    archive = python_zip()
    names = dict(FILES, **{UNICODE_PATH: b"unicode path\n"})

    # Under 1251 through the file-selection dialog, one name deselected.
    dest = os.path.join(base, "dest Ж")
    pkg = package(run, os.path.join(base, "python.exe"), archive, e2e.win(dest), "cp1251")
    lines, code = run.drive(pkg, ["main", "press:3", "files", "list:301", "toggle:301:emoji 😀.txt",
                                  "list:301", "press:1", "box", "exit"], locale="ru_RU.UTF-8")
    every = sorted(list(names) + [EMPTY, "cafй.txt"])
    first = lines.index("files dialog") + 1 if "files dialog" in lines else 0
    shown = listed(lines[first:first + len(every)])
    second = listed(lines[first + len(every):])
    c.equal("1251: listed", sorted(shown), every)
    c.true("1251: all selected at first", all(shown.values()))
    c.equal("1251: deselected", sorted(n for n, on in second.items() if not on), ["emoji 😀.txt"])
    c.equal("1251: result", [line for line in lines if not line.startswith("301 ")],
            ["main dialog", "files dialog", e2e.SUCCESS, "exit 0"])
    want = expected_tree({n: d for n, d in names.items() if n != "emoji 😀.txt"}, [EMPTY])
    want["cafй.txt"] = b"legacy\n"
    c.equal("1251: tree", tree(dest), want)

    # Under 932 with the main dialog's Extract; the legacy byte 0xE9 is a lead
    # byte there and takes the dot with it, as the ANSI calls always did.
    dest = os.path.join(base, "dest 日本")
    pkg = package(run, os.path.join(base, "python932.exe"), archive, e2e.win(dest), "cp932")
    lines, code = run.drive(pkg, ["main", "press:1", "box", "exit"], locale="ja_JP.UTF-8")
    c.equal("932: result", lines, ["main dialog", e2e.SUCCESS, "exit 0"])
    got = tree(dest)
    legacy = [n for n in got if n.startswith("caf")]
    c.equal("932: tree", {n: d for n, d in got.items() if n not in legacy}, expected_tree(names, [EMPTY]))
    c.equal("932: legacy name", legacy, ["caf・txt"])

    # 7-Zip, from the same names on disk.
    if shutil.which("7z"):
        src = os.path.join(base, "src")
        write_tree(src)
        subprocess.run(["7z", "a", "-tzip", "-mcu=on", os.path.join(base, "7z.zip"), "."], cwd=src,
                       stdout=subprocess.DEVNULL, check=True)
        dest = os.path.join(base, "dest 7z")
        pkg = package(run, os.path.join(base, "7z.exe"), e2e.read(os.path.join(base, "7z.zip")),
                      e2e.win(dest), "cp1251")
        lines, _ = run.drive(pkg, ["main", "press:1", "box", "exit"], locale="ru_RU.UTF-8")
        c.equal("7z: result", lines, ["main dialog", e2e.SUCCESS, "exit 0"])
        c.equal("7z: tree", tree(dest), expected_tree(FILES, [EMPTY]))
    else:
        c.failures.append("7z is not installed")

    # A refused UTF-8 name in the message box; field 55 keeps the last path.
    dest = os.path.join(base, "dest refused")
    refused = e2e.make_zip([("../Побег.txt", b"out\n"), ("日本語.txt", b"in\n")])
    pkg = package(run, os.path.join(base, "refused.exe"), refused, e2e.win(dest), "cp1251")
    lines, _ = run.drive(pkg, ["main", "press:1", "box", "box", "get:55", "press:2", "exit"],
                         locale="ru_RU.UTF-8")
    c.equal("refused name", lines, ["main dialog", "box: Invalid filename ../Побег.txt", e2e.FAILURE,
                                    f"55={e2e.win(dest)}\\日本語.txt", "exit 0"])
    c.equal("refused: tree", tree(dest), {"日本語.txt": b"in\n"})
    c.true("nothing outside the folder", not os.path.exists(os.path.join(base, "Побег.txt")))


def utf8_packed(run, c):
    """tolvane-pack packs such names (a folder and a bsdtar archive as inputs) as
    UTF-8 with a Cyrillic message in code page 1251; list, test and extract of
    the tool show and write them, and the stub extracts them under 1251."""
    check_locales(run)
    if not getattr(run, "pack", None):
        raise Skipped("no tolvane-pack given (--pack)")
    need("bsdtar")
    base = run.folder("utf8_packed")
    src, dest, tool_dest = (os.path.join(base, n) for n in ("src", "dest", "tool dest"))
    write_tree(src)
    other = os.path.join(base, "other")
    os.makedirs(os.path.join(other, "архив"))
    with open(os.path.join(other, "архив", "Ωμέγα.txt"), "wb") as f:
        f.write(b"from bsdtar\n")
    subprocess.run(["bsdtar", "--format", "zip", "-cf", os.path.join(base, "bsdtar.zip"), "архив"], cwd=other,
                   check=True)
    message = "Распаковать файлы?"
    package = os.path.join(base, "p.exe")
    result = subprocess.run([run.pack, "create", package, src, os.path.join(base, "bsdtar.zip"), "--stub",
                             run.stub, "--codepage", "1251", "--message", message, "--folder",
                             e2e.win(dest), "-q"], capture_output=True, check=False)
    c.equal("create", (result.returncode, result.stderr.decode()),
            (0, "tolvane-pack: warning: the message holds characters outside ASCII: they show as written "
                "only on Windows systems whose ANSI code page is 1251\n"))
    if result.returncode != 0:
        return
    want = expected_tree(dict(FILES, **{"архив/Ωμέγα.txt": b"from bsdtar\n"}), [EMPTY])
    names = sorted(n for n, d in want.items() if d is not None) + [EMPTY]
    listing = subprocess.run([run.pack, "list", package], capture_output=True, check=False)
    c.equal("tool list", sorted(listing.stdout.decode().splitlines()), sorted(names))
    for args in (["test", package, "-q"], ["extract", package, "-d", tool_dest, "-q"]):
        result = subprocess.run([run.pack] + args, capture_output=True, check=False)
        c.equal(f"tool {args[0]}", (result.returncode, result.stderr.decode()), (0, ""))
    c.equal("tool extract: tree", tree(tool_dest), want)

    lines, _ = run.drive(package, ["main", "get:901", "list:301", "press:1", "box", "exit"],
                         locale="ru_RU.UTF-8")
    c.equal("stub: list", sorted(listed(lines)), sorted(names))
    c.equal("stub: result", [line for line in lines if not line.startswith("301 ")],
            ["main dialog", f"901={message}", e2e.SUCCESS, "exit 0"])
    c.equal("stub: tree", tree(dest), want)


def right_place(run, c):
    """Under code page 1252: a later entry naming the file of an entry still
    decoding on the second thread (another case outside ASCII, "./", a
    trailing blank, UTF-8 against the code page) leaves its own bytes; an
    entry of an encryption the stub cannot read (flag bit 6) fails without a
    prompt while the rest extract; a "##" package follows a temporary folder
    named outside the code page, /D= and the folder field take such folders;
    Info-ZIP's UTF-8 names without the flag come out as they were."""
    import random
    base = run.folder("right_place")
    rng = random.Random(31)
    pairs = [("Ä.bin", "ä.bin"), ("x.bin", "./x.bin"), ("y.bin", "y.bin "), ("é.bin", "\xe9.bin")]
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for i, (first, second) in enumerate(pairs):
            # Random bytes: slow to decode, so the later entry comes while the first is on its thread.
            z.writestr(zipfile.ZipInfo(first), rng.randbytes(1500000), zipfile.ZIP_LZMA)
            z.writestr("L" * len(second) if second == "\xe9.bin" else second, b"later %d\n" % i)
    archive = buffer.getvalue().replace(b"L" * len("\xe9.bin"), "\xe9.bin".encode("latin-1"))
    dest = os.path.join(base, "pairs")
    pkg = package(run, os.path.join(base, "pairs.exe"), archive, e2e.win(dest), "cp1252")
    lines, _ = run.drive(pkg, ["main", "press:1", "box", "exit"])
    c.equal("pairs: result", lines, ["main dialog", e2e.SUCCESS, "exit 0"])
    got = tree(dest)
    c.equal("pairs: one file each", len(got), len(pairs))
    for i, (first, _) in enumerate(pairs):
        same = [n for n in got if n.lower() == first.lower()]
        c.equal(f"pairs: {first} holds the later bytes", [got[n][:20] for n in same], [b"later %d\n" % i])

    # Flag bit 6 on an encrypted entry, with the password the others would take.
    src = os.path.join(base, "src")
    os.makedirs(src)
    for name in ("a.txt", "s.txt", "z.txt"):
        with open(os.path.join(src, name), "w") as f:
            f.write(name)
    strong = os.path.join(base, "strong.zip")
    need("zip")
    subprocess.run(["zip", "-q", "-P", "pw", strong, "s.txt"], cwd=src, check=True)
    subprocess.run(["zip", "-q", strong, "a.txt", "z.txt"], cwd=src, check=True)
    data = bytearray(e2e.read(strong))
    for signature, offset in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
        at = data.find(signature)
        data[at + offset] |= 0x40
    dest = os.path.join(base, "strong")
    pkg = package(run, os.path.join(base, "strong.exe"), bytes(data), e2e.win(dest), "cp1252")
    lines, _ = run.drive(pkg, ["main", "press:1", "box", "box", "press:2", "exit"])
    c.equal("bit 6: no prompt, the entry fails", lines,
            ["main dialog", "box: Unknown compression type", e2e.FAILURE, "exit 0"])
    c.equal("bit 6: the others", tree(dest), {"a.txt": b"a.txt", "z.txt": b"z.txt"})

    # The temporary folder of a user whose name the code page lacks.
    temp = "C:\\tmp\\Łukasz"
    os.makedirs(os.path.join(run.prefix, "drive_c", "tmp", "Łukasz"), exist_ok=True)
    one = e2e.make_zip([("unpacked/t.txt", b"temp\n")])
    pkg = package(run, os.path.join(base, "temp.exe"), one, "##", "cp1252")
    lines, _ = run.drive(pkg, ["main", "get:101", "press:1", "box", "exit"], env={"TMP": temp, "TEMP": temp})
    c.equal("temp: field and result", lines, ["main dialog", f"101={temp}\\", e2e.SUCCESS, "exit 0"])
    landed = os.path.join(run.prefix, "drive_c", "tmp", "Łukasz", "unpacked", "t.txt")
    c.true("temp: the file is in the user's folder", os.path.exists(landed))
    c.true("temp: no look-alike folder", not os.path.exists(os.path.join(run.prefix, "drive_c", "tmp", "Lukasz")))

    # /D= from the command line, and a folder typed into the field.
    pkg = package(run, os.path.join(base, "switches.exe"), one, "C:\\x", "cp1252", flags=0x2A)   # switches on
    code = run.start(pkg, ["/S", "/D=C:\\Привет мир"])
    c.equal("/D=: exit code", code, 0)
    c.true("/D=: extracted there",
           os.path.exists(os.path.join(run.prefix, "drive_c", "Привет мир", "unpacked", "t.txt")))
    typed = os.path.join(base, "Łódź field")
    lines, _ = run.drive(pkg, ["main", f"set:101={e2e.win(typed)}", "press:1", "box", "exit"])
    c.equal("field: result", lines, ["main dialog", e2e.SUCCESS, "exit 0"])
    c.equal("field: extracted there", tree(typed), {"unpacked/": None, "unpacked/t.txt": b"temp\n"})

    # Info-ZIP's zip on Linux: UTF-8 names without the flag, Unix extra fields.
    unix_src = os.path.join(base, "unix")
    unix_files = {"世界.txt": b"world\n", "Größe/файл.txt": b"deep\n"}
    for name, content in unix_files.items():
        os.makedirs(os.path.dirname(os.path.join(unix_src, name)), exist_ok=True)
        with open(os.path.join(unix_src, name), "wb") as f:
            f.write(content)
    unix_zip = os.path.join(base, "unix.zip")
    subprocess.run(["zip", "-q", "-r", unix_zip, "."], cwd=unix_src, check=True, env=dict(os.environ, LC_ALL="C.UTF-8"))
    dest = os.path.join(base, "unix out")
    pkg = package(run, os.path.join(base, "unix.exe"), e2e.read(unix_zip), e2e.win(dest), "cp1252")
    lines, _ = run.drive(pkg, ["main", "press:1", "box", "exit"])
    c.equal("unix names: result", lines, ["main dialog", e2e.SUCCESS, "exit 0"])
    c.equal("unix names: tree", tree(dest), expected_tree(unix_files))
    shutil.rmtree(os.path.join(run.prefix, "drive_c", "Привет мир"), ignore_errors=True)
    shutil.rmtree(os.path.join(run.prefix, "drive_c", "tmp", "Łukasz"), ignore_errors=True)
