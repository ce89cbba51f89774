#!/bin/sh
# Builds the firmware of the firmware checks from Debian's packages, with
# nothing changed in how it behaves on the serial line:
#   build_firmware.sh OUT_DIR ARDUINOISP_INO
#
# - optiboot_atmega328.hex: the optiboot bootloader of arduino-core-avr,
#   built as its Makefile's atmega328 target builds it (16 MHz, 115200 baud,
#   boot section at 0x7E00) but without the LED flashes at start
#   (LED_START_FLASHES=0): only so it fits the 512-byte boot section with
#   Debian's avr-gcc (496 bytes; with the flashes 532, and Debian's prebuilt
#   hex runs 20 bytes past the end of the flash).
# - ArduinoISP.hex: the ArduinoISP sketch of the arduino package, built as
#   the Arduino IDE builds a sketch for an Uno: the core and the SPI library
#   of arduino-core-avr, and the sketch with Arduino.h and prototypes of its
#   own functions put in front (what the IDE's preprocessor adds).
# - ArduinoISP_with_bootloader.hex: the flash of an Uno running "Arduino as
#   ISP": the sketch and optiboot in one image, as the IDE exports it (the
#   sketch's records without its end record, then the bootloader's).
set -e
out=$1
ino=$2
avr=/usr/share/arduino/hardware/arduino/avr
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# optiboot
cp "$avr/bootloaders/optiboot/"*.c "$avr/bootloaders/optiboot/"*.h "$work/"
avr-gcc -g -Wall -Os -fno-inline-small-functions -fno-split-wide-types \
  -mshort-calls -mmcu=atmega328p -DF_CPU=16000000L -DBAUD_RATE=115200 \
  -DLED_START_FLASHES=0 \
  -Wl,--section-start=.text=0x7e00 -Wl,--section-start=.version=0x7ffe \
  -Wl,--relax -Wl,--gc-sections -nostartfiles -nostdlib \
  -o "$work/optiboot.elf" "$work/optiboot.c" 2>"$work/optiboot.log" ||
  { cat "$work/optiboot.log"; exit 1; }
size=$(avr-size -A "$work/optiboot.elf" | awk '$1 == ".text" { print $2 }')
[ "$size" -le 510 ] || { echo "optiboot is $size bytes: past the boot section"; exit 1; }
avr-objcopy -j .text -j .data -O ihex "$work/optiboot.elf" "$out/optiboot_atmega328.hex"

# ArduinoISP
flags="-mmcu=atmega328p -DF_CPU=16000000L -DARDUINO=10819 -DARDUINO_AVR_UNO
  -DARDUINO_ARCH_AVR -Os -g -w -ffunction-sections -fdata-sections
  -I$avr/cores/arduino -I$avr/variants/standard -I$avr/libraries/SPI/src"
objs=""
for src in "$avr/cores/arduino/"*.c "$avr/cores/arduino/"*.cpp \
           "$avr/cores/arduino/"*.S "$avr/libraries/SPI/src/SPI.cpp"; do
  [ -f "$src" ] || continue
  # The String class is written for a newer avr-gcc than Debian's 5.4, and
  # ArduinoISP does not use it.
  [ "$(basename "$src")" = WString.cpp ] && continue
  obj="$work/$(basename "$src").o"
  case "$src" in
    *.c) avr-gcc -c -std=gnu11 $flags "$src" -o "$obj" ;;
    *.S) avr-gcc -c -x assembler-with-cpp $flags "$src" -o "$obj" ;;
    *) avr-g++ -c -std=gnu++11 -fpermissive -fno-exceptions \
         -fno-threadsafe-statics $flags "$src" -o "$obj" ;;
  esac
  objs="$objs $obj"
done
{
  echo '#include <Arduino.h>'
  # Prototypes of the sketch's functions, as the IDE generates them.
  sed -n 's/^\(\(void\|uint8_t\|int\|unsigned int\|char\|bool\) \+[A-Za-z_][A-Za-z_0-9]* *([^)]*)\) *{.*$/\1;/p' "$ino"
  echo '#line 1 "ArduinoISP.ino"'
  cat "$ino"
} >"$work/ArduinoISP.cpp"
avr-g++ -c -std=gnu++11 -fpermissive -fno-exceptions -fno-threadsafe-statics \
  $flags "$work/ArduinoISP.cpp" -o "$work/ArduinoISP.o"
avr-gcc -mmcu=atmega328p -Os -Wl,--gc-sections -o "$work/ArduinoISP.elf" \
  "$work/ArduinoISP.o" $objs -lm
avr-objcopy -j .text -j .data -O ihex "$work/ArduinoISP.elf" "$out/ArduinoISP.hex"
grep -v '^:00000001FF' "$out/ArduinoISP.hex" >"$out/ArduinoISP_with_bootloader.hex"
# (Without optiboot's start-address record, which simavr does not read:
# on a chip the fuses say where it starts.)
grep -v '^:04000003' "$out/optiboot_atmega328.hex" >>"$out/ArduinoISP_with_bootloader.hex"
echo "built $out/optiboot_atmega328.hex, $out/ArduinoISP.hex and $out/ArduinoISP_with_bootloader.hex"
