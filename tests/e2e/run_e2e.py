#!/usr/bin/env python3
"""End-to-end tests: real packages run under Wine inside Xvfb, played by the
test driver (driver.exe), which prints what it sees.

    run_e2e.py --win32 DIR --work DIR setup        start Xvfb and the Wine prefix
    run_e2e.py --win32 DIR --work DIR run NAME...  run scenarios (setup must have run)
    run_e2e.py --win32 DIR --work DIR cleanup      stop Wine and Xvfb
    run_e2e.py --win32 DIR --work DIR all          setup, every scenario, cleanup
    run_e2e.py --win32 DIR --work DIR screenshots OUTDIR
    run_e2e.py list                                print the scenario names

DIR is the win32 build (tolvane-sfx.exe, e2e/driver.exe, e2e/echo_args.exe).
One Xvfb display and one Wine prefix serve the whole run. Exit code 77 means
skipped (no win32 build, no Wine or no Xvfb). --pack TOOL names tolvane-pack
for the scenarios of packages it makes (pack_scenarios.py); --pack-windows EXE
its Windows build, run under Wine in a 64-bit prefix of its own.
"""
import argparse
import getpass
import io
import os
import random
import select
import shutil
import signal
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from mkpackage import build_header, build_package  # noqa: E402
import deploy_scenarios  # noqa: E402
import option_scenarios  # noqa: E402
import pack_scenarios  # noqa: E402
import unicode_scenarios  # noqa: E402

SKIP = 77
CAPTION = "Tolvane 4.0 SFX"
SUCCESS = "box: All files have been extracted successful."
FAILURE = "box: Couldn't get extracted the selected files."
NO_HEADER = "box: Cannot read archive header"


def win(path):
    """The Windows name under Wine of a host path (drive Z: is the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Run:
    def __init__(self, win32, work):
        self.win32 = os.path.abspath(win32)
        self.work = os.path.abspath(work)
        self.stub = os.path.join(self.win32, "tolvane-sfx.exe")
        self.driver = os.path.join(self.win32, "e2e", "driver.exe")
        self.echo = os.path.join(self.win32, "e2e", "echo_args.exe")
        self.prefix = os.path.join(self.work, "prefix")
        self.prefix64 = os.path.join(self.work, "prefix64")
        self.state = os.path.join(self.work, "display")

    def missing(self):
        for tool in ("wine", "Xvfb"):
            if not shutil.which(tool):
                return f"{tool} is not installed"
        for f in (self.stub, self.driver, self.echo):
            if not os.path.exists(f):
                return f"{f} is missing: build the win32 preset first (cmake --preset win32 && cmake --build build/win32)"
        return None

    def env(self, display=None, locale=None):
        e = dict(os.environ)
        # A 32-bit prefix, as the stub's users have it, also where wine64 is installed.
        e.update(WINEPREFIX=self.prefix, WINEARCH="win32", WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        # One locale whatever the caller's: Wine then writes 8-bit names as UTF-8
        # file names (under "C" it cannot) and its ANSI code page is 1252.
        # Another UTF-8 locale gives another code page (ru_RU 1251, ja_JP 932).
        e["LC_ALL"] = "C.UTF-8"
        if locale:
            e["LC_ALL"] = locale
            e["LOCPATH"] = self.locales()
        if display is None:
            with open(self.state) as f:
                display = f.read().split()[0]
        e["DISPLAY"] = display
        return e

    def env64(self):
        """The environment of the 64-bit Windows tool: a 64-bit prefix beside the
        suite's, made on first use (about 20 s), its server detached as in setup."""
        e = self.env()
        e.update(WINEPREFIX=self.prefix64, WINEARCH="win64")
        if not os.path.exists(os.path.join(self.prefix64, "system.reg")):
            os.makedirs(self.prefix64, exist_ok=True)
            subprocess.Popen(["wineserver", "-p"], env=e, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True).wait(timeout=30)
            subprocess.run(["wine", "wineboot", "-u"], env=e, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=240, check=False)
        return e

    def wine(self, args, display=None, timeout=120):
        with open(os.devnull, "wb") as null:
            subprocess.run(["wine"] + args, env=self.env(display), stdout=null, stderr=null,
                           timeout=timeout, check=False)

    # ---- set-up and clean-up -------------------------------------------------
    def setup(self):
        os.makedirs(self.work, exist_ok=True)
        self.cleanup(quiet=True)
        # Xvfb picks a free display itself and writes its number to the pipe.
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            if select.select([read_end], [], [], 0.5)[0]:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            xvfb.kill()
            raise RuntimeError("Xvfb did not start")
        display = f":{number.decode().strip()}"
        with open(self.state, "w") as f:
            f.write(f"{display} {xvfb.pid}\n")
        env = self.env(display)
        # A persistent server, started with its output detached, so no later
        # wine call leaves a background process holding our pipes.
        subprocess.Popen(["wineserver", "-p"], env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, start_new_session=True).wait(timeout=30)
        self.wine(["wineboot", "-i"], display, timeout=300)
        self.wine(["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/t", "REG_SZ",
                   "/d", "N", "/f"], display)
        self.wine(["reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t",
                   "REG_DWORD", "/d", "0", "/f"], display)
        print(f"Xvfb on {display}, Wine prefix {self.prefix}")

    def cleanup(self, quiet=False):
        if os.path.exists(self.prefix64):
            # Over a gigabyte: made again by the next run that needs it.
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=self.prefix64),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=False)
            shutil.rmtree(self.prefix64, ignore_errors=True)
        if not os.path.exists(self.state):
            return
        with open(self.state) as f:
            display, pid = f.read().split()
        with open(os.devnull, "wb") as null:
            subprocess.run(["wineserver", "-k"], env=self.env(display), stdout=null, stderr=null,
                           timeout=60, check=False)
        try:
            os.kill(int(pid), signal.SIGTERM)
        except ProcessLookupError:
            pass
        os.remove(self.state)
        if not quiet:
            print(f"stopped Xvfb {display}")

    def locales(self):
        """A folder of compiled UTF-8 locales for LOCPATH (compiled once per work folder)."""
        folder = os.path.join(self.work, "locales")
        for name in ("ru_RU", "ja_JP", "el_GR"):
            if not os.path.exists(os.path.join(folder, name + ".UTF-8")):
                os.makedirs(folder, exist_ok=True)
                subprocess.run(["localedef", "-i", name, "-f", "UTF-8", os.path.join(folder, name + ".UTF-8")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        return folder

    # ---- helpers for scenarios -------------------------------------------------
    def folder(self, name):
        path = os.path.join(self.work, "cases", name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def package(self, path, files, header=True, flags=0x0A, message="", folder="", command="",
                archive=None):
        if archive is None:
            archive = make_zip(files)
        with open(self.stub, "rb") as f:
            stub = f.read()
        enc = lambda s: s.encode("latin-1")
        data = build_package(stub, archive, header=header, flags=flags, message=enc(message),
                             folder=enc(folder), command=enc(command))
        with open(path, "wb") as f:
            f.write(data)
        return path

    def drive(self, package, steps, cwd=None, lock=False, timeout=90, env=None, arguments=None,
              locale=None, wait=None):
        """Runs the driver (under 'locale', which sets Wine's code pages); returns
        the lines it printed (UTF-8) and its exit code. 'wait' bounds the driver's
        waits (ms) when they may take longer than its default."""
        args = [self.driver]
        if cwd:
            args += ["--cwd", win(cwd)]
        for name, value in (env or {}).items():
            args += ["--env", f"{name}={value}"]
        if lock:
            args.append("--lock")
        if arguments:
            args += ["--args", arguments]
        if wait:
            args += ["--wait", str(wait)]
        args += [win(package)] + steps
        out_path = package + ".out"
        with open(out_path, "wb") as out:
            result = subprocess.run(["wine"] + args, env=self.env(locale=locale), stdout=out,
                                    stderr=subprocess.DEVNULL, timeout=timeout, check=False)
        with open(out_path, "rb") as f:
            lines = f.read().decode("utf-8", "replace").replace("\r", "").splitlines()
        return lines, result.returncode


    def start(self, program, args=(), timeout=30, env=None, cwd=None):
        """Runs a program (a package) with arguments as a script would, without the
        driver; returns its exit code. A run that waits for input times out."""
        e = self.env()
        e.update(env or {})
        log_path = (program if os.path.isabs(program) else os.path.join(self.work, program)) + ".log"
        with open(log_path, "wb") as log:
            return subprocess.run(["wine", program] + list(args), env=e, stdout=log, stderr=log,
                                  timeout=timeout, check=False, cwd=cwd).returncode


def make_zip(files, method=zipfile.ZIP_DEFLATED):
    """A ZIP archive from (name, bytes) pairs; names ending in '/' are folders."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method) as z:
        for name, data in files:
            z.writestr(name, data)
    return buffer.getvalue()


def corrupt_crc(archive, name):
    """The archive with the local header CRC of one entry changed."""
    data = bytearray(archive)
    encoded = name.encode()
    pos = 0
    while True:
        pos = data.index(b"PK\x03\x04", pos)
        length = int.from_bytes(data[pos + 26:pos + 28], "little")
        if bytes(data[pos + 30:pos + 30 + length]) == encoded:
            data[pos + 14] ^= 0xFF
            return bytes(data)
        pos += 4


def read(path):
    with open(path, "rb") as f:
        return f.read()


def read_log(path):
    """The lines of a run's log (/L=), its UTF-8 lines ended by CR LF."""
    with open(path, "rb") as f:
        return f.read().decode("utf-8").split("\r\n")[:-1]


def read_lines(path):
    with open(path, encoding="latin-1") as f:
        return f.read().splitlines()


class Check:
    def __init__(self, name):
        self.name = name
        self.failures = []

    def equal(self, what, got, expected):
        if got != expected:
            self.failures.append(f"{what}:\n    expected {expected!r}\n    got      {got!r}")

    def true(self, what, condition):
        if not condition:
            self.failures.append(what)


SAMPLE = [("a.txt", b"alpha\n"), ("docs/", b""), ("docs/b.txt", b"bravo\n" * 50),
          ("docs/deep/c.bin", bytes(range(256)) * 40)]
SAMPLE_LIST = ["301 +a.txt", "301 +docs/", "301 +docs/b.txt", "301 +docs/deep/c.bin"]


def extracted(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder).replace(os.sep, "/")
                  for d, _, fs in os.walk(folder) for f in fs)


# ---- scenarios -------------------------------------------------------------------
def without_header(run, c):
    """No header: defaults, current directory proposed, everything extracted."""
    base = run.folder("without_header")
    cwd = os.path.join(base, "cwd")
    os.makedirs(cwd)
    pkg = run.package(os.path.join(base, "p.exe"), SAMPLE, header=False)
    lines, code = run.drive(pkg, ["main", "get:101", "get:901", "state:3", "state:702", "state:501",
                                  "state:302", "press:1", "box", "exit"], cwd=cwd)
    c.equal("driver output", lines, ["main dialog", f"101={win(cwd)}", "901=", "3 visible enabled unchecked",
                                     "702 visible enabled unchecked", "501 visible enabled checked",
                                     "302 hidden enabled unchecked", SUCCESS, "exit 0"])
    c.equal("exit code", code, 0)
    c.equal("files", extracted(cwd), ["a.txt", "docs/b.txt", "docs/deep/c.bin"])
    c.equal("content", read(os.path.join(cwd, "docs/deep/c.bin")), SAMPLE[3][1])


# flags: (file list shown, overwrite box state, existing file replaced)
FLAG_CASES = [
    (0x0A, True, "visible enabled checked", True),
    (0x02, True, "visible enabled unchecked", False),
    (0x1A, True, "visible enabled unchecked", False),
    (0x1E, True, "absent", False),
    (0x0E, True, "absent", True),
    (0x08, False, "visible enabled checked", True),
    (0x00, False, "visible enabled unchecked", False),
    (0x04, False, "absent", False),
    (0x19, False, "visible enabled unchecked", False),
]


def flag_table(run, c):
    """Each flag combination: what the dialog shows and what happens to an existing file."""
    for flags, listed, box, replaced in FLAG_CASES:
        base = run.folder(f"flags_{flags:02x}")
        dest = os.path.join(base, "dest")
        os.makedirs(dest)
        with open(os.path.join(dest, "a.txt"), "wb") as f:
            f.write(b"old\n")
        pkg = run.package(os.path.join(base, "p.exe"), SAMPLE, flags=flags, folder=win(dest))
        shown = "visible enabled unchecked" if listed else "hidden enabled unchecked"
        lines, code = run.drive(pkg, ["main", "state:3", "state:702", "state:501", "list:" +
                                      ("301" if listed else "302"), "press:1", "box", "exit"])
        names = [n.replace("301", "302") for n in SAMPLE_LIST] if not listed else SAMPLE_LIST
        # The lists start unselected; a listing selects nothing.
        names = [n.replace("+", "-") for n in names]
        c.equal(f"flags 0x{flags:02X} output", lines,
                ["main dialog", f"3 {shown}", f"702 {shown}", f"501 {box}"] + names + [SUCCESS, "exit 0"])
        c.equal(f"flags 0x{flags:02X} existing file", read(os.path.join(dest, "a.txt")),
                b"alpha\n" if replaced else b"old\n")
        c.equal(f"flags 0x{flags:02X} exit code", code, 0)


def overwrite_clicks(run, c):
    """The box toggles on each click; an existing file is replaced exactly when it is checked."""
    for clicks, replaced in ((1, False), (2, True)):
        base = run.folder(f"clicks_{clicks}")
        dest = os.path.join(base, "dest")
        os.makedirs(dest)
        with open(os.path.join(dest, "a.txt"), "wb") as f:
            f.write(b"old\n")
        pkg = run.package(os.path.join(base, "p.exe"), SAMPLE, flags=0x0A, folder=win(dest))
        lines, _ = run.drive(pkg, ["main"] + ["press:501"] * clicks + ["sleep:200", "state:501", "press:1",
                                                                         "box", "exit"])
        c.equal(f"{clicks} clicks", lines, ["main dialog", f"501 visible enabled {'checked' if replaced else 'unchecked'}",
                                            SUCCESS, "exit 0"])
        c.equal(f"{clicks} clicks existing file", read(os.path.join(dest, "a.txt")),
                b"alpha\n" if replaced else b"old\n")


def worked_example(run, c):
    """Flags 0x0D with a 91-byte message, a 7-byte folder and an 11-byte command."""
    base = run.folder("worked_example")
    message = ("Welcome. This package holds the sample files; press Extract to unpack them here. "
               "Thank you.")[:91].ljust(91, ".")
    folder, command = "outdir1", "##e.exe|a b"
    assert (len(message), len(folder), len(command)) == (0x5B, 0x07, 0x0B)
    os.makedirs(os.path.join(base, folder))
    with open(os.path.join(base, folder, "a.txt"), "wb") as f:
        f.write(b"old\n")
    files = SAMPLE + [("e.exe", read(run.echo))]
    pkg = run.package(os.path.join(base, "p.exe"), files, flags=0x0D, message=message, folder=folder,
                      command=command)
    lines, code = run.drive(pkg, ["main", "get:901", "get:101", "state:3", "state:702", "state:501",
                                  "press:1", "box", "exit"], cwd=base)
    c.equal("output", lines, ["main dialog", f"901={message}", f"101={folder}", "3 hidden enabled unchecked",
                              "702 hidden enabled unchecked", "501 absent", SUCCESS, "exit 0"])
    c.equal("existing file replaced", read(os.path.join(base, folder, "a.txt")), b"alpha\n")
    args = wait_for(os.path.join(base, folder, "args.txt"))
    c.equal("command arguments", args, "arg a\narg b\ncount 2\n")


def wait_for(path, limit=20):
    end = time.time() + limit
    while time.time() < end:
        if os.path.exists(path):
            time.sleep(0.2)
            with open(path) as f:
                return f.read()
        time.sleep(0.1)
    return None


def command_launch(run, c):
    """Extract all, the success box, then the command with "##" expanded in both parts."""
    base = run.folder("command")
    dest = os.path.join(base, "DestinationFolder")
    files = [("tools/echo_args.exe", read(run.echo)), ("a.txt", b"alpha\n")]
    pkg = run.package(os.path.join(base, "p.exe"), files, folder=win(dest) + "\\",
                      command="##tools\\echo_args.exe|/S ## x|y")
    lines, code = run.drive(pkg, ["main", "get:101", "press:1", "box", "exit"])
    c.equal("output", lines, ["main dialog", f"101={win(dest)}\\", SUCCESS, "exit 0"])
    c.equal("exit code", code, 0)
    args = wait_for(os.path.join(dest, "tools", "args.txt"))
    c.equal("command arguments", args, f"arg /S\narg {win(dest)}\\\narg x|y\ncount 3\n")
    # The program part names an existing file: it arrives in its short form. The
    # parameter text is not a single path and arrives exactly as expanded.
    program, *raw = read_lines(os.path.join(dest, "tools", "raw.txt"))
    c.true(f"program shortened: {program}", "~" in program and "DestinationFolder" not in program)
    c.equal("parameters as expanded", raw, ["arg /S", f"arg {win(dest)}\\", "arg x|y"])


def temp_folder(run, c):
    """A default folder of exactly "##" is the temporary folder, shown with its backslash."""
    base = run.folder("temp_folder")
    unique = f"tolvane-e2e-{os.getpid()}"
    pkg = run.package(os.path.join(base, "p.exe"), [(f"{unique}/t.txt", b"temp\n")], folder="##")
    lines, _ = run.drive(pkg, ["main", "get:101", "press:1", "box", "exit"])
    user = getpass.getuser()
    c.equal("output", lines, ["main dialog", f"101=C:\\users\\{user}\\Temp\\", SUCCESS, "exit 0"])
    target = os.path.join(run.prefix, "drive_c", "users", user, "Temp", unique)
    c.true(f"file in the temporary folder {target}", os.path.exists(os.path.join(target, "t.txt")))
    shutil.rmtree(target, ignore_errors=True)


def empty_field(run, c):
    """An emptied field, or one holding only a backslash, means the current directory."""
    for text in ("", "\\"):
        base = run.folder("empty_field" + ("_backslash" if text else ""))
        cwd = os.path.join(base, "cwd")
        os.makedirs(cwd)
        pkg = run.package(os.path.join(base, "p.exe"), SAMPLE, folder=win(os.path.join(base, "other")))
        lines, _ = run.drive(pkg, ["main", f"set:101={text}", "press:1", "waitbox", "get:101", "box", "exit"],
                             cwd=cwd)
        c.equal(f"field {text!r}", lines, ["main dialog", f"101={win(cwd)}", SUCCESS, "exit 0"])
        c.equal(f"field {text!r} files", extracted(cwd), ["a.txt", "docs/b.txt", "docs/deep/c.bin"])


def file_list(run, c):
    """Deselect entries, extract the rest; the command runs and both dialogs end."""
    base = run.folder("file_list")
    dest = os.path.join(base, "dest")
    files = SAMPLE + [("e.exe", read(run.echo))]
    pkg = run.package(os.path.join(base, "p.exe"), files, folder=win(os.path.join(base, "unused")),
                      command="##e.exe|##")
    lines, code = run.drive(pkg, ["main", f"set:101={win(dest)}", "press:3", "files", "list:301",
                                  "toggle:301:a.txt", "toggle:301:docs/deep/c.bin", "press:1", "box",
                                  "exit"])
    c.equal("output", lines, ["main dialog", "files dialog"] + SAMPLE_LIST[:3] + ["301 +docs/deep/c.bin",
                                                                                  "301 +e.exe", SUCCESS, "exit 0"])
    c.equal("command arguments", wait_for(os.path.join(dest, "args.txt")), f"arg {win(dest)}\\\ncount 1\n")
    # "##" alone is an existing folder: shortened like the program part.
    raw = read_lines(os.path.join(dest, "raw.txt"))
    c.true(f"both parts shortened: {raw}", len(raw) == 2 and all("~" in r and "file_list" not in r for r in raw))
    c.equal("files", [f for f in extracted(dest) if f not in ("args.txt", "raw.txt")], ["docs/b.txt", "e.exe"])
    c.equal("exit code", code, 0)


def partial_failure(run, c):
    """A damaged entry: only it stays selected, the dialogs stay open, every Extract
    of the main dialog processes all entries again."""
    base = run.folder("partial_failure")
    dest = os.path.join(base, "dest")
    archive = corrupt_crc(make_zip(SAMPLE, zipfile.ZIP_STORED), "docs/b.txt")
    pkg = run.package(os.path.join(base, "p.exe"), [], folder=win(dest), archive=archive)
    lines, code = run.drive(pkg, ["main", "press:3", "files", "press:1", "box", "list:301",
                                  "press:1", "box", "press:2", "main", "get:55", "press:1", "box", "open",
                                  "list:301", "get:55", "press:2", "exit"])
    # Field 55 stays empty until the main dialog's own run, then keeps the last path,
    # shown as built: the entry name keeps its forward slashes there.
    c.equal("output", lines, [
        "main dialog", "files dialog", FAILURE,
        "301 -a.txt", "301 -docs/", "301 +docs/b.txt", "301 -docs/deep/c.bin",
        FAILURE, "main dialog", "55=", FAILURE, "main open",
        "301 -a.txt", "301 -docs/", "301 +docs/b.txt", "301 -docs/deep/c.bin",
        f"55={win(dest)}\\docs/deep/c.bin", "exit 0"])
    c.equal("exit code", code, 0)
    c.equal("files", extracted(dest), ["a.txt", "docs/deep/c.bin"])


def patch_local_header(archive, name, offset, value, size):
    """The archive with one field of one entry's local header set to 'value'."""
    data = bytearray(archive)
    pos = 0
    while True:
        pos = data.index(b"PK\x03\x04", pos)
        length = int.from_bytes(data[pos + 26:pos + 28], "little")
        if bytes(data[pos + 30:pos + 30 + length]) == name.encode():
            data[pos + offset:pos + offset + size] = value.to_bytes(size, "little")
            return bytes(data)
        pos += 4


def nothing_damaged_stays(run, c):
    """Packages that keep existing files, run twice: a damaged entry, an unknown method,
    a package cut between entries and a full disk leave nothing under the entries'
    names, no temporary file, and never report success."""
    base = run.folder("nothing_damaged")
    keep = 0x12   # file list allowed, overwrite unchecked
    damaged = corrupt_crc(make_zip(SAMPLE), "docs/b.txt")
    unknown = patch_local_header(make_zip([("a.txt", b"alpha\n"), ("setup.exe", b"MZ" * 500)],
                                          zipfile.ZIP_STORED), "setup.exe", 8, 6, 2)
    whole = make_zip(SAMPLE)
    cut = whole[:whole.index(b"PK\x03\x04", whole.index(b"docs/deep/c.bin") - 30)]
    reading = "box: Error reading archive."
    cases = [("damaged", damaged, [FAILURE], ["a.txt", "docs/deep/c.bin"]),
             ("unknown", unknown, ["box: Unknown compression type"], ["a.txt"]),
             ("cut", cut, [reading, FAILURE], ["a.txt", "docs/b.txt"])]
    for name, archive, boxes, files in cases:
        dest = os.path.join(base, name)
        pkg = run.package(os.path.join(base, name + ".exe"), [], folder=win(dest), flags=keep,
                          archive=archive, command="##\\setup.exe")
        steps = ["main", "press:1"] + ["box"] * len(boxes)
        lines, _ = run.drive(pkg, steps + ["press:1"] + ["box"] * len(boxes) + ["press:2", "exit"])
        c.equal(f"{name}: two runs of Extract", lines, ["main dialog"] + boxes * 2 + ["exit 0"])
        lines, _ = run.drive(pkg, steps + ["press:2", "exit"])
        c.equal(f"{name}: the package run again", lines, ["main dialog"] + boxes + ["exit 0"])
        c.equal(f"{name}: files", extracted(dest), files)

    # A disk that fills up in the middle of an entry (as root, on a 64 KB tmpfs).
    full = os.path.join(base, "full")
    if not mount_small_disk(full):
        return
    try:
        big = random.Random(5).randbytes(200000)
        pkg = run.package(os.path.join(base, "full.exe"), [("small.txt", b"small\n"), ("big.bin", big)],
                          folder=win(full), flags=keep)
        lines, _ = run.drive(pkg, ["main", "press:1", "box", "press:1", "box", "press:2", "exit"])
        c.equal("disk full: two runs of Extract", lines, ["main dialog", FAILURE, FAILURE, "exit 0"])
        c.equal("disk full: files", extracted(full), ["small.txt"])
    finally:
        subprocess.run(["umount", full], check=False)


def mount_small_disk(path):
    """Mounts a 64 KiB tmpfs at 'path' (made here); the caller unmounts it.
    False, with a note, where mounting is not allowed (it needs root)."""
    os.makedirs(path)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", path],
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
        return True
    print("    skipped: a 64 KiB file system cannot be mounted here (mounting needs root)")
    return False


def second_extract_reprocesses(run, c):
    """After a failure the next Extract of the main dialog writes every entry again."""
    base = run.folder("reprocess")
    dest = os.path.join(base, "dest")
    archive = corrupt_crc(make_zip(SAMPLE), "docs/b.txt")
    pkg = run.package(os.path.join(base, "p.exe"), [], folder=win(dest), flags=0x0A, archive=archive)
    marker = os.path.join(dest, "a.txt")
    lines, _ = run.drive(pkg, ["main", "press:1", "box", f"delete:{win(marker)}", "press:1", "box", "open",
                               "press:2", "exit"])
    c.equal("output", lines, ["main dialog", FAILURE, FAILURE, "main open", "exit 0"])
    c.true("a.txt written again", os.path.exists(marker))


def crc_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    return table


CRC = crc_table()


def check_byte_passes(archive, password):
    """For each encrypted entry, whether a password passes the one-byte check of
    its 12-byte header (the traditional scheme; a wrong one passes by chance 1 in 256)."""
    passes = []
    pos = 0
    while archive.startswith(b"PK\x03\x04", pos):
        flags, _, time_, _, crc, size = (int.from_bytes(archive[pos + a:pos + b], "little") for a, b in
                                         ((6, 8), (8, 10), (10, 12), (12, 14), (14, 18), (18, 22)))
        start = pos + 30 + int.from_bytes(archive[pos + 26:pos + 28], "little") + \
            int.from_bytes(archive[pos + 28:pos + 30], "little")
        keys = [0x12345678, 0x23456789, 0x34567890]

        def update(byte):
            keys[0] = CRC[(keys[0] ^ byte) & 0xFF] ^ (keys[0] >> 8)
            keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
            keys[2] = CRC[(keys[2] ^ (keys[1] >> 24)) & 0xFF] ^ (keys[2] >> 8)
        for ch in password.encode():
            update(ch)
        plain = 0
        for byte in archive[start:start + 12]:
            t = (keys[2] | 2) & 0xFFFF
            plain = byte ^ (((t * (t ^ 1)) >> 8) & 0xFF)
            update(plain)
        expected = time_ >> 8 if flags & 8 else crc >> 24
        passes.append(plain == expected)
        pos = start + size
        if flags & 8 and archive.startswith(b"PK\x07\x08", pos):
            pos += 16
    return passes


def make_encrypted(base, password, names, wrong):
    """A ZIP with traditionally encrypted entries, made by Info-ZIP zip; made again
    while one of the wrong passwords would pass the check by chance."""
    src = os.path.join(base, "src")
    os.makedirs(src, exist_ok=True)
    for name, data in names:
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
    out = os.path.join(base, "enc.zip")
    for _ in range(20):
        if os.path.exists(out):
            os.remove(out)
        subprocess.run(["zip", "-q", "-P", password, out] + [n for n, _ in names], cwd=src, check=True)
        archive = read(out)
        assert all(check_byte_passes(archive, password))
        # A wrong password that passes any entry's check would be tried on its data.
        if not any(any(check_byte_passes(archive, w)) for w in wrong):
            return archive
    raise RuntimeError("could not make an archive that refuses the wrong passwords")


def passwords(run, c):
    """Three wrong passwords end silently; a right one is reused for the next entry."""
    if not shutil.which("zip"):
        c.failures.append("zip is not installed")
        return
    base = run.folder("passwords")
    dest = os.path.join(base, "dest")
    archive = make_encrypted(base, "secret", [("e1.txt", b"one\n" * 100), ("e2.txt", b"two\n" * 100)],
                             ["wrong1", "", "wrong3"])
    pkg = run.package(os.path.join(base, "p.exe"), [], folder=win(dest), archive=archive)
    lines, code = run.drive(pkg, ["main", "press:1", "escape-password", "password:wrong1", "password:",
                                  "password:wrong3", "nobox:1500", "open", "press:1", "password:secret",
                                  "box", "exit"])
    c.equal("output", lines, ["main dialog", "prompt open", "password wrong1", "password ",
                              "password wrong3", "no box", "main open", "password secret", SUCCESS, "exit 0"])
    c.equal("content", read(os.path.join(dest, "e2.txt")), b"two\n" * 100)
    c.equal("exit code", code, 0)


def make_7z(base, name, options, files, password="secret"):
    """A ZIP made by 7z: with WinZip AES entries (AE-2: no CRC) and the password
    "secret", or with no password at all."""
    src = os.path.join(base, name + "_src")
    for file, data in files:
        os.makedirs(os.path.dirname(os.path.join(src, file)), exist_ok=True)
        with open(os.path.join(src, file), "wb") as f:
            f.write(data)
    out = os.path.join(base, name + ".zip")
    secret = ["-p" + password] if password else []
    subprocess.run(["7z", "a", "-tzip", "-bd", "-bso0", "-bsp0", out] + secret + options + ["."],
                   cwd=src, check=True)
    return read(out)


def data_start(archive, name):
    """Where the data of the entry 'name' start in an archive."""
    pos = archive.index(b"PK\x03\x04")
    while bytes(archive[pos + 30:pos + 30 + int.from_bytes(archive[pos + 26:pos + 28], "little")]) != name.encode():
        pos = archive.index(b"PK\x03\x04", pos + 4)
    return pos + 30 + int.from_bytes(archive[pos + 26:pos + 28], "little") + \
        int.from_bytes(archive[pos + 28:pos + 30], "little")


def flip_data_byte(archive, name, offset):
    """The archive with one byte of an entry's data (offset from its start) inverted."""
    data = bytearray(archive)
    data[data_start(archive, name) + offset] ^= 0xFF
    return bytes(data)


def aes_archives(run, c):
    """WinZip AES archives made by 7z: AES-256 deflated with a wrong password asked
    again, AES-128 stored, and one flipped byte of encrypted data refused as
    damage: no second prompt, nothing under its name, the entries after it extracted."""
    if not shutil.which("7z"):
        c.failures.append("7z is not installed")
        return
    base = run.folder("aes_archives")
    rng = __import__("random").Random(12)
    files = [("a.txt", b"alpha\n" * 500), ("docs/noise.bin", rng.randbytes(300000)), ("tiny.txt", b"x")]
    expected = sorted(n for n, _ in files)
    for name, options in (("aes256", ["-mem=AES256"]), ("aes128", ["-mem=AES128", "-mx0"])):
        dest = os.path.join(base, name)
        pkg = run.package(os.path.join(base, name + ".exe"), [], folder=win(dest),
                          archive=make_7z(base, name, options, files))
        lines, code = run.drive(pkg, ["main", "press:1", "password:wrong", "password:secret", "box", "exit"])
        c.equal(name, lines, ["main dialog", "password wrong", "password secret", SUCCESS, "exit 0"])
        c.equal(name + " files", extracted(dest), expected)
        for file, data in files:
            c.equal(f"{name} {file}", read(os.path.join(dest, file)), data)

    # Past the 16-byte salt and the verifier: only the authentication code tells.
    dest = os.path.join(base, "flipped")
    archive = flip_data_byte(make_7z(base, "flipped", ["-mem=AES256", "-mx0"], files), "docs/noise.bin",
                             16 + 2 + 1000)
    pkg = run.package(os.path.join(base, "flipped.exe"), [], folder=win(dest), archive=archive)
    lines, _ = run.drive(pkg, ["main", "press:1", "password:secret", "box", "list:301",
                               "press:2", "exit"])
    c.equal("flipped byte", lines, ["main dialog", "password secret", FAILURE,
                                    "301 -a.txt", "301 -docs/", "301 +docs/noise.bin", "301 -tiny.txt", "exit 0"])
    c.equal("flipped byte: only the good files, no temporary one", extracted(dest), ["a.txt", "tiny.txt"])


def locked(run, c):
    """The package's file held open unshared by another process: a message, no dialog."""
    base = run.folder("locked")
    pkg = run.package(os.path.join(base, "p.exe"), SAMPLE)
    lines, code = run.drive(pkg, ["box", "exit"], lock=True)
    c.equal("output", lines, [f"box: Cannot open file {win(pkg)}", "exit 0"])
    c.equal("exit code", code, 0)


def browse_cancelled(run, c):
    """Cancelling the folder browser leaves the field as it was."""
    base = run.folder("browse")
    pkg = run.package(os.path.join(base, "p.exe"), SAMPLE, folder="C:\\Somewhere\\")
    lines, _ = run.drive(pkg, ["main", "set:101=C:\\Typed", "press:775", "cancel-browse", "get:101",
                               "press:2", "exit"])
    c.equal("output", lines, ["main dialog", "browse cancelled", "101=C:\\Typed", "exit 0"])


def busy_commands(run, c):
    """Commands pressed during a long run start no second run and no dialog; a Cancel
    takes effect only after the run, which still ends with its message."""
    base = run.folder("busy")
    dest = os.path.join(base, "dest")
    files = [(f"f{i:03}.txt", b"x" * 2000) for i in range(120)]
    pkg = run.package(os.path.join(base, "p.exe"), files, folder=win(dest))
    lines, _ = run.drive(pkg, ["main", "press:1", "press:1", "press:3", "press:775", "press:2",
                               "press:1", "box", "exit"])
    c.equal("output", lines, ["main dialog", SUCCESS, "exit 0"])
    c.equal("file count", len(extracted(dest)), 120)


def list_find(run, c):
    """The entry list's find answers like the list box's own LB_FINDSTRINGEXACT on random
    names with case variants, duplicates and 8-bit letters (list_find_check.exe)."""
    out = os.path.join(run.folder("list_find"), "out.txt")
    with open(out, "wb") as f:
        result = subprocess.run(["wine", os.path.join(run.win32, "e2e", "list_find_check.exe")],
                                env=run.env(), stdout=f, stderr=subprocess.DEVNULL, timeout=120)
    lines = read_lines(out)
    c.equal("last line", lines[-1:], ["mismatches 0"])
    c.equal("exit code", result.returncode, 0)


def archive_out_of_list_order(run, c):
    """Entries stored in another order than the list's: each is found wherever it stands;
    names equal but for case match successive items when they follow each other, and
    the search after another hit wraps to the item already done."""
    base = run.folder("out_of_order")
    dest = os.path.join(base, "dest")
    files = [("zeta.txt", b"z"), ("Dir/", b""), ("dir/b.txt", b"b"), ("alpha.txt", b"a"),
             ("DIR/A.txt", b"A"), ("beta.txt", b"1"), ("Beta.TXT", b"2"), ("c.txt", b"c")]
    pkg = run.package(os.path.join(base, "p.exe"), files, folder=win(dest))
    lines, _ = run.drive(pkg, ["main", "press:1", "box", "exit"])
    c.equal("in a row", lines, ["main dialog", SUCCESS, "exit 0"])
    c.equal("files", extracted(dest), ["Dir/A.txt", "Dir/b.txt", "alpha.txt", "beta.txt", "c.txt",
                                       "zeta.txt"])
    c.equal("second of the two", read(os.path.join(dest, "beta.txt")), b"2")
    dest2 = os.path.join(base, "dest2")
    files = [("dup", b"v1"), ("other", b"o"), ("DUP", b"v2")]
    pkg = run.package(os.path.join(base, "q.exe"), files, folder=win(dest2))
    lines, _ = run.drive(pkg, ["main", "press:3", "files", "press:1", "box", "list:301", "press:2", "main",
                               "press:2", "exit"])
    # The list box puts the later of two equal names first.
    c.equal("wrapped", lines, ["main dialog", "files dialog", FAILURE, "301 -DUP", "301 +dup",
                               "301 -other", "main dialog", "exit 0"])
    c.equal("first kept", read(os.path.join(dest2, "dup")), b"v1")


def empty_archive(run, c):
    """No entries: the listing reports it (twice when the second list is filled), the
    dialog opens, and Extract does nothing visible."""
    base = run.folder("empty_archive")
    pkg = run.package(os.path.join(base, "p.exe"), [], flags=0x00)
    lines, code = run.drive(pkg, ["box", "box", "main", "press:1", "nobox:1000", "open", "press:2", "exit"])
    c.equal("output", lines, [NO_HEADER, NO_HEADER, "main dialog", "no box", "main open", "exit 0"])
    c.equal("exit code", code, 0)


def keys(run, c):
    """Enter in the folder field extracts, Escape cancels; in the password prompt
    Enter accepts and Escape does nothing."""
    base = run.folder("keys")
    dest = os.path.join(base, "dest")
    pkg = run.package(os.path.join(base, "p.exe"), SAMPLE, folder=win(dest))
    lines, code = run.drive(pkg, ["main", "key:101:13", "box", "exit"])
    c.equal("Enter", lines, ["main dialog", SUCCESS, "exit 0"])
    c.equal("Enter files", extracted(dest), ["a.txt", "docs/b.txt", "docs/deep/c.bin"])
    lines, code = run.drive(pkg, ["main", "key:101:27", "exit"])
    c.equal("Escape", lines, ["main dialog", "exit 0"])
    if not shutil.which("zip"):
        return
    archive = make_encrypted(base, "pw", [("s.txt", b"secret\n")], [])
    pkg = run.package(os.path.join(base, "enc.exe"), [], folder=win(dest), archive=archive)
    lines, code = run.drive(pkg, ["main", "press:1", "prompt", "key:101:27", "sleep:300", "state:101",
                                  "set:101=pw", "key:101:13", "box", "exit"])
    # The same prompt is still open after Escape: a closed one would read "absent".
    c.equal("prompt keys", lines, ["main dialog", "password prompt", "101 visible enabled unchecked", SUCCESS,
                                   "exit 0"])


def damage_data(archive, name, seed=7):
    """The archive with the compressed bytes of one entry replaced by noise."""
    import random
    data = bytearray(archive)
    pos = 0
    while True:
        pos = data.index(b"PK\x03\x04", pos)
        size = int.from_bytes(data[pos + 18:pos + 22], "little")
        length = int.from_bytes(data[pos + 26:pos + 28], "little")
        extra = int.from_bytes(data[pos + 28:pos + 30], "little")
        if bytes(data[pos + 30:pos + 30 + length]) == name.encode():
            start = pos + 30 + length + extra
            rng = random.Random(seed)
            data[start:start + size] = bytes(rng.randrange(256) for _ in range(size))
            return bytes(data)
        pos += 4


def bad_input(run, c):
    """Hostile names, damaged data and a header whose texts overrun it: messages, no
    crash, nothing written outside the folder, exit code 0."""
    base = run.folder("bad_input")
    dest = os.path.join(base, "dest")
    hostile = make_zip([("../evil.txt", b"evil\n"), ("good.txt", b"good\n")])
    pkg = run.package(os.path.join(base, "hostile.exe"), [], folder=win(dest), archive=hostile)
    lines, code = run.drive(pkg, ["main", "press:1", "box", "box", "open", "press:2", "exit"])
    c.equal("hostile name", lines, ["main dialog", "box: Invalid filename ../evil.txt", FAILURE, "main open",
                                    "exit 0"])
    c.true("nothing outside the folder", not os.path.exists(os.path.join(base, "evil.txt")))
    c.equal("hostile name exit code", code, 0)

    # A trailing dot is dropped: "keep.txt." is the file keep.txt, as the
    # system takes it, replaced like any existing file of its name.
    with open(os.path.join(dest, "keep.txt"), "wb") as f:
        f.write(b"kept\n")
    dotted = make_zip([("keep.txt.", b"other\n")])
    pkg = run.package(os.path.join(base, "dotted.exe"), [], folder=win(dest), archive=dotted)
    lines, code = run.drive(pkg, ["main", "press:1", "box", "exit"])
    c.equal("trailing dot", lines, ["main dialog", SUCCESS, "exit 0"])
    c.equal("the file of that name replaced", read(os.path.join(dest, "keep.txt")), b"other\n")

    damaged = damage_data(make_zip(SAMPLE), "docs/deep/c.bin")
    pkg = run.package(os.path.join(base, "damaged.exe"), [], folder=win(dest), archive=damaged)
    lines, code = run.drive(pkg, ["main", "press:1", "box", "press:2", "exit"])
    c.equal("damaged data", lines, ["main dialog", FAILURE, "exit 0"])
    c.equal("good entries still written", read(os.path.join(dest, "docs", "b.txt")), SAMPLE[2][1])

    cwd = os.path.join(base, "cwd")
    os.makedirs(cwd)
    with open(run.stub, "rb") as f:
        stub = f.read()
    header = build_header(0x0A, b"", b"", b"", lengths=[255, 0, 0])
    pkg = os.path.join(base, "overrun.exe")
    with open(pkg, "wb") as f:
        f.write(stub + header + make_zip(SAMPLE))
    lines, code = run.drive(pkg, ["main", "get:101", "list:301", "press:1", "box", "exit"], cwd=cwd)
    c.equal("overrunning header", lines, ["main dialog", f"101={win(cwd)}"] +
            [n.replace("+", "-") for n in SAMPLE_LIST] + [SUCCESS, "exit 0"])
    c.equal("overrunning header exit code", code, 0)

    # A temporary folder of 258 characters ("##") does not fit the 256-byte
    # destination buffer with its backslash: it is shown whole and refused, never cut
    # into the name of another folder.
    temp = "C:\\" + "t" * 254
    pkg = run.package(os.path.join(base, "long.exe"), SAMPLE, folder="##")
    lines, code = run.drive(pkg, ["main", "get:101", "press:1", "box", "press:2", "exit"],
                            env={"TMP": temp, "TEMP": temp})
    c.equal("long temporary folder", lines, ["main dialog", f"101={temp}" + chr(92),
                                             "box: The destination folder's name is too long.", "exit 0"])
    c.true("nothing made in a cut folder",
           not any(name.startswith("ttt") for name in os.listdir(os.path.join(run.prefix, "drive_c"))))


SCENARIOS = [without_header, flag_table, overwrite_clicks, worked_example, command_launch,
             temp_folder, empty_field, file_list, partial_failure, nothing_damaged_stays,
             second_extract_reprocesses,
             passwords, aes_archives, locked, browse_cancelled, busy_commands, empty_archive, keys, bad_input,
             list_find, archive_out_of_list_order]
SCENARIOS += pack_scenarios.register(sys.modules[__name__])
SCENARIOS += option_scenarios.register(sys.modules[__name__])
SCENARIOS += unicode_scenarios.register(sys.modules[__name__])
SCENARIOS += deploy_scenarios.register(sys.modules[__name__])


def run_scenarios(run, names):
    chosen = [s for s in SCENARIOS if not names or s.__name__ in names]
    failed = skipped = 0
    for scenario in chosen:
        c = Check(scenario.__name__)
        started = time.time()
        try:
            scenario(run, c)
        except subprocess.TimeoutExpired as e:
            c.failures.append(f"timed out: {e}")
        except (pack_scenarios.Skipped, unicode_scenarios.Skipped) as e:
            print(f"SKIPPED {scenario.__name__}: {e}")
            skipped += 1
            continue
        status = "FAIL" if c.failures else "ok"
        print(f"{status:4} {scenario.__name__} ({time.time() - started:.1f} s)")
        for f in c.failures:
            print("     " + f.replace("\n", "\n     "))
        failed += bool(c.failures)
    return 1 if failed else SKIP if skipped and skipped == len(chosen) else 0


def screenshots(run, outdir):
    """The main dialog and the file-selection dialog, captured from the Xvfb screen."""
    os.makedirs(outdir, exist_ok=True)
    base = run.folder("screenshots")
    pkg = run.package(os.path.join(base, "p.exe"), SAMPLE + [("readme.txt", b"read me\n")], flags=0x0A,
                      folder="C:\\Program Files\\Sample",
                      message="This package installs the sample files. Choose a folder and press Extract.")
    display = run.env()["DISPLAY"]
    for name, steps in (("main-dialog", ["main", "sleep:2500", "press:2", "exit"]),
                        ("file-list", ["main", "press:3", "files", "toggle:301:docs/b.txt", "sleep:2500",
                                       "press:2", "main", "press:2", "exit"])):
        driver = subprocess.Popen(["wine", run.driver, win(pkg)] + steps, env=run.env(),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.8)
        shot = os.path.join(outdir, name + ".png")
        xwd = subprocess.run(["xwd", "-root", "-display", display], capture_output=True, check=True)
        subprocess.run(["convert", "xwd:-", "-trim", "+repage", shot], input=xwd.stdout, check=True)
        driver.wait(timeout=60)
        print(f"wrote {shot}")
    # The progress bar mid-run, at 96 and 144 DPI: enough files to catch it.
    files = [(f"data/part{i:04}.txt", f"line {i}\n".encode() * 2000) for i in range(4000)]
    big = run.package(os.path.join(base, "big.exe"), [], flags=0x0A, folder=win(os.path.join(base, "out")),
                      message="This package installs the sample files. Choose a folder and press Extract.",
                      archive=make_zip(files))
    try:
        for dpi in (96, 144):
            deploy_scenarios.set_dpi(run, dpi)
            shutil.rmtree(os.path.join(base, "out"), ignore_errors=True)
            driver = subprocess.Popen(["wine", run.driver, "--wait", "120000", win(big), "main", "press:1", "box",
                                       "exit"], env=run.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(4)
            shot = os.path.join(outdir, f"progress-{dpi}dpi.png")
            xwd = subprocess.run(["xwd", "-root", "-display", display], capture_output=True, check=True)
            subprocess.run(["convert", "xwd:-", "-trim", "+repage", shot], input=xwd.stdout, check=True)
            driver.wait(timeout=180)
            print(f"wrote {shot}")
    finally:
        deploy_scenarios.set_dpi(run, 96)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win32")
    parser.add_argument("--work")
    parser.add_argument("--pack", help="tolvane-pack, for the scenarios of packages it makes")
    parser.add_argument("--pack-windows", help="tolvane-pack.exe, the Windows build, run under Wine")
    parser.add_argument("action", choices=["setup", "run", "cleanup", "all", "screenshots", "list"])
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    if args.action == "list":
        print("\n".join(s.__name__ for s in SCENARIOS))
        return 0
    run = Run(args.win32, args.work)
    run.pack = args.pack
    run.pack_windows = args.pack_windows
    if args.action == "cleanup":
        run.cleanup()
        return 0
    why = run.missing()
    if why:
        print(f"SKIPPED: {why}")
        return SKIP
    if args.action == "setup":
        run.setup()
        return 0
    if args.action == "run":
        if not os.path.exists(run.state):
            print("SKIPPED: the Wine set-up did not run")
            return SKIP
        return run_scenarios(run, args.names)
    run.setup()
    try:
        if args.action == "screenshots":
            screenshots(run, args.names[0] if args.names else os.path.join(HERE, "..", "..", "docs",
                                                                           "screenshots"))
            return 0
        return run_scenarios(run, args.names)
    finally:
        run.cleanup()


if __name__ == "__main__":
    sys.exit(main())
