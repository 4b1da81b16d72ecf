#!/usr/bin/env python3
"""Writes the manifest without the white space between its elements, which
the stub would otherwise carry as resource bytes.

    compact_manifest.py IN OUT
"""
import re
import sys

with open(sys.argv[1], encoding="utf-8") as f:
    text = f.read()
with open(sys.argv[2], "w", encoding="utf-8", newline="") as f:
    f.write(re.sub(r">\s+<", "><", text.strip()))
