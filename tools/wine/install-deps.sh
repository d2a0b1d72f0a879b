#!/usr/bin/env bash
# Installs what the Windows build and its Wine test run need (Debian 12), as
# root. Both cross compilers and 64-bit Wine everywhere; 32-bit Wine and
# gcc-multilib (the 32-bit status-line helper preloaded into 32-bit Wine) only
# where this machine runs 32-bit programs (tools/wine/runs-32bit-programs.sh);
# elsewhere the tests run under 64-bit Wine. Idempotent: does nothing when
# everything is there.
set -euo pipefail
packages=(
  cmake ninja-build g++ googletest
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64
  xvfb xauth x11-apps imagemagick
)
runs_32bit=0
if "$(dirname "$0")/runs-32bit-programs.sh"; then
  runs_32bit=1
  packages+=(wine32:i386 gcc-multilib)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if [ "$runs_32bit" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
