#include "record.h"

#include <string.h>

void record_init(record_log *r) { memset(r, 0, sizeof *r); }

int record_seen(const uint8_t *bitmap, unsigned char b) {
  return (bitmap[b / 8] >> (b % 8)) & 1;
}

static void record_mark(uint8_t *bitmap, unsigned char b) {
  bitmap[b / 8] = (uint8_t)(bitmap[b / 8] | (1u << (b % 8)));
}

static uint32_t record_add(uint32_t a, uint32_t b) {
  return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

// The segment being recorded; NULL before the first setup or past the
// last one kept.
static record_segment *record_segment_now(record_log *r) {
  if (r->n_segments == 0 || r->n_segments > RECORD_SEGMENTS) {
    return NULL;
  }
  return &r->segments[r->n_segments - 1];
}

// The step being recorded; NULL outside a step or past the last one kept.
static record_step *record_step_now(record_log *r) {
  if (!r->in_step || r->n_steps == 0 || r->n_steps > RECORD_STEPS) {
    return NULL;
  }
  return &r->steps[r->n_steps - 1];
}

void record_setup(record_log *r, int32_t baud, int32_t runs) {
  if (r->n_segments < 0xFFFF) {
    r->n_segments++;
  }
  record_segment *s = record_segment_now(r);
  if (s != NULL) {
    memset(s, 0, sizeof *s);
    s->baud = baud;
    s->runs = runs;
  }
}

void record_write(record_log *r, const unsigned char *buf, uint32_t n,
                  uint32_t put, int ok) {
  record_segment *s = record_segment_now(r);
  record_step *step = record_step_now(r);
  r->in_reply = 0;
  if (step != NULL && !r->draining) {
    step->commands = record_add(step->commands, 1);
    if (!ok) {
      step->failed = 1;
    } else if (put < n) {
      step->short_write = 1;
    }
  }
  if (s == NULL) {
    return;
  }
  s->writes = record_add(s->writes, 1);
  s->bytes_out = record_add(s->bytes_out, put);
  s->n_last_out =
      (uint8_t)(n < (uint32_t)RECORD_OUT ? n : (uint32_t)RECORD_OUT);
  memcpy(s->last_out, buf, s->n_last_out);
  if (!ok && !s->failed) {
    s->failed = 1;
    s->failed_write = 1;
    s->n_failed_out = s->n_last_out;
    memcpy(s->failed_out, s->last_out, s->n_last_out);
  } else if (ok && put < n) {
    s->short_writes = record_add(s->short_writes, 1);
  }
  for (uint32_t i = 0; i < put; i++) {
    record_mark(s->seen_out, buf[i]);
    if (s->n_first_out < RECORD_FIRST) {
      s->first_out[s->n_first_out++] = buf[i];
    }
  }
}

// Bytes of a reply, kept as far as there is room.
static void record_keep(record_reply *reply, const unsigned char *buf,
                        uint32_t got) {
  uint32_t sum = reply->got + got;
  reply->got = (uint16_t)(sum > 0xFFFF ? 0xFFFF : sum);
  for (uint32_t i = 0; i < got && reply->n < RECORD_REPLY; i++) {
    reply->bytes[reply->n++] = buf[i];
  }
}

// A step's reply to its latest command grows by these bytes.
static void record_reply_bytes(record_log *r, record_step *step,
                               const unsigned char *buf, uint32_t got) {
  if (!r->in_reply) {
    r->in_reply = 1;
    step->answered = record_add(step->answered, 1);
    record_mark(step->starts, buf[0]);
    if (step->first.got == 0) {
      record_keep(&step->first, buf, got);
      memset(&step->last, 0, sizeof step->last);
      record_keep(&step->last, buf, got);
      return;
    }
    memset(&step->last, 0, sizeof step->last);
  } else if (step->answered == 1) {
    record_keep(&step->first, buf, got);
  }
  record_keep(&step->last, buf, got);
}

void record_read(record_log *r, const unsigned char *buf, uint32_t n,
                 uint32_t got, int ok) {
  (void)n;
  record_segment *s = record_segment_now(r);
  record_step *step = record_step_now(r);
  if (!ok) {
    if (step != NULL && !r->draining) {
      step->failed = 1;
    }
    if (s != NULL && !s->failed) {
      s->failed = 1;
      s->n_failed_out = s->n_last_out;
      memcpy(s->failed_out, s->last_out, s->n_last_out);
    }
    return;
  }
  for (uint32_t i = 0; i < got; i++) {
    if (r->stream_started && buf[i] != r->stream_next) {
      r->stream_breaks = record_add(r->stream_breaks, 1);
    }
    r->stream_started = 1;
    r->stream_next = (uint8_t)(buf[i] + 1);
  }
  if (step != NULL && !r->draining && got > 0) {
    step->bytes_in = record_add(step->bytes_in, got);
    for (uint32_t i = 0; i < got; i++) {
      record_mark(step->values, buf[i]);
    }
    record_reply_bytes(r, step, buf, got);
  }
  if (s == NULL) {
    return;
  }
  s->bytes_in = record_add(s->bytes_in, got);
  for (uint32_t i = 0; i < got; i++) {
    record_mark(s->seen_in, buf[i]);
    if (s->n_first_in < RECORD_FIRST) {
      s->first_in[s->n_first_in++] = buf[i];
    }
  }
  if (r->draining) {
    s->drained = record_add(s->drained, got);
  }
}

void record_drain(record_log *r, int draining) {
  r->draining = (uint8_t)draining;
}

void record_step_begin(record_log *r, int ask) {
  if (r->n_steps < 0xFFFF) {
    r->n_steps++;
  }
  r->in_step = 1;
  r->in_reply = 0;
  record_step *step = record_step_now(r);
  if (step != NULL) {
    memset(step, 0, sizeof *step);
    step->ask = (uint8_t)ask;
    step->segment = (uint8_t)(r->n_segments > 0 ? r->n_segments - 1 : 0);
  }
}

void record_step_end(record_log *r, int result, int no_sync) {
  record_step *step = record_step_now(r);
  if (step != NULL) {
    step->result = result;
    step->no_sync = no_sync;
  }
  r->in_step = 0;
  r->in_reply = 0;
}

static uint32_t record_gcd(uint32_t a, uint32_t b) {
  while (b != 0) {
    uint32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

void record_stress_pass(record_log *r, uint32_t sent, uint32_t got, int differs,
                        unsigned char expected, unsigned char received) {
  record_stress *st = &r->stress;
  st->passes = record_add(st->passes, 1);
  record_pass pass;
  pass.pass = st->passes;
  pass.sent = (uint16_t)(sent > 0xFFFF ? 0xFFFF : sent);
  pass.got = (uint16_t)(got > 0xFFFF ? 0xFFFF : got);
  pass.differs = (int16_t)differs;
  pass.expected = expected;
  pass.received = received;
  if (got > 0) {
    st->last_with_bytes = st->passes;
  }
  if (got == sent && differs < 0) {
    st->sound = record_add(st->sound, 1);
    return;
  }
  if (got < sent) {
    st->short_passes = record_add(st->short_passes, 1);
    if (got == 0) {
      st->empty = record_add(st->empty, 1);
    } else {
      st->short_gcd = record_gcd(st->short_gcd, got);
      st->short_min =
          st->short_min == 0 || got < st->short_min ? got : st->short_min;
    }
  } else {
    st->wrong = record_add(st->wrong, 1);
  }
  if (differs == 0 && got > 0) {
    st->late_starts = record_add(st->late_starts, 1);
  }
  if (st->n_bad == 0) {
    st->first_bad = pass;
  }
  st->last_bad = pass;
  st->n_bad = (uint8_t)(st->n_bad < 2 ? st->n_bad + 1 : 2);
}

int record_kept_segments(const record_log *r) {
  return r->n_segments < (int)RECORD_SEGMENTS ? r->n_segments
                                              : (int)RECORD_SEGMENTS;
}

int record_kept_steps(const record_log *r) {
  return r->n_steps < (int)RECORD_STEPS ? r->n_steps : (int)RECORD_STEPS;
}
