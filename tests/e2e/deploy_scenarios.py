"""End-to-end scenarios of deployments: a package that waits for its command
and passes its exit code on, the run's log (/L=), the progress bar, and the
main dialog at 96 and 144 DPI.

run_e2e.py registers them and hands over its helpers.
"""
import os
import subprocess
import time

from mkpackage import DEFAULT_FLAGS, FLAG_OVERWRITE_MASK, FLAG_SWITCHES, FLAG_WAIT_FOR_COMMAND

SWITCHES = DEFAULT_FLAGS | FLAG_SWITCHES
WAITS = SWITCHES | FLAG_WAIT_FOR_COMMAND

e2e = None  # the run_e2e module


def register(module):
    global e2e
    e2e = module
    return [waited_command, run_log, progress_at_two_dpis]


def waited_command(run, c):
    """/S with a package that waits: the command's exit code once it has ended, 3010
    passed on, 4 for a command that cannot start; it starts in the destination.
    Without the flag the run ends at once with 0, as before."""
    base = run.folder("waited_command")
    files = e2e.SAMPLE + [("e.exe", e2e.read(run.echo))]
    cases = [  # name, flags, command, exit code, seconds the run must at least take
        ("seven", WAITS, "##e.exe|cwd sleep=5000 exit=7", 7, 5),
        ("restart", WAITS, "##e.exe|cwd exit=3010", 3010, 0),
        ("missing", WAITS, "##missing.exe|", 4, 0),
        ("unflagged", SWITCHES, "##e.exe|sleep=5000 exit=7", 0, 0),
    ]
    for name, flags, command, code, least in cases:
        dest = os.path.join(base, name)
        log = os.path.join(base, name + ".log")
        pkg = run.package(os.path.join(base, name + ".exe"), files, flags=flags, folder=e2e.win(dest),
                          command=command)
        # The driver reads the whole exit code; Wine's own status keeps its low byte.
        started = time.time()
        lines, _ = run.drive(pkg, ["exit"], arguments=f'/S "/L={e2e.win(log)}"')
        took = time.time() - started
        c.equal(f"{name}: exit code", lines, [f"exit {code}"])
        if least:
            c.true(f"{name}: the run ended after its command ({took:.1f} s)", took >= least)
        if name == "unflagged":
            c.true(f"{name}: the run did not wait ({took:.1f} s)", took < 5)
        lines = e2e.read_log(log)
        program = e2e.win(dest) + "\\" + command.split("|")[0][2:]
        c.true(f"{name}: the command is logged: {lines}", any(l.startswith("command\t") for l in lines))
        c.equal(f"{name}: the log's last line", lines[-1:], [f"exit code\t{code}"])
        if name == "missing":
            c.true(f"{name}: the log names it: {lines}", f"Cannot run {program}" in lines)
        elif flags & FLAG_WAIT_FOR_COMMAND:
            c.equal(f"{name}: the command's folder", e2e.wait_for(os.path.join(dest, "cwd.txt")),
                    e2e.win(dest) + "\n")


def run_log(run, c):
    """/L= logs each entry (extracted, kept, skipped, failed and why), the run's
    messages and its exit code, line by line: a run killed while its command
    runs leaves the lines so far."""
    base = run.folder("run_log")
    damaged = e2e.corrupt_crc(e2e.make_zip(e2e.SAMPLE), "docs/b.txt")
    keep = DEFAULT_FLAGS & ~FLAG_OVERWRITE_MASK | FLAG_SWITCHES
    ok_lines = ["extracted\ta.txt", "extracted\tdocs/", "extracted\tdocs/b.txt", "extracted\tdocs/deep/c.bin"]
    done, failed = e2e.SUCCESS[len("box: "):], e2e.FAILURE[len("box: "):]
    cases = [  # name, flags, archive, switches, expected lines, exit code
        ("clean", SWITCHES, e2e.make_zip(e2e.SAMPLE), [], ok_lines + [done, "exit code\t0"], 0),
        ("damaged", SWITCHES, damaged, [],
         ["extracted\ta.txt", "extracted\tdocs/", "failed\tdocs/b.txt\tCRC mismatch", "extracted\tdocs/deep/c.bin", failed,
          "exit code\t1"], 1),
        ("kept", keep, e2e.make_zip(e2e.SAMPLE), [], ["kept\ta.txt"] + ok_lines[1:] + [done, "exit code\t0"], 0),
    ]
    if e2e.shutil.which("zip"):
        archive = e2e.make_encrypted(base, "secret", [("e1.txt", b"one\n" * 100)], ["wrong"])
        cases.append(("wrong password", SWITCHES, archive, ["/P=wrong"],
                      ["failed\te1.txt\twrong password", failed, "exit code\t1"], 1))
    for name, flags, archive, switches, expected, code in cases:
        dest = os.path.join(base, name.replace(" ", "_"))
        os.makedirs(dest)
        with open(os.path.join(dest, "a.txt"), "wb") as f:
            f.write(b"already there\n")
        log = os.path.join(base, name + " log.txt")
        pkg = run.package(os.path.join(base, name.replace(" ", "_") + ".exe"), [], flags=flags, archive=archive)
        c.equal(f"{name}: exit code", run.start(pkg, ["/S", "/D=" + e2e.win(dest), "/L=" + e2e.win(log)] + switches),
                code)
        c.equal(f"{name}: log", e2e.read_log(log), expected)

    # Interactive, two entries deselected in the file list.
    dest = os.path.join(base, "listed")
    log = os.path.join(base, "listed.log")
    pkg = run.package(os.path.join(base, "listed.exe"), e2e.SAMPLE, flags=SWITCHES)
    lines, code = run.drive(pkg, ["main", f"set:101={e2e.win(dest)}", "press:3", "files", "toggle:301:a.txt",
                                  "toggle:301:docs/b.txt", "press:1", "box", "exit"],
                            arguments="/L=" + e2e.win(log))
    c.equal("listed: exit code", code, 0)
    c.equal("listed: log", e2e.read_log(log), ["skipped\ta.txt", "extracted\tdocs/", "skipped\tdocs/b.txt",
                                            "extracted\tdocs/deep/c.bin", done, "exit code\t0"])

    # Killed while its command runs: the lines so far are there.
    dest = os.path.join(base, "killed")
    log = os.path.join(base, "killed.log")
    pkg = run.package(os.path.join(base, "killed.exe"), e2e.SAMPLE + [("e.exe", e2e.read(run.echo))],
                      flags=WAITS, folder=e2e.win(dest), command="##e.exe|cwd sleep=60000")
    package = subprocess.Popen(["wine", pkg, "/S", "/L=" + e2e.win(log)], env=run.env(),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    e2e.wait_for(os.path.join(dest, "cwd.txt"))
    for image in ("killed.exe", "e.exe"):
        subprocess.run(["wine", "taskkill", "/F", "/IM", image], env=run.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=False)
    package.wait(timeout=30)
    lines = e2e.read_log(log)
    c.equal("killed: the lines so far", lines[:-1], ok_lines + ["extracted\te.exe", done])
    c.true(f"killed: the command is the last line: {lines[-1:]}", lines[-1].startswith("command\t"))


def set_dpi(run, dpi):
    subprocess.run(["wine", "reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                    "/d", str(dpi), "/f"], env=run.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60, check=True)


def progress_at_two_dpis(run, c):
    """The progress bar ends at the selected entries' total (a second-thread entry
    among them), and at 96 and 144 DPI the main dialog grows with the screen's
    resolution with every control inside it."""
    base = run.folder("progress")
    files = e2e.SAMPLE + [("big.bin", os.urandom(1 << 16) * 24), ("more.txt", b"more\n" * 5000)]
    archive = e2e.make_zip(files, method=e2e.zipfile.ZIP_LZMA)
    total = sum(len(data) for _, data in files)
    sizes = {}
    try:
        for dpi in (96, 144):
            set_dpi(run, dpi)
            dest = os.path.join(base, str(dpi))
            pkg = run.package(os.path.join(base, f"p{dpi}.exe"), [], flags=DEFAULT_FLAGS, folder=e2e.win(dest),
                              archive=archive)
            lines, code = run.drive(pkg, ["main", "layout", "press:1", "waitbox", "bar:56", "box", "exit"])
            layout = [l for l in lines if l.startswith(("layout", "clipped"))]
            c.equal(f"{dpi} DPI: nothing clipped", layout[1:], [])
            sizes[dpi] = [int(v) for v in layout[0].split()[1::2]] if layout else [0, 0]
            c.equal(f"{dpi} DPI: the bar at the total", [l for l in lines if " bar " in l],
                    [f"56 bar {(total + 255) >> 8} of {(total + 255) >> 8}"])
            c.equal(f"{dpi} DPI: exit code", code, 0)
    finally:
        set_dpi(run, 96)
    ratio = sizes[144][0] / sizes[96][0] if sizes.get(96, [0])[0] else 0
    c.true(f"the dialog grows with the resolution: {sizes}", 1.3 < ratio < 1.7)
