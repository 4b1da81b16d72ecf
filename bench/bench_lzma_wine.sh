#!/usr/bin/env bash
# LZMA decoding speed of the stub's code under Wine, without the disk:
# takes the LZMA entries of a package or zip (bench_stub.py --method lzma
# leaves its payload package in /tmp/tolvane-bench-stub), builds
# bench_lzma_win32.cpp with the stub's flags and runs it under Wine.
#   bench_lzma_wine.sh PACKAGE
# CODEC_FLAGS replaces the decoders' optimisation flags (default -Os).
set -euo pipefail
cd "$(dirname "$0")/.."
package=${1:?package or zip}
work=${WORK:-/tmp/tolvane-bench-lzma}
mkdir -p "$work"
python3 - "$package" "$work/entries" <<'PY'
import struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z, open(sys.argv[2], "wb") as out:
    raw = z.fp
    for info in z.infolist():
        if info.compress_type != 14 or info.flag_bits & 1:
            continue
        raw.seek(info.header_offset)
        local = raw.read(30)
        skip = struct.unpack("<HH", local[26:30])
        raw.seek(info.header_offset + 30 + skip[0] + skip[1])
        data = raw.read(info.compress_size)
        out.write(struct.pack("<III", info.file_size, len(data), info.flag_bits & 2) + data)
PY
i686-w64-mingw32-g++ ${CODEC_FLAGS:--Os} -fno-exceptions -fno-rtti -fomit-frame-pointer -malign-data=abi \
  -mpreferred-stack-boundary=2 -flto -std=c++17 -I. -static -s -o "$work/bench_lzma.exe" \
  bench/bench_lzma_win32.cpp codec/lzma.cpp codec/entry_io.cpp codec/crc32.cpp base/state.cpp
WINEPREFIX=${WINEPREFIX:-$work/prefix} WINEARCH=win32 WINEDEBUG=-all wine "$work/bench_lzma.exe" "$work/entries"
