#!/bin/sh
# avrdude, a host nobody here wrote, reads the signature of an ATmega328P
# through portvet-sim: as an STK500 (-c stk500v1), an STK500 v2 programmer
# (-c stk500v2), an AVR910 programmer (-c avr910) and an AVR109 bootloader
# (-c butterfly). Proves the simulator speaks each dialect as a real host
# expects it.
#   avrdude_test.sh PORTVET_SIM
set -e
sim=$1
command -v avrdude >/dev/null 2>&1 || { echo "SKIPPED: avrdude is not installed"; exit 77; }
dir=$(mktemp -d)
pids=""
# Every program started here ends when this script does, however it ends
# (ctest's timeout kills it outright, and no trap runs then).
own=""
command -v setpriv >/dev/null 2>&1 && own="setpriv --pdeathsig KILL --"
trap 'kill $pids 2>/dev/null || true; rm -rf "$dir"' EXIT
failures=0
check() {  # check NAME PERSONALITY PROGRAMMER BAUD [AVRDUDE ARGS...]
  name=$1 personality=$2 programmer=$3 baud=$4
  shift 4
  $own "$sim" "$personality" --link "$dir/$name" >"$dir/$name.log" 2>&1 &
  pids="$pids $!"
  while [ ! -e "$dir/$name" ]; do sleep 0.02; done
  # -n: write nothing; avrdude signs on, enters programming mode and reads
  # the signature.
  if $own avrdude -C /etc/avrdude.conf -c "$programmer" -p m328p -P "$dir/$name" \
       -b "$baud" -n "$@" >"$dir/$name.out" 2>&1 &&
     grep -qi "device signature = 0x1e950f" "$dir/$name.out"; then
    echo "ok: avrdude -c $programmer reads 0x1e950f from portvet-sim $personality"
  else
    echo "FAIL: avrdude -c $programmer against portvet-sim $personality"
    cat "$dir/$name.out" "$dir/$name.log"
    failures=$((failures + 1))
  fi
}
check stk500 stk500 stk500v1 115200
check stk500v2 stk500v2 stk500v2 115200
check avr910 avr910 avr910 19200 -x devcode=0x74
check avr109 avr109 butterfly 19200
[ "$failures" -eq 0 ]
