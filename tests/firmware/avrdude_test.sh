#!/bin/sh
# avrdude, a host nobody here wrote, reads the signature of an ATmega328P
# through portvet-sim: as an STK500 (-c stk500v1), an STK500 v2 programmer
# (-c stk500v2), an AVR910 programmer (-c avr910) and an AVR109 bootloader
# (-c butterfly); and an ATtiny416's through a SerialUPDI adapter (-c
# serialupdi), also where the chip answers only after a double break and
# behind a USB bridge's latency, and through jtag2updi (-c jtag2updi). Proves the simulator speaks each dialect
# as a real host expects it; and avrdude fails, as users report, where the
# adapter has no chip, no echo, or a weak line, and where jtag2updi has no
# chip.
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
names=""
# check NAME WANT PERSONALITY PROGRAMMER BAUD PART [KNOBS...] [-- AVRDUDE ARGS...]
# WANT: the signature avrdude must read, or "fails" where it must not.
# Each check runs beside the others (a failing avrdude waits out its
# retries), and writes its line to NAME.report.
check() {
  names="$names $1"
  run_check "$@" >"$dir/$1.report" 2>&1 &
  pids="$pids $!"
}
run_check() {
  name=$1 want=$2 personality=$3 programmer=$4 baud=$5 part=$6
  shift 6
  knobs=""
  while [ $# -gt 0 ] && [ "$1" != -- ]; do knobs="$knobs $1"; shift; done
  [ $# -gt 0 ] && shift
  # shellcheck disable=SC2086 # one word per knob
  $own "$sim" "$personality" --link "$dir/$name" $knobs >"$dir/$name.log" 2>&1 &
  device=$!
  while [ ! -e "$dir/$name" ]; do sleep 0.02; done
  # -n: write nothing; avrdude signs on, enters programming mode and reads
  # the signature.
  if $own avrdude -C /etc/avrdude.conf -c "$programmer" -p "$part" -P "$dir/$name" \
       -b "$baud" -n "$@" >"$dir/$name.out" 2>&1; then
    grep -qi "device signature = $want" "$dir/$name.out" && ok=1 || ok=0
  else
    [ "$want" = fails ] && ok=1 || ok=0
  fi
  if [ "$ok" = 1 ]; then
    echo "ok: avrdude -c $programmer: $want, from portvet-sim $personality$knobs"
  else
    echo "FAIL: avrdude -c $programmer against portvet-sim $personality$knobs"
    cat "$dir/$name.out" "$dir/$name.log"
  fi
  kill "$device" 2>/dev/null || true
}
check stk500 0x1e950f stk500 stk500v1 115200 m328p
check stk500v2 0x1e950f stk500v2 stk500v2 115200 m328p
check avr910 0x1e950f avr910 avr910 19200 m328p -- -x devcode=0x74
check avr109 0x1e950f avr109 butterfly 19200 m328p
check updi 0x1e9221 serialupdi serialupdi 115200 t416
check updi-230400 0x1e9221 serialupdi serialupdi 230400 t416
check updi-2break 0x1e9221 serialupdi serialupdi 115200 t416 --double-break 1
check updi-ftdi 0x1e9221 serialupdi serialupdi 115200 t416 --host ftdi
check updi-bare fails serialupdi serialupdi 115200 t416 --target 0
check updi-no-echo fails serialupdi serialupdi 115200 t416 --echo 0
check updi-weak fails serialupdi serialupdi 115200 t416 --weak 5
check jtag2updi 0x1e9221 jtag2updi jtag2updi 115200 t416
check jtag2updi-bare fails jtag2updi jtag2updi 115200 t416 --target 0
wait
failures=0
for name in $names; do
  cat "$dir/$name.report"
  grep -q "^FAIL" "$dir/$name.report" && failures=$((failures + 1))
done
[ "$failures" -eq 0 ]
