#!/usr/bin/env bash
# Builds the libFuzzer targets with the `fuzz` preset and runs each one for a
# number of seconds (first argument, default 60) over a scratch copy of its
# seed corpus, so the checked-in corpus stays small. Exits non-zero when a
# target crashes, leaks or trips a sanitizer.
set -euo pipefail

seconds="${1:-60}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$root/build/fuzz"

targets=()
for src in "$here"/fuzz_*.cpp; do
  targets+=("$(basename "$src" .cpp)")
done

(cd "$root" && cmake --preset fuzz >/dev/null)
cmake --build "$build" --target "${targets[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

status=0
for target in "${targets[@]}"; do
  name="${target#fuzz_}"
  corpus="$work/$name"
  mkdir -p "$corpus" "$work/artifacts-$name"
  if [ -d "$here/corpus/$name" ]; then
    cp -r "$here/corpus/$name/." "$corpus/"
  fi
  binary="$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)"
  echo "== $target for ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$work/artifacts-$name/" "$corpus"; then
    echo "== $target FAILED; reproducer:" >&2
    mkdir -p "$build/fuzz-artifacts"
    cp -r "$work/artifacts-$name/." "$build/fuzz-artifacts/" || true
    ls -l "$build/fuzz-artifacts" >&2 || true
    status=1
  fi
done
exit "$status"
