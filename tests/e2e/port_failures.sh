#!/usr/bin/env bash
# End to end: modem-update --console --port on ports that cannot carry an
# update, each on a pseudo-terminal of modem-sim or a plain path: every one
# prints its reason after the failure text and exits 2; a port that another
# program holds open without a lock is named before the update can start.
# Also --list-ports (exit 0, one line at least).
#   port_failures.sh MODEM_UPDATE MODEM_SIM
set -u
update=$1 sim=$2
work=$(mktemp -d /tmp/mfu-ports.XXXXXX)
# Each run's journal goes to the run's own folder, never to $HOME.
export XDG_STATE_HOME=$work/state
holder_pid=""
trap 'kill $sim_pid $holder_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
failed=0

"$sim" --fast --link "$work/tty" --log "$work/sim.log" > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/tty" ] && break; sleep 0.05; done
[ -e "$work/tty" ] || { echo "modem-sim did not come up"; exit 1; }
pty=$(readlink "$work/tty")

# check NAME EXPECTED-STATUS TEXT [COMMAND PREFIX...]: runs the update on $port.
check() {
  local name=$1 want=$2 text=$3
  shift 3
  "$@" "$update" --console --port "$port" < "$work/answer" > "$work/out.$name" 2>&1
  local status=$?
  if [ "$status" -ne "$want" ] || ! iconv -f WINDOWS-1252 -t UTF-8 "$work/out.$name" | grep -qF -- "$text"; then
    echo "FAIL ($name): exit $status (want $want), expected: $text"
    cat "$work/out.$name"
    failed=1
  else
    echo "ok ($name): exit $status"
  fi
}
echo n > "$work/answer"

port=$work/missing
check missing 2 "Die Schnittstelle $port gibt es nicht."
port=$work/regular
echo text > "$port"
check regular-file 2 "$port ist keine serielle Schnittstelle."

# Locked by another process: it is named, with its PID.
port=$work/tty
(exec 3<>"$pty"; flock -n 3 && exec sleep 60) &
holder_pid=$!
for _ in $(seq 50); do [ "$(cat /proc/$holder_pid/comm 2>/dev/null)" = sleep ] && break; sleep 0.05; done
check locked 2 "$port wird von einem anderen Programm benutzt (sleep, PID $holder_pid)."
kill $holder_pid; wait $holder_pid 2>/dev/null

# Held open without a lock: the update may go on, with a warning first.
sleep 60 3<>"$pty" &
holder_pid=$!
for _ in $(seq 50); do [ "$(cat /proc/$holder_pid/comm 2>/dev/null)" = sleep ] && break; sleep 0.05; done
check shared 3 "Achtung: $port ist auch von sleep (PID $holder_pid) ge"
grep -n "Achtung\|Um Update zu starten" "$work/out.shared" | head -1 | grep -q Achtung || { echo "FAIL: warning not first"; failed=1; }
kill $holder_pid; wait $holder_pid 2>/dev/null
holder_pid=""

# No permission: mode 000, tried as an unprivileged user.
chmod 000 "$pty"
if [ "$(id -u)" -eq 0 ]; then
  check no-permission 2 "Keine Berechtigung f" setpriv --reuid=nobody --regid=nogroup --clear-groups
else
  check no-permission 2 "Keine Berechtigung f"
fi
chmod 620 "$pty"

"$update" --list-ports > "$work/list" || { echo "FAIL: --list-ports exit $?"; failed=1; }
[ "$(wc -l < "$work/list")" -ge 1 ] || { echo "FAIL: --list-ports printed nothing"; failed=1; }
exit $failed
