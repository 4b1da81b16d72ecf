#!/usr/bin/env python3
"""Command-line tests of tolvane-pack: pack_cli.py GROUP (PACK names the tool).

Each group builds its fixtures in a fresh temporary folder, runs the tool and
checks exit codes, messages and the packages it makes; it prints every failed
check and exits 1 when there was one.
"""
import hashlib
import json
import os
import resource
import shutil
import stat
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import mkpackage  # noqa: E402

PACK = os.environ["PACK"]
ARCHIVE_START = mkpackage.STUB_SIZE + mkpackage.HEADER_SIZE
failures = []


def check(ok, what, detail=""):
    if not ok:
        failures.append(what)
        print(f"FAIL: {what}" + (f"\n{detail}" if detail else ""), file=sys.stderr)


class Result:
    def __init__(self, proc):
        self.rc = proc.returncode
        self.out = (proc.stdout or b"").decode("utf-8", "replace")
        self.err = proc.stderr.decode("utf-8", "replace")

    def __str__(self):
        return f"exit {self.rc}\nstdout: {self.out}\nstderr: {self.err}"


def pack(*args, stdin=b"", stdout=subprocess.PIPE):
    return Result(subprocess.run([PACK, *args], input=stdin, stdout=stdout, stderr=subprocess.PIPE))


def expect(result, rc, what, out=None, err=None):
    """Checks the exit code and that stdout/stderr hold the given texts."""
    ok = result.rc == rc and (out is None or out in result.out) and (err is None or err in result.err)
    check(ok, what, str(result))


def write(path, data=b"x"):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def names(package):
    return sorted(zipfile.ZipFile(package).namelist())


def make_stub():
    write("stub.exe", mkpackage.stand_in_stub())


# ---------------------------------------------------------------------------

def group_usage():
    write("in/a.txt")
    usage = [  # arguments, what stdout or stderr must hold
        (["create", "x.exe", "in", "--overwrite"], "unknown option --overwrite for create"),
        (["extract", "p.exe", "-d", "o", "--overwrite", "--skip-existing"],
         "--overwrite and --skip-existing exclude each other"),
        (["create", "x.exe", "in", "--folder", "C:\\x", "--folder-temp"], "--folder and --folder-temp exclude"),
        (["create", "x.exe", "in", "--message", "m", "--message-file", "in/a.txt"], "exclude each other"),
        (["test", "p.exe", "--password", "a", "--password-file", "in/a.txt"], "exclude each other"),
        (["create", "x.exe", "in", "--level", "13"], "--level takes a number from 0 to 12"),
        (["create", "x.exe", "in", "--level", "-1"], "--level takes a number from 0 to 12"),
        (["create", "x.exe", "in", "--threads", "0"], "--threads takes a number"),
        (["create", "x.exe", "in", "--codepage", "x"], "--codepage takes a number"),
        (["create", "x.exe"], "needs an output file and at least one input"),
        (["create", "x.exe", "in", "--exclude"], "--exclude needs a value"),
        (["list", "a.exe", "b.exe"], "exactly one package"),
        (["list", "a.exe", "--password", "x"], "unknown option --password for list"),
        (["extract", "a.exe"], "needs a destination"),
        (["frobnicate"], "unknown command frobnicate"),
        (["help", "frobnicate"], "unknown command frobnicate"),
        ([], "a command is needed"),
    ]
    for args, text in usage:
        r = pack(*args)
        command = args[0] + " " if args and args[0] in ("create", "list", "test", "extract", "info") else ""
        expect(r, 2, f"usage error {args}", err=text)
        check(r.err.endswith(f"Try 'tolvane-pack {command}--help'.\n") and r.out == "",
              f"usage error wording {args}", str(r))
    check(not os.path.exists("x.exe"), "a usage error wrote a package")

    version = pack("--version")
    expect(version, 0, "--version", out="tolvane-pack ")
    check(version.out.count("\n") == 1 and version.out.split()[1][0].isdigit(), "--version is one line", version.out)
    everything = pack("--help").out
    for command in ("create", "list", "test", "extract", "info"):
        for args in ([command, "--help"], [command, "-h"], ["help", command]):
            r = pack(*args)
            expect(r, 0, f"{args}", out=f"usage: tolvane-pack {command} ")
        check(f"tolvane-pack {command} " in everything, f"--help names {command}")
    check("--exclude PATTERN" in pack("create", "--help").out, "create --help lists its options")
    for args in (["/?"], ["create", "/?"], ["list", "/?"]):
        expect(pack(*args), 0, f"{args} shows the help", out="usage: tolvane-pack ")

    # Mistakes that still make a package, each with its warning.
    make_stub()
    write("in/setup.exe", "MZ")
    mistakes = [  # options, the warning
        (["--exclude", "*.pdb"], "--exclude *.pdb left nothing out"),
        (["--command", "##setup.exe /quiet"], "'|' separates the program from its parameters"),
        (["--command", "##install.exe|/quiet"], "runs ##install.exe, which is not a file of the package"),
        (["--folder", "'C:\\MyApp'"], "has single quotes, which become part of its name"),
        (["--command", "##setup.exe|/quiet", "--exclude", "*.txt"], None),
    ]
    for options, warning in mistakes:
        r = pack("create", "warned.exe", "in", "--stub", "stub.exe", "-q", *options)
        expect(r, 0, f"create {options}", err=warning)
        check(warning is not None or "warning" not in r.err, f"no warning for {options}", r.err)
    check("--exclude" not in pack("list", "--help").out, "list --help shows only its own options")


def group_inputs():
    make_stub()
    tree = {
        "src/a.txt": "a", "src/.git/config": "git", "src/.git/objects/ab": "obj",
        "src/lib/mod.py": "py", "src/lib/mod.pyc": "pyc", "src/lib/__pycache__/m.pyc": "pyc",
        "src/build/x.o": "o", "src/build/keep.txt": "k", "src/docs/build/page.html": "html",
        "one/readme.txt": "1", "two/readme.txt": "2", "small/bin/tool.dll": "dll",
    }
    for path, text in tree.items():
        write(path, text)
    for i in range(13):
        os.symlink(f"missing{i}", f"src/lib/dangling{i}")
    os.symlink("../a.txt", "src/lib/link.txt")

    # Exclusions: a pattern without '/' matches any component, with '/' the path.
    r = pack("create", "ex.exe", "src", "--stub", "stub.exe", "-q",
             "--exclude", ".git", "--exclude", "*.pyc", "--exclude=build/*.o", "--exclude", "./__pycache__/")
    expect(r, 0, "create with --exclude")
    check(names("ex.exe") == ["a.txt", "build/keep.txt", "docs/build/page.html", "lib/link.txt", "lib/mod.py"],
          "excluded paths", str(names("ex.exe")))
    # Dangling links are skipped with one warning each; a link is followed.
    check(r.err.count("is a dangling symbolic link; skipped") == 13, "dangling link warnings", r.err)
    check(zipfile.ZipFile("ex.exe").read("lib/link.txt") == b"a", "a symbolic link is followed")
    # A file given by a relative path keeps it; absolute or '..' paths keep the name.
    os.makedirs("deep")
    r = pack("create", "files.exe", "small/bin/tool.dll", "./one/readme.txt", "two//readme.txt",
             os.path.abspath("src/a.txt"), "--stub", "stub.exe", "-q")
    expect(r, 0, "create from files")
    check(names("files.exe") == ["a.txt", "one/readme.txt", "small/bin/tool.dll", "two/readme.txt"],
          "relative paths kept", str(names("files.exe")))
    os.chdir("deep")
    r = pack("create", "../up.exe", "../one/readme.txt", "--stub", "../stub.exe", "-q")
    os.chdir("..")
    expect(r, 0, "create from ../")
    check(names("up.exe") == ["readme.txt"], "a path with .. keeps its name only", str(names("up.exe")))

    # --files-from: one path per line, from a file or standard input; a folder
    # listed there adds only its folder entry; exclusions apply too.
    write("empty/.keep", "")
    os.remove("empty/.keep")
    listing = "src/a.txt\r\n\nsrc/lib/mod.py\nempty\nsrc/lib/mod.pyc\n"
    write("list.txt", listing)
    for source, stdin in (("list.txt", b""), ("-", listing.encode())):
        r = pack("create", "list.exe", "one/readme.txt", "--files-from", source, "--exclude", "*.pyc",
                 "--stub", "stub.exe", "-q", stdin=stdin)
        expect(r, 0, f"--files-from {source}")
        check(names("list.exe") == ["empty/", "one/readme.txt", "src/a.txt", "src/lib/mod.py"],
              f"--files-from {source} entries", str(names("list.exe")))
    r = pack("create", "list.exe", "--files-from", "nowhere.txt", "--stub", "stub.exe")
    expect(r, 1, "--files-from a missing file", err="cannot open nowhere.txt")

    # Zips made from "." name entries "./x"; links inside a zip are not files.
    with zipfile.ZipFile("dot.zip", "w") as z:
        z.writestr("./", "")
        z.writestr("./dir/", "")
        z.writestr("./dir/f.txt", "f")
        link = zipfile.ZipInfo("./dir/link")
        link.create_system = 3
        link.external_attr = (stat.S_IFLNK | 0o777) << 16
        z.writestr(link, "f.txt")
    r = pack("create", "dot.exe", "dot.zip", "--stub", "stub.exe", "-q")
    expect(r, 0, "create from a zip of ./ names", err="dot.zip:./dir/link is a symbolic link")
    check(names("dot.exe") == ["dir/f.txt"], "leading ./ stripped, link skipped", str(names("dot.exe")))
    if shutil.which("bsdtar"):
        subprocess.run(["bsdtar", "-cf", "../bsd.zip", "--format", "zip", "."], cwd="one", check=True)
        r = pack("create", "bsd.exe", "bsd.zip", "--stub", "stub.exe", "-q")
        expect(r, 0, "create from a bsdtar zip")
        check(names("bsd.exe") == ["readme.txt"], "bsdtar zip entries", str(names("bsd.exe")))

    # Info-ZIP unzip reads UTF-8 names right only from entries made on Unix;
    # their modes keep a script executable.
    text = "donn\u00e9es/r\u00e9sum\u00e9.txt"
    write(f"intl/{text}", "r")
    write("intl/run.sh", "#!/bin/sh\n")
    os.chmod("intl/run.sh", 0o755)
    expect(pack("create", "intl.exe", "intl", "--stub", "stub.exe", "-q"), 0, "create with UTF-8 names")
    if shutil.which("unzip"):
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        listed = subprocess.run(["unzip", "-l", "intl.exe"], capture_output=True, env=env).stdout
        listed = listed.decode("utf-8", "replace")
        check([line.split()[-1] for line in listed.splitlines()[3:5]] == [text, "run.sh"],
              "unzip -l shows the UTF-8 names", listed)
        subprocess.run(["unzip", "-q", "intl.exe", "-d", "intl-out"], env=env, check=True)
        check(os.access("intl-out/run.sh", os.X_OK) and not os.access(f"intl-out/{text}", os.X_OK),
              "unzip keeps the execute bit of the script only", str(os.listdir("intl-out")))

    # A zip that claims a 4 GB entry: checked in bounded chunks, refused, nothing left.
    with zipfile.ZipFile("claims.zip", "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("big.bin", bytes(100000))
    data = open("claims.zip", "rb").read()
    data = data.replace((100000).to_bytes(4, "little"), (0xFFFFFFF0).to_bytes(4, "little"))
    write("claims.zip", data)
    os.makedirs("claim-out")
    r = pack("create", "claim-out/p.exe", "claims.zip", "--stub", "stub.exe")
    expect(r, 1, "a zip entry claiming 4 GB", err="big.bin: the stub would not extract it: its data do not decode")
    peak_kb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss   # of every run so far, all small
    check(peak_kb < 1 << 20, f"a claimed size took memory: {peak_kb} kB resident")
    check(os.listdir("claim-out") == [], "nothing left after a refused zip entry")

    # "##" inside quotes: the trailing backslash escapes the quote.
    r = pack("create", "cmd.exe", "one", "--stub", "stub.exe", "-q", "--command", 'x.exe|"##"')
    expect(r, 0, "create with a quoted ##", err='write "##." instead')
    r = pack("create", "cmd.exe", "one", "--stub", "stub.exe", "-q", "--command", '"##x.exe"|"##."')
    check("##" not in r.err, "no warning for a quoted program or \"##.\"", str(r))

    # The dialog shows three lines of about 60 characters and wraps longer ones.
    messages = [  # message, the warning (None: none)
        ("Unpacks MyApp 2.1.\nClick Extract.\n", None),
        ("x" * 100, None),
        ("1\n2\n3\n4", "the message has 4 lines; the dialog shows 3, so 1 will be hidden"),
        ("word " * 45, "line 1 of the message is about 225 characters wide; the dialog wraps lines at about 60 "
                       "characters and shows 3 lines, so about 1 will be hidden"),
    ]
    for message, warning in messages:
        r = pack("create", "msg.exe", "one", "--stub", "stub.exe", "-q", "--message", message)
        expect(r, 0, f"--message {message[:12]!r}", err=warning)
        check(warning is not None or "warning" not in r.err, f"no warning for {message[:12]!r}", str(r))


def group_output():
    make_stub()
    write("in/a.txt", "a")
    write("target.txt", "keep me")
    os.symlink("target.txt", "link.exe")
    os.symlink("nowhere", "dangling.exe")
    os.mkfifo("fifo.exe")
    os.mkdir("folder.exe")
    for out, kind in (("link.exe", "a symbolic link"), ("dangling.exe", "a symbolic link"),
                      ("fifo.exe", "a named pipe"), ("folder.exe", "a folder")):
        before = sorted(os.listdir("."))
        r = pack("create", out, "in", "--stub", "stub.exe", "-q")
        expect(r, 1, f"OUT {kind} refused", err=f"{out} is {kind}")
        check("nothing was written" in r.err and sorted(os.listdir(".")) == before, f"OUT {kind}: nothing changed")
    check(open("target.txt").read() == "keep me" and os.path.islink("link.exe"), "the link's target is untouched")
    check(stat.S_ISFIFO(os.lstat("fifo.exe").st_mode), "the FIFO is still a FIFO")
    r = pack("create", "pkg.exe", "in", "--stub", "stub.exe", "-q")
    expect(r, 0, "create over nothing")
    expect(pack("create", "pkg.exe", "in", "--stub", "stub.exe", "-q"), 0, "create over a regular file")

    # Output that cannot be written is a failure.
    with open("/dev/full", "wb") as full:
        for args in (["list", "pkg.exe"], ["info", "pkg.exe"], ["--help"], ["--version"]):
            expect(pack(*args, stdout=full), 1, f"{args} > /dev/full", err="cannot write the output")

    # A plain zip, or any file that is not a package, is refused by every reader.
    with zipfile.ZipFile("plain.zip", "w") as z:
        z.writestr("a.txt", "a" * (ARCHIVE_START + 1000))
    write("text.exe", "x" * (ARCHIVE_START + 1000))
    write("short.exe", b"MZ" + bytes(100))   # far shorter than any stub
    for package, why in (("plain.zip", "plain zip archive"), ("text.exe", "does not start with a Windows program"),
                         ("short.exe", "shorter than the stub"), ("missing.exe", "cannot open missing.exe")):
        for command in (["list"], ["info"], ["test"], ["extract", "-d", "out"]):
            r = pack(command[0], package, *command[1:])
            expect(r, 1, f"{command[0]} {package}", err=why)
            check(r.out == "" or command[0] == "info", f"{command[0]} {package} printed nothing", str(r))
    check(not os.path.exists("out"), "extract of a non-package made its destination")


def patched(source, target, changes, cut=None):
    """A copy of a package with byte strings replaced (in local headers and the
    central directory alike) and optionally cut after 'cut' bytes."""
    data = open(source, "rb").read()
    for old, new in changes:
        assert len(old) == len(new) and old in data, old
        data = data.replace(old, new)
    write(target, data[:cut])


def local_header(package, name):
    data = open(package, "rb").read()
    return data.rfind(b"PK\x03\x04", 0, data.find(name.encode()))


def group_reports():
    make_stub()
    write("src/a.txt", "alpha " * 100)
    write("src/b.bin", bytes(300000))
    write("src/caf\u00e9.txt", "stored")
    write("src/ab/victim/caf\u00e9.txt", "inside")
    write("src/z.txt", "last")
    expect(pack("create", "pkg.exe", "src", "--stub", "stub.exe", "-q"), 0, "create")

    # list -v and --json give the local headers' fields in the list's order.
    verbose, listed = pack("list", "-v", "pkg.exe"), pack("list", "--json", "pkg.exe")
    expect(verbose, 0, "list -v", out="crc-32")
    expect(listed, 0, "list --json")
    entries = json.loads(listed.out)["entries"]
    zipped = {i.filename: i for i in zipfile.ZipFile("pkg.exe").infolist()}
    check([e["name"] for e in entries] == pack("list", "pkg.exe").out.split("\n")[:-1], "JSON names in list order")
    for e in entries:
        z = zipped[e["name"]]
        want = (z.file_size, z.compress_size, {0: "stored", 8: "deflate"}[z.compress_type], False,
                "%04d-%02d-%02d %02d:%02d" % z.date_time[:5], "%08x" % z.CRC)
        e["time"] = e["time"][:16]   # the seconds may come from an extra field
        got = (e["size"], e["packed"], e["method"], e["encrypted"], e["time"], e["crc32"])
        check(got == want, f"list --json fields of {e['name']}", f"{got} != {want}")
        check(f"{z.CRC:08x}" in verbose.out and e["name"] in verbose.out, f"list -v shows {e['name']}")
    info = json.loads(pack("info", "--json", "pkg.exe").out)
    check(info["header"] and info["entries"] == 5 and info["archive_start"] == ARCHIVE_START
          and info["overwrite"] and info["file_list"] and info["command"] == "", "info --json", str(info))

    # Damaged packages: which entry failed and why; exit 1.
    data = open("pkg.exe", "rb").read()
    b_data = local_header("pkg.exe", "b.bin") + 30 + len("b.bin")
    z_header = local_header("pkg.exe", "z.txt")
    stored = data.find(b"stored", ARCHIVE_START)
    cases = [  # name, changes, cut, what test must say
        ("crc", [(data[stored:stored + 6], b"st0red")], None, "caf\u00e9.txt: CRC mismatch"),
        ("method", [], None, "b.bin: unknown compression method 12"),
        ("method", [], None, "z.txt: not reached: the run ended before this entry"),
        ("cut-data", [], b_data + 100, "b.bin: data ends early"),
        ("cut-between", [], z_header, "cut short"),
        ("escape", [(b"a.txt", b"\x1b.txt")], None, None),
    ]
    for name, changes, cut, reason in cases:
        if name == "method":
            damaged = bytearray(data)
            damaged[local_header("pkg.exe", "b.bin") + 8] = 12
            write("method.exe", bytes(damaged))
        elif name == "escape":
            patched("pkg.exe", "escape.exe", changes, cut)
            r = pack("list", "escape.exe")
            check("\x1b" not in r.out and "\\x1B.txt" in r.out, "control characters escaped in list", repr(r.out))
            continue
        else:
            patched("pkg.exe", f"{name}.exe", changes, cut)
        r = pack("test", f"{name}.exe")
        expect(r, 1, f"test {name}", err=reason)
        os.makedirs(f"out-{name}", exist_ok=True)
        expect(pack("extract", f"{name}.exe", "-d", f"out-{name}", "-q"), 1, f"extract {name}", err=reason)
    r = pack("list", "cut-between.exe")
    expect(r, 1, "list of a package cut between entries", err="entries after it are missing")

    # An entry that decodes to more than it declares: output stops at its size.
    header = local_header("pkg.exe", "b.bin")
    bomb = bytearray(data)
    bomb[header + 22:header + 26] = (1000).to_bytes(4, "little")
    write("bomb.exe", bytes(bomb))
    os.makedirs("out-bomb")
    r = pack("extract", "bomb.exe", "-d", "out-bomb")
    expect(r, 1, "extract of an entry larger than declared", err="b.bin: its data decode to more than")
    check(not os.path.exists("out-bomb/b.bin") or os.path.getsize("out-bomb/b.bin") <= 1000,
          "output stopped at the declared size")

    # A code page name (no UTF-8 flag, as older packages have) that climbs out
    # of the destination is refused by the engine, and its UTF-8 twin outside
    # is never renamed.
    patched("pkg.exe", "climb.exe", [("ab/victim/caf\u00e9.txt".encode(), b"../victim/caf\xe9s.txt")])
    climb = bytearray(open("climb.exe", "rb").read())
    climb[local_header("climb.exe", "../victim/") + 7] &= ~0x08   # flag bit 11 off
    write("climb.exe", bytes(climb))
    write("victim/caf\u00e9s.txt", "outside")
    os.makedirs("dest")
    r = pack("extract", "climb.exe", "-d", "dest", "-q")
    expect(r, 1, "extract with a climbing name")
    check(os.listdir("victim") == ["caf\u00e9s.txt"] and open("victim/caf\u00e9s.txt").read() == "outside",
          "nothing outside the destination was renamed", str(os.listdir("victim")))


def group_threads():
    # Many entries of mixed kinds from files and a zip: the same bytes on 1, 2 and 5 threads.
    make_stub()
    for i in range(60):
        write(f"src/d{i % 7}/f{i}.txt", ("line %d\n" % i) * (i * 997 % 20000))
    write("src/random.bin", os.urandom(300000))
    with zipfile.ZipFile("in.zip", "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(20):
            z.writestr(f"zipped/{i}.txt", "zip %d " % i * 3000)
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    outputs = []
    for threads in ("1", "2", "5"):
        r = Result(subprocess.run([PACK, "create", f"t{threads}.exe", "src", "in.zip", "--stub", "stub.exe",
                                   "-q", "--threads", threads], capture_output=True, env=env))
        expect(r, 0, f"create --threads {threads}")
        outputs.append(open(f"t{threads}.exe", "rb").read())
    check(outputs[0] == outputs[1] == outputs[2], "packages differ between thread counts")
    expect(pack("test", "t2.exe", "-q"), 0, "the package made on 2 threads tests")
    # A failing entry stops the run whatever the threads do.
    with zipfile.ZipFile("bad.zip", "w") as z:
        z.writestr("bad.txt", "hello world")
    patched("bad.zip", "bad.zip", [(b"hello world", b"hellO world")])
    os.makedirs("fail")
    r = pack("create", "fail/p.exe", "src", "bad.zip", "in.zip", "--stub", "stub.exe", "--threads", "2")
    expect(r, 1, "a damaged entry on 2 threads", err="bad.txt: the stub would not extract it: CRC mismatch")
    check(os.listdir("fail") == [], "nothing left after a failure on 2 threads")

    # Large entries are built in temporary files, not in memory: under an
    # address-space limit of the inputs' mappings, room for their output and a
    # fixed allowance, two are packed at once, the same on 1 and 2 threads,
    # and come out whole. AES, which once took several copies of an entry, fits too.
    os.makedirs("large/in")
    with open("large/in/random.bin", "wb") as f:
        for _ in range(128):
            f.write(os.urandom(1 << 20))
    write("large/in/text.txt", b"".join(b"line %d of a large text\n" % i for i in range(1600000)))
    limit = 2 * sum(os.path.getsize(f"large/in/{n}") for n in os.listdir("large/in")) + (320 << 20)
    limited = lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))   # noqa: E731
    if subprocess.run([PACK, "--version"], capture_output=True, preexec_fn=limited).returncode != 0:
        limited = None   # a sanitizer's shadow memory fits in no such limit: the rest still checks the bytes
    digests = []
    for threads in ("1", "2"):
        r = Result(subprocess.run([PACK, "create", "large/p.exe", "large/in", "--stub", "stub.exe", "-q", "--level",
                                   "1", "--threads", threads], capture_output=True, preexec_fn=limited))
        expect(r, 0, f"large entries in {limit >> 20} MB of address space on {threads} thread(s)")
        digests.append(hashlib.sha256(open("large/p.exe", "rb").read()).digest())
    check(digests[0] == digests[1], "large entries: packages differ between thread counts")
    expect(pack("extract", "large/p.exe", "-d", "large/out", "-q"), 0, "extract large entries")
    for n in os.listdir("large/in"):
        check(open(f"large/in/{n}", "rb").read() == open(f"large/out/{n}", "rb").read(), f"large {n} comes out whole")
    shutil.rmtree("large/out")
    os.remove("large/p.exe")
    r = Result(subprocess.run([PACK, "create", "large/aes.exe", "large/in", "--stub", "stub.exe", "-q", "--level",
                               "1", "--threads", "2", "--password", "pw"], capture_output=True, preexec_fn=limited))
    expect(r, 0, f"large AES entries in {limit >> 20} MB of address space")
    expect(pack("test", "large/aes.exe", "--password", "pw", "-q"), 0, "the large AES package tests")
    check(sorted(os.listdir("large")) == ["aes.exe", "in"], "no temporary file left", str(os.listdir("large")))
    shutil.rmtree("large")


def group_install():
    # cmake --install puts the tool, its manual page and the bash completion in place.
    r = subprocess.run(["cmake", "--install", os.environ["BUILD_DIR"], "--prefix", "prefix"], capture_output=True)
    check(r.returncode == 0, "cmake --install", r.stderr.decode())
    tool = "prefix/bin/tolvane-pack"
    page = open("prefix/share/man/man1/tolvane-pack.1").read()
    check(page.startswith(".TH TOLVANE-PACK 1") and "\\-\\-exclude" in page and "\n```" not in page,
          "the manual page is roff made from the guide")
    sections = [line[4:] for line in page.splitlines() if line.startswith(".SH ")]
    check(sections[:3] == ["NAME", "SYNOPSIS", "DESCRIPTION"] and
          all(s in sections for s in ("OPTIONS", "EXIT STATUS", "EXAMPLES")), "the manual page's sections", str(sections))
    check("README" not in page.replace("README.txt", ""), "the manual page points to no file it lacks")
    version = subprocess.run([tool, "--version"], capture_output=True, text=True).stdout.split()[-1]
    check(f"tolvane-pack {version}" in page.splitlines()[0], "the manual page carries the version")
    # With the cross compiler at hand the host build embeds a stub of its own.
    if shutil.which("i686-w64-mingw32-g++"):
        write("in/a.txt")
        expect(pack("create", "own.exe", "in", "-q"), 0, "create with the embedded stub")
        expect(pack("info", "own.exe"), 0, "info of a package with the embedded stub",
               out="the stub of this tolvane-pack\n")
    completion = "prefix/share/bash-completion/completions/tolvane-pack"
    for words, want in ((["tolvane-pack", "cr"], "create"), (["tolvane-pack", "create", "--ex"], "--exclude"),
                        (["tolvane-pack", "list", "--j"], "--json"), (["tolvane-pack", "extract", "--sk"], "--skip-existing"),
                        (["tolvane-pack", "create", "--no-w"], "--no-wait"),
                        (["tolvane-pack", "create", "--elevate", "h"], "highest")):
        words[0] = os.path.abspath(tool)
        script = (f"source {completion}; COMP_WORDS=({' '.join(words)}); COMP_CWORD={len(words) - 1}; "
                  "_tolvane_pack; printf '%s\\n' \"${COMPREPLY[@]}\"")
        got = subprocess.run(["bash", "-c", script], capture_output=True, text=True).stdout.split()
        check(want in got, f"completion of {words[1:]}", str(got))


def group_lzma():
    """--method lzma: each entry the smaller way, read back by the tool's test,
    Python and 7z; the same bytes on any thread count; LZMA entries of an input
    zip copied as they are, a damaged one refused; unsupported properties named."""
    make_stub()
    text = "".join(f"line {i} of a text LZMA shrinks well\n" for i in range(20000)).encode()
    write("src/text.txt", text)
    write("src/noise.bin", os.urandom(50000))
    write("src/tiny.txt", "x")
    expect(pack("create", "pkg.exe", "src", "--method", "lzma", "--stub", "stub.exe", "-q"), 0, "create --method lzma")
    infos = {i.filename: i for i in zipfile.ZipFile("pkg.exe").infolist()}
    check(infos["text.txt"].compress_type == zipfile.ZIP_LZMA and infos["text.txt"].flag_bits & 2, "text is LZMA, end marker flagged")
    check(infos["noise.bin"].compress_type == zipfile.ZIP_STORED, "noise is stored")
    check(infos["tiny.txt"].compress_type != zipfile.ZIP_LZMA, "a tiny file is not LZMA")
    check(zipfile.ZipFile("pkg.exe").read("text.txt") == text, "Python's zipfile reads the LZMA entry")
    expect(pack("list", "-v", "pkg.exe"), 0, "list -v names the method", out="lzma")
    check(any(e["method"] == "lzma" for e in json.loads(pack("list", "--json", "pkg.exe").out)["entries"]), "list --json")
    expect(pack("test", "pkg.exe"), 0, "test reads LZMA with the stub's decoder")
    expect(pack("create", "aes.exe", "src", "--method", "lzma", "--password", "pw", "--stub", "stub.exe", "-q"), 0,
           "create --method lzma with AES")
    expect(pack("test", "aes.exe", "--password", "pw"), 0, "test reads LZMA inside AES")
    if shutil.which("7z"):
        check(subprocess.run(["7z", "t", "pkg.exe"], capture_output=True).returncode == 0, "7z tests the package")
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    for threads in ("1", "2"):
        subprocess.run([PACK, "create", f"t{threads}.exe", "src", "--method", "lzma", "--threads", threads,
                        "--stub", "stub.exe", "-q"], env=env, check=True)
    check(open("t1.exe", "rb").read() == open("t2.exe", "rb").read(), "the same bytes on 1 and 2 threads")
    expect(pack("create", "x.exe", "src", "--method", "zstd"), 2, "an unknown method is a usage error",
           err="--method takes deflate or lzma")

    # An input zip's LZMA entry is copied byte for byte; a damaged one is refused.
    with zipfile.ZipFile("in.zip", "w", zipfile.ZIP_LZMA) as z:
        z.writestr("docs/text.txt", text)
    expect(pack("create", "copy.exe", "in.zip", "--stub", "stub.exe", "-q"), 0, "create from an LZMA zip")
    raw = lambda path: open(path, "rb").read()
    packed = zipfile.ZipFile("in.zip").infolist()[0].compress_size
    check(raw("in.zip")[30 + 13:30 + 13 + packed] in raw("copy.exe"), "the LZMA data are copied as they are")
    data = bytearray(raw("in.zip"))
    data[30 + 13 + packed // 2] ^= 0x55
    write("bad.zip", bytes(data))
    expect(pack("create", "bad.exe", "bad.zip", "--stub", "stub.exe", "-q"), 1, "a damaged LZMA entry is refused",
           err="docs/text.txt: the stub would not extract it")

    # lc 8, lp 4, pb 4, as 7z writes them on request: beyond liblzma, within the
    # format, and the stub's decoder reads them.
    if shutil.which("7z"):
        subprocess.run(["7z", "a", "-tzip", "-mm=LZMA:lc=8:lp=4:pb=4", "wide.zip", "src"], capture_output=True)
        write("wide.exe", mkpackage.build_package(mkpackage.stand_in_stub(), raw("wide.zip")))
        expect(pack("extract", "wide.exe", "-d", "wide"), 0, "lc 8, lp 4, pb 4 decode")
        check(open("wide/src/text.txt", "rb").read() == text, "lc 8, lp 4, pb 4: the same text")

    # Properties beyond the format's limits: the entry fails by name, the others pass.
    start = local_header("pkg.exe", "text.txt")
    data = bytearray(raw("pkg.exe"))
    data[start + 30 + len("text.txt") + 4] = 225
    write("props.exe", bytes(data))
    expect(pack("test", "props.exe"), 1, "test names unsupported properties", err="its LZMA properties")


def group_solid():
    """--solid: the same bytes on 1, 2 and 3 threads with SOURCE_DATE_EPOCH,
    files ordered by extension and cut into blocks; the one line about other
    tools, info, list, test and extract; other tools see an unsupported method;
    a damaged entry fails the rest of its block, named; refused combinations."""
    make_stub()
    for i in range(40):
        ext = ("txt", "py", "bin")[i % 3]
        body = "".join(f"{ext} file {i} line {j}\n" for j in range(300 + 37 * i)).encode()
        write(f"src/d{i % 4}/f{i:02}.{ext}", body)
    write("src/empty.txt", b"")
    write("src/noise.dat", os.urandom(70000))
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    outputs = []
    for threads in ("1", "2", "3"):
        r = Result(subprocess.run([PACK, "create", f"s{threads}.exe", "src", "--solid=64K", "--threads", threads,
                                   "--stub", "stub.exe"], capture_output=True, env=env))
        expect(r, 0, f"create --solid on {threads} thread(s)", err="other zip tools list them but cannot extract them")
        outputs.append(open(f"s{threads}.exe", "rb").read())
    check(outputs[0] == outputs[1] == outputs[2], "the same bytes on 1, 2 and 3 threads")
    infos = zipfile.ZipFile("s1.exe").infolist()
    solid = [i.filename for i in infos if i.compress_type == 0x5654]
    check(infos[0].filename == "empty.txt" and "empty.txt" not in solid, "the empty file is stored, before the blocks")
    exts = [n.rsplit(".", 1)[1] for n in solid]
    check(exts == sorted(exts), "solid entries ordered by extension", exts)
    check(len(solid) == 41, "every file with content is solid", len(solid))
    expect(pack("info", "s1.exe"), 0, "info counts the solid entries", out="41 entries in solid blocks")
    expect(pack("list", "-v", "s1.exe"), 0, "list names the method", out="solid")
    expect(pack("test", "s1.exe"), 0, "test reads every block")
    expect(pack("extract", "s1.exe", "-d", "out", "-q"), 0, "extract")
    for root, _, files in os.walk("src"):
        for f in files:
            path = os.path.join(root, f)
            check(open(path, "rb").read() == open(os.path.join("out", os.path.relpath(path, "src")), "rb").read(),
                  "extracted as packed", path)
    try:
        zipfile.ZipFile("s1.exe").read(solid[0])
        check(False, "Python's zipfile refuses a solid entry")
    except NotImplementedError:
        pass
    if shutil.which("7z"):
        r = subprocess.run(["7z", "t", "s1.exe"], capture_output=True, text=True)
        check("Unsupported Method" in r.stdout + r.stderr, "7z: an unsupported method", r.stdout[-300:])
    if shutil.which("unzip"):
        r = subprocess.run(["unzip", "-t", "s1.exe"], capture_output=True, text=True)
        check("unsupported compression method 22100" in r.stdout + r.stderr, "unzip: an unsupported method")

    # A damaged entry in the middle of a block: it and the later entries of its
    # block fail, each with its reason; the other blocks extract.
    data = bytearray(open("s1.exe", "rb").read())
    target = solid[len(solid) // 2]
    start = local_header("s1.exe", target) + 30 + len(target)
    data[start + 1] = 0x03   # not a chunk
    write("bad.exe", bytes(data))
    r = pack("test", "bad.exe")
    expect(r, 1, "a damaged solid entry fails", err=f"{target}: the compressed data are damaged")
    check(f"an earlier entry of its solid block failed ({target})" in r.err, "the later entries name it")
    check(r.err.count("not extracted:") < len(solid) // 2 + 2, "the other blocks extract")

    expect(pack("create", "x.exe", "src", "--solid", "--method", "lzma"), 2, "--solid and --method",
           err="exclude each other")
    expect(pack("create", "x.exe", "src", "--solid=1X"), 2, "a bad block size", err="--solid takes a block size")
    expect(pack("create", "x.exe", "src", "--solid", "--password", "pw", "--encryption", "zipcrypto",
                "--stub", "stub.exe"), 1, "--solid with the traditional encryption", err="AES encryption only")
    expect(pack("create", "aes.exe", "src", "--solid", "--password", "pw", "--stub", "stub.exe", "-q"), 0,
           "create --solid with AES")
    expect(pack("test", "aes.exe", "--password", "pw"), 0, "test reads AES solid entries")


def run_group(scope):
    """Runs the group_NAME of 'scope' that argv names, in a fresh temporary folder."""
    groups = {name[len("group_"):]: f for name, f in scope.items() if name.startswith("group_")}
    if len(sys.argv) != 2 or sys.argv[1] not in groups:
        sys.exit(f"usage: {os.path.basename(sys.argv[0])} {'|'.join(groups)}")
    with tempfile.TemporaryDirectory(prefix="tolvane-pack-cli.") as work:
        os.chdir(work)
        groups[sys.argv[1]]()
    print(f"{sys.argv[1]}: " + (f"{len(failures)} failure(s)" if failures else "passed"))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    run_group(globals())
