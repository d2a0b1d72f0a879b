#!/usr/bin/env bash
# Installs what is needed, builds, and runs the update. With no arguments it
# runs the console front-end against the built-in simulated modem at the real
# line rate; any arguments are passed to modem-update instead
# (e.g. --console --port /dev/ttyUSB0).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target modem-update
if [ "$#" -eq 0 ]; then set -- --console --yes --simulate; fi
exec build/default/app/modem-update "$@"
