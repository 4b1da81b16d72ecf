#!/bin/sh
# Solid packages against 7-Zip's solid archives, in one run: the size of
# `tolvane-pack create --solid` and of `7z a -t7z -mx=9`, and the time each
# takes on the same number of threads, on the README's payload
# (make_payload.py) and on a tree of Debian's own files (its documentation,
# the Python packages under /usr/lib/python3/dist-packages and the entries of
# /usr/bin below 1 MiB, links followed, so a link brings its program whatever
# its size: about 11,000 files, 1.3 GB on this project's machine). Prints
# figures; tests nothing.
#
#   bench/bench_solid.sh [TOOL] [THREADS]
#
# TOOL defaults to build/host/tools/tolvane-pack, THREADS to 2.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$here/build/host/tools/tolvane-pack}
threads=${2:-2}
command -v 7z >/dev/null || { echo "bench_solid: 7z is missing (apt-get install p7zip-full)" >&2; exit 1; }
[ -x "$tool" ] || { echo "bench_solid: no $tool (cmake --build --preset host)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-solid.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$here/bench/make_payload.py" "$work/payload"
# The tree: links followed (as both tools would store the files they name),
# dangling ones left out.
mkdir -p "$work/tree/bin"
cp -rL /usr/share/doc "$work/tree/doc" 2>/dev/null || true
cp -rL /usr/lib/python3/dist-packages "$work/tree/python3" 2>/dev/null || true
find /usr/bin -maxdepth 1 -size -1024k \( -type f -o -type l \) -exec cp -L {} "$work/tree/bin/" \; 2>/dev/null || true

seconds() { date +%s.%N; }

run() {   # NAME DIR
  name=$1 dir=$2
  files=$(find "$dir" -type f | wc -l)
  bytes=$(find "$dir" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  start=$(seconds)
  SOURCE_DATE_EPOCH=1700000000 "$tool" create "$work/$name.exe" "$dir" --solid --threads "$threads" -q
  ours=$(echo "$(seconds) - $start" | bc)
  start=$(seconds)
  (cd "$dir" && 7z a -t7z -mx=9 -mmt="$threads" "$work/$name.7z" . >/dev/null)
  theirs=$(echo "$(seconds) - $start" | bc)
  "$tool" test "$work/$name.exe" -q
  oursize=$(stat -c %s "$work/$name.exe")
  # The package holds the stub and its header: compare the archives.
  archive=$((oursize - 32000))
  theirsize=$(stat -c %s "$work/$name.7z")
  printf '%s: %s files, %s bytes, %s threads\n' "$name" "$files" "$bytes" "$threads"
  printf '  tolvane-pack --solid  %11s bytes (%s with the stub)  %7.1f s\n' "$archive" "$oursize" "$ours"
  printf '  7z a -t7z -mx=9       %11s bytes                       %7.1f s\n' "$theirsize" "$theirs"
  printf '  size %.3f of 7z, time %.2f of 7z\n' "$(echo "$archive / $theirsize" | bc -l)" \
    "$(echo "$ours / $theirs" | bc -l)"
}

run payload "$work/payload"
run tree "$work/tree"
