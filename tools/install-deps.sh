#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need. Run as root.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-translations-l10n xvfb xauth xdotool fonts-dejavu-core fonts-liberation2
  libudev-dev
  lrzsz ser2net
  clang libclang-rt-14-dev
  clang-tidy cppcheck
  python3 dpkg-dev file lintian man-db
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
