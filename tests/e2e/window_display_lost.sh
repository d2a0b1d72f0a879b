#!/usr/bin/env bash
# End to end: the window front-end loses its display in the data phase. The
# real modem-update binary runs on a private Xvfb server against modem-sim on a
# pseudo-terminal; the update is started in the window, and once ZDATA frames
# flow the X server is killed. The program must end within 5 s with a non-zero
# status, having closed the port with its settings restored and its exclusive
# flag cleared (modem-sim keeps its own end of the terminal open, so the
# terminal still shows what the program left behind).
# With WAY sigterm the program is sent SIGTERM instead: a cancel, as the close
# box with its question answered Yes (ZABORT to the modem, exit status 1).
# With WAY connecting the modem is silent (a pseudo-terminal that only listens)
# and "Beenden" is clicked while the connection procedure waits for its answer
# to "at@d": the program must end within 1 s, measured from before the click,
# with exit status 3 (no update started), having sent "c" and nothing more.
# With WAY searching "Beenden" is clicked while the named port is still asked
# for the identifier ("ati4", 3 s): the same end, and nothing after "ati4".
#   window_display_lost.sh MODEM_UPDATE MODEM_SIM [display|sigterm|connecting|searching]
set -u
update=$1 sim=$2 way=${3:-display}
for tool in Xvfb xdotool stty python3; do
  command -v $tool >/dev/null || { echo "$tool not installed: skipped"; exit 77; }
done
work=$(mktemp -d /tmp/mfu-e2e-x11.XXXXXX)
# Each run's journal goes to the run's own folder, never to $HOME.
export XDG_STATE_HOME=$work/state
xvfb_pid= sim_pid= update_pid=
cleanup() {
  for pid in $update_pid $sim_pid $xvfb_pid; do kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- tool output"; cat "$work/out" 2>/dev/null
  echo "--- simulator log (tail)"; tail -5 "$work/sim.log" 2>/dev/null | cut -c1-160
  exit 1
}
wait_for() {  # wait_for TENTHS COMMAND...: true once COMMAND succeeds
  local tenths=$1; shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  return 1
}

# Xvfb picks a free display number itself and reports it.
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3> "$work/display" 2> "$work/xvfb.log" &
xvfb_pid=$!
wait_for 100 test -s "$work/display" || fail "Xvfb did not come up: $(cat "$work/xvfb.log")"
export DISPLAY=:$(head -1 "$work/display")
export QT_QPA_PLATFORM=xcb

# The program on $port, its window found and measured; $before keeps the
# terminal's settings to compare with what the program leaves behind.
start_window() {
  before=$(stty -F "$port" -g) || fail "cannot read the terminal's settings"
  "$update" --port "$port" > "$work/out" 2>&1 &
  update_pid=$!
  window=$(timeout 20 xdotool search --sync --name '^Modem Flash Update$' | head -1)
  [ -n "$window" ] || fail "no update window"
  read -r width height < <(xdotool getwindowgeometry --shell "$window" | awk -F= '/WIDTH|HEIGHT/ {printf "%s ", $2}')
}
# x and y of a point given in dialog units of the 200 x 280 dialog.
dialog_point() { x=$(( width * $1 / 200 )) y=$(( height * $2 / 280 )); }

if [ "$way" = connecting ] || [ "$way" = searching ]; then
  # The silent modem: holds the terminal's other end and keeps what it hears.
  python3 - "$work/tty.name" "$work/heard" <<'PY' &
import os, pty, select, sys
master, slave = pty.openpty()
with open(sys.argv[1] + ".new", "w") as f:
    f.write(os.ttyname(slave) + "\n")
os.rename(sys.argv[1] + ".new", sys.argv[1])
heard = open(sys.argv[2], "ab", buffering=0)
while True:
    if select.select([master], [], [], 1.0)[0]:
        heard.write(os.read(master, 4096))
PY
  sim_pid=$!
  wait_for 100 test -s "$work/tty.name" || fail "no pseudo-terminal"
  port=$(cat "$work/tty.name")
  : > "$work/heard"
  start_window
  # "Beenden"'s centre in dialog units (75+30, 258+7) of the 200 x 280 dialog.
  dialog_point 105 265
  if [ "$way" = searching ]; then
    # The named port is being asked for the identifier: 3 s of silence follow.
    wait_for 200 grep -q 'ati4' "$work/heard" || fail "the identifier was not asked for"
    expected='ati4\r\n'
  else
    # The named port was asked for the identifier (3 s of silence), then "at@d"
    # went out: the procedure now waits up to 50 s for the answer.
    wait_for 200 grep -q 'at@d' "$work/heard" || fail "the download-mode command was not sent"
    expected='ati4\r\nat@d\r\nc'
  fi
  clicked=$(date +%s%N)
  xdotool mousemove --window "$window" $x $y click 1
  wait_for 100 eval '! kill -0 $update_pid 2>/dev/null'
  ended=$(( ($(date +%s%N) - clicked) / 1000000 ))
  kill -0 "$update_pid" 2>/dev/null && fail "still running $ended ms after the click on Beenden"
  wait "$update_pid"
  status=$?
  update_pid=
  echo "$way: exit $status after $ended ms"
  [ "$status" -eq 3 ] || fail "exit status $status after Beenden during the connection, not 3"
  [ "$ended" -lt 1000 ] || fail "ended only $ended ms after the click"
  heard_all() { [ "$(cat "$work/heard")" = "$(printf "$expected")" ]; }
  wait_for 20 heard_all || fail "the modem heard $(od -c "$work/heard" | head -2)"
else
port=$work/tty
"$sim" --fast --link "$port" --log "$work/sim.log" > "$work/sim.out" 2>&1 &
sim_pid=$!
wait_for 100 test -e "$port" || fail "modem-sim did not come up"
start_window

# "Update Starten" is enabled once the connection procedure has left the modem
# in download mode; a click on it before then does nothing, so click until the
# start question (captioned with the program's name) appears, then answer Yes,
# its default button.
# The button's centre in dialog units (28+30, 232+7) of the 200 x 280 dialog.
dialog_point 58 239
question=
for _ in $(seq 60); do
  xdotool mousemove --window "$window" $x $y click 1
  question=$(xdotool search --onlyvisible --name '^modem-update$' 2>/dev/null | head -1)
  [ -n "$question" ] && break
  sleep 0.25
done
[ -n "$question" ] || fail "the start question did not appear"
xdotool windowfocus --sync "$question" key Return
wait_for 200 grep -q "ZDATA (binary) pos 2048" "$work/sim.log" || fail "the transfer did not get under way"
during=$(stty -F "$port" -g)
[ "$during" != "$before" ] || fail "the program's line settings are not visible on the terminal"

if [ "$way" = sigterm ]; then
  kill -TERM "$update_pid"
  killed=$(date +%s%N)
else
  kill "$xvfb_pid"
  killed=$(date +%s%N)
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=
fi
wait_for 100 eval '! kill -0 $update_pid 2>/dev/null'
ended=$(( ($(date +%s%N) - killed) / 1000000 ))
kill -0 "$update_pid" 2>/dev/null && fail "still running $ended ms after the display went away"
wait "$update_pid"
status=$?
update_pid=
echo "$way: exit $status after $ended ms"

[ "$status" -ne 0 ] || fail "exit status 0"
if [ "$way" = sigterm ]; then
  [ "$status" -eq 1 ] || fail "exit status $status after SIGTERM, not 1"
  grep -q "ZABORT received" "$work/sim.log" || fail "the modem was not told of the cancel"
fi
[ "$ended" -lt 5000 ] || fail "ended only after $ended ms"
fi
pts=$(readlink -f "$port")
# The connecting row starts nothing that could outlive the program, so the
# (slow, machine-wide) search for holders is left to the others.
[ "$way" = connecting ] || for fd in /proc/[0-9]*/fd/*; do
  [ "$(readlink "$fd" 2>/dev/null)" = "$pts" ] || continue
  holder=$(echo "$fd" | cut -d/ -f3)
  [ "$holder" = "$sim_pid" ] || fail "process $holder still holds $pts"
done
[ "$(stty -F "$port" -g)" = "$before" ] || fail "the line settings were not restored"
python3 - "$pts" <<'PY' || fail "the terminal is still exclusive"
import fcntl, os, struct, sys
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
TIOCGEXCL = 0x80045440
sys.exit(struct.unpack("i", fcntl.ioctl(fd, TIOCGEXCL, b"\0\0\0\0"))[0])
PY
echo "PASS ($way)"
