#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. Exits non-zero when a
# build or a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
