#!/usr/bin/env bash
# The Windows build and its tests, on Debian 12 as root: installs what is
# needed, cross-compiles with mingw-w64 and runs under Wine, in a fresh
# WINEPREFIX that is removed afterwards. Which Wine depends on the machine
# (tools/wine/runs-32bit-programs.sh):
#   - where it runs 32-bit programs: the 32-bit program and its tests (preset
#     "mingw", build/mingw) under 32-bit Wine;
#   - where it does not (a kernel without IA-32 emulation: 32-bit Wine cannot
#     start), or with --win64: the same program and tests built for 64-bit
#     Windows (preset "mingw64", build/mingw64) under 64-bit Wine; the 32-bit
#     program is still built (preset "mingw"), checked and packed.
# The runs:
#   1. the core's unit tests and the Win32 tests (ctest), with
#      COM2 a pseudo-terminal whose far end is tools/wine/pty_line_peer.c
#      (for the serial port's read limit); COM2 is gone before the runs below;
#   2. an end-to-end update against modem-sim, whose pseudo-terminal is the
#      prefix's COM1, the modem found by the probe: ModemUpdateTest.exe (the
#      program with its times running 20 times faster, about 30 s), or with
#      --real-time ModemUpdate.exe itself (728 answers, each ended by the
#      line's 250 ms quiet gap: about 4 minutes);
#   3. ModemUpdate.exe finding the modem through a modem-class entry of the
#      registry (added with `wine reg add`), no probe, ended by "Beenden";
#      then the same with a silent modem (tools/wine/pty_line_peer.c
#      --silent), "Beenden" pressed while the program waits for the answer
#      to "at@d": exit status 3 within 1 s of the press, the modem heard
#      "at@d" and "c" and nothing else;
#      then, as on Windows 2000 and later, through an entry of the NT modem
#      class alone; then, with the simulator moved to COM7, through the probe
#      of the ports SERIALCOMM names after COM1 to COM4;
#   4. a program with the test image, without MODEM_UPDATE_SIMULATED_LINE=1
#      (set for every other run): it finds the modem on COM1 and refuses the
#      port, and modem-sim sees no "at@d";
#   5. with --screenshot, docs/window-wine.png: the window after the update.
# Before the runs it packs build/mingw/ModemUpdate-VERSION[-testimage]-win32.zip
# (`cpack -G ZIP`: the 32-bit ModemUpdate.exe, LIESMICH.txt) and checks its
# contents; in the 64-bit stage it also checks that the packed 32-bit program
# carries the resources of the 64-bit one the runs tested.
# Wine runs under one Xvfb, in a mount namespace of its own in which every /dev/ttyS* is
# /dev/null, so that nothing under Wine can open a real serial port (Wine
# maps the machine's ports to COM ports by itself); where no namespace can be
# made, the prefix's COM devices other than COM1 are removed before any test.
# Prints one line saying which stage ran; exits non-zero when a build, a test
# or a check fails, and when no stage can run.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
screenshot=0
real_time=0
force_win64=0
for arg in "$@"; do
  case "$arg" in
    --screenshot) screenshot=1 ;;
    --real-time) real_time=1 ;;
    --win64) force_win64=1 ;;
    *) echo "usage: $0 [--screenshot] [--real-time] [--win64]" >&2; exit 64 ;;
  esac
done

if [ -z "${MFU_WINE_NAMESPACE:-}" ]; then
  tools/wine/install-deps.sh
  # One X server for every Wine process (the server, its desktop, the
  # programs), so that the windows of all of them can open.
  xvfb=(xvfb-run -a -s "-screen 0 1024x768x24")
  if unshare --mount true 2>/dev/null; then
    exec env MFU_WINE_NAMESPACE=1 unshare --mount -- "${xvfb[@]}" "$0" "$@"
  fi
  # A container without the right to make mount namespaces: the prefix's own
  # port table below (COM1 the simulator, no other COM device) is then the
  # only thing that keeps Wine away from the machine's ports.
  echo "== no mount namespace here: the real serial ports are kept from Wine by its port table alone"
  exec env MFU_WINE_NAMESPACE=0 "${xvfb[@]}" "$0" "$@"
fi
if [ "$MFU_WINE_NAMESPACE" = 1 ]; then
  for tty in /dev/ttyS*; do
    [ -e "$tty" ] && mount --bind /dev/null "$tty"
  done
fi

# The stage: 32-bit Wine where this machine runs 32-bit programs, else 64-bit
# Wine for the tests and runs, the 32-bit program built and packed beside.
if [ "$force_win64" = 0 ] && tools/wine/runs-32bit-programs.sh; then
  bits=32
  stage="32-bit Wine (this machine runs 32-bit programs)"
else
  bits=64
  if [ "$force_win64" = 1 ]; then
    stage="64-bit Wine (--win64)"
  else
    stage="64-bit Wine (this machine runs no 32-bit programs)"
  fi
  stage+="; the 32-bit program was built, checked and packed"
fi
echo "== Windows stage: $stage"

# The 32-bit program users get, in both stages. cpack builds nothing: in the
# 64-bit stage the 32-bit tests are not built, as nothing could run them.
cmake --preset mingw -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
if [ "$bits" = 32 ]; then
  cmake --build --preset mingw
  tested=build/mingw
  test_preset=mingw
else
  cmake --build --preset mingw --target ModemUpdate
  cmake --preset mingw64 >/dev/null
  cmake --build --preset mingw64
  tested=build/mingw64
  test_preset=mingw64
fi

# The archive users get: the program and its read-me; the program's file
# properties carry the version the archive's name carries. A build with the
# test image says so in the name: ModemUpdate-VERSION-testimage-win32.zip.
echo "== Windows archive"
rm -f build/mingw/ModemUpdate-*-win32.zip
(cd build/mingw && cpack -G ZIP >/dev/null)
zips=(build/mingw/ModemUpdate-*-win32.zip)
[ "${#zips[@]}" = 1 ] && [ -f "${zips[0]}" ] || { echo "FAILED: not one archive: ${zips[*]}" >&2; exit 1; }
zip=${zips[0]}
top=${zip##*/}
top=${top%.zip}
version=${top#ModemUpdate-}
version=${version%-win32}
version=${version%-testimage}
listing=$(cmake -E tar tf "$zip")
echo "$listing"
for name in ModemUpdate.exe LIESMICH.txt; do
  grep -qx "$top/$name" <<<"$listing" || { echo "FAILED: $name not in $zip" >&2; exit 1; }
done
unpacked=$(mktemp -d /tmp/mfu-zip.XXXXXX)
(cd "$unpacked" && cmake -E tar xf "$root/$zip")
shipped="$unpacked/$top/ModemUpdate.exe"
shipped_version=$(strings -el "$shipped" | grep -A1 -x ProductVersion | tail -n 1)
shipped_format=$(i686-w64-mingw32-objdump -f "$shipped" | sed -n 's/.*file format //p')
# What the program carries, by the build's rule (the test image is
# resources/firmware/bc2780ix.bin), and what the read-me says it carries.
image=$(sed -n 's/^MFU_FIRMWARE_FILE:FILEPATH=//p' build/mingw/CMakeCache.txt)
if [ "$(realpath "$image")" = "$(realpath resources/firmware/bc2780ix.bin)" ]; then
  carried=testimage
else
  carried=firmware
fi
if iconv -f WINDOWS-1252 -t UTF-8 "$unpacked/$top/LIESMICH.txt" | grep -q "Test-Abbild"; then
  readme_image=testimage
else
  readme_image=firmware
fi
if [ "$bits" = 64 ]; then
  # The 64-bit program the runs below test carries the same resources (the
  # dialog, the texts, the firmware image, the version) as the packed one.
  i686-w64-mingw32-windres -i "$shipped" -O rc -o "$unpacked/shipped.rc"
  x86_64-w64-mingw32-windres -i "$tested/app/win32/ModemUpdate.exe" -O rc -o "$unpacked/tested.rc"
  for resource in '1005 "RT_RCDATA"' '102 DIALOGEX' 'VERSIONINFO'; do
    grep -qF "$resource" "$unpacked/shipped.rc" || { echo "FAILED: no $resource in the packed program" >&2; exit 1; }
  done
  cmp -s "$unpacked/shipped.rc" "$unpacked/tested.rc" || {
    echo "FAILED: the packed 32-bit ModemUpdate.exe and the tested 64-bit one carry different resources" >&2
    diff "$unpacked/shipped.rc" "$unpacked/tested.rc" | head -n 20 >&2
    exit 1
  }
fi
rm -rf "$unpacked"
[ "$shipped_version" = "$version" ] || {
  echo "FAILED: ModemUpdate.exe's ProductVersion is \"$shipped_version\", the archive's $version" >&2
  exit 1
}
[ "$shipped_format" = pei-i386 ] || { echo "FAILED: the packed ModemUpdate.exe is \"$shipped_format\", not 32-bit" >&2; exit 1; }
[ "$readme_image" = "$carried" ] || {
  echo "FAILED: the program carries the $carried, LIESMICH.txt tells of the $readme_image" >&2
  exit 1
}
case "$top" in
  *-testimage-win32) [ "$carried" = testimage ] || { echo "FAILED: $top.zip carries real firmware" >&2; exit 1; } ;;
esac

# The simulated modem and the status-line helper are host programs; the
# helper is preloaded into Wine, so it is built for Wine's word size. The
# native build (preset "default", which tools/run-tests.sh has just built)
# gives modem-sim where it exists; a build of modem-sim alone otherwise.
host=build/wine-host
sim_build=build/default
if [ ! -f "$sim_build/CMakeCache.txt" ]; then
  sim_build=$host
  cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMFU_BUILD_GUI=OFF -DMFU_BUILD_TESTS=OFF -DMFU_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$sim_build" --target modem-sim
mkdir -p "$host"
lines_arch=()
[ "$bits" = 32 ] && lines_arch=(-m32)
gcc "${lines_arch[@]}" -shared -fPIC -O2 -Wall -Wextra -Werror -o "$host/pty_modem_lines.so" tools/wine/pty_modem_lines.c -ldl
gcc -O2 -Wall -Wextra -Werror -o "$host/pty_line_peer" tools/wine/pty_line_peer.c -lutil

work=$(mktemp -d /tmp/mfu-wine.XXXXXX)
export WINEPREFIX="$work/prefix" WINEARCH=win$bits WINEDEBUG=-all
sim_pid=""
peer_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
wineserver -w
# COM1 is the simulator's terminal (modem-sim makes $work/com1 a link to it),
# COM2 the line peer's (for the unit tests only); the window draws its own
# frame (no window manager under Xvfb).
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$work/com1" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /t REG_SZ /d "$work/com2" /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w
wineserver -p 120 2>"$work/wineserver.log"   # one server for everything below
wine cmd /c exit >/dev/null 2>&1
# The ports Wine found by itself (masked, so /dev/null) are not probed.
find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' ! -name com1 ! -name com2 -delete

echo "== unit tests under Wine"
"$host/pty_line_peer" "$work/com2" &
peer_pid=$!
for _ in $(seq 50); do
  [ -L "$work/com2" ] && break
  sleep 0.1
done
MFU_TEST_PEER_PORT=COM2 ctest --preset "$test_preset"
kill "$peer_pid"
wait "$peer_pid" 2>/dev/null || true
peer_pid=""
# The probe below finds no port but the simulator's.
rm -f "$WINEPREFIX/dosdevices/com2" "$work/com2"

exe="$root/$tested/app/win32/ModemUpdate.exe"
fast_exe="$root/$tested/app/win32/ModemUpdateTest.exe"
driver="$root/$tested/tests/win32/e2e_driver.exe"
sim="$root/$sim_build/tools/modem_sim/modem-sim"
preload="$root/$host/pty_modem_lines.so"

start_sim() {  # start_sim LOG [OPTIONS...]
  local log=$1
  shift
  "$sim" --link "$work/com1" --fast --log "$log" "$@" >"$work/sim.path" &
  sim_pid=$!
  for _ in $(seq 50); do
    [ -L "$work/com1" ] && [ -s "$work/sim.path" ] && return 0
    sleep 0.1
  done
  echo "modem-sim did not start" >&2
  return 1
}
start_silent() {  # start_silent HEARD: a modem that records what it hears and never answers
  rm -f "$work/com1"
  "$host/pty_line_peer" --silent "$1" "$work/com1" &
  sim_pid=$!
  for _ in $(seq 50); do
    [ -L "$work/com1" ] && return 0
    sleep 0.1
  done
  echo "the silent modem did not start" >&2
  return 1
}
stop_modem() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
wait_until() {  # wait_until TENTHS COMMAND...: true once COMMAND succeeds
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

run_window() {  # run_window OUT PROGRAM-EXIT-STATUS PROGRAM DRIVER-OPTIONS...
  local out=$1 status=$2 program=$3
  shift 3
  bash -c '
    status=$0
    LD_PRELOAD="$1" wine "$2" &
    app=$!
    shift 2
    wine "$@"
    rc=$?
    [ $rc -ne 0 ] && kill $app 2>/dev/null   # the driver gave up: end the program
    wait $app
    app_rc=$?
    [ $app_rc -eq "$status" ] || { echo "exit status $app_rc, not $status" >&2; rc=1; }
    exit $rc' "$status" "$preload" "$program" "$driver" "$@" >"$out" || {
    # What the window showed and what the modem saw, before the prefix goes.
    echo "FAILED: $program; the log pane:" >&2
    cat -v "$out" >&2
    for log in "$work"/sim*.log; do
      [ -e "$log" ] && { echo "--- $log (tail)" >&2; tail -n 20 "$log" >&2; }
    done
    return 1
  }
}

expect_in() {  # expect_in FILE TEXT
  if ! grep -qaF -- "$2" "$1"; then
    echo "FAILED: \"$2\" not in $1:" >&2
    cat -v "$1" >&2
    return 1
  fi
}
expect_not_in() {
  if grep -qaF -- "$2" "$1"; then
    echo "FAILED: \"$2\" unexpectedly in $1" >&2
    return 1
  fi
}

# The test image goes to a COM port only where the line is declared a
# simulated one: modem-sim's pseudo-terminal is.
export MODEM_UPDATE_SIMULATED_LINE=1

echo "== end to end: probe finds the modem on COM1, the whole update"
t0=$(date +%s)
shot_args=()
[ "$screenshot" = 1 ] && shot_args=(--shot "Z:${work//\//\\}\\window.bmp")
if [ "$real_time" = 1 ]; then
  start_sim "$work/sim1.log" --once
  run_window "$work/log1.txt" 0 "$exe" --update --timeout 600 "${shot_args[@]}"
else
  start_sim "$work/sim1.log" --once --final-ms 100
  run_window "$work/log1.txt" 0 "$fast_exe" --update --timeout 240 "${shot_args[@]}"
fi
wait "$sim_pid"   # --once: 0 when the image matched and the final answer went out
sim_pid=""
expect_in "$work/log1.txt" "Modem-Update Tool startet."
expect_in "$work/log1.txt" "Ein KELVORA-Modem wurde an COM1 gefunden."
expect_in "$work/log1.txt" "Neue Firmware wird zum Modem geschickt"
expect_in "$work/log1.txt" "Update ist erfolgreich abgeschlossen!"
expect_in "$work/log1.txt" "Name  - bc2780ix.bin"
expect_in "$work/sim1.log" "ati4"
echo "   passed in $(( $(date +%s) - t0 )) s"

# One run of the program that finds the modem, ended with "Beenden" (exit 3,
# no update). By default once it shows the download mode: the modem leaves
# download mode. With WAY silent the modem never answers, and "Beenden" is
# pressed while the program waits for the answer to "at@d": the program must
# be gone within 1000 ms of the press (the driver measures from before it),
# and the modem must have heard the command, then "c" and nothing more.
heard_exactly() {  # heard_exactly FILE PRINTF-FORMAT
  [ "$(od -An -c "$1")" = "$(printf "$2" | od -An -c)" ]
}
beenden_run() {  # beenden_run N [silent]
  local n=$1 way=${2:-}
  if [ "$way" = silent ]; then
    start_silent "$work/heard$n"
    run_window "$work/log$n.txt" 3 "$exe" --timeout 120 \
      --press-when-heard "Z:${work//\//\\}\\heard$n" "at@d" --within 1000
    # The "c" may reach the recording just after the program has gone.
    wait_until 50 heard_exactly "$work/heard$n" 'at@d\r\nc' || {
      echo "FAILED: the silent modem heard: $(od -An -c "$work/heard$n")" >&2
      return 1
    }
    stop_modem
    expect_not_in "$work/log$n.txt" "Keine Antwort"
  else
    start_sim "$work/sim$n.log"
    run_window "$work/log$n.txt" 3 "$exe" --timeout 120
    # The "c" may reach modem-sim just after the program has gone.
    wait_until 50 grep -qaF "download mode left" "$work/sim$n.log" || true
    stop_modem
    expect_in "$work/log$n.txt" "Um Update zu starten"
    expect_in "$work/sim$n.log" "download mode left"
  fi
  expect_not_in "$work/log$n.txt" "Update l"
}

echo "== end to end: the registry's modem-class entry names COM1, no probe"
t0=$(date +%s)
key='HKLM\System\CurrentControlSet\Services\Class\Modem\0000'
wine reg add "$key" /v Model /t REG_SZ /d "Kelvora 56000 Voice" /f >/dev/null
wine reg add "$key" /v AttachedTo /t REG_SZ /d COM1 /f >/dev/null
beenden_run 2
expect_in "$work/log2.txt" "Ein KELVORA-Modem wurde an COM1 gefunden."
expect_not_in "$work/sim2.log" "ati4"
expect_in "$work/sim2.log" "at@d"   # the simulated line declared: download mode asked for
echo "   passed in $(( $(date +%s) - t0 )) s"

echo "== end to end: the same entry, a silent modem, \"Beenden\" while the program waits for the answer to \"at@d\""
t0=$(date +%s)
beenden_run 6 silent
expect_in "$work/log6.txt" "Ein KELVORA-Modem wurde an COM1 gefunden."
echo "   passed in $(( $(date +%s) - t0 )) s"

if [ "$carried" = testimage ]; then
  echo "== end to end: the test image, COM1 not declared simulated: the port is refused, no \"at@d\""
  t0=$(date +%s)
  start_sim "$work/sim5.log"
  (
    unset MODEM_UPDATE_SIMULATED_LINE
    run_window "$work/log5.txt" 2 "$exe" --timeout 120
  )
  stop_modem
  expect_in "$work/log5.txt" "COM1 ist eine echte serielle Schnittstelle. Ein Programm mit Test-Abbild sendet nicht"
  expect_not_in "$work/log5.txt" "Um Update zu starten"
  expect_not_in "$work/sim5.log" "at@d"
  echo "   passed in $(( $(date +%s) - t0 )) s"
else
  echo "== end to end: the program carries real firmware, so no run refuses a port for the test image"
fi

echo "== end to end: Windows 2000 and later, the NT modem class names COM1, no probe"
t0=$(date +%s)
wine reg delete 'HKLM\System\CurrentControlSet\Services\Class\Modem' /f >/dev/null
nt_key='HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E96D-E325-11CE-BFC1-08002BE10318}\0000'
wine reg add "$nt_key" /v Model /t REG_SZ /d "Kelvora 56000 USB" /f >/dev/null
wine reg add "$nt_key" /v AttachedTo /t REG_SZ /d COM1 /f >/dev/null
beenden_run 3
expect_in "$work/log3.txt" "Ein KELVORA-Modem wurde an COM1 gefunden."
expect_not_in "$work/sim3.log" "ati4"
echo "   passed in $(( $(date +%s) - t0 )) s"

echo "== end to end: the modem on COM7, named in SERIALCOMM, probed after COM1 to COM4"
t0=$(date +%s)
wine reg delete "$nt_key" /f >/dev/null
rm -f "$WINEPREFIX/dosdevices/com1"
ln -s "$work/com1" "$WINEPREFIX/dosdevices/com7"
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\MfuSerial6' /t REG_SZ /d COM7 /f >/dev/null
beenden_run 4
expect_in "$work/log4.txt" "Ein KELVORA-Modem wurde an COM7 gefunden."
expect_in "$work/sim4.log" "ati4"
echo "   passed in $(( $(date +%s) - t0 )) s"

if [ "$screenshot" = 1 ]; then
  convert "$work/window.bmp" "$root/docs/window-wine.png"
  echo "== screenshot: docs/window-wine.png"
fi
echo "== Windows stage: $stage"
echo "== Windows build: all passed"
