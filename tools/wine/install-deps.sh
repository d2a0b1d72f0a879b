#!/usr/bin/env bash
# Installs what the Windows build and its Wine test run need (Debian 12), as
# root (gcc-multilib: the 32-bit status-line helper the end-to-end run preloads
# into 32-bit Wine). Idempotent: does nothing when everything is there.
set -euo pipefail
packages=(
  cmake ninja-build g++ googletest
  g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686
  wine wine32:i386
  gcc-multilib
  xvfb xauth x11-apps imagemagick
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
