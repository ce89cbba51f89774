// Every serial port of the computer, with what the system says of the
// device behind it (a USB bridge's IDs and names), read without opening
// any port: opening one resets most boards.
#ifndef PORTVET_PORTS_EVERY_H
#define PORTVET_PORTS_EVERY_H

#include <stddef.h>
#include <stdint.h>

enum ports_entry_kind {
  PORTS_ENTRY_OTHER,  // the system says nothing of what is behind it
  PORTS_ENTRY_UART,   // a UART of the computer's own (Linux: ttyS)
  PORTS_ENTRY_USB,    // a USB device: a bridge, or a board's own USB
};

enum { PORTS_NAME_SIZE = 64, PORTS_TEXT_SIZE = 64, PORTS_EVERY = 32 };

struct ports_entry {
  char path[PORTS_NAME_SIZE];  // what opens it: "/dev/ttyUSB0", "COM7"
  int kind;
  uint16_t vid, pid;  // USB: the vendor and product IDs
  // USB, where the device has them; "" where not.
  char manufacturer[PORTS_TEXT_SIZE];
  char product[PORTS_TEXT_SIZE];
  char serial[PORTS_TEXT_SIZE];
};

// Lists the serial ports, in name order (COM by number), at most max.
// Returns the count. Linux: the ttys with a device behind them, but a UART
// slot the driver found no UART in (ttyS1..ttyS31 on most PCs); Windows:
// the ports under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, with the USB
// device's IDs from the registry; macOS: /dev/cu.*; other BSDs:
// /dev/cuaU* and /dev/cuau*.
int ports_every(ports_entry *out, int max);

// What the system says of the device at path (a name ports_every gives, or
// one a user typed, links followed). Returns 1 when it is a port the system
// knows, 0 when not (entry then has the path and PORTS_ENTRY_OTHER).
int ports_entry_of(const char *path, ports_entry *entry);

// The same as ports_every and ports_entry_of, from a folder laid out like
// /sys (Linux; class/tty and the devices its links lead to).
int ports_every_in(const char *sys, ports_entry *out, int max);
int ports_entry_in(const char *sys, const char *path, ports_entry *entry);

// The bridge or board a USB device's IDs name ("CH340", "FTDI FT232R",
// "Uno's ATmega16U2"); NULL for IDs the table does not hold.
const char *ports_usb_name(uint16_t vid, uint16_t pid);

// What a port is, for the line it heads: "(CH340, 1a86:7523)", "(USB
// 1209:2301)", "(a PC's UART)"; "" when the system says nothing.
void ports_entry_label(const ports_entry *entry, char *out, size_t size);

// The port's line in the list: the path, its label, then the USB device's
// own names where it has them, e.g. "/dev/ttyUSB0 (FTDI FT232R, 0403:6001):
// manufacturer "FTDI", product "FT232R USB UART", serial "A50285BI"".
void ports_entry_line(const ports_entry *entry, char *out, size_t size);

#endif
