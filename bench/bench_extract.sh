#!/usr/bin/env bash
# Whole-archive extraction benchmark: builds bench_extract, gathers a corpus of
# about 100 MB (or takes CORPUS), zips it with Info-ZIP three ways (deflate -6,
# stored -0, deflate -6 with a password) and runs the engine, the zlib
# reference, unzip, 7z and bsdtar on each zip into tmpfs.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/host}
work=${WORK:-/dev/shm/tolvane-bench-extract}
corpus=${CORPUS:-$work/corpus}
password=secret

cmake --preset host -B "$build" >/dev/null
cmake --build "$build" --target bench_extract -j 2 >/dev/null

mkdir -p "$work"
if [ ! -d "$corpus" ]; then
  # Round robin over a few trees of /usr so text, headers and binaries mix;
  # names Windows cannot hold are left out, as no package could carry them.
  python3 - "$corpus" <<'PY'
import os, re, shutil, sys
dest = sys.argv[1]
trees = ["/usr/include", "/usr/share", "/usr/lib/x86_64-linux-gnu", "/usr/bin"]
limit, per_tree = 100 << 20, 25 << 20
bad = re.compile(r'(^|/)(con|prn|aux|nul|com\d|lpt\d)(\.|/|$)|[:*?"<>|\\]', re.I)
total = 0
seen = set()
for tree in trees:
    taken = 0
    for root, dirs, files in os.walk(tree):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            rel = os.path.relpath(path, "/usr")
            if os.path.islink(path) or not os.path.isfile(path) or bad.search(rel):
                continue
            if rel.lower() in seen:  # one file on Windows
                continue
            seen.add(rel.lower())
            size = os.path.getsize(path)
            if size > (8 << 20) or taken + size > per_tree:
                continue
            os.makedirs(os.path.join(dest, os.path.dirname(rel)), exist_ok=True)
            shutil.copyfile(path, os.path.join(dest, rel))
            taken += size
        if taken >= per_tree - (64 << 10):
            break
    total += taken
print(f"corpus: {total / 1e6:.1f} MB in {dest}")
PY
fi

zips=()
for kind in deflate6:-6 stored0:-0 deflate6-password:"-6 -P $password"; do
  name=${kind%%:*}
  zip="$work/$name.zip"
  if [ ! -f "$zip" ]; then
    (cd "$corpus" && zip -q -r ${kind#*:} "$zip" .)
  fi
  zips+=("$zip")
done
ls -l "${zips[@]}"
"$build/bench/bench_extract" "$work" "$password" "${zips[@]}"
