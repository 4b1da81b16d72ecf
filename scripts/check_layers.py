#!/usr/bin/env python3
"""Checks that every #include "folder/file.h" between the project's folders
points downward. The core folders are libraries that depend only on the ones
below them, so the stub links just what it needs and each layer can be tested
alone; a new upward include fails CI here, naming the file and line.

    check_layers.py [--graph] [--root DIR]

--graph prints how many include lines go from each folder to each other one,
which also works on an older checkout given with --root.
"""
import argparse
import os
import re
import sys
from collections import defaultdict

# Bottom up: the seam, the core's folders, the stub's dialogs, then the tools, the
# tests (with the seam's test double), the fuzzers and the benchmarks.
FOLDERS = ["platform", "base", "codec", "archive", "extract", "launch", "package", "ui",
           "tools", "tests", "fuzz", "bench"]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/([^"]+)"')


def allowed(folder):
    """The folders a file in `folder` may include: its own and those below it."""
    return FOLDERS[:FOLDERS.index(folder) + 1]


def includes(root):
    """Yields (path, line number, from folder, to folder, header) for each
    quoted include of a project folder's header."""
    for folder in FOLDERS:
        for directory, subdirs, files in os.walk(os.path.join(root, folder)):
            subdirs[:] = sorted(d for d in subdirs if d not in ("build", ".git"))
            for name in sorted(files):
                if not name.endswith((".cpp", ".h", ".c")):
                    continue
                path = os.path.join(directory, name)
                shown = os.path.relpath(path, root).replace(os.sep, "/")
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if match and match.group(1) in FOLDERS:
                            yield shown, number, folder, match.group(1), "/".join(match.groups())


def check(root):
    upward = 0
    for path, number, source, target, header in includes(root):
        if target not in allowed(source):
            upward += 1
            print(f"{path}:{number}: includes {header} (an upward include: "
                  f"{source} may include only {', '.join(allowed(source))})")
    if upward:
        return 1
    print(f"no upward includes between {len(FOLDERS)} folders")
    return 0


def graph(root):
    # Distinct (file, header) pairs, so a header included twice counts once.
    arrows = defaultdict(set)
    for path, _, source, target, header in includes(root):
        if source != target:
            arrows[source, target].add((path, header))
    order = sorted(arrows, key=lambda pair: (FOLDERS.index(pair[0]), FOLDERS.index(pair[1])))
    for source, target in order:
        note = "  upward" if target not in allowed(source) else ""
        print(f"{source:>8} -> {target:<8} {len(arrows[source, target]):4}{note}")
    upward = sum(target not in allowed(source) for source, target in arrows)
    print(f"{len(arrows)} arrows between folders, {upward} upward")
    return 0


def main():
    parser = argparse.ArgumentParser(description="Checks that includes between folders point downward.")
    parser.add_argument("--graph", action="store_true", help="print the include graph between folders")
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                        help="the checkout to scan (default: the one this script is in)")
    args = parser.parse_args()
    return graph(args.root) if args.graph else check(args.root)


if __name__ == "__main__":
    sys.exit(main())
