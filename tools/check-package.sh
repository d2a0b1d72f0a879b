#!/usr/bin/env bash
# The Debian package of the default build, as a user gets it: packs
# build/default (built already) with `cpack -G DEB`, checks the package with
# lintian (an error fails), its name and description (a build with the
# stand-in image says "testimage" in both, one with -DMFU_FIRMWARE_FILE of
# its own in neither) and its contents, installs it with apt, and runs
# the installed programs and man page. Run as root on Debian 12; the package
# stays installed (/usr/bin/modem-update). Tests run the build tree's
# programs by their full paths, so the installed ones never stand in for them.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/default

rm -f "$build"/modem-update_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/modem-update_*.deb)
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "== $deb (version $version)"

echo "== test build mark"
# The build embeds the stand-in image unless MFU_FIRMWARE_FILE names another file.
image=$(sed -n 's/^MFU_FIRMWARE_FILE:FILEPATH=//p' "$build/CMakeCache.txt")
program_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
description=$(dpkg-deb -f "$deb" Description)
if [ "$(realpath "$image")" = "$(realpath resources/firmware/bc2780ix.bin)" ]; then
  [ "$(basename "$deb")" = "modem-update_${program_version}~testimage_amd64.deb" ] ||
    { echo "FAILED: a stand-in build packed $(basename "$deb")" >&2; exit 1; }
  grep -q "testimage" <<<"$description" || { echo "FAILED: the description does not say testimage" >&2; exit 1; }
  grep -qi "test build" <<<"$description" || { echo "FAILED: the description does not say test build" >&2; exit 1; }
else
  [ "$(basename "$deb")" = "modem-update_${program_version}_amd64.deb" ] ||
    { echo "FAILED: a build with its own firmware packed $(basename "$deb")" >&2; exit 1; }
  grep -qi "testimage\|test build" <<<"$description" && { echo "FAILED: a real build described as a test build" >&2; exit 1; }
fi

echo "== lintian"
lintian --allow-root --fail-on error "$deb"

echo "== contents"
contents=$(dpkg-deb -c "$deb")
for path in usr/bin/modem-update usr/bin/modem-sim usr/share/applications/modem-update.desktop \
            usr/share/man/man1/modem-update.1.gz usr/share/man/man1/modem-sim.1.gz \
            usr/share/doc/modem-update/copyright usr/share/doc/modem-update/README.md; do
  grep -q " \./$path\$" <<<"$contents" || { echo "FAILED: $path not in $deb" >&2; exit 1; }
done
for size in 16 32 48 64 128 256; do
  path=usr/share/icons/hicolor/${size}x${size}/apps/modem-update.png
  grep -q " \./$path\$" <<<"$contents" || { echo "FAILED: $path not in $deb" >&2; exit 1; }
done

echo "== apt-get install ./$deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "./$deb"

check() {  # check EXPECTED ACTUAL WHAT
  [ "$1" = "$2" ] || { echo "FAILED: $3: \"$2\", expected \"$1\"" >&2; exit 1; }
}
check "modem-update $program_version" "$(/usr/bin/modem-update --version | head -n 1)" "modem-update --version"
check "modem-sim $program_version" "$(/usr/bin/modem-sim --version)" "modem-sim --version"
# Captured first: grep -q leaving early would fail the pipe (pipefail).
help=$(/usr/bin/modem-update --help)
grep -q -- "--simulate" <<<"$help" || { echo "FAILED: modem-update --help" >&2; exit 1; }
page=$(man -P cat modem-update 2>&1)
grep -q -- "--list-ports" <<<"$page" || { echo "FAILED: man modem-update: $page" >&2; exit 1; }
man -P cat modem-sim >/dev/null
echo "== package: all passed"
