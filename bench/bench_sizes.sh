#!/usr/bin/env bash
# Package sizes, ours against the peers in one run: the payload of
# make_payload.py (programs and documents, about 44 MB) and Python's standard
# library (about 40 MB), each packed by tolvane-pack with deflate and with
# LZMA (level 12), by `zip -9`, as LZMA entries in a zip by 7z
# (`7z a -tzip -mm=LZMA -mx=9`), and as 7z archives (`-mx=9`, not solid and
# solid). Prints megabytes and seconds. Figures only.
#   PACK=path/to/tolvane-pack   (default: build/host/tools/tolvane-pack)
#   WORK=folder                 (default: /dev/shm/tolvane-bench-sizes)
#   THREADS=N                   (tolvane-pack and 7z threads; default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
pack=${PACK:-build/host/tools/tolvane-pack}
work=${WORK:-/dev/shm/tolvane-bench-sizes}
threads=${THREADS:-2}
mkdir -p "$work"
[ -d "$work/payload" ] || python3 bench/make_payload.py "$work/payload"
[ -d "$work/stdlib" ] || python3 bench/make_payload.py --stdlib "$work/stdlib"

calc() { awk "BEGIN { print $1 }"; }
row() {   # label, output file, command...
  local label=$1 out=$2 start end
  shift 2
  rm -f "$out"
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  printf '  %-36s %8.1f MB %7.1f s\n' "$label" "$(calc "$(stat -c %s "$out") / 1e6")" \
    "$(calc "($end - $start) / 1e9")"
}

for tree in payload stdlib; do
  src=$work/$tree
  printf '%s: %.1f MB\n' "$tree" "$(calc "$(du -sb --apparent-size "$src" | cut -f1) / 1e6")"
  out=$work/out
  row "tolvane-pack --level 12" "$out.exe" "$pack" create "$out.exe" "$src" --threads "$threads" -q
  row "tolvane-pack --method lzma" "$out.exe" "$pack" create "$out.exe" "$src" --method lzma \
    --threads "$threads" -q
  row "zip -9" "$out.zip" sh -c "cd '$src' && zip -qr9 '$out.zip' ."
  row "7z a -tzip -mm=LZMA -mx=9" "$out.zip" 7z a -tzip -mm=LZMA -mx=9 -mmt="$threads" "$out.zip" "$src/."
  row "7z a -mx=9 (not solid)" "$out.7z" 7z a -mx=9 -ms=off -mmt="$threads" "$out.7z" "$src/."
  row "7z a -mx=9 (solid)" "$out.7z" 7z a -mx=9 -mmt="$threads" "$out.7z" "$src/."
  rm -f "$out.exe" "$out.zip" "$out.7z"
done
