#!/usr/bin/env bash
# create on Windows (tolvane-pack.exe under Wine) beside Linux on the same
# tree, with the same options, in one run: the payload of make_payload.py
# (programs and documents, about 44 MB), deflate and LZMA. Prints seconds,
# whether the two packages are the same bytes, and the tools' sizes. Figures only.
#   PACK=path/to/tolvane-pack          (default: build/host/tools/tolvane-pack)
#   WINDOWS_PACK=path/to/.exe          (default: build/windows/tools/tolvane-pack.exe)
#   WORK=folder                        (default: /dev/shm/tolvane-bench-sizes, shared with bench_sizes.sh)
#   THREADS=N                          (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
pack=${PACK:-build/host/tools/tolvane-pack}
exe=${WINDOWS_PACK:-build/windows/tools/tolvane-pack.exe}
work=${WORK:-/dev/shm/tolvane-bench-sizes}
threads=${THREADS:-2}
mkdir -p "$work"
[ -d "$work/payload" ] || python3 bench/make_payload.py "$work/payload"
export WINEPREFIX=$work/prefix64 WINEARCH=win64 WINEDEBUG=-all SOURCE_DATE_EPOCH=1700000000
wine "$exe" --version >/dev/null 2>&1   # the prefix is made outside the timing

seconds() {   # command... -> its wall time
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk "BEGIN { printf \"%.1f\", ($end - $start) / 1e9 }"
}

printf 'tolvane-pack %s bytes, tolvane-pack.exe %s bytes\n' "$(stat -c %s "$pack")" "$(stat -c %s "$exe")"
printf 'payload: %.1f MB, %s threads\n' "$(du -sb --apparent-size "$work/payload" | awk '{ print $1 / 1e6 }')" "$threads"
for method in deflate lzma; do
  options=(--method "$method" --threads "$threads" -q)
  linux=$(seconds "$pack" create "$work/linux.exe" "$work/payload" "${options[@]}")
  windows=$(seconds wine "$exe" create "$work/windows.exe" "$work/payload" "${options[@]}")
  same=$(cmp -s "$work/linux.exe" "$work/windows.exe" && echo "the same bytes" || echo "DIFFERENT")
  printf '  %-8s Linux %6s s   Windows under Wine %6s s   %s (%.1f MB)\n' "$method" "$linux" "$windows" \
    "$same" "$(stat -c %s "$work/linux.exe" | awk '{ print $1 / 1e6 }')"
  rm -f "$work/linux.exe" "$work/windows.exe"
done
