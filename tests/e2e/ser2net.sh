#!/usr/bin/env bash
# End to end through a real terminal server: modem-sim on a pseudo-terminal,
# ser2net serving it as telnet(rfc2217) and as raw tcp, the tests' program
# (times 20 times faster) naming the network port.
#   ser2net.sh MODEM_UPDATE_TEST MODEM_SIM FIRMWARE MODE
# MODE: rfc2217 (rz of lrzsz as the receiver: the file it got must equal the
#       image), tcp (the simulated loader, which answers "erfolgreich" only
#       for a byte-identical image), znak (ZNAK for block 3, over rfc2217),
#       kill (ser2net SIGKILLed in the data phase: exit 1 within 70 s of the
#       kill, no hang).
set -u
update=$1 sim=$2 firmware=$3 mode=$4
command -v ser2net >/dev/null || { echo "ser2net not installed: skipped"; exit 77; }
command -v python3 >/dev/null || { echo "python3 not installed: skipped"; exit 77; }
work=$(mktemp -d /tmp/mfu-ser2net.XXXXXX)
export XDG_STATE_HOME=$work/state  # the runs' journals stay in the row's folder
sim_pid= server_pid=
trap '[ -n "$server_pid" ] && kill $server_pid 2>/dev/null; [ -n "$sim_pid" ] && kill $sim_pid 2>/dev/null; wait; rm -rf "$work"' EXIT
fail() { echo "FAIL ($mode): $*"; echo "--- tool output"; cat "$work/out" 2>/dev/null; echo "--- simulator log (tail)"; tail -20 "$work/sim.log"; echo "--- ser2net"; tail -20 "$work/ser2net.log"; exit 1; }

sim_args=(--fast --once --link "$work/pty" --log "$work/sim.log" --final-ms 200)
case $mode in
  rfc2217) command -v rz >/dev/null || { echo "rz not installed: skipped"; exit 77; }
           mkdir -p "$work/rz"; sim_args+=(--rz --rz-dir "$work/rz") ;;
  znak) sim_args+=(--fault zdata:znak:3) ;;
esac
"$sim" "${sim_args[@]}" > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/pty" ] && break; sleep 0.05; done
[ -e "$work/pty" ] || fail "modem-sim did not come up"
pty=$(readlink -f "$work/pty")

# Two free ports: bound to port 0 and let go; should another program take
# one in between, ser2net does not come up and the next pair is tried.
for attempt in 1 2 3 4 5; do
  read -r telnet_port tcp_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
  # A whole answer goes as one TCP segment: the tests' program ends a read
  # 12.5 ms after its last byte, and ser2net's own small buffers and waits
  # would split an answer across that gap.
  cat > "$work/ser2net.yaml" <<YAML
connection: &telnet
  accepter: telnet(rfc2217),tcp,127.0.0.1,$telnet_port
  connector: serialdev,$pty,57600n81,local
  options:
    chardelay: false
    dev-to-net-bufsize: 4096
    net-to-dev-bufsize: 4096
connection: &raw
  accepter: tcp,127.0.0.1,$tcp_port
  connector: serialdev,$pty,57600n81,local
  options:
    chardelay: false
    dev-to-net-bufsize: 4096
    net-to-dev-bufsize: 4096
YAML
  ser2net -n -d -c "$work/ser2net.yaml" > "$work/ser2net.log" 2>&1 &
  server_pid=$!
  up=0
  for _ in $(seq 100); do
    kill -0 $server_pid 2>/dev/null || break
    if python3 -c "import socket,sys; [socket.create_connection(('127.0.0.1', p), 1).close() for p in sys.argv[1:]]" \
         $telnet_port $tcp_port 2>/dev/null; then up=1; break; fi
    sleep 0.05
  done
  [ $up = 1 ] && break
  kill $server_pid 2>/dev/null; wait $server_pid 2>/dev/null; server_pid=
done
[ -n "$server_pid" ] || fail "ser2net did not come up"

port=rfc2217://127.0.0.1:$telnet_port
[ "$mode" = tcp ] && port=tcp://127.0.0.1:$tcp_port
export MODEM_UPDATE_SIMULATED_LINE=1
if [ "$mode" = kill ]; then
  # timeout: a hanging program fails the row instead of the whole run.
  timeout -s KILL 120 "$update" --console --yes --port "$port" --save-log "$work/update.hlg" > "$work/out" 2>&1 < /dev/null &
  update_pid=$!
  for _ in $(seq 600); do grep -q "ZDATA" "$work/sim.log" 2>/dev/null && break; sleep 0.05; done
  grep -q "ZDATA" "$work/sim.log" || fail "the data phase never began"
  killed=$(date +%s%N)
  kill -KILL $server_pid
  wait $server_pid 2>/dev/null; server_pid=
  wait $update_pid
  status=$?
  stop_ms=$(( ($(date +%s%N) - killed) / 1000000 ))
  echo "kill: exit $status, $stop_ms ms after ser2net was killed"
  [ "$status" -eq 1 ] || fail "exit status $status"
  [ "$stop_ms" -lt 70000 ] || fail "the end took $stop_ms ms"
  grep -q "Update ist fehlgeschlagen." "$work/out" || fail "no failure report"
  grep -q "Update ist erfolgreich" "$work/out" && fail "a broken line was reported as success"
  echo "PASS ($mode)"
  exit 0
fi

start=$(date +%s%N)
timeout -s KILL 120 "$update" --console --yes --port "$port" --save-log "$work/update.hlg" > "$work/out" 2>&1 < /dev/null
status=$?
echo "the program ran $(( ($(date +%s%N) - start) / 1000000 )) ms"
echo "$mode: exit $status"
grep -q "Ein KELVORA-Modem wurde an $port gefunden." "$work/out" || fail "modem not reported"
case $mode in
  rfc2217|tcp)
    [ "$status" -eq 0 ] || fail "exit status $status"
    grep -q "Update ist erfolgreich abgeschlossen!" "$work/out" || fail "no success report"
    wait $sim_pid; sim_status=$?; sim_pid=
    [ "$sim_status" -eq 0 ] || fail "modem-sim judged the session bad ($sim_status)"
    if [ "$mode" = rfc2217 ]; then
      cmp "$work/rz/bc2780ix.bin" "$firmware" || fail "the file rz received differs from the image"
    fi ;;
  znak)
    [ "$status" -eq 1 ] || fail "exit status $status"
    grep -q "Update ist fehlgeschlagen." "$work/out" || fail "no failure report"
    grep -q "ZABORT received" "$work/sim.log" || fail "no ZABORT after the ZNAK" ;;
esac
echo "PASS ($mode)"
