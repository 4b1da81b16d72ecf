#!/usr/bin/env python3
"""Gathers the benchmark corpus: about 100 MB copied from a few trees of /usr,
taken round robin so text, headers and binaries mix. Names a package cannot
carry (Windows rules, code page 1252, names equal but for case) are left out.

    make_corpus.py DEST
"""
import os
import re
import shutil
import sys

TREES = ["/usr/include", "/usr/share", "/usr/lib/x86_64-linux-gnu", "/usr/bin"]
PER_TREE = 25 << 20
LARGEST_FILE = 8 << 20
BAD = re.compile(r'(^|/)(con|prn|aux|nul|com\d|lpt\d)(\.|/|$)|[:*?"<>|\\]|[. ](/|$)', re.I)


def representable(name):
    try:
        name.encode("cp1252")
        return True
    except UnicodeEncodeError:
        return False


def main(dest):
    total, seen = 0, set()
    for tree in TREES:
        taken = 0
        for root, dirs, files in os.walk(tree):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(root, name)
                rel = os.path.relpath(path, "/usr")
                if os.path.islink(path) or not os.path.isfile(path) or BAD.search(rel) \
                        or not representable(rel):
                    continue
                if rel.lower() in seen:  # Windows names ignore case
                    continue
                seen.add(rel.lower())
                size = os.path.getsize(path)
                if size > LARGEST_FILE or taken + size > PER_TREE:
                    continue
                os.makedirs(os.path.join(dest, os.path.dirname(rel)), exist_ok=True)
                shutil.copyfile(path, os.path.join(dest, rel))
                taken += size
            if taken >= PER_TREE - (64 << 10):
                break
        total += taken
    print(f"corpus: {total / 1e6:.1f} MB in {dest}")


if __name__ == "__main__":
    main(sys.argv[1])
