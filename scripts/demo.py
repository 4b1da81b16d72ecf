#!/usr/bin/env python3
"""Runs a package under Wine (inside Xvfb) the way a user would: the test
driver waits for the main dialog, puts the destination folder into the folder
field, presses Extract and dismisses the message boxes. Prints what the driver
saw and the extracted tree.

    demo.py WIN32_BUILD_DIR PACKAGE DESTINATION WORK_DIR
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from run_e2e import Run, win  # noqa: E402


def main():
    win32, package, destination, work = sys.argv[1:5]
    run = Run(win32, work)
    problem = run.missing()
    if problem:
        sys.exit(problem)
    print("starting Xvfb and a Wine prefix (the first start takes a while) ...")
    run.setup()
    try:
        lines, code = run.drive(os.path.abspath(package),
                                ["main", "get:901", f"set:101={win(destination)}", "press:1",
                                 "box", "exit"])
    finally:
        run.cleanup(quiet=True)
    print("\nwhat the user saw:")
    for line in lines:
        print("  " + line)
    print(f"\nextracted into {destination}:")
    for root, dirs, files in sorted(os.walk(destination)):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            print(f"  {os.path.relpath(path, destination):40} {os.path.getsize(path):8} bytes")
    sys.exit(0 if code == 0 and any("extracted successful" in l for l in lines) else 1)


if __name__ == "__main__":
    main()
