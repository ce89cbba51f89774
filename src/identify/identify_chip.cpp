// The chip a bootloader runs on, by the three signature bytes it reads of
// its own chip: the AVRs boards and bootloaders are built for.
#include <stdio.h>

#include "identify_query.h"

namespace {

struct id_chip_entry {
  unsigned char sig[3];
  const char *name;
};

// From the parts' data sheets. A signature two parts share (the ATmega168P
// and 168PA, the 644P and 644PA) names the older.
const id_chip_entry id_chips[] = {
    {{0x1E, 0x95, 0x0F}, "ATmega328P"},  {{0x1E, 0x95, 0x14}, "ATmega328"},
    {{0x1E, 0x95, 0x16}, "ATmega328PB"}, {{0x1E, 0x94, 0x06}, "ATmega168"},
    {{0x1E, 0x94, 0x0B}, "ATmega168P"},  {{0x1E, 0x93, 0x07}, "ATmega8"},
    {{0x1E, 0x93, 0x0A}, "ATmega88"},    {{0x1E, 0x93, 0x0F}, "ATmega88P"},
    {{0x1E, 0x92, 0x05}, "ATmega48"},    {{0x1E, 0x92, 0x0A}, "ATmega48P"},
    {{0x1E, 0x98, 0x01}, "ATmega2560"},  {{0x1E, 0x98, 0x02}, "ATmega2561"},
    {{0x1E, 0x97, 0x03}, "ATmega1280"},  {{0x1E, 0x97, 0x04}, "ATmega1281"},
    {{0x1E, 0x97, 0x05}, "ATmega1284P"}, {{0x1E, 0x97, 0x06}, "ATmega1284"},
    {{0x1E, 0x96, 0x0A}, "ATmega644P"},  {{0x1E, 0x96, 0x09}, "ATmega644"},
    {{0x1E, 0x95, 0x08}, "ATmega324P"},  {{0x1E, 0x94, 0x0A}, "ATmega164P"},
    {{0x1E, 0x95, 0x87}, "ATmega32U4"},  {{0x1E, 0x94, 0x88}, "ATmega16U4"},
    {{0x1E, 0x95, 0x8A}, "ATmega32U2"},  {{0x1E, 0x94, 0x89}, "ATmega16U2"},
    {{0x1E, 0x93, 0x89}, "ATmega8U2"},   {{0x1E, 0x95, 0x02}, "ATmega32"},
    {{0x1E, 0x94, 0x03}, "ATmega16"},    {{0x1E, 0x94, 0x05}, "ATmega169"},
    {{0x1E, 0x97, 0x02}, "ATmega128"},   {{0x1E, 0x96, 0x02}, "ATmega64"},
    {{0x1E, 0x93, 0x0B}, "ATtiny85"},    {{0x1E, 0x92, 0x06}, "ATtiny45"},
    {{0x1E, 0x93, 0x0C}, "ATtiny84"},    {{0x1E, 0x92, 0x07}, "ATtiny44"},
};

}  // namespace

void id_chip(const id_found *f, char *out, size_t size) {
  out[0] = '\0';
  if (!f->has_chip) {
    return;
  }
  const unsigned char *s = f->chip;
  for (const id_chip_entry &c : id_chips) {
    if (c.sig[0] == s[0] && c.sig[1] == s[1] && c.sig[2] == s[2]) {
      snprintf(out, size, ", on an %s (signature %02X %02X %02X)", c.name, s[0],
               s[1], s[2]);
      return;
    }
  }
  snprintf(out, size, ", on a chip with signature %02X %02X %02X", s[0], s[1],
           s[2]);
}
