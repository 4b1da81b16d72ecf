"""End-to-end scenarios of the package options: packages started with switches
as a deployment script starts them (no driver; Wine's exit status is the
package's exit code), the dialog of a package that takes or ignores switches
(played by the driver), and files' modification times for zips made by
Info-ZIP zip, 7z and Python.

run_e2e.py registers them and hands over its helpers.
"""
import calendar
import os
import random
import shutil
import subprocess
import time
import zipfile

from mkpackage import DEFAULT_FLAGS, FLAG_KEEP_TIMES, FLAG_SWITCHES, build_package

SWITCHES = DEFAULT_FLAGS | FLAG_SWITCHES

e2e = None  # the run_e2e module


def register(module):
    global e2e
    e2e = module
    return [unattended, unattended_failures, unattended_goes_on, full_disk, past_2_gib, switches_in_dialog,
            file_times]


def files_in(folder, leave=("args.txt", "raw.txt")):
    return [f for f in e2e.extracted(folder) if f not in leave] if os.path.isdir(folder) else []


SAMPLE_FILES = ["a.txt", "docs/b.txt", "docs/deep/c.bin"]


def unattended(run, c):
    """/S into the header's folder (the command runs after), into a new folder with
    blanks given by /D=, and the README's form from a batch file."""
    base = run.folder("unattended")
    header_dest = os.path.join(base, "from header")
    files = e2e.SAMPLE + [("e.exe", e2e.read(run.echo))]
    pkg = run.package(os.path.join(base, "p.exe"), files, flags=SWITCHES, folder=e2e.win(header_dest),
                      command="##e.exe|##")
    c.equal("/S exit code", run.start(pkg, ["/S"]), 0)
    c.equal("/S files", files_in(header_dest), SAMPLE_FILES + ["e.exe"])
    c.equal("/S command", e2e.wait_for(os.path.join(header_dest, "args.txt")),
            f"arg {e2e.win(header_dest)}\\\ncount 1\n")

    dest = os.path.join(base, "new folder", "with blanks")
    c.equal("/s /d= exit code", run.start(pkg, ["/s", "/d=" + e2e.win(dest)]), 0)
    c.equal("/s /d= files", files_in(dest), SAMPLE_FILES + ["e.exe"])

    # Setup.exe /S /D="C:\Program Files\Tool", written as an administrator writes it.
    readme = os.path.join(base, "Program Files", "Tool")
    plain = run.package(os.path.join(base, "Setup.exe"), e2e.SAMPLE, flags=SWITCHES)
    for name, extra, code, expected in (("bad", " /X", 3, []), ("good", "", 0, SAMPLE_FILES)):
        script = os.path.join(base, f"{name}.bat")
        with open(script, "w") as f:
            f.write(f'@"{e2e.win(plain)}" /S /D="{e2e.win(readme)}"{extra}\r\n@exit %ERRORLEVEL%\r\n')
        c.equal(f"batch file {name} exit code", run.start("cmd", ["/c", e2e.win(script)]), code)
        c.equal(f"batch file {name} files", files_in(readme), expected)


def unattended_failures(run, c):
    """Exit codes 1 to 3: a damaged entry, passwords missing, wrong and right, no
    archive, a file that cannot be opened, switches that are not known or too long."""
    base = run.folder("unattended_failures")
    dest = os.path.join(base, "dest")
    damaged = e2e.corrupt_crc(e2e.make_zip(e2e.SAMPLE), "docs/b.txt")
    pkg = run.package(os.path.join(base, "damaged.exe"), [], flags=SWITCHES, archive=damaged)
    c.equal("damaged entry exit code", run.start(pkg, ["/S", "/D=" + e2e.win(dest)]), 1)
    c.equal("only the good entries are written, nothing of the damaged one",
            e2e.extracted(dest), ["a.txt", "docs/deep/c.bin"])

    if shutil.which("zip"):
        archive = e2e.make_encrypted(base, "secret", [("e1.txt", b"one\n" * 100)], ["wrong"])
        pkg = run.package(os.path.join(base, "encrypted.exe"), [], flags=SWITCHES,
                          archive=archive)
        for password, code in ((None, 1), ("wrong", 1), ("secret", 0)):
            out = os.path.join(base, f"password {password}")
            args = ["/S", "/D=" + e2e.win(out)] + ([f"/P={password}"] if password else [])
            c.equal(f"password {password} exit code", run.start(pkg, args), code)
            c.equal(f"password {password} files", files_in(out), ["e1.txt"] if code == 0 else [])
    else:
        c.failures.append("zip is not installed")

    pkg = run.package(os.path.join(base, "empty.exe"), [], flags=SWITCHES, archive=b"")
    c.equal("no archive exit code", run.start(pkg, ["/S"]), 2)
    pkg = run.package(os.path.join(base, "p.exe"), e2e.SAMPLE, flags=SWITCHES)
    lines, code = run.drive(pkg, ["exit"], lock=True, arguments="/S")
    c.equal("locked package", (lines, code), (["exit 2"], 2))

    # The package proposes the current directory: bad switches must leave it empty.
    cwd = os.path.join(base, "cwd")
    os.makedirs(cwd)
    for args in (["/S", "/X"], ["/S", "/D="], ["/S", "/D=C:\\" + "d" * 252], ["/S", "-S"], ["/S", ""]):
        c.equal(f"{args} exit code", run.start(pkg, args, cwd=cwd), 3)
    c.equal("bad switches extract nothing", os.listdir(cwd), [])


def unattended_goes_on(run, c):
    """Unattended, an AES entry without its password fails and the entries after it
    are extracted (exit 1); a destination of two characters, relative to the current
    folder; a run killed while it writes a large entry leaves no temporary file."""
    base = run.folder("unattended_goes_on")
    entries = lambda archive: archive[:archive.find(b"PK\x01\x02")]   # the walk reads only these
    aes = e2e.make_7z(base, "aes", ["-mem=AES256"], [("s.bin", b"secret\n" * 100)])
    archive = entries(e2e.make_zip([("a.txt", b"a\n")])) + entries(aes) + e2e.make_zip([("z.txt", b"z\n")])
    pkg = run.package(os.path.join(base, "mixed.exe"), [], flags=SWITCHES, archive=archive)
    for password in (None, "wrong"):
        out = os.path.join(base, f"mixed {password}")
        args = ["/S", "/D=" + e2e.win(out)] + ([f"/P={password}"] if password else [])
        c.equal(f"password {password}: exit code", run.start(pkg, args), 1)
        c.equal(f"password {password}: the other entries", files_in(out), ["a.txt", "z.txt"])

    cwd = os.path.join(base, "cwd")
    os.makedirs(cwd)
    pkg = run.package(os.path.join(base, "p.exe"), e2e.SAMPLE, flags=SWITCHES)
    c.equal("/D=ab exit code", run.start(pkg, ["/S", "/D=ab"], cwd=cwd), 0)
    c.equal("/D=ab files", files_in(os.path.join(cwd, "ab")), SAMPLE_FILES)

    dest = os.path.join(base, "killed")
    big = e2e.make_zip([("big.bin", bytes(300 << 20))], method=zipfile.ZIP_STORED)
    pkg = run.package(os.path.join(base, "big.exe"), [], flags=SWITCHES, archive=big)
    del big
    temporary = lambda: [f for f in os.listdir(dest) if f.startswith("~tv")] if os.path.isdir(dest) else []

    def writing():   # the file is marked for deletion right after it is made, before the first write
        try:
            return any(os.path.getsize(os.path.join(dest, f)) > 0 for f in temporary())
        except OSError:
            return False
    program = subprocess.Popen(["wine", pkg, "/S", "/D=" + e2e.win(dest)], env=run.env(),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 30
    while not writing() and program.poll() is None and time.time() < deadline:
        time.sleep(0.005)
    seen = temporary()
    program.kill()
    program.wait()
    deadline = time.time() + 10   # the system deletes the file once the process is gone
    while temporary() and time.time() < deadline:
        time.sleep(0.05)
    c.true("the killed run was writing its temporary file", bool(seen))
    c.equal("the killed run leaves nothing", os.listdir(dest) if os.path.isdir(dest) else [], [])
    os.remove(pkg)


def full_disk(run, c):
    """AE-2 entries (no CRC) onto a full 64 KiB file system, unattended: the entry
    that does not fit leaves nothing, the one after it is extracted, exit 1; the
    log gives the system's words for the failed write."""
    base = run.folder("full_disk")
    dest = os.path.join(base, "small disk")
    if not e2e.mount_small_disk(dest):
        return
    try:
        noise = bytes(random.Random(5).getrandbits(8) for _ in range(200000))
        archive = e2e.make_7z(base, "ae2", ["-mem=AES256", "-mx0"], [("big.bin", noise), ("tiny.txt", b"123456789")])
        pkg = run.package(os.path.join(base, "ae2.exe"), [], flags=SWITCHES, archive=archive)
        log = os.path.join(base, "log.txt")
        c.equal("exit code", run.start(pkg, ["/S", "/P=secret", "/D=" + e2e.win(dest), "/L=" + e2e.win(log)]), 1)
        c.equal("only the entry that fits", e2e.extracted(dest), ["tiny.txt"])
        failed = [line.split("\t") for line in e2e.read_log(log) if line.startswith("failed\t")]
        c.true(f"the failed write with the system's words: {failed}",
               len(failed) == 1 and failed[0][:3] == ["failed", "big.bin", "write failed"] and len(failed[0]) == 4
               and len(failed[0][3]) > 5 and not failed[0][3].endswith(" "))
    finally:
        subprocess.run(["umount", dest])


def past_2_gib(run, c):
    """A package of 2.7 GB (two stored entries of 1.3 GB and a small one after them):
    every entry is found and extracted. Made in the work folder and removed."""
    base = run.folder("past_2_gib")
    if shutil.disk_usage(base).free < 7 << 30:
        print("    skipped: the disk lacks the 7 GB this needs")
        return
    pkg = os.path.join(base, "large.exe")
    dest = os.path.join(base, "out")
    size = 1300 << 20
    try:
        with open(run.stub, "rb") as f, open(pkg, "wb") as out:
            out.write(build_package(f.read(), b"", flags=SWITCHES))
            chunk = bytes(1 << 20)
            with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
                for name in ("one.bin", "two.bin"):
                    with z.open(zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0)), "w", force_zip64=False) as entry:
                        for _ in range(size >> 20):
                            entry.write(chunk)
                z.writestr("after.txt", b"past 2 GiB\n")
        c.equal("exit code", run.start(pkg, ["/S", "/D=" + e2e.win(dest)], timeout=600), 0)
        c.equal("every entry", e2e.extracted(dest), ["after.txt", "one.bin", "two.bin"])
        c.equal("sizes", [os.path.getsize(os.path.join(dest, n)) for n in ("one.bin", "two.bin")], [size, size])
        c.equal("the entry past 2 GiB", e2e.read(os.path.join(dest, "after.txt")), b"past 2 GiB\n")
    finally:
        shutil.rmtree(base, ignore_errors=True)


def switches_in_dialog(run, c):
    """With the flag, /D= is proposed in the dialog, /? and bad switches show the list;
    without it, every switch is ignored and the dialog opens as usual."""
    base = run.folder("switches_in_dialog")
    header_dest = os.path.join(base, "header")
    proposed = os.path.join(base, "proposed ##")
    pkg = run.package(os.path.join(base, "p.exe"), e2e.SAMPLE, flags=SWITCHES, folder=e2e.win(header_dest))
    lines, code = run.drive(pkg, ["main", "get:101", "press:1", "box", "exit"],
                            arguments=f'"/D={e2e.win(proposed)}"')
    c.equal("/D= proposed", (lines, code),
            (["main dialog", f"101={e2e.win(proposed)}", e2e.SUCCESS, "exit 0"], 0))
    c.equal("/D= files", files_in(proposed), SAMPLE_FILES)
    for arguments, code_expected in (("/?", 0), ("/D=x /Q", 3)):
        lines, code = run.drive(pkg, ["box", "exit"], arguments=arguments)
        text = "\n".join(lines)
        c.true(f"{arguments} shows the switch list: {lines}",
               text.startswith("box: /S\tunattended\n/D=FOLDER\n"))
        c.equal(f"{arguments} ends with", lines[-1:], [f"exit {code_expected}"])
        c.equal(f"{arguments} exit code", code, code_expected)

    ignoring = run.package(os.path.join(base, "q.exe"), e2e.SAMPLE, flags=DEFAULT_FLAGS,
                           folder=e2e.win(header_dest))
    lines, code = run.drive(ignoring, ["main", "get:101", "press:2", "exit"],
                            arguments=f"/S /D={e2e.win(proposed)}x /Q")
    c.equal("without the flag", (lines, code),
            (["main dialog", f"101={e2e.win(header_dest)}", "exit 0"], 0))
    c.true("without the flag nothing is extracted", not os.path.exists(header_dest))


def dos_time(date_time):
    """A DOS date and time as seconds since 1970, read as UTC (Wine runs with TZ=UTC)."""
    return calendar.timegm(date_time + (0, 0, 0))


def ntfs_extra(ns):
    """An NTFS extra field whose mtime is 'ns' nanoseconds since 1970."""
    filetime = ns // 100 + 116444736000000000
    return (b"\x0a\x00\x20\x00" + bytes(4) + b"\x01\x00\x18\x00" + filetime.to_bytes(8, "little") +
            bytes(16))


def file_times(run, c):
    """Extracted files get their entries' times with the flag (Info-ZIP's extended
    timestamp, NTFS times, DOS times as local time) and the time of extraction without."""
    base = run.folder("file_times")
    src = os.path.join(base, "src")
    os.makedirs(src)
    stamps = {"one.txt": 1600000001_250000000, "two.bin": 1300000000_999999999}
    for name, ns in stamps.items():
        path = os.path.join(src, name)
        with open(path, "wb") as f:
            f.write(name.encode() * 500)
        os.utime(path, ns=(ns, ns))
    archives = {}
    if shutil.which("zip"):
        subprocess.run(["zip", "-q", os.path.join(base, "infozip.zip")] + list(stamps), cwd=src, check=True)
        # The extended timestamp holds whole seconds.
        archives["infozip"] = {n: ns // 10**9 * 10**9 for n, ns in stamps.items()}
    else:
        c.failures.append("zip is not installed")
    if shutil.which("7z"):
        subprocess.run(["7z", "a", "-tzip", "-mtc=on", os.path.join(base, "7z.zip")] + list(stamps), cwd=src,
                       check=True, stdout=subprocess.DEVNULL)
        # 7z puts its NTFS times into the central directory only: the local
        # headers, which the stub reads, carry the DOS time.
        with zipfile.ZipFile(os.path.join(base, "7z.zip")) as z:
            archives["7z"] = {i.filename: dos_time(i.date_time) * 10**9 for i in z.infolist()}
    else:
        c.failures.append("7z is not installed")
    with zipfile.ZipFile(os.path.join(base, "python.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo("dos.txt", (2021, 3, 4, 5, 6, 8)), b"dos\n")
        fine = zipfile.ZipInfo("ntfs.txt", (1999, 1, 1, 0, 0, 0))
        fine.extra = ntfs_extra(1234567890_123456700)
        z.writestr(fine, b"ntfs\n")
    archives["python"] = {"dos.txt": dos_time((2021, 3, 4, 5, 6, 8)) * 10**9, "ntfs.txt": 1234567890_123456700}

    for maker, expected in archives.items():
        archive = e2e.read(os.path.join(base, f"{maker}.zip"))
        for flags in (SWITCHES | FLAG_KEEP_TIMES, SWITCHES):
            out = os.path.join(base, f"{maker} {flags:02x}")
            pkg = run.package(os.path.join(base, f"{maker}-{flags:02x}.exe"), [], flags=flags, archive=archive)
            started = time.time()
            code = run.start(pkg, ["/S", "/D=" + e2e.win(out)], env={"TZ": "UTC"})
            c.equal(f"{maker} {flags:#x} exit code", code, 0)
            for name, ns in expected.items():
                path = os.path.join(out, name)
                got = os.stat(path).st_mtime_ns if os.path.exists(path) else None
                if flags & FLAG_KEEP_TIMES:
                    c.equal(f"{maker} {name} time", got, ns)
                else:
                    c.true(f"{maker} {name} has the time of extraction", got and got >= (started - 2) * 10**9)
