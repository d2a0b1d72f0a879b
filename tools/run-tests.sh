#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test:
#   1. the default build (GCC) and its whole test suite, the end-to-end runs
#      against modem-sim and the real rz included; then its Debian package,
#      checked with lintian, installed with apt and run
#      (tools/check-package.sh);
#   2. the suite again under AddressSanitizer + UndefinedBehaviorSanitizer
#      and under ThreadSanitizer (clang; without the window and the two
#      full-length end-to-end runs, which the first pass has covered);
#   3. the fuzz targets, 20 s each (their corpora hold every verdict path);
#   4. static analysis: clang-tidy and cppcheck over the program's own code;
#   5. the Windows build, cross-compiled, its tests run under Wine, and its
#      ZIP archive.
# Exits non-zero when a build, a test or a check fails. MFU_QUICK=1 runs
# step 1's build and tests only, without the package (about 6.5 minutes on two
# cores; all five steps take about 21).
set -euo pipefail
cd "$(dirname "$0")/.."
stage() { echo; echo "=== $* ($(date +%T))"; }

tools/install-deps.sh

stage "default build and tests"
cmake --preset default
cmake --build --preset default
ctest --preset default

if [ "${MFU_QUICK:-0}" = 1 ]; then exit 0; fi

stage "Debian package: lintian, apt-get install, the installed program"
tools/check-package.sh

long='e2e_console_(success|silent-b|hangup)'
stage "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan
cmake --build --preset asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan -E "$long"

stage "ThreadSanitizer"
cmake --preset tsan
cmake --build --preset tsan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --preset tsan -E "$long"

stage "fuzzing"
tests/fuzz/run-fuzzers.sh 20

stage "static analysis"
tools/run-static-analysis.sh

stage "Windows build under Wine"
# The Wine stage says in one line which Windows stage it ran (32-bit Wine, or
# 64-bit Wine where this machine runs no 32-bit programs); it ends the log.
wine_log=$(mktemp /tmp/mfu-wine-stage.XXXXXX)
tools/wine/run-wine-tests.sh 2>&1 | tee "$wine_log"
windows_stage=$(grep -m1 '^== Windows stage:' "$wine_log") || {
  echo "FAILED: the Wine stage did not say which Windows stage it ran" >&2
  exit 1
}
rm -f "$wine_log"

stage "all passed"
echo "$windows_stage"
