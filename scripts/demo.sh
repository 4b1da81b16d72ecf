#!/usr/bin/env bash
# The main job: builds the stub and tolvane-pack, packs examples/demo into one
# .exe, then runs it under Wine with the test driver pressing Extract, and shows
# the message boxes it met and the tree it extracted.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=${JOBS:-2}
printf '\n==== building the stub (win32)\n'
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
printf '\n==== building tolvane-pack (host)\n'
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs" --target tolvane-pack

out=out/demo
rm -rf "$out"
mkdir -p "$out"
printf '\n==== packing examples/demo\n'
build/host/tools/tolvane-pack create "$out/demo.exe" examples/demo \
  --message "Welcome to the Tolvane SFX demo. Press Extract to unpack the example folder." \
  --folder-temp
build/host/tools/tolvane-pack info "$out/demo.exe"
build/host/tools/tolvane-pack list "$out/demo.exe"

printf '\n==== running the package under Wine\n'
python3 scripts/demo.py build/win32 "$out/demo.exe" "$out/extracted" "$out/wine"
diff -r examples/demo "$out/extracted" && echo "the extracted tree equals examples/demo"
