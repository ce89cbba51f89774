#!/bin/sh
# Runs portvet under valgrind's descriptor tracking on every path that opens
# a port (found, silent, hung up, both modes) and fails when a port is still
# open at exit or valgrind reports a memory error.
#   fd_leak_test.sh BUILD_DIR
set -e
build=$1
command -v valgrind >/dev/null 2>&1 || { echo "SKIPPED: valgrind is not installed"; exit 77; }
dir=$(mktemp -d)      # the simulators' links: the ports portvet opens
logs=$(mktemp -d)
pids=""
# Every program started here ends when this script does, however it ends
# (ctest's timeout kills it outright, and no trap runs then).
own=""
command -v setpriv >/dev/null 2>&1 && own="setpriv --pdeathsig KILL --"
trap 'kill $pids 2>/dev/null || true; rm -rf "$dir" "$logs"' EXIT

sim() {  # sim NAME PERSONALITY [KNOBS...]: a fresh simulator at $dir/NAME
  name=$1
  shift
  $own "$build/portvet-sim" "$@" --link "$dir/$name" >"$dir/$name.log" 2>&1 &
  pids="$pids $!"
  while [ ! -e "$dir/$name" ]; do sleep 0.02; done
}

failures=0
check() {  # check LABEL ARGS...: COM1..COM4 as set in the environment
  label=$1
  shift
  log="$logs/valgrind.log"
  $own valgrind -q --track-fds=yes --error-exitcode=99 --log-file="$log" \
    "$build/portvet" "$@" >/dev/null || status=$?
  if [ "${status:-0}" -eq 99 ] || grep -q "Open file descriptor [0-9]*: $dir/" "$log"; then
    echo "FAIL: $label"
    cat "$log"
    failures=$((failures + 1))
  else
    echo "ok: $label"
  fi
  status=0
}

sim stk500 stk500
sim silent stk500 --silent-after 0
sim hangup stk500 --hangup-after 1
sim avr910 avr910 --baud 38400
sim echo echo
sim echo_hangup echo --hangup-after-passes 1
export PORTVET_COM1="$dir/stk500" PORTVET_COM2="$dir/silent" \
       PORTVET_COM3="$dir/avr910" PORTVET_COM4="$dir/none"
check "sweep: STK500, silent, AVR910, no port" -c0 -r2
export PORTVET_COM1="$dir/hangup"
check "hang-up after sign-on" -c1 -r2
export PORTVET_COM1="$dir/echo" PORTVET_COM2="$dir/echo_hangup"
check "stress test, perfect loopback" -st -c1 -r2
check "stress test, hang-up" -st -c2 -r3
check "stress test, no port" -st -c4
[ "$failures" -eq 0 ] || exit 1
exit 0
