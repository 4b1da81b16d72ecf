#!/usr/bin/env bash
# Runs every test: the stub build with its size rule, the Windows build of the
# tool, the host tests (including the end-to-end runs of the real stub under
# Wine), the same tests under ASan and UBSan, and short runs of every fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=${JOBS:-2}
strict=(-DTOLVANE_WERROR=ON)

step() { printf '\n==== %s\n' "$*"; }

step "stub (win32)"
cmake --preset win32 "${strict[@]}" >/dev/null
cmake --build --preset win32 -j "$jobs"

step "tool (windows)"
cmake --preset windows "${strict[@]}" >/dev/null
cmake --build --preset windows -j "$jobs"
# Handed out as one file: it may import Windows' own DLLs only, not the
# compiler's runtime or a library's (libstdc++-6, libwinpthread-1, zlib1).
if x86_64-w64-mingw32-objdump -p build/windows/tools/tolvane-pack.exe | grep -iE "DLL Name: (lib|zlib)"; then
  echo "tolvane-pack.exe needs the DLLs above beside it"
  exit 1
fi

for preset in host asan fuzz; do
  step "$preset: build"
  cmake --preset "$preset" "${strict[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  step "$preset: tests"
  if [ "$preset" = asan ]; then
    ctest --preset asan -j "$jobs" -LE e2e   # the Wine runs do not depend on the host build
  else
    ctest --preset "$preset" -j "$jobs"
  fi
done

step "all tests passed"
