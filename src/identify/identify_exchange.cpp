// One exchange of the identify mode, and the words for what it found.
#include <stdio.h>
#include <string.h>

#include "identify_query.h"

int id_exchange(serial_port *port, const unsigned char *cmd, uint32_t len,
                unsigned char *reply, uint32_t want) {
  serial_drain(port);
  uint32_t put = 0;
  if (!serial_write(port, cmd, len, &put) || put != len) {
    return -1;
  }
  return id_more(port, reply, want);
}

int id_more(serial_port *port, unsigned char *reply, uint32_t want) {
  uint32_t got = 0;
  if (!serial_read(port, reply, want, &got)) {
    return -1;
  }
  return (int)got;
}

void id_decided(id_found *found, const char *label, const unsigned char *bytes,
                size_t n) {
  size_t used = strlen(found->decided);
  int w = snprintf(found->decided + used, sizeof found->decided - used, "%s%s",
                   used > 0 ? ", " : "", label);
  for (size_t i = 0; i < n && w > 0; i++) {
    used = strlen(found->decided);
    w = snprintf(found->decided + used, sizeof found->decided - used, " %02X",
                 bytes[i]);
  }
}

void id_other(id_found *found, const unsigned char *bytes, size_t n) {
  found->outcome = ID_OTHER;
  found->n_other = n < sizeof found->other ? n : sizeof found->other;
  memcpy(found->other, bytes, found->n_other);
}
