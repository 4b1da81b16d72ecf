#!/usr/bin/env bash
# Packaging benchmark: packs a corpus of about 100 MB from /usr with
# tolvane-pack and, in the same run, with `zip -9` and `7z a -tzip
# -mx=9`; prints each archive's size and the time each took, and for each
# level the time on 1 thread against THREADS threads (default 2) with the
# speed-up, checking the packages are byte-identical. Figures only: nothing
# here passes or fails.
#   PACK=path/to/tolvane-pack   (default: build it in BUILD_DIR, default build/host)
#   CORPUS=folder               (default: gathered from /usr into WORK)
#   LEVELS="12 9 6"             (tolvane-pack levels to time; default "12 9")
#   THREADS=N                   (the parallel run; default 2)
#   LARGE_MB=N                  (also pack one file of N MB, half random, half
#                                text, and print the peak resident size; off by default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/host}
work=${WORK:-/dev/shm/tolvane-bench-pack}
corpus=${CORPUS:-$work/corpus}
levels=${LEVELS:-12 9}
threads=${THREADS:-2}

if [ -z "${PACK:-}" ]; then
  cmake --preset host -B "$build" >/dev/null
  cmake --build "$build" --target tolvane-pack -j 2 >/dev/null
  PACK=$build/tools/tolvane-pack
fi

mkdir -p "$work"
if [ ! -d "$corpus" ]; then
  python3 bench/make_corpus.py "$corpus"
fi

input_bytes=$(du -sb --apparent-size "$corpus" | cut -f1)
files=$(find "$corpus" -type f | wc -l)
calc() { awk "BEGIN { print $1 }"; }
printf 'corpus: %s, %d files, %.1f MB\n\n' "$corpus" "$files" "$(calc "$input_bytes / 1000000")"

# Runs a command and prints its wall time in seconds.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  calc "($end - $start) / 1e9"
}

results=()
pack_times=()
row() { results+=("$(printf '%-34s %12d %8.2f%% %9.2f s' "$1" "$2" "$(calc "100 * $2 / $input_bytes")" "$3")"); }

rm -f "$work"/*.zip "$work"/*.exe
stub=$work/stub.bin
PYTHONPATH="$(dirname "$0")/../tests/support" python3 -c "import sys, mkpackage; open(sys.argv[1],'wb').write(mkpackage.stand_in_stub())" "$stub"

zip_time=$(cd "$corpus" && seconds zip -q -r -9 "$work/zip9.zip" .)
row "zip -9 (zip archive)" "$(stat -c %s "$work/zip9.zip")" "$zip_time"

export SOURCE_DATE_EPOCH=1700000000   # the same bytes on every run, so the two can be compared
for level in $levels; do
  t1=$(seconds "$PACK" create "$work/pack$level-1.exe" "$corpus" --stub "$stub" --level "$level" --threads 1 -q)
  tn=$(seconds "$PACK" create "$work/pack$level.exe" "$corpus" --stub "$stub" --level "$level" --threads "$threads" -q)
  # The archive part alone, without the 32000 bytes of stub and header.
  size=$(( $(stat -c %s "$work/pack$level.exe") - 32000 ))
  row "tolvane-pack --level $level, 1 thread" "$size" "$t1"
  row "tolvane-pack --level $level, $threads threads" "$size" "$tn"
  same=identical
  cmp -s "$work/pack$level-1.exe" "$work/pack$level.exe" || same=DIFFERENT
  pack_times+=("$level:$t1:$tn:$size:$same")
done

t7=$(cd "$corpus" && seconds 7z a -tzip -mx=9 "$work/7z9.zip" .)
row "7z a -tzip -mx=9 (zip archive)" "$(stat -c %s "$work/7z9.zip")" "$t7"

printf '%-34s %12s %9s %11s\n' "tool" "bytes" "of input" "time"
printf '%s\n' "${results[@]}"
echo
zip_size=$(stat -c %s "$work/zip9.zip")
for entry in "${pack_times[@]}"; do
  IFS=: read -r level t1 tn size same <<<"$entry"
  printf 'tolvane-pack --level %-2s: size %.4f of zip -9; 1 thread %.2f x zip -9 time, %s threads %.2f x; speed-up %.2f; packages %s\n' \
    "$level" "$(calc "$size / $zip_size")" "$(calc "$t1 / $zip_time")" "$threads" "$(calc "$tn / $zip_time")" \
    "$(calc "$t1 / $tn")" "$same"
done
printf '(package = archive + 32000 bytes of stub and header)\n'

# One large file: memory must not follow its size. The peak resident size
# counts the mapped input and temporary file too, which the kernel can reclaim.
if [ -n "${LARGE_MB:-}" ]; then
  large=$work/large.bin
  {
    head -c "$((LARGE_MB / 2))M" /dev/urandom
    yes 'a line of text to compress in the large file' | head -c "$((LARGE_MB - LARGE_MB / 2))M" || true
  } > "$large"
  /usr/bin/time -f "%e %M" -o "$work/time" "$PACK" create "$work/large.exe" "$large" --stub "$stub" --level 6 -q
  read -r secs kb < "$work/time"
  printf 'large file of %d MB: %.2f s, peak resident %d MB\n' "$LARGE_MB" "$secs" "$((kb / 1024))"
  rm -f "$large" "$work/large.exe" "$work/time"
fi
