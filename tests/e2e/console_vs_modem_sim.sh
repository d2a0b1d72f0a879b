#!/usr/bin/env bash
# End to end: the real modem-update binary, console front-end, against the
# modem-sim program on a pseudo-terminal.
#   console_vs_modem_sim.sh MODEM_UPDATE MODEM_SIM FIRMWARE MODE
# MODE: success (the simulated loader), rz (the real lrzsz rz as receiver),
#       znak (a ZNAK for block 30), silent-b (no answer to "b"), declined (No),
#       silent-a (--yes, but no answer to the download-mode command "a"),
#       and the ways of stopping: interrupt (Ctrl-C in the data phase,
#       confirmed), sigterm (no terminal: cancels without asking), hangup
#       (stdout closed at once, SIGHUP in the data phase: the update goes on
#       to its end), interrupt-start (Ctrl-C at the start question: as No),
#       interrupt-connect (Ctrl-C while the modem leaves "a" unanswered: the
#       connection procedure is cut short), final-sigterm-MS (SIGTERM MS ms
#       after "OO", the loader answering at 300 ms: the log, the log file and
#       the exit status tell one outcome), standin-search (no --port: the
#       stand-in build opens no /dev/ttyS*, strace watching; the simulated
#       modem is not searched for);
#       parallel (the tests' build: one run alone, timed, then --port three
#       times against three more modem-sims, the middle one refusing block
#       3: exit 1, a table line per port, the good two byte-exact, all three
#       in at most 1.5 times the single run's time; then SIGTERM cancels two
#       at once); and the line that says why an update
#       failed: cause-zrqinit (no answer to ZRQINIT), cause-line (the modem
#       hangs up in the data), cause-negative (the loader answers "NICHT
#       erfolgreich"), each against the tests' faster program.
# The success run's final answer carries escape sequences, which must not
# reach the terminal.
set -u
update=$1 sim=$2 firmware=$3 mode=$4
work=$(mktemp -d /tmp/mfu-e2e.XXXXXX)
# Each run's journal goes to the run's own folder, never to $HOME.
export XDG_STATE_HOME=$work/state
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
# The port as users are told to name it: a /dev/serial/by-id style link,
# longer than any COM name.
mkdir -p "$work/serial/by-id"
port=$work/serial/by-id/usb-KELVORA_56000_USB_Modem_0001-if00-port0

# The loader's final answer follows "OO" after this pause.
final_ms=200
case $mode in final-sigterm-*) final_ms=300 ;; esac
sim_args=(--fast --once --link "$port" --log "$work/sim.log" --final-ms $final_ms)
case $mode in
  rz) command -v rz >/dev/null || { echo "rz not installed: skipped"; exit 77; }
      sim_args+=(--rz --rz-dir "$work/rz") ; mkdir -p "$work/rz" ;;
  znak) sim_args+=(--fault zdata:znak:30) ;;
  silent-b) sim_args+=(--fault b:silence) ;;
  silent-a|interrupt-connect) sim_args+=(--fault a:silence) ;;
  success) sim_args+=(--fault final:escape) ;;
  standin-search) command -v strace >/dev/null || { echo "strace not installed: skipped"; exit 77; } ;;
  # Several modems at once: 1 ms of flash per block makes each run last a few
  # seconds, so that the start-up of a process is no sizeable part of it.
  parallel) sim_args+=(--flash-ms 1) ;;
  # The line that says why an update failed.
  cause-zrqinit) sim_args+=(--fault zrqinit:silence) ;;
  cause-line) sim_args+=(--fault zdata:hangup:5) ;;
  cause-negative) sim_args+=(--fault final:negative) ;;
esac
"$sim" "${sim_args[@]}" > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$port" ] && break; sleep 0.05; done
[ -e "$port" ] || { echo "modem-sim did not come up"; cat "$work/sim.log"; exit 1; }

fail() { echo "FAIL ($mode): $*"; echo "--- tool output"; cat "$work/out"; echo "--- simulator log (tail)"; tail -30 "$work/sim.log"; exit 1; }

start=$(date +%s)
if [ "$mode" = parallel ]; then
  # One run alone first, timed from before its start, against the first
  # modem-sim; then three modems at once, the middle one refusing block 3.
  t0=${EPOCHREALTIME/./}
  "$update" --console --yes --port "$port" > "$work/single" 2>&1 < /dev/null
  single_status=$?
  single_us=$(( ${EPOCHREALTIME/./} - t0 ))
  [ "$single_status" -eq 0 ] || { cp "$work/single" "$work/out"; fail "the single run: exit $single_status"; }
  ports=() sims=()
  for n in 1 2 3; do
    p_args=(--fast --flash-ms 1 --once --link "$work/serial/by-id/modem-$n" --log "$work/sim-$n.log"
            --final-ms $final_ms)
    [ $n = 2 ] && p_args+=(--fault zdata:znak:3)
    "$sim" "${p_args[@]}" > "$work/sim-$n.out" &
    sims+=($!) ports+=("$work/serial/by-id/modem-$n")
  done
  for p in "${ports[@]}"; do
    for _ in $(seq 100); do [ -e "$p" ] && break; sleep 0.05; done
    [ -e "$p" ] || fail "modem-sim for $p did not come up"
  done
  t0=${EPOCHREALTIME/./}
  "$update" --console --yes --port "${ports[0]}" --port "${ports[1]}" -p "${ports[2]}" \
    --save-log "$work/update.hlg" > "$work/out" 2> "$work/err" < /dev/null
  status=$?
  parallel_us=$(( ${EPOCHREALTIME/./} - t0 ))
  echo "single run $((single_us / 1000)) ms, three at once $((parallel_us / 1000)) ms"
  cat "$work/err" >> "$work/out"
  [ "$status" -eq 1 ] || fail "exit status $status"
  [ $(( parallel_us * 2 )) -le $(( single_us * 3 )) ] || fail "three at once took more than 1.5 times one run"
  # No run outlives the parent.
  pgrep -f -- "--port $work/" >/dev/null && fail "a run of a port is still alive"
  for n in 1 2 3; do
    p=${ports[$((n - 1))]} log=$work/update-modem-$n.hlg
    # The run's own log, under its port's name, and its own log file.
    grep -q "^modem-$n: Ein KELVORA-Modem wurde an $p gefunden.\$" "$work/out" || fail "no log of $p"
    [ -s "$log" ] || fail "no log file $log"
    cause=$(grep -m1 "^modem-$n: Ursache:" "$work/out" | sed "s/^modem-$n: //")
    if [ $n = 2 ]; then outcome=fehlgeschlagen verdict="Update ist fehlgeschlagen."; else
      outcome=erfolgreich verdict="Update ist erfolgreich abgeschlossen!"; fi
    grep -q "$verdict" "$log" || fail "$log does not tell \"$verdict\""
    [ "$(grep -c "^$p " "$work/out")" -eq 1 ] || fail "not one table line for $p"
    # The refused block's run says why; the cause stands in the table as the run logged it.
    [ $n = 2 ] && [ -z "$cause" ] && fail "the run of $p logged no cause"
    line=$(grep "^$p " "$work/out")
    [[ "$line" =~ ^"$p"\ +$outcome\ +(.*)$ ]] && [ "${BASH_REMATCH[1]}" = "${cause:--}" ] ||
      fail "table line of $p: $line"
    [ $n = 2 ] && continue
    # The good two: each modem judged its image byte-identical, and their
    # progress came as plain lines.
    wait "${sims[$((n - 1))]}" || fail "modem-sim $n judged the session bad"
    grep -Eq "^modem-$n: +100 %  364/364 KiB" "$work/err" || fail "no progress of $p"
  done
  grep -Eq "^modem-2: +[1-9]0 %" "$work/err" && fail "progress of the refused transfer"
  grep -q "Update ist fehlgeschlagen." "$work/update-modem-1.hlg" && fail "a fault of one port reached another's log"
  # SIGTERM without a terminal cancels all without asking: each modem is in
  # its data phase (20 ms per block keeps it there) and gets ZABORT.
  ports=() sims=()
  for n in 4 5; do
    "$sim" --fast --flash-ms 20 --once --link "$work/serial/by-id/modem-$n" --log "$work/sim-$n.log" > /dev/null &
    sims+=($!) ports+=("$work/serial/by-id/modem-$n")
  done
  for p in "${ports[@]}"; do for _ in $(seq 100); do [ -e "$p" ] && break; sleep 0.05; done; done
  "$update" --console --yes -p "${ports[0]}" -p "${ports[1]}" > "$work/out" 2>&1 < /dev/null &
  update_pid=$!
  for _ in $(seq 600); do
    grep -q ZDATA "$work/sim-4.log" 2>/dev/null && grep -q ZDATA "$work/sim-5.log" 2>/dev/null && break; sleep 0.05
  done
  asked=${EPOCHREALTIME/./}
  kill -TERM $update_pid
  wait $update_pid
  status=$?
  stop_ms=$(( (${EPOCHREALTIME/./} - asked) / 1000 ))
  [ "$status" -eq 1 ] || fail "exit status $status after SIGTERM"
  grep -q "abbrechen ?" "$work/out" && fail "a question nobody can answer"
  pgrep -f -- "--port $work/" >/dev/null && fail "a run of a port outlived the cancel"
  for n in 4 5; do
    grep -Eq "^$work/serial/by-id/modem-$n +abgebrochen +-\$" "$work/out" || fail "modem-$n not cancelled"
    wait "${sims[$((n - 4))]}"
    grep -q "ZABORT received" "$work/sim-$n.log" || fail "no ZABORT seen by modem-$n"
  done
  [ "$stop_ms" -lt 5000 ] || fail "the cancel took $stop_ms ms"
  echo "PASS ($mode)"
  exit 0
elif [ "$mode" = declined ]; then
  # stdout to a file, as `> file` does: the question must stay on stderr.
  echo n | "$update" --console --port "$port" --save-log "$work/update.hlg" > "$work/out" 2> "$work/err"
  status=$?
  grep -q "(j/n)" "$work/err" || fail "the question is not on stderr"
  grep -q "(j/n)" "$work/out" && fail "the question went to stdout"
  cat "$work/err" >> "$work/out"
elif [ "$mode" = interrupt ]; then
  # Ctrl-C in the data phase asks first; the answer "j" cancels the update.
  mkfifo "$work/in"
  "$update" --console --yes --port "$port" --save-log "$work/update.hlg" > "$work/out" 2>&1 < "$work/in" &
  update_pid=$!
  exec 3> "$work/in"
  for _ in $(seq 600); do grep -q "Neue Firmware wird" "$work/out" 2>/dev/null && break; sleep 0.05; done
  sleep 0.5
  kill -INT $update_pid
  for _ in $(seq 100); do grep -q "abbrechen ?" "$work/out" && break; sleep 0.05; done
  asked=$(date +%s%N)
  echo j >&3
  wait $update_pid
  status=$?
  exec 3>&-
  stop_ms=$(( ($(date +%s%N) - asked) / 1000000 ))
elif [ "$mode" = sigterm ] || [ "$mode" = hangup ]; then
  # A signal in the data phase; stdin is no terminal. hangup: besides, the
  # reader of stdout goes away at once (a pipe into a program that ended).
  signal=TERM; [ "$mode" = hangup ] && signal=HUP
  if [ "$mode" = hangup ]; then
    mkfifo "$work/pipe"
    ( exec 0< "$work/pipe"; exit 0 ) &    # opens the read end and closes it at once
    "$update" --console --yes --port "$port" --save-log "$work/update.hlg" > "$work/pipe" 2> "$work/out" < /dev/null &
  else
    "$update" --console --yes --port "$port" --save-log "$work/update.hlg" > "$work/out" 2>&1 < /dev/null &
  fi
  update_pid=$!
  for _ in $(seq 600); do grep -q "ZDATA" "$work/sim.log" 2>/dev/null && break; sleep 0.05; done
  sleep 0.5
  asked=$(date +%s%N)
  kill -$signal $update_pid
  wait $update_pid
  status=$?
  stop_ms=$(( ($(date +%s%N) - asked) / 1000000 ))
  # Nothing of the log reached the closed stdout: the log block stands in.
  [ "$mode" = hangup ] && { cp "$work/out" "$work/own"; cat "$work/update.hlg" >> "$work/out"; }
elif [[ $mode == final-sigterm-* ]]; then
  # SIGTERM a fixed time after "OO" as the modem received it; the loader
  # answers 300 ms after "OO". The wait forks nothing (a loaded machine would
  # add its start-up times): the simulator's log is read as it grows, the
  # pauses are reads with a time limit on a FIFO nobody writes, the clock is
  # bash's own. The program may have ended by itself when the signal comes.
  delay_us=$(( ${mode##*-} * 1000 ))
  "$update" --console --yes --port "$port" --save-log "$work/update.hlg" > "$work/out" 2>&1 < /dev/null &
  update_pid=$!
  mkfifo "$work/tick"
  exec {tick_fd}<> "$work/tick" {log_fd}< "$work/sim.log"
  nap() { read -r -t "$1" -u $tick_fd _ || :; }
  seen=0
  until [ $seen = 1 ]; do
    while IFS= read -r line <&$log_fd || [ -n "$line" ]; do
      [[ $line == *'"OO" received'* ]] && { seen=1; break; }
      line=
    done
    [ $seen = 1 ] && break
    kill -0 $update_pid 2>/dev/null || fail "ended before \"OO\""
    nap 0.001
  done
  oo=${EPOCHREALTIME/./}
  left=$(( delay_us - (${EPOCHREALTIME/./} - oo) ))
  if [ $left -gt 0 ]; then
    printf -v pause '%d.%06d' $((left / 1000000)) $((left % 1000000))
    nap "$pause"
  fi
  signalled_ms=$(( (${EPOCHREALTIME/./} - oo) / 1000 ))
  kill -TERM $update_pid 2>/dev/null || signalled_ms="none (ended)"
  wait $update_pid
  status=$?
  exec {tick_fd}>&- {log_fd}<&-
  echo "SIGTERM $signalled_ms ms after \"OO\" (aimed at ${mode##*-})"
elif [ "$mode" = standin-search ]; then
  # No --port: the search of a stand-in build. Every serial device node of
  # this machine, and the probe's /dev/ttyS0 to /dev/ttyS3, is watched; an
  # open of one would fail (strace injects ENOENT) and be recorded.
  watched=()
  for node in /dev/ttyS0 /dev/ttyS1 /dev/ttyS2 /dev/ttyS3 /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
    [ -e "$node" ] || [[ $node != *'*'* ]] && watched+=(-P "$node")
  done
  # LeakSanitizer cannot run under ptrace: the sanitizer builds check leaks
  # in the other rows.
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
  strace -f -qq "${watched[@]}" -e trace=open,openat -e inject=open,openat:error=ENOENT -o "$work/strace" \
    "$update" --console --save-log "$work/update.hlg" > "$work/out" 2>&1 < /dev/null
  status=$?
elif [ "$mode" = interrupt-connect ]; then
  "$update" --console --port "$port" --save-log "$work/update.hlg" > "$work/out" 2>&1 < /dev/null &
  update_pid=$!
  # Past the 2 s pause, into the wait for the answer to "a": the modem has
  # received it.
  for _ in $(seq 600); do grep -q 'tool->modem "a"' "$work/sim.log" 2>/dev/null && break; sleep 0.05; done
  grep -q 'tool->modem "a"' "$work/sim.log" || fail "\"a\" never reached the modem"
  asked=$(date +%s%N)
  kill -INT $update_pid
  wait $update_pid
  status=$?
  stop_ms=$(( ($(date +%s%N) - asked) / 1000000 ))
elif [ "$mode" = interrupt-start ]; then
  # The question waits on a terminal that says nothing; Ctrl-C ends it.
  mkfifo "$work/in"
  "$update" --console --port "$port" --save-log "$work/update.hlg" > "$work/out" 2>&1 < "$work/in" &
  update_pid=$!
  exec 3> "$work/in"
  for _ in $(seq 600); do grep -q "(j/n)" "$work/out" 2>/dev/null && break; sleep 0.05; done
  asked=$(date +%s%N)
  kill -INT $update_pid
  wait $update_pid
  status=$?
  exec 3>&-
  stop_ms=$(( ($(date +%s%N) - asked) / 1000000 ))
else
  "$update" --console --yes --port "$port" --save-log "$work/update.hlg" > "$work/out" 2>&1 < /dev/null
  status=$?
fi
echo "$mode: exit $status after $(( $(date +%s) - start )) s"

if [ "$mode" = standin-search ]; then
  [ -s "$work/strace" ] && fail "a serial device node was opened: $(cat "$work/strace")"
  grep -q "Achtung: Dieses Programm enth.lt nur ein Test-Abbild" "$work/out" || fail "not a stand-in build"
  [ "$(grep -c "Echte serielle Schnittstellen wurden nicht durchsucht" "$work/out")" -eq 1 ] ||
    fail "the skipped ports are not told once"
  grep -q "Es wurde kein KELVORA-Modem gefunden." "$work/out" || fail "no word of the failed search"
  [ "$status" -eq 2 ] || fail "exit status $status"
  grep -q "tool->modem" "$work/sim.log" && fail "the simulated modem on a pseudo-terminal was talked to"
  echo "PASS ($mode)"
  exit 0
fi

grep -q "Ein KELVORA-Modem wurde an $port gefunden." "$work/out" || fail "modem not reported"
if [ "$mode" = silent-a ]; then
  grep -q "Das Modem hat im Download-Modus nicht geantwortet. Das Update wird nicht gestartet." "$work/out" ||
    fail "no word of the missing answer"
elif [ "$mode" = interrupt-connect ]; then
  grep -q "Keine Antwort" "$work/out" && fail "a read cut short was reported as a silent modem"
else
  grep -q "Um Update zu starten" "$work/out" || fail "download-mode banner not shown"
fi
# (The log block's own heading "Modem-Update-Log" stands in the hangup run's.)
grep -v "Modem-Update-Log" "$work/out" | grep "Modem-Update" | grep -vq "Modem-Update Tool startet" && fail "banner not cut at Modem-Update"
# Lines end in LF on the terminal; the log file keeps CR CR LF (the hangup
# run's output has that file's block appended: its own output is kept apart).
own=$work/out; [ -e "$work/own" ] && own=$work/own
grep -aq $'\r$' "$own" && fail "a line of the output ends in CR"
[ -s "$work/update.hlg" ] || fail "no log file"
head -c 3 "$work/update.hlg" | od -An -tx1 | grep -q "0d 0d 0a" || fail "log file header"

case $mode in
  success|rz)
    [ "$status" -eq 0 ] || fail "exit status $status"
    if [ "$mode" = success ]; then
      grep -q $'\x1b' "$work/out" && fail "an escape sequence of the modem reached the terminal"
      grep -q "Flash-Programmierung erfolgreich" "$work/out" || fail "the final answer is not shown"
    fi
    grep -q "Update ist erfolgreich abgeschlossen!" "$work/out" || fail "no success report"
    grep -Eq "^364 KiB in [0-9]+:[0-9]{2}, [0-9]+,[0-9] KiB/s$" "$work/out" || fail "no summary line"
    grep -q "  Datum - Tue Oct 13 16:34:34 1998" "$work/out" || fail "no date line"
    wait $sim_pid; sim_status=$?
    [ "$sim_status" -eq 0 ] || fail "modem-sim judged the session bad ($sim_status)"
    if [ "$mode" = rz ]; then
      cmp "$work/rz/bc2780ix.bin" "$firmware" || fail "the file rz received differs from the image"
    fi ;;
  znak)
    grep -q "Update ist fehlgeschlagen." "$work/out" || fail "no failure report"
    grep -q "einschalten,  und dann" "$work/out" || fail "no retry hint"
    [ "$status" -eq 1 ] || fail "exit status $status"
    grep -q "Update ist erfolgreich" "$work/out" && fail "success after ZNAK"
    # Right after the failure, which block and what came instead.
    grep -A1 "Update ist fehlgeschlagen." "$work/out" |
      grep -qx "Ursache: Das Modem hat Block 30 von 728 nicht angenommen (ZNAK)." || fail "no cause line for the ZNAK"
    grep -q "Ursache: Das Modem hat Block 30 von 728 nicht angenommen (ZNAK)." "$work/update.hlg" ||
      fail "the cause is not in the log file" ;;
  silent-b)
    # No answer to "b" is no failure: the flash goes on to its verdict.
    grep -q "Update ist fehlgeschlagen." "$work/out" && fail "a failure reported while the flash went on"
    [ "$status" -eq 0 ] || fail "exit status $status (the session must go on after no answer to b)"
    grep -q "Update ist erfolgreich abgeschlossen!" "$work/out" || fail "no success"
    grep -q "Ursache:" "$work/out" && fail "a cause line without a failure" ;;
  interrupt|sigterm)
    [ "$status" -eq 1 ] || fail "exit status $status"
    if [ "$mode" = interrupt ]; then
      grep -q "Update l.uft bereit, wollen Sie es abbrechen ?" "$work/out" || fail "no question before cancelling"
    else
      grep -q "abbrechen ?" "$work/out" && fail "a question nobody can answer"
    fi
    grep -q "Update ist erfolgreich" "$work/out" && fail "success after cancelling"
    # The user and the modem are told; the log block has it too.
    grep -q "Update wurde unterbrochen!" "$work/out" || fail "no report of the cancel"
    grep -q "einschalten,  und dann dieses Program neu starten." "$work/out" || fail "no retry hint"
    grep -q "Update wurde unterbrochen!" "$work/update.hlg" || fail "the cancel is not in the log file"
    seen=0
    for _ in $(seq 40); do grep -q "ZABORT received" "$work/sim.log" && { seen=1; break; }; sleep 0.05; done
    [ "$seen" = 1 ] || fail "no ZABORT seen by the modem"
    [ "$stop_ms" -lt 5000 ] || fail "the stop took $stop_ms ms" ;;
  final-sigterm-*)
    # One outcome, the same in the output, the log file and the exit status.
    outcomes() { grep -c "Update wurde unterbrochen!\|Update ist erfolgreich abgeschlossen!\|Update ist fehlgeschlagen." "$1"; }
    [ "$(outcomes "$work/out")" -eq 1 ] || fail "$(outcomes "$work/out") outcomes in the output"
    [ "$(outcomes "$work/update.hlg")" -eq 1 ] || fail "$(outcomes "$work/update.hlg") outcomes in the log file"
    if grep -q "Update wurde unterbrochen!" "$work/out"; then
      outcome=cancelled
      [ "$status" -eq 1 ] || fail "exit status $status after \"unterbrochen\""
      grep -q "Update wurde unterbrochen!" "$work/update.hlg" || fail "the log file tells another outcome"
      grep -q "einschalten,  und dann dieses Program neu starten." "$work/out" || fail "no retry hint"
      # An answer after the cancel is neither shown nor judged.
      grep -q "Flash-Programmierung erfolgreich" "$work/out" && fail "the loader's answer shown after the cancel"
    elif grep -q "Update ist erfolgreich abgeschlossen!" "$work/out"; then
      outcome=succeeded
      [ "$status" -eq 0 ] || fail "exit status $status after success"
      grep -q "Update ist erfolgreich abgeschlossen!" "$work/update.hlg" || fail "the log file tells another outcome"
      grep -q "  Datum - Tue Oct 13 16:34:34 1998" "$work/out" || fail "no date line"
      grep -q "einschalten" "$work/out" && fail "the retry hint after a success"
    else
      fail "no outcome but a failure"
    fi
    echo "outcome: $outcome, exit $status" ;;
  hangup)
    [ "$status" -eq 0 ] || fail "exit status $status (the update must go on to its end)"
    grep -q "Update ist erfolgreich abgeschlossen!" "$work/update.hlg" || fail "no success in the log file"
    grep -q "Ursache:" "$work/update.hlg" && fail "a cause line without a failure" ;;
  declined|interrupt-start|silent-a|interrupt-connect)
    if [ "$mode" = silent-a ]; then
      [ "$status" -eq 2 ] || fail "exit status $status"
    else
      [ "$status" -eq 3 ] || fail "exit status $status"
    fi
    case $mode in interrupt-start|interrupt-connect)
      [ "$stop_ms" -lt 2000 ] || fail "Ctrl-C took $stop_ms ms to end the program" ;;
    esac
    grep -q "Update l" "$work/out" && fail "update started after No"
    # The simulator logs the byte when it has read it, which may be a moment
    # after the tool has closed the port.
    seen=0
    for _ in $(seq 40); do
      if grep -q "^c" "$work/sim.log" || grep -qi "exit byte\|\"c\"" "$work/sim.log"; then seen=1; break; fi
      sleep 0.05
    done
    [ "$seen" = 1 ] || fail "no exit byte c seen by the modem" ;;
  # The line that says why: once, right after the failure, in the output and
  # in the log file (an umlaut is one byte there and two on a UTF-8 terminal).
  cause-*)
    [ "$status" -eq 1 ] || fail "exit status $status"
    case $mode in
      cause-zrqinit) cause="Ursache: Das Modem hat auf den Start der .{1,2}bertragung nicht innerhalb von 6 Sekunden geantwortet." ;;
      cause-line) cause="Ursache: Die Verbindung zum Modem ist abgebrochen \\(.+\\)\\. Pr.{1,2}fen Sie Kabel und Stromversorgung des Modems\\." ;;
      cause-negative) cause="Ursache: Der Flash-Loader hat das Update nicht best.{1,2}tigt\\."
        grep -q "Flash-Programmierung NICHT erfolgreich" "$work/out" || fail "the loader's answer is not shown" ;;
    esac
    [ "$(grep -c "Ursache:" "$work/out")" -eq 1 ] || fail "not one cause line"
    grep -A1 "Update ist fehlgeschlagen." "$work/out" | LC_ALL=C grep -Eqx "$cause" || fail "no cause line: $cause"
    LC_ALL=C grep -aEq "$cause" "$work/update.hlg" || fail "the cause is not in the log file" ;;
esac
# The journal: each failed run keeps its whole log in one file, UTF-8 with LF,
# named by the log's last line; its cause and outcome come back in --history.
if [ "$mode" = znak ] || [[ $mode == cause-* ]]; then
  journals=("$XDG_STATE_HOME"/modem-update/*.log)
  [ ${#journals[@]} -eq 1 ] && [ -f "${journals[0]}" ] || fail "not one journal: ${journals[*]}"
  journal=${journals[0]}
  [ "$(stat -c %a "$XDG_STATE_HOME/modem-update")" = 700 ] || fail "journal folder not 0700"
  grep -q "Das Protokoll dieses Laufs steht in $journal." "$work/out" || fail "the log does not name the journal"
  grep -q "Das Protokoll dieses Laufs steht in $journal." "$work/update.hlg" || fail "the log file does not name it"
  grep -aq $'\r' "$journal" && fail "a CR in the journal"
  iconv -f UTF-8 -t UTF-8 "$journal" > /dev/null || fail "the journal is not UTF-8"
  for line in "Ein KELVORA-Modem wurde an $port gefunden." "Update l""äuft ..." "Update ist fehlgeschlagen." \
              "Schnittstelle: $port" "Ergebnis: fehlgeschlagen" " ------ <<<<"; do
    grep -qF -- "$line" "$journal" || fail "journal lacks: $line"
  done
  history=$("$update" --history) || fail "--history: exit $?"
  [ "$(wc -l <<<"$history")" -eq 1 ] || fail "--history: $history"
  grep -qE "^[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9:]{8}  $port  fehlgeschlagen" <<<"$history" || fail "--history: $history"
  # Every one of these runs logs its cause; it is the journal's and the history's.
  cause=$(grep -m1 "^Ursache:" "$work/out") || fail "no cause line in the output"
  [ "$(tail -n 3 "$journal" | head -n 1)" = "$cause" ] || fail "the journal's tail lacks: $cause"
  grep -qF -- "  $cause" <<<"$history" || fail "--history lacks the cause: $history"
  echo "journal: $journal; history: $history"
fi
echo "PASS ($mode)"
