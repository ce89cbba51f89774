#!/bin/sh
# Builds portvet and shows it at work against simulated devices:
# an STK500 on COM1, an AVR910 programmer at 38400 baud that ignores
# commands it does not know on COM2 (found), one at 19200 that answers them
# with '?' on COM3 (not found: see the README's "What you will see"),
# nothing on COM4; then the identify mode on the same ports (which names
# COM3's programmer too); then a short stress test through a simulated
# loopback.
set -e
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target portvet portvet-sim >/dev/null

dir=$(mktemp -d)
pids=""
cleanup() {
  [ -n "$pids" ] && kill $pids 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT INT TERM

build/portvet-sim stk500 --link "$dir/stk500" >"$dir/stk500.log" &
pids="$pids $!"
build/portvet-sim avr910 --baud 38400 --unknown -1 --link "$dir/avr910" \
  >"$dir/avr910.log" &
pids="$pids $!"
build/portvet-sim avr910 --baud 19200 --link "$dir/avr910q" >"$dir/avr910q.log" &
pids="$pids $!"
# An instant loopback: on a busy virtual machine the simulator's own stalls
# would show as short reads at the stress test's 1 ms timeouts (the
# README's "What the rigs cannot express").
build/portvet-sim echo --pace 0 --link "$dir/echo" >"$dir/echo.log" &
pids="$pids $!"
for link in stk500 avr910 avr910q echo; do
  while [ ! -e "$dir/$link" ]; do sleep 0.05; done
done

echo "\$ portvet -c0 -r10    (COM1: STK500; COM2, COM3: AVR910 at 38400 and 19200; COM4: none)"
PORTVET_COM1="$dir/stk500" PORTVET_COM2="$dir/avr910" \
  PORTVET_COM3="$dir/avr910q" PORTVET_COM4="$dir/none" build/portvet -c0 -r10
echo "\$ portvet -id -c0    (the same ports: what is on each)"
PORTVET_COM1="$dir/stk500" PORTVET_COM2="$dir/avr910" \
  PORTVET_COM3="$dir/avr910q" PORTVET_COM4="$dir/none" build/portvet -id -c0
echo "\$ portvet -st -c1 -r3    (COM1: a simulated TXD-RXD loopback)"
PORTVET_COM1="$dir/echo" build/portvet -st -c1 -r3
