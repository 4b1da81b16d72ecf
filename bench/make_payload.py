#!/usr/bin/env python3
"""Gathers the payload of the LZMA measurements: what a tool distribution
ships, about 44 MB from this machine (Debian 12): the programs cmake, ctest,
gdb, git and python3.11, Python 3.11's compiled extension modules and
CMake's documentation. With --stdlib, Python 3.11's standard library
instead (/usr/lib/python3.11 without its __pycache__ folders, about 40 MB).

    make_payload.py [--stdlib] DEST
"""
import os
import shutil
import sys

PAYLOAD = ["/usr/bin/cmake", "/usr/bin/ctest", "/usr/bin/gdb", "/usr/bin/git", "/usr/bin/python3.11",
           "/usr/lib/python3.11/lib-dynload", "/usr/share/doc/cmake-data", "/usr/share/doc/cmake"]
STDLIB = "/usr/lib/python3.11"


def main(args):
    stdlib = "--stdlib" in args
    dest = [a for a in args if a != "--stdlib"][0]
    os.makedirs(dest, exist_ok=True)
    if stdlib:
        shutil.copytree(STDLIB, os.path.join(dest, "python3.11"), symlinks=False, dirs_exist_ok=True,
                        ignore=shutil.ignore_patterns("__pycache__", "dist-packages"),
                        ignore_dangling_symlinks=True)
        return
    for source in PAYLOAD:
        target = os.path.join(dest, source.strip("/").replace("/", "_"))
        if os.path.isdir(source):
            shutil.copytree(source, target, symlinks=False, ignore_dangling_symlinks=True, dirs_exist_ok=True)
        elif os.path.exists(source):
            shutil.copy(source, target)
        else:
            sys.exit(f"{source} is missing: install cmake, gdb, git and python3.11")


if __name__ == "__main__":
    main(sys.argv[1:])
