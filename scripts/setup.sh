#!/usr/bin/env bash
# Installs what the builds, the tests and the demo need on Debian 12.
# Does nothing when everything is already there; uses sudo when not root.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config python3
  clang libclang-rt-14-dev                      # libFuzzer and the sanitizers
  googletest libgtest-dev libbenchmark-dev
  zlib1g-dev libdeflate-dev                     # zlib: test oracle; libdeflate: the packaging tool
  liblzma-dev                                   # LZMA entries: the packaging tool; the tests' oracle
  libssl-dev                                    # libcrypto: the packaging tool's AES
  g++-mingw-w64-i686 binutils-mingw-w64-i686    # the stub
  g++-mingw-w64-x86-64-posix wine64             # tolvane-pack for 64-bit Windows, and running it
  wine wine32:i386 xvfb xauth x11-apps imagemagick   # running the stub headless
  zip unzip p7zip-full libarchive-tools         # real archives for the tests
  locales                                       # localedef: Wine's code page through the locale
  osslsigncode openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
