#!/bin/sh
# Installs what the firmware checks need on Debian: simavr and its parts,
# avr-gcc and avr-libc, the Arduino AVR core (optiboot and the core the
# ArduinoISP sketch builds on), avrdude, and the ArduinoISP sketch itself,
# which ships in Debian's arduino package: that package is downloaded and
# unpacked to /opt/portvet-arduino, not installed (no GUI needed).
set -e
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y -q --no-install-recommends \
  simavr libsimavr-dev libsimavrparts1 libelf-dev \
  gcc-avr avr-libc arduino-core-avr avrdude
ino=/opt/portvet-arduino/usr/share/doc/arduino/examples/11.ArduinoISP/ArduinoISP/ArduinoISP.ino
if [ ! -f "$ino" ] && [ ! -f /usr/share/doc/arduino/examples/11.ArduinoISP/ArduinoISP/ArduinoISP.ino ]; then
  dir=$(mktemp -d)
  (cd "$dir" && apt-get download arduino >/dev/null)
  $sudo dpkg -x "$dir"/arduino_*.deb /opt/portvet-arduino
  rm -rf "$dir"
fi
echo "firmware checks: ready"
