#!/usr/bin/env bash
# Static analysis of the program's own code: clang-tidy 14 with the checks of
# .clang-tidy and cppcheck (warning, performance, portability), both over the
# compile commands of a build without the Qt window, limited to app/ ui/
# serial/ session/ zmodem/ firmware/ resources/ platform/ simulator/
# (no tests, no third-party code). Exits non-zero on any finding.
# Usage: tools/run-static-analysis.sh [build-dir]   (default build/static-analysis)
# A finding is fixed in the code, or answered where it stands with
# NOLINT(check) / cppcheck-suppress and the reason beside it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/static-analysis}"
jobs="$(nproc 2>/dev/null || echo 2)"
tidy="$(command -v clang-tidy-14 || command -v clang-tidy)"
start=$SECONDS

# Configuring is enough: every analysed file is in the source tree.
cmake -S "$root" -B "$build" -G Ninja -DMFU_BUILD_GUI=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

db="$build/static-analysis"
mkdir -p "$db"
python3 - "$build/compile_commands.json" "$db/compile_commands.json" "$root" <<'PY'
import json, re, sys
source, target, root = sys.argv[1:4]
own = re.compile("^" + re.escape(root) + r"/(app|ui|serial|session|zmodem|firmware|resources|platform|simulator)/")
entries = [e for e in json.load(open(source)) if own.match(e["file"])]
json.dump(entries, open(target, "w"), indent=1)
open(target + ".files", "w").write("".join(e["file"] + "\n" for e in entries))
PY
count="$(wc -l <"$db/compile_commands.json.files")"
echo "== clang-tidy ($("$tidy" --version | grep -o 'version [0-9.]*')) over $count files"

status=0
if ! xargs -P "$jobs" -n 2 "$tidy" -p "$db" --quiet <"$db/compile_commands.json.files" >"$db/clang-tidy.log" 2>"$db/clang-tidy.err"; then
  status=1
fi
if grep -E ': (warning|error):' "$db/clang-tidy.log" | sort -u; then status=1; fi
if [ "$status" -ne 0 ] && ! grep -qE ': (warning|error):' "$db/clang-tidy.log"; then
  cat "$db/clang-tidy.err" >&2
fi

echo "== cppcheck ($(cppcheck --version))"
if ! cppcheck --project="$db/compile_commands.json" --enable=warning,performance,portability \
    --inline-suppr --error-exitcode=1 --quiet -j "$jobs" \
    --template='{file}:{line}: {severity}: {message} [{id}]'; then
  status=1
fi

echo "== static analysis: $([ "$status" -eq 0 ] && echo clean || echo FINDINGS) in $((SECONDS - start)) s"
exit "$status"
