#!/usr/bin/env python3
"""The stub as a user meets it: packages of many files made by tolvane-pack,
extracted by the real stub under Wine (the test driver presses Extract; the
clock stops when the success box appears), against the floor program, which
creates the same files with the same sizes and does nothing else.

    bench_stub.py [--win32 DIR] [--pack TOOL] [--work DIR] [--repeat N] [--method M] [PACKAGE...]

PACKAGE is any of flat (3,000 small files in one folder), nested (3,000 small
files in 777 folders), corpus (about 11,000 files gathered from this machine
by make_corpus.py; CORPUS names an existing tree instead) and payload (a
tool distribution gathered by make_payload.py, about 44 MB).
--method lzma packs them with LZMA entries (level 12) instead of deflate
(level 6), --method solid in solid blocks (level 12). Prints the median of N runs of each, the stub's output rate, and
the ratio to the floor. Needs the win32 build (stub, driver, floor) and the
host build (tolvane-pack), Wine and Xvfb.
"""
import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from run_e2e import Run, win  # noqa: E402  (Xvfb and the Wine prefix, as the tests use them)
from mkpackage import STUB_SIZE  # noqa: E402
WORDS = ("alpha beta gamma delta value index table window buffer folder entry name size "
         "archive header return static const struct void char int if else for while").split()


def text_file(rng, size):
    out, n = [], 0
    while n < size:
        word = rng.choice(WORDS)
        out.append(word)
        n += len(word) + 1
    return (" ".join(out)[:size]).encode()


def make_flat(dest, rng):
    for i in range(3000):
        name = f"{rng.choice(['Read', 'data', 'Item', 'log'])}_{i:04}.{rng.choice(['txt', 'TXT', 'cfg'])}"
        with open(os.path.join(dest, name), "wb") as f:
            f.write(text_file(rng, rng.randint(100, 6000)))


def make_nested(dest, rng):
    leaves = []
    for a in range(7):
        for b in range(10):
            for c in range(10):
                leaves.append(os.path.join(f"Part{a}", f"group{b}", f"Set_{c}"))
    for leaf in leaves:
        os.makedirs(os.path.join(dest, leaf))
    for i in range(3000):
        name = f"{rng.choice(['file', 'Page', 'note'])}{i:04}.txt"
        with open(os.path.join(dest, rng.choice(leaves), name), "wb") as f:
            f.write(text_file(rng, rng.randint(100, 6000)))


def make_corpus(dest, _rng):
    subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), dest], check=True)


def make_payload(dest, _rng):
    subprocess.run([sys.executable, os.path.join(HERE, "make_payload.py"), dest], check=True)


MAKERS = {"flat": make_flat, "nested": make_nested, "corpus": make_corpus, "payload": make_payload}


def tree(work, kind):
    if kind == "corpus" and os.environ.get("CORPUS"):
        return os.environ["CORPUS"]
    path = os.path.join(work, "trees", kind)
    if not os.path.isdir(path):
        os.makedirs(path + ".part", exist_ok=True)
        MAKERS[kind](path + ".part", random.Random(kind))
        os.rename(path + ".part", path)
    return path


def package(run, pack, work, kind, dest, method):
    """The package of a tree, packed once per tolvane-pack build; the current stub is
    put in front of it for every run (the stub has a fixed size)."""
    info = os.stat(pack)
    key = f"{info.st_size}-{int(info.st_mtime)}-{method}"
    body = os.path.join(work, f"{kind}-{key}.body")
    if not os.path.exists(body):
        made = os.path.join(work, f"{kind}.exe")
        subprocess.run([pack, "create", made, tree(work, kind), "--stub", run.stub, "--folder", win(dest),
                        "--level", "6" if method == "deflate" else "12", "-q"]
                       + (["--solid"] if method == "solid" else ["--method", method]), check=True)
        with open(made, "rb") as f:
            data = f.read()
        with open(body, "wb") as f:
            f.write(data[STUB_SIZE:])
        os.remove(made)
    path = os.path.join(work, f"{kind}.exe")
    with open(run.stub, "rb") as f:
        stub = f.read()
    with open(body, "rb") as f:
        rest = f.read()
    with open(path, "wb") as f:
        f.write(stub + rest)
    return path


def manifest(pkg, path):
    """The floor's list of entries: folders and files with their sizes, in archive order."""
    files = size = 0
    with zipfile.ZipFile(pkg) as z, open(path, "wb") as out:
        for info in z.infolist():
            raw = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            if raw.endswith(b"/"):
                out.write(b"D " + raw + b"\n")
            else:
                out.write(b"F %d " % info.file_size + raw + b"\n")
                files += 1
                size += info.file_size
    return files, size


def count_files(folder):
    return sum(len(fs) for _, _, fs in os.walk(folder))


def run_stub(run, pkg, dest, files):
    shutil.rmtree(dest, ignore_errors=True)
    lines, _ = run.drive(pkg, ["main", "clock", "press:1", "waitbox", "clock", "box", "exit"], timeout=900,
                         wait=600000)
    if "box: All files have been extracted successful." not in lines or count_files(dest) != files:
        raise RuntimeError(f"the stub did not extract {pkg}: {lines}")
    return int(re.search(r"clock (\d+)", lines[2]).group(1)) / 1000


def run_floor(run, floor, manifest_path, dest, files):
    shutil.rmtree(dest, ignore_errors=True)
    out = subprocess.run(["wine", floor, win(manifest_path), win(dest)], env=run.env(), capture_output=True,
                         timeout=900).stdout.decode("latin-1")
    if count_files(dest) != files:
        raise RuntimeError(f"the floor program did not create every file: {out}")
    return int(re.search(r"floor (\d+)", out).group(1)) / 1000


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win32", default=os.path.join(ROOT, "build", "win32"))
    parser.add_argument("--pack", default=os.path.join(ROOT, "build", "host", "tools", "tolvane-pack"))
    parser.add_argument("--work", default="/tmp/tolvane-bench-stub")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--method", choices=["deflate", "lzma", "solid"], default="deflate")
    parser.add_argument("packages", nargs="*", default=["flat", "nested", "corpus"])
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    run = Run(args.win32, os.path.join(args.work, "wine"))
    floor = os.path.join(run.win32, "bench", "floor.exe")
    why = run.missing() or (None if os.path.exists(floor) else f"{floor} is missing")
    if why:
        sys.exit(why)
    run.setup()
    try:
        print(f"{'package':8} {'files':>6} {'MB':>6} {'stub s':>7} {'MB/s':>6} {'floor s':>8} {'ratio':>6}")
        for kind in args.packages:
            dest = os.path.join(args.work, "dest")
            pkg = package(run, args.pack, args.work, kind, dest, args.method)
            files, size = manifest(pkg, os.path.join(args.work, f"{kind}.manifest"))
            stub, bottom = [], []
            for _ in range(args.repeat):
                stub.append(run_stub(run, pkg, dest, files))
                bottom.append(run_floor(run, floor, os.path.join(args.work, f"{kind}.manifest"), dest, files))
            s, f = statistics.median(stub), statistics.median(bottom)
            print(f"{kind:8} {files:6} {size / 1e6:6.1f} {s:7.2f} {size / 1e6 / s:6.1f} {f:8.2f} {s / f:6.1f}",
                  flush=True)
            shutil.rmtree(dest, ignore_errors=True)
    finally:
        run.cleanup(quiet=True)


if __name__ == "__main__":
    main()
