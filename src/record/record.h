// A short, bounded record of what crossed a port's line, kept by the serial
// layer for the diagnosis (src/diagnose): for each line setup (a rate) the
// counts, the first bytes each way, which byte values went and came, and
// its first exchanges (a write and the reads that follow it) with their
// times. It holds no more than its arrays; nothing allocates.
#ifndef PORTVET_RECORD_H
#define PORTVET_RECORD_H

#include <stdint.h>

enum {
  RECORD_SEGMENTS = 8,    // line setups recorded
  RECORD_FIRST = 32,      // first bytes kept each way, per setup
  RECORD_EXCHANGES = 24,  // exchanges kept, per setup
  RECORD_OUT = 4,         // bytes kept of an exchange's write
  RECORD_IN = 12,         // bytes kept of what came back to it
};

// A write and what came back to it, until the next write.
struct record_exchange {
  uint16_t out;          // bytes written
  uint16_t asked;        // bytes its reads asked for
  uint16_t got;          // bytes its reads brought
  uint16_t reads;        // reads
  uint16_t short_reads;  // reads that brought fewer than asked
  uint32_t first_ms;     // from the write to the first byte in
  uint32_t last_ms;      // from the write to the end of its last read
  uint8_t n_out;
  uint8_t n_in;
  unsigned char bytes_out[RECORD_OUT];
  unsigned char bytes_in[RECORD_IN];
};

// One line setup and what crossed the line until the next.
struct record_segment {
  int32_t baud;  // asked for
  int32_t runs;  // the rate the port ran at; 0: unknown
  uint32_t bytes_out;
  uint32_t bytes_in;  // read, drained bytes included
  uint32_t drained;   // bytes the input drain threw away
  uint32_t writes;
  uint32_t short_writes;
  uint8_t failed;        // a read or a write failed (a port failure)
  uint8_t failed_write;  // ... and the first that failed was a write
  unsigned char failed_out[RECORD_OUT];  // the command it failed in
  uint8_t n_failed_out;
  uint8_t n_first_out;
  uint8_t n_first_in;
  unsigned char first_out[RECORD_FIRST];
  unsigned char first_in[RECORD_FIRST];
  uint8_t seen_out[32];  // bitmap of the byte values written
  uint8_t seen_in[32];   // bitmap of the byte values read
  uint16_t n_exchanges;  // all of them; the first RECORD_EXCHANGES are kept
  record_exchange exchanges[RECORD_EXCHANGES];
  unsigned char last_out[RECORD_OUT];  // the last write's first bytes
  uint8_t n_last_out;
};

struct record_log {
  uint16_t n_segments;  // all of them; the first RECORD_SEGMENTS are kept
  uint8_t draining;     // the input drain is reading
  uint64_t write_ms;    // when the last write was made
  record_segment segments[RECORD_SEGMENTS];
};

void record_init(record_log *r);

// A line setup: a new segment.
void record_setup(record_log *r, int32_t baud, int32_t runs);

// A write of n bytes of which put went out; ok 0: it failed.
void record_write(record_log *r, const unsigned char *buf, uint32_t n,
                  uint32_t put, int ok, uint64_t now_ms);

// A read that asked for n bytes and brought got; ok 0: it failed.
void record_read(record_log *r, const unsigned char *buf, uint32_t n,
                 uint32_t got, int ok, uint64_t now_ms);

// The input drain begins (1) or ends (0): its reads are drained bytes.
void record_drain(record_log *r, int draining);

// How many segments, and how many of a segment's exchanges, the record
// kept (the counts go on past what it keeps).
int record_kept_segments(const record_log *r);
int record_kept_exchanges(const record_segment *s);

// Whether byte value b is in a seen_ bitmap.
int record_seen(const uint8_t *bitmap, unsigned char b);

#endif
