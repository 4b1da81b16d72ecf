#!/usr/bin/env bash
# Decryption speed of the stub's code under Wine: builds bench_crypto_win32.cpp
# with the stub's compiler flags, the codec sources and the seam's AES (the
# system's), runs it under Wine and
# prints MB/s of the traditional cipher, AES-256 and AES-128 (with the HMAC),
# and the CRC-32 for comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
work=${WORK:-/tmp/tolvane-bench-crypto}
mkdir -p "$work"
i686-w64-mingw32-g++ -Os -fno-exceptions -fno-rtti -std=c++17 -I. -static -s -o "$work/bench_crypto.exe" \
  bench/bench_crypto_win32.cpp codec/crc32.cpp codec/crypt.cpp codec/sha1.cpp \
  codec/winzip_aes.cpp platform/win32_aes.cpp base/state.cpp base/entry.cpp -ladvapi32
WINEPREFIX=${WINEPREFIX:-$work/prefix} WINEARCH=win32 WINEDEBUG=-all wine "$work/bench_crypto.exe"
