#!/usr/bin/env bash
# Screenshots of the real update window: modem-update on a private Xvfb server
# against modem-sim on a pseudo-terminal, captured from the X server with
# ImageMagick's import (what a user would see, not a rendering of its own).
#   capture-window.sh connecting  OUT.png   the connection procedure waiting for
#                                           the modem's answer to "a" (it never
#                                           comes: the procedure waits 50 s)
#   capture-window.sh success     OUT.png   after a whole update (about 3 min:
#                                           modem-sim --fast still has the 250 ms
#                                           gap after each of the 728 blocks)
#   capture-window.sh file-dialog OUT.png   the "Log Speichern" file dialog
#   capture-window.sh file-question OUT.png its question for a new file
# The program runs in a German desktop's locale (LANG=de_DE.UTF-8), which
# decides the file dialog's date format; its texts are German in any locale.
# Binaries: MODEM_UPDATE and MODEM_SIM, default build/default.
set -u
mode=${1:?mode} out=${2:?output}
update=${MODEM_UPDATE:-build/default/app/modem-update}
sim=${MODEM_SIM:-build/default/tools/modem_sim/modem-sim}
for tool in Xvfb xdotool import; do
  command -v $tool >/dev/null || { echo "$tool not installed" >&2; exit 1; }
done
out=$(realpath -m "$out") update=$(realpath "$update") sim=$(realpath "$sim")
work=$(mktemp -d /tmp/mfu-capture.XXXXXX)
port=/tmp/ttyMFU$$  # shown in the log: short
xvfb_pid= sim_pid= update_pid=
cleanup() {
  for pid in $update_pid $sim_pid $xvfb_pid; do kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work" "$port"
}
trap cleanup EXIT
fail() { echo "capture-window: $*" >&2; exit 1; }
wait_for() {  # wait_for TENTHS COMMAND...
  local tenths=$1; shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  return 1
}
click() {  # click WINDOW X Y, in dialog units of the 200 x 280 dialog
  local w h
  read -r w h < <(xdotool getwindowgeometry --shell "$1" | awk -F= '/WIDTH|HEIGHT/ {printf "%s ", $2}')
  xdotool mousemove --window "$1" $(( w * $2 / 200 )) $(( h * $3 / 280 )) click 1
}

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3> "$work/display" 2> "$work/xvfb.log" &
xvfb_pid=$!
wait_for 100 test -s "$work/display" || fail "Xvfb did not come up"
export DISPLAY=:$(head -1 "$work/display") QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config LANG=de_DE.UTF-8
unset LC_ALL

sim_args=(--fast --once)
[ "$mode" = connecting ] && sim_args+=(--fault a:silence)
"$sim" "${sim_args[@]}" --link "$port" --log "$work/sim.log" > /dev/null 2>&1 &
sim_pid=$!
wait_for 100 test -e "$port" || fail "modem-sim did not come up"

# The file dialog opens in the program's folder: one with a log in it.
mkdir -p "$work/Protokolle" && : > "$work/Protokolle/modem-update.hlg"
(cd "$work/Protokolle" && exec "$update" --port "$port") > "$work/out" 2>&1 &
update_pid=$!
window=$(timeout 20 xdotool search --sync --name '^Modem Flash Update$' | head -1)
[ -n "$window" ] || fail "no update window"
shot=$window

case $mode in
  connecting)
    # The procedure has sent "a" and waits for the answer that never comes.
    wait_for 200 grep -q 'no answer to a' "$work/sim.log" || fail "the procedure did not reach \"a\""
    sleep 2
    ;;
  success)
    # "Update Starten" (28+30, 232+7) until the start question appears, Yes.
    question=
    for _ in $(seq 120); do
      click "$window" 58 239
      question=$(xdotool search --onlyvisible --name '^modem-update$' 2>/dev/null | head -1)
      [ -n "$question" ] && break
      sleep 0.25
    done
    [ -n "$question" ] || fail "the start question did not appear"
    xdotool windowfocus --sync "$question" key Return
    # modem-sim --once ends after the final answer.
    wait_for 3000 eval '! kill -0 $sim_pid 2>/dev/null' || fail "the update did not end"
    sim_pid=
    sleep 3
    ;;
  file-dialog | file-question)
    # "Log Speichern" (70+30, 172+7); the click waits for the procedure.
    click "$window" 100 179
    shot=$(timeout 20 xdotool search --sync --name '^Speichern Update-Log unter' | head -1)
    [ -n "$shot" ] || fail "no file dialog"
    sleep 1
    if [ "$mode" = file-question ]; then
      xdotool windowfocus --sync "$shot" key ctrl+a type "neu.hlg"
      xdotool key Return
      shot=$(timeout 20 xdotool search --sync --onlyvisible --name '^modem-update$' | head -1)
      [ -n "$shot" ] || fail "no question"
      sleep 1
    fi
    ;;
  *) fail "unknown mode $mode" ;;
esac
import -window "$shot" "$out" || fail "import failed"
echo "wrote $out"
