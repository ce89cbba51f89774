// The AVR910 family: AVR910 programmers, and AVR109 bootloaders, which
// speak its self-programming dialect. The identifier query 'S' answers
// seven characters: "AVR ISP", "AVR PPR", "AVR DEV" for a programmer,
// "AVRBOOT" for an AVR109 bootloader. Then 'V' gives the software version
// (two digits), 'v' a programmer's hardware version, 'p' the type ('S'
// serial), and 'b' a bootloader's block size ('Y' and two bytes).
#include <stdio.h>
#include <string.h>

#include "identify_query.h"

namespace {

bool id_printable(const unsigned char *bytes, int n) {
  for (int i = 0; i < n; i++) {
    if (bytes[i] < 0x20 || bytes[i] > 0x7E) {
      return false;
    }
  }
  return true;
}

// Asks a one-byte query for want bytes; the count, -1 on a port failure.
int id_ask(serial_port *port, unsigned char query, unsigned char *reply,
           uint32_t want) {
  return id_exchange(port, &query, 1, reply, want);
}

// "x.y" from two version digits; false when they are not two digits.
bool id_digits(const unsigned char *d, int n, char *out, size_t size) {
  if (n != 2 || d[0] < '0' || d[0] > '9' || d[1] < '0' || d[1] > '9') {
    return false;
  }
  snprintf(out, size, "%c.%c", d[0], d[1]);
  return true;
}

}  // namespace

void id_avr910(serial_port *port, id_found *found) {
  found->family = "AVR910";
  found->query = "the AVR910 identifier query";
  unsigned char reply[8];
  int n = id_ask(port, 'S', reply, 7);
  if (n < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  if (n == 1 && reply[0] == 'S') {
    found->outcome = ID_ECHO;
    return;
  }
  if (n != 7 || !id_printable(reply, 7)) {
    if (n > 0) {
      id_other(found, reply, (size_t)n);
    } else {
      found->outcome = ID_SILENT;
    }
    return;
  }
  id_decided(found, "'S'", reply, 7);
  memcpy(found->name, reply, 7);
  found->name[7] = '\0';
  found->outcome = ID_FOUND;
  found->query = "an AVR910 query";
  char sw[8] = "";
  n = id_ask(port, 'V', reply, 2);
  if (n < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  bool has_sw = id_digits(reply, n, sw, sizeof sw);
  if (strcmp(found->name, "AVRBOOT") == 0) {
    // AVR109: a bootloader, with its block size where it has one.
    found->family = "AVR109";
    found->what = "an AVR109 bootloader";
    found->role = ID_BOOTLOADER;
    n = id_ask(port, 'b', reply, 3);
    if (n < 0) {
      found->outcome = ID_FAILED;
      return;
    }
    int block = n == 3 && reply[0] == 'Y' ? reply[1] << 8 | reply[2] : -1;
    snprintf(found->version, sizeof found->version, "%s%s",
             has_sw ? ", software " : "", has_sw ? sw : "");
    if (block > 0) {
      size_t used = strlen(found->version);
      snprintf(found->version + used, sizeof found->version - used,
               ", block size %d", block);
    }
    return;
  }
  char hw[8] = "";
  n = id_ask(port, 'v', reply, 2);
  if (n < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  bool has_hw = id_digits(reply, n, hw, sizeof hw);
  n = id_ask(port, 'p', reply, 1);
  if (n < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  const char *type = n == 1 && reply[0] == 'S'   ? ", serial"
                     : n == 1 && reply[0] == 'P' ? ", parallel"
                                                 : "";
  snprintf(found->version, sizeof found->version, "%s%s%s%s%s",
           has_sw ? ", software " : "", has_sw ? sw : "",
           has_hw ? ", hardware " : "", has_hw ? hw : "", type);
  bool known = strcmp(found->name, "AVR ISP") == 0 ||
               strcmp(found->name, "AVR PPR") == 0 ||
               strcmp(found->name, "AVR DEV") == 0;
  found->what =
      known ? "an AVR910 programmer" : "a device of the AVR910 family";
  found->role = known ? ID_PROGRAMMER : ID_DEVICE;
}
