#include "record.h"

#include <string.h>

void record_init(record_log *r) { memset(r, 0, sizeof *r); }

int record_seen(const uint8_t *bitmap, unsigned char b) {
  return (bitmap[b / 8] >> (b % 8)) & 1;
}

static void record_mark(uint8_t *bitmap, unsigned char b) {
  bitmap[b / 8] = (uint8_t)(bitmap[b / 8] | (1u << (b % 8)));
}

// The segment being recorded; NULL before the first setup or past the
// last one kept.
static record_segment *record_current(record_log *r) {
  if (r->n_segments == 0 || r->n_segments > RECORD_SEGMENTS) {
    return NULL;
  }
  return &r->segments[r->n_segments - 1];
}

void record_setup(record_log *r, int32_t baud, int32_t runs) {
  if (r->n_segments < 0xFFFF) {
    r->n_segments++;
  }
  record_segment *s = record_current(r);
  if (s != NULL) {
    memset(s, 0, sizeof *s);
    s->baud = baud;
    s->runs = runs;
  }
}

static uint16_t record_add16(uint16_t a, uint32_t b) {
  uint32_t sum = a + b;
  return (uint16_t)(sum > 0xFFFF ? 0xFFFF : sum);
}

void record_write(record_log *r, const unsigned char *buf, uint32_t n,
                  uint32_t put, int ok, uint64_t now_ms) {
  record_segment *s = record_current(r);
  r->write_ms = now_ms;
  if (s == NULL) {
    return;
  }
  s->writes++;
  s->bytes_out += put;
  s->n_last_out =
      (uint8_t)(n < (uint32_t)RECORD_OUT ? n : (uint32_t)RECORD_OUT);
  memcpy(s->last_out, buf, s->n_last_out);
  if (!ok && !s->failed) {
    s->failed = 1;
    s->failed_write = 1;
    s->n_failed_out = s->n_last_out;
    memcpy(s->failed_out, s->last_out, s->n_last_out);
  } else if (ok && put < n) {
    s->short_writes++;
  }
  for (uint32_t i = 0; i < put; i++) {
    record_mark(s->seen_out, buf[i]);
    if (s->n_first_out < RECORD_FIRST) {
      s->first_out[s->n_first_out++] = buf[i];
    }
  }
  if (s->n_exchanges < RECORD_EXCHANGES) {
    record_exchange *e = &s->exchanges[s->n_exchanges];
    memset(e, 0, sizeof *e);
    e->out = record_add16(0, put);
    e->n_out =
        (uint8_t)(put < (uint32_t)RECORD_OUT ? put : (uint32_t)RECORD_OUT);
    memcpy(e->bytes_out, buf, e->n_out);
  }
  if (s->n_exchanges < 0xFFFF) {
    s->n_exchanges++;
  }
}

void record_read(record_log *r, const unsigned char *buf, uint32_t n,
                 uint32_t got, int ok, uint64_t now_ms) {
  record_segment *s = record_current(r);
  if (s == NULL) {
    return;
  }
  if (!ok) {
    if (!s->failed) {
      s->failed = 1;
      s->n_failed_out = s->n_last_out;
      memcpy(s->failed_out, s->last_out, s->n_last_out);
    }
    return;
  }
  s->bytes_in += got;
  for (uint32_t i = 0; i < got; i++) {
    record_mark(s->seen_in, buf[i]);
    if (s->n_first_in < RECORD_FIRST) {
      s->first_in[s->n_first_in++] = buf[i];
    }
  }
  if (r->draining) {
    s->drained += got;
    return;
  }
  if (s->n_exchanges == 0 || s->n_exchanges > RECORD_EXCHANGES) {
    return;
  }
  record_exchange *e = &s->exchanges[s->n_exchanges - 1];
  uint32_t since = (uint32_t)(now_ms - r->write_ms);
  e->reads = record_add16(e->reads, 1);
  e->asked = record_add16(e->asked, n);
  if (got < n) {
    e->short_reads = record_add16(e->short_reads, 1);
  }
  if (got > 0 && e->got == 0) {
    e->first_ms = since;
  }
  e->got = record_add16(e->got, got);
  e->last_ms = since;
  for (uint32_t i = 0; i < got && e->n_in < RECORD_IN; i++) {
    e->bytes_in[e->n_in++] = buf[i];
  }
}

void record_drain(record_log *r, int draining) {
  r->draining = (uint8_t)draining;
}

int record_kept_segments(const record_log *r) {
  return r->n_segments < (int)RECORD_SEGMENTS ? r->n_segments
                                              : (int)RECORD_SEGMENTS;
}

int record_kept_exchanges(const record_segment *s) {
  return s->n_exchanges < (int)RECORD_EXCHANGES ? s->n_exchanges
                                                : (int)RECORD_EXCHANGES;
}
