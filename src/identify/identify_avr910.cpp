// The AVR910 family: AVR910 programmers, and AVR109 bootloaders, which
// speak its self-programming dialect. The identifier query 'S' answers
// seven characters: "AVR ISP", "AVR PPR", "AVR DEV" for a programmer; an
// AVR109 bootloader names itself as its maker chose ("AVRBOOT" on the
// Butterfly, "CATERIN" on the Leonardo and Micro) and writes in blocks: it
// answers 'b' with 'Y' and its block size (two bytes). 'V' gives the
// software version (two digits), 'v' a programmer's hardware version, 'p'
// the type ('S' serial).
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

// Asks a one-byte query for want bytes, the first awaited first_ms; the
// count, -1 on a port failure.
int id_ask(id_session *s, unsigned char query, uint32_t first_ms,
           unsigned char *reply, uint32_t want) {
  return id_exchange(s, &query, 1, first_ms, reply, want);
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

int id_avr910_answers(const unsigned char *b, size_t n, id_found *found) {
  if (n != 7 || !id_printable(b, 7)) {
    return 0;
  }
  found->family = "AVR910";
  memcpy(found->name, b, 7);
  found->name[7] = '\0';
  id_decided(found, "'S'", b, n);
  return 1;
}

uint32_t id_avr910_knock(unsigned char *out) {
  out[0] = 'S';
  return 1;
}

void id_avr910(id_session *s, id_found *found) {
  found->family = "AVR910";
  found->query = "the AVR910 identifier query";
  unsigned char reply[8];
  int n = id_ask(s, 'S', ID_WAIT_MS, reply, 7);
  if (n < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  int unasked = s->unasked_now;
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
  // Seven characters, and no more: text that streams goes on.
  if (id_answer_ended(s, unasked, found) < 0) {
    return;
  }
  memcpy(found->answer, reply, 7);
  found->n_answer = 7;
  id_decided(found, "'S'", reply, 7);
  memcpy(found->name, reply, 7);
  found->name[7] = '\0';
  found->outcome = ID_FOUND;
  found->query = "an AVR910 query";
  char sw[8] = "";
  n = id_ask(s, 'V', ID_WAIT_MS, reply, 2);
  if (n < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  bool has_sw = id_digits(reply, n, sw, sizeof sw);
  bool known = strcmp(found->name, "AVR ISP") == 0 ||
               strcmp(found->name, "AVR PPR") == 0 ||
               strcmp(found->name, "AVR DEV") == 0;
  if (!known) {
    n = id_ask(s, 'b', ID_WAIT_MS, reply, 3);
    if (n < 0) {
      found->outcome = ID_FAILED;
      return;
    }
    int block = n == 3 && reply[0] == 'Y' ? reply[1] << 8 | reply[2] : -1;
    if (block > 0) {
      // AVR109: a bootloader, whatever it calls itself.
      found->family = "AVR109";
      found->what = "an AVR109 bootloader";
      found->role = ID_BOOTLOADER;
      snprintf(found->version, sizeof found->version, "%s%s, block size %d",
               has_sw ? ", software " : "", has_sw ? sw : "", block);
      return;
    }
  }
  char hw[8] = "";
  n = id_ask(s, 'v', ID_WAIT_MS, reply, 2);
  if (n < 0) {
    found->outcome = ID_FAILED;
    return;
  }
  bool has_hw = id_digits(reply, n, hw, sizeof hw);
  n = id_ask(s, 'p', ID_WAIT_MS, reply, 1);
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
  found->what =
      known ? "an AVR910 programmer" : "a device of the AVR910 family";
  found->role = known ? ID_PROGRAMMER : ID_DEVICE;
}

int id_avr109_chip(id_session *s, id_found *found) {
  unsigned char reply[4];
  int n = id_ask(s, 's', ID_WAIT_MS, reply, 3);
  if (n < 0) {
    return -1;
  }
  if (n == 3) {
    found->chip[0] = reply[2];
    found->chip[1] = reply[1];
    found->chip[2] = reply[0];
    found->has_chip = 1;
  }
  return 0;
}
