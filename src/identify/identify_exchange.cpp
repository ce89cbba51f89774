// One exchange of the identify mode, what comes unasked around it, and the
// words for what it found.
#include <stdio.h>
#include <string.h>

#include "identify_query.h"

uint32_t id_elapsed_ms(const id_session *s) {
  return (uint32_t)(serial_clock_ms() - s->opened_ms);
}

void id_rate(id_session *s, int32_t baud) {
  if (s->baud != baud) {
    serial_setup(s->port, ID_TIMEOUT_MS, baud);
    s->baud = baud;
  }
}

void id_keep_unasked(id_session *s, const unsigned char *bytes, uint32_t n) {
  if (n == 0) {
    return;
  }
  s->unasked_now = 1;
  id_unasked *u = &s->unasked;
  int at = -1;
  for (int i = 0; i < ID_RATES && at < 0; i++) {
    if (u->baud[i] == s->baud || u->baud[i] == 0) {
      at = i;
    }
  }
  if (at < 0) {
    return;  // more rates than the mode ever uses
  }
  u->baud[at] = s->baud;
  for (uint32_t i = 0; i < n; i++, u->count[at]++) {
    if (u->count[at] < ID_KEPT) {
      u->bytes[at][u->count[at]] = bytes[i];
    }
  }
}

int id_take_unasked(id_session *s) {
  int total = 0;
  // A device that streams fills any buffer: a few looks are enough to
  // know that it does.
  for (int looks = 0; looks < 4; looks++) {
    unsigned char buf[64];
    uint32_t got = 0;
    if (!serial_read_for(s->port, buf, sizeof buf, 0, &got)) {
      return -1;
    }
    id_keep_unasked(s, buf, got);
    total += (int)got;
    if (got < sizeof buf) {
      break;
    }
  }
  return total;
}

int id_listen(id_session *s, uint32_t ms) {
  uint64_t end = serial_clock_ms() + ms;
  for (;;) {
    uint64_t now = serial_clock_ms();
    if (now >= end) {
      return id_take_unasked(s) < 0 ? -1 : 0;
    }
    unsigned char buf[64];
    uint32_t got = 0;
    if (!serial_read_for(s->port, buf, sizeof buf, (uint32_t)(end - now),
                         &got)) {
      return -1;
    }
    id_keep_unasked(s, buf, got);
  }
}

int id_exchange(id_session *s, const unsigned char *cmd, uint32_t len,
                uint32_t first_ms, unsigned char *reply, uint32_t want) {
  s->unasked_now = 0;
  if (id_take_unasked(s) < 0) {
    return -1;
  }
  uint32_t put = 0;
  if (!serial_write(s->port, cmd, len, &put) || put != len) {
    return -1;
  }
  uint32_t got = 0;
  if (!serial_read_for(s->port, reply, 1, first_ms, &got)) {
    return -1;
  }
  if (got == 0 || want <= 1) {
    return (int)got;
  }
  int more = id_more(s, reply + 1, want - 1);
  return more < 0 ? -1 : 1 + more;
}

int id_more(id_session *s, unsigned char *reply, uint32_t want) {
  uint32_t got = 0;
  if (!serial_read(s->port, reply, want, &got)) {
    return -1;
  }
  return (int)got;
}

int id_answer_ended(id_session *s, int unasked, id_found *found) {
  // The gap a read allows between two bytes of a reply: a byte that comes
  // within it belongs to the same burst.
  unsigned char buf[64];
  uint32_t got = 0;
  if (!serial_read_for(s->port, buf, sizeof buf, ID_WAIT_MS, &got)) {
    found->outcome = ID_FAILED;
    return -1;
  }
  id_keep_unasked(s, buf, got);
  found->with_unasked = unasked || got > 0;
  return 0;
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
