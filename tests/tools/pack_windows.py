#!/usr/bin/env python3
"""tolvane-pack.exe, the Windows build, under Wine beside the Linux tool.

One tree at a path longer than 260 characters, with Cyrillic and CJK names, a
hidden and system file, a Unix script and a pattern left out, is packed by
both tools: the packages must be the same bytes. Then the Windows tool lists,
describes, tests and extracts its package, makes and opens an encrypted one,
and a Ctrl+C during create or extract must leave nothing unfinished behind.

WINDOWS_PACK names the .exe, PACK the Linux tool; without the .exe or Wine
the test reports itself skipped (77).
"""
import json
import os
import pty
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

SKIP = 77
failures = []


def check(ok, what, detail=""):
    if not ok:
        failures.append(what)
        print(f"FAIL: {what}" + (f"\n{detail}" if detail else ""), file=sys.stderr)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def read(path):
    with open(path, "rb") as f:
        return f.read()


def snapshot(root):
    """Every file below 'root' by its relative name, and every empty folder."""
    found = {}
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if not dirs and not files and rel != ".":
            found[rel + "/"] = None
        for name in files:
            found[os.path.normpath(os.path.join(rel, name))] = read(os.path.join(folder, name))
    return found


class Tools:
    def __init__(self, exe, linux, work):
        self.exe, self.linux = exe, linux
        self.env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix64"), WINEARCH="win64",
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8",
                        SOURCE_DATE_EPOCH="1700000000")

    def run(self, windows, *args, timeout=300):
        command = ["wine", self.exe] if windows else [self.linux]
        result = subprocess.run(command + list(args), env=self.env, capture_output=True, timeout=timeout)
        return result.returncode, result.stdout.decode(errors="replace").replace("\r\n", "\n"), \
            result.stderr.decode(errors="replace").replace("\r\n", "\n")

    def windows(self, *args, **kw):
        return self.run(True, *args, **kw)

    def both(self, *args):
        return self.run(True, *args), self.run(False, *args)


def make_tree(root, tools):
    """The tree and what a package of it holds (the '*.o' files left out)."""
    rng = random.Random(23)
    words = " ".join(rng.choice(["alpha", "beta", "gamma", "delta"]) for _ in range(200000))
    files = {
        "readme.txt": "Read me first.\n",
        "Документы/отчёт за год.txt": "Итоги года\n" * 50,
        "資料/說明.txt": "說明文件\n",
        "データ/表.csv": words,
        ".config/settings.ini": "[main]\nhidden=yes\n",
        "system.dat": rng.randbytes(5000),
        "bin/run.sh": "#!/bin/sh\necho run\n",
        "noise.bin": rng.randbytes(300000),
    }
    for name, data in files.items():
        write(os.path.join(root, name), data)
    write(os.path.join(root, "build", "main.o"), b"left out")
    os.makedirs(os.path.join(root, "empty folder"))
    os.chmod(os.path.join(root, "bin", "run.sh"), 0o755)
    # Hidden and system on the Windows side, packed like any other file: Wine
    # shows names with a leading dot as hidden, attrib adds the rest.
    subprocess.run(["wine", "cmd", "/c", "attrib", "+h", "+s", os.path.join(root, "system.dat")],
                   env=tools.env, capture_output=True, timeout=300)
    return snapshot(root)


def typed_password(tools, package):
    """The password typed at test's prompt on a console (a terminal Wine
    serves): it opens the package and is not echoed. Returns what the console
    showed, without white space."""
    pid, terminal = pty.fork()
    if pid == 0:
        os.execvpe("wine", ["wine", tools.exe, "test", package], tools.env)
    shown, typed, deadline = b"", False, time.time() + 120
    while time.time() < deadline:
        if select.select([terminal], [], [], 1)[0]:
            try:
                chunk = os.read(terminal, 4096)
            except OSError:   # the program ended
                break
            if not chunk:
                break
            shown += chunk
        # Typed once the prompt shows and Wine has the terminal reading keys (no echo of its own).
        if not typed and b"Password for" in shown and not termios.tcgetattr(terminal)[3] & termios.ECHO:
            os.write(terminal, b"pass word\r")
            typed = True
    if not typed:
        os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    os.close(terminal)
    # Wine draws the console with escape sequences, moves the cursor for
    # blanks and wraps lines at its width.
    return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\s", "", shown.decode(errors="replace"))


def writing_into(pid, folder):
    """Whether the process has a file open in 'folder' (a nameless one too)."""
    try:
        return any(os.readlink(f"/proc/{pid}/fd/{fd}").startswith(folder + "/") for fd in os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return False


def interrupted(tools, work, windows, command):
    """Ctrl+C while a tool writes a package ("create") or extracts one
    ("extract"): a failure, and nothing left but whole files."""
    big, out = os.path.join(work, "big"), os.path.join(work, f"interrupted {command} {windows}")
    os.makedirs(out)
    if not os.path.isdir(big):
        rng = random.Random(5)
        for i in range(3):
            write(os.path.join(big, f"part{i}.bin"), rng.randbytes(40 << 20))
        tools.run(False, "create", big + ".exe", big, "--level", "0", "-q")
    args = [b"create", os.path.join(out, "big.exe").encode(), big.encode(), b"--level", b"12"] \
        if command == "create" else [b"extract", big.encode() + b".exe", b"-d", out.encode()]
    started = subprocess.Popen((["wine", tools.exe] if windows else [tools.linux]) + args, env=tools.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Wine runs the program as a process of its own: the one whose command line names the .exe.
    deadline = time.time() + 120
    pid = None if windows else started.pid
    writing = False
    while time.time() < deadline and started.poll() is None and not writing:
        time.sleep(0.01)
        writing = bool(pid) and writing_into(pid, out)
        for entry in os.listdir("/proc") if windows else []:
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    line = f.read()
            except OSError:
                continue
            if b"tolvane-pack.exe\0" + b"\0".join(args) in line and b"start.exe" not in line:
                pid = int(entry)
    system = "Windows" if windows else "Linux"
    check(writing, f"Ctrl+C ({system}): {command} was writing", str(os.listdir(out)))
    if pid and started.poll() is None:
        os.kill(pid, signal.SIGINT)
    try:
        code = started.wait(timeout=60)
    except subprocess.TimeoutExpired:
        started.kill()
        code = "still running"
    check(code != 0, f"Ctrl+C ({system}) ends {command} with a failure", f"exit {code}")
    left = [n for n in os.listdir(out) if command == "create" or n.startswith("~tv")]
    check(left == [], f"Ctrl+C ({system}) during {command} leaves nothing unfinished", str(left))


def main():
    exe, linux = os.environ.get("WINDOWS_PACK", ""), os.environ["PACK"]
    if not os.path.exists(exe) or not shutil.which("wine"):
        print(f"SKIPPED: no Windows tool ({exe or 'WINDOWS_PACK unset'}) or no Wine")
        return SKIP
    work = tempfile.mkdtemp(prefix="pack-windows.")
    tools = Tools(exe, linux, work)
    try:
        # Deep enough that the tree's own path passes 260 characters.
        deep = os.path.join(work, *[c * 90 for c in "abc"], "tree")
        expected = make_tree(deep, tools)
        del expected["build/main.o"]
        expected["build/"] = None   # a folder whose contents were all left out is still made
        check(len(deep) > 260, "the tree's path is longer than 260 characters")
        out = os.path.join(work, "out")
        os.makedirs(out)

        # The same bytes from both systems, whatever the method and thread count.
        for label, options in [("deflate", ["--message", "Grüße: café"]),
                               ("lzma, 2 threads", ["--method", "lzma", "--threads", "2"]),
                               ("code page 1258", ["--codepage", "1258", "--message", "Giải nén tệp?"])]:
            made = {}
            for windows in (True, False):
                made[windows] = os.path.join(out, f"{'windows' if windows else 'linux'} {label}.exe")
                code, _, err = tools.run(windows, "create", made[windows], deep, "--exclude", "*.o", "-q", *options)
                check(code == 0, f"create ({label}, {'Windows' if windows else 'Linux'})", err)
            same = all(map(os.path.exists, made.values())) and len(set(map(read, made.values()))) == 1
            check(same, f"the Windows and Linux packages are the same bytes ({label})")
        package = os.path.join(out, "windows deflate.exe")
        # The folder as a verbatim (\\?\) path and a pattern with a backslash, as cmd users write them.
        verbatim = os.path.join(out, "verbatim.exe")
        code, _, err = tools.windows("create", verbatim, "\\\\?\\Z:" + deep.replace("/", "\\"), "--exclude",
                                     "build\\*.o", "-q", "--message", "Grüße: café")
        check(code == 0 and "left nothing out" not in err and read(verbatim) == read(package),
              "a \\\\?\\ folder and --exclude build\\*.o", err)
        code, out_text, _ = tools.windows("/?")
        check(code == 0 and "usage: tolvane-pack create" in out_text, "tolvane-pack /? shows the help", out_text)

        (wcode, wout, werr), (lcode, lout, _) = tools.both("list", "--json", package)
        check(wcode == 0 and lcode == 0, "list --json", werr)
        if wcode == 0 and lcode == 0:
            check(json.loads(wout)["entries"] == json.loads(lout)["entries"], "list --json: the same entries",
                  wout)
            listed = sorted(e["name"] for e in json.loads(wout)["entries"])
            check(listed == sorted(expected), "list --json names the tree", str(listed))
        (wcode, wout, werr), (_, lout, _) = tools.both("info", package)
        check(wcode == 0 and wout == lout, "info reads as on Linux", wout + werr)
        code, _, err = tools.windows("test", package)
        check(code == 0 and "all extracted and checked" in err, "test", err)
        dest = os.path.join(out, "Распаковано")   # not in the package's code page, 1252
        code, _, err = tools.windows("extract", package, "-d", dest)
        check(code == 0, "extract", err)
        check(snapshot(dest) == expected, "extract writes the tree", str(sorted(snapshot(dest))))

        locked = os.path.join(out, "locked.exe")
        code, _, err = tools.windows("create", locked, deep, "--exclude", "*.o", "-q", "--password", "pass word")
        check(code == 0, "create --password", err)
        shown = typed_password(tools, locked)
        check("allextractedandchecked" in shown and "password" not in shown,
              "a password typed at the prompt opens the package, unseen", shown)
        opened = [  # who tests, with which password, exit code
            (False, "pass word", 0), (True, "pass word", 0), (True, "wrong", 1)]
        for windows, password, want in opened:
            code, _, err = tools.run(windows, "test", locked, "--password", password)
            check(code == want, f"test --password {password} ({'Windows' if windows else 'Linux'})", err)

        for windows in (True, False):
            for command in ("create", "extract"):
                interrupted(tools, work, windows, command)
    finally:
        subprocess.run(["wineserver", "-k"], env=tools.env, capture_output=True)
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
