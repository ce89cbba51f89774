// The USB devices a serial port commonly sits behind, by their vendor and
// product IDs (the IDs as the makers publish them; no driver needed), and
// how a port is named in a line.
#include <stdio.h>
#include <string.h>

#include "ports_every.h"

namespace {

struct ports_usb_known {
  uint16_t vid, pid;
  const char *name;
};

const ports_usb_known kKnown[] = {
    // USB-serial bridges (the Nano clones', Pro Mini's and adapters')
    {0x0403, 0x6001, "FTDI FT232R"},
    {0x0403, 0x6010, "FTDI FT2232"},
    {0x0403, 0x6011, "FTDI FT4232"},
    {0x0403, 0x6014, "FTDI FT232H"},
    {0x0403, 0x6015, "FTDI FT231X"},
    {0x1a86, 0x7523, "CH340"},
    {0x1a86, 0x5523, "CH341"},
    {0x1a86, 0x55d4, "CH9102"},
    {0x10c4, 0xea60, "CP210x"},
    {0x10c4, 0xea70, "CP2105"},
    {0x067b, 0x2303, "PL2303"},
    {0x067b, 0x23a3, "PL2303GC"},
    // Boards whose USB is a programmed ATmega8U2/16U2 in front of the
    // board's AVR
    {0x2341, 0x0001, "Uno's ATmega8U2"},
    {0x2341, 0x0043, "Uno's ATmega16U2"},
    {0x2a03, 0x0043, "Uno's ATmega16U2"},
    {0x2341, 0x0010, "Mega 2560's ATmega8U2"},
    {0x2341, 0x0042, "Mega 2560's ATmega16U2"},
    {0x2a03, 0x0042, "Mega 2560's ATmega16U2"},
    // Boards whose AVR has its own USB (an ATmega32U4): the sketch, or the
    // bootloader for 8 s after a reset, with IDs of its own
    {0x2341, 0x8036, "Leonardo's ATmega32U4"},
    {0x2341, 0x0036, "Leonardo's ATmega32U4, its bootloader"},
    {0x2341, 0x8037, "Micro's ATmega32U4"},
    {0x2341, 0x0037, "Micro's ATmega32U4, its bootloader"},
    {0x1b4f, 0x9205, "Pro Micro's ATmega32U4"},
    {0x1b4f, 0x9206, "Pro Micro's ATmega32U4"},
    {0x1b4f, 0x9203, "Pro Micro's ATmega32U4, its bootloader"},
    {0x1b4f, 0x9204, "Pro Micro's ATmega32U4, its bootloader"},
};

}  // namespace

const char *ports_usb_name(uint16_t vid, uint16_t pid) {
  for (const ports_usb_known &k : kKnown) {
    if (k.vid == vid && k.pid == pid) {
      return k.name;
    }
  }
  return NULL;
}

void ports_entry_label(const ports_entry *entry, char *out, size_t size) {
  if (entry->kind == PORTS_ENTRY_USB) {
    const char *name = ports_usb_name(entry->vid, entry->pid);
    snprintf(out, size, "(%s%s%04x:%04x)", name != NULL ? name : "USB",
             name != NULL ? ", " : " ", entry->vid, entry->pid);
  } else if (entry->kind == PORTS_ENTRY_UART) {
    snprintf(out, size, "(a PC's UART)");
  } else if (size > 0) {
    out[0] = '\0';
  }
}

void ports_entry_line(const ports_entry *entry, char *out, size_t size) {
  char label[PORTS_TEXT_SIZE + 32];
  ports_entry_label(entry, label, sizeof label);
  int w =
      snprintf(out, size, "%s%s%s", entry->path, label[0] ? " " : "", label);
  const struct {
    const char *what;
    const char *text;
  } names[] = {{"manufacturer", entry->manufacturer},
               {"product", entry->product},
               {"serial", entry->serial}};
  const char *lead = ": ";
  for (const auto &n : names) {
    if (n.text[0] == '\0' || w < 0 || (size_t)w >= size) {
      continue;
    }
    int more = snprintf(out + w, size - (size_t)w, "%s%s \"%s\"", lead, n.what,
                        n.text);
    w = more < 0 ? more : w + more;
    lead = ", ";
  }
}
