#!/bin/sh
# Builds the firmware of the firmware checks from Debian's packages, with
# nothing changed in how it behaves on the serial line:
#   build_firmware.sh OUT_DIR ARDUINOISP_INO
#
# - optiboot_atmega328.hex and optiboot_atmega168.hex: the optiboot
#   bootloader of arduino-core-avr, built as its Makefile's atmega328 and
#   atmega168 targets build it (16 MHz, 115200 baud, three LED flashes at
#   start, boot section at 0x7E00 and 0x3E00), with the flags that make
#   Debian's avr-gcc fit it in its 512 bytes as the Makefile's compiler did
#   (Debian's prebuilt hex files run 20 bytes past the end of the flash).
# - ArduinoISP.hex: the ArduinoISP sketch of the arduino package, built as
#   the Arduino IDE builds a sketch for an Uno: the core and the SPI library
#   of arduino-core-avr, and the sketch with Arduino.h and prototypes of its
#   own functions put in front (what the IDE's preprocessor adds).
# - ArduinoISP_115200.hex: the same sketch set to the other rate its source
#   offers, 115200.
# - HelloWorld.hex: a sketch of this project's that prints a line every
#   second at 9600 baud, built the same way.
# - silent.hex: a board's program that never touches the UART, as the
#   Blink sketch boards ship with: on the serial line the two are alike.
set -e
out=$1
ino=$2
avr=/usr/share/arduino/hardware/arduino/avr
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# optiboot
cp "$avr/bootloaders/optiboot/"*.c "$avr/bootloaders/optiboot/"*.h "$work/"
for target in "atmega328p 0x7e00 0x7ffe optiboot_atmega328" \
              "atmega168 0x3e00 0x3ffe optiboot_atmega168"; do
  set -- $target
  avr-gcc -g -Wall -Os -fno-inline-small-functions -fno-split-wide-types \
    -mshort-calls -mrelax -fno-tree-scev-cprop -fno-move-loop-invariants \
    -fno-ivopts -fno-inline-functions-called-once \
    -mmcu="$1" -DF_CPU=16000000L -DBAUD_RATE=115200 -DLED_START_FLASHES=3 \
    -Wl,--section-start=.text="$2" -Wl,--section-start=.version="$3" \
    -Wl,--relax -Wl,--gc-sections -nostartfiles -nostdlib \
    -o "$work/$4.elf" "$work/optiboot.c" 2>"$work/optiboot.log" ||
    { cat "$work/optiboot.log"; exit 1; }
  size=$(avr-size -A "$work/$4.elf" | awk '$1 == ".text" { print $2 }')
  [ "$size" -le 510 ] || { echo "$4 is $size bytes: past the boot section"; exit 1; }
  avr-objcopy -j .text -j .data -O ihex "$work/$4.elf" "$out/$4.hex"
done

# A program at 0 that loops on itself (rjmp .), and the end record.
printf ':02000000FFCF30\n:00000001FF\n' >"$out/silent.hex"

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
# A sketch as the IDE builds it: Arduino.h and prototypes of its own
# functions put in front.
sketch() {  # sketch NAME INO
  {
    echo '#include <Arduino.h>'
    sed -n 's/^\(\(void\|uint8_t\|int\|unsigned int\|char\|bool\) \+[A-Za-z_][A-Za-z_0-9]* *([^)]*)\) *{.*$/\1;/p' "$2"
    echo "#line 1 \"$1.ino\""
    cat "$2"
  } >"$work/$1.cpp"
  avr-g++ -c -std=gnu++11 -fpermissive -fno-exceptions -fno-threadsafe-statics \
    $flags "$work/$1.cpp" -o "$work/$1.o"
  avr-gcc -mmcu=atmega328p -Os -Wl,--gc-sections -o "$work/$1.elf" \
    "$work/$1.o" $objs -lm
  avr-objcopy -j .text -j .data -O ihex "$work/$1.elf" "$out/$1.hex"
}
sketch ArduinoISP "$ino"
# The same sketch at the other rate its source offers (a common change).
sed 's/^#define BAUDRATE\t19200$/#define BAUDRATE\t115200/' "$ino" \
  >"$work/ArduinoISP_115200.ino"
grep -q '^#define BAUDRATE.115200$' "$work/ArduinoISP_115200.ino" ||
  { echo "ArduinoISP.ino: no BAUDRATE 19200 to change"; exit 1; }
sketch ArduinoISP_115200 "$work/ArduinoISP_115200.ino"
sketch HelloWorld "$(dirname "$0")/HelloWorld.ino"
echo "built the firmware in $out"
