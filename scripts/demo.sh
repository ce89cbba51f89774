#!/bin/sh
# Builds portvet and shows it at work against simulated devices:
# an STK500 on COM1, an AVR910 programmer at 38400 baud on COM2, nothing on
# COM3 and COM4; then a short stress test through a simulated loopback.
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
build/portvet-sim avr910 --baud 38400 --link "$dir/avr910" >"$dir/avr910.log" &
pids="$pids $!"
build/portvet-sim echo --link "$dir/echo" >"$dir/echo.log" &
pids="$pids $!"
for link in stk500 avr910 echo; do
  while [ ! -e "$dir/$link" ]; do sleep 0.05; done
done

echo "\$ portvet -c0 -r10    (COM1: STK500, COM2: AVR910 at 38400, COM3/4: none)"
PORTVET_COM1="$dir/stk500" PORTVET_COM2="$dir/avr910" \
  PORTVET_COM3="$dir/none" PORTVET_COM4="$dir/none" build/portvet -c0 -r10
echo "\$ portvet -st -c1 -r3    (COM1: a simulated TXD-RXD loopback)"
PORTVET_COM1="$dir/echo" build/portvet -st -c1 -r3
