#!/usr/bin/env bash
# Whole-archive extraction benchmark: builds bench_extract, gathers a corpus of
# about 100 MB (or takes CORPUS), zips it with Info-ZIP three ways (deflate -6,
# stored -0, deflate -6 with a password) and runs the engine, the zlib
# and libdeflate references, unzip, 7z and bsdtar on each zip into tmpfs.
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
  python3 bench/make_corpus.py "$corpus"
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
