// A bounded record of what crossed a port's line, kept by the serial layer
// and the modules that use it, for the diagnosis (src/diagnose). It holds
// what the verdicts need for a whole run, however long (counts saturate):
// - for each line setup (a rate) the counts, the first bytes each way, and
//   which byte values went and came;
// - for each probe step (an exchange with its retries) the commands
//   written, the replies that came, the first and the last of them, and
//   what the probe made of them (its result and its out-of-sync count);
// - for the stress test, what each pass brought (folded into counts, with
//   the first and the last pass that went wrong), and whether the bytes
//   that came, in the order they came, kept the pattern's order.
// It holds no more than its arrays; nothing allocates.
#ifndef PORTVET_RECORD_H
#define PORTVET_RECORD_H

#include <stdint.h>

enum {
  RECORD_SEGMENTS = 8,  // line setups recorded
  RECORD_FIRST = 32,    // first bytes kept each way, per setup
  RECORD_STEPS = 16,    // probe steps recorded
  RECORD_REPLY = 12,    // bytes kept of a reply
  RECORD_OUT = 4,       // bytes kept of a command
};

// What a probe step asked.
enum record_ask {
  RECORD_STK500_SIGN_ON = 1,
  RECORD_STK500_SYNC,
  RECORD_STK500_HW_VERSION,
  RECORD_STK500_SW_MAJOR,
  RECORD_STK500_SW_MINOR,
  RECORD_AVR910_ID,
  RECORD_AVR910_SW_VERSION,
  RECORD_AVR910_HW_VERSION,
  RECORD_AVR910_TYPE,
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
  uint8_t seen_out[32];                // bitmap of the byte values written
  uint8_t seen_in[32];                 // bitmap of the byte values read
  unsigned char last_out[RECORD_OUT];  // the last write's first bytes
  uint8_t n_last_out;
};

// What came back to one command: the bytes its reads brought until the
// next command.
struct record_reply {
  uint16_t got;  // bytes (saturating)
  uint8_t n;     // of them kept
  unsigned char bytes[RECORD_REPLY];
};

// A probe step: one exchange routine with its retries, as the probe ran it.
struct record_step {
  uint8_t ask;        // record_ask
  uint8_t segment;    // the line setup it ran in (an index into segments)
  int32_t result;     // the routine's result, as the probe's report took it
  int32_t no_sync;    // the replies the probe counted out of sync
  uint32_t commands;  // commands written (attempts)
  uint32_t answered;  // commands that brought at least one byte
  uint32_t bytes_in;  // the bytes of all its replies
  uint8_t failed;     // a port failure ended it
  uint8_t short_write;
  record_reply first;  // the first reply that brought a byte
  record_reply last;   // the last one that did
  uint8_t starts[32];  // bitmap of the first bytes of its replies
  uint8_t values[32];  // bitmap of every byte of its replies
};

// A pass of the stress test: what went, what came, and where it first
// differed.
struct record_pass {
  uint32_t pass;     // 1-based
  uint16_t sent;     // bytes written
  uint16_t got;      // bytes read back
  int16_t differs;   // the first position whose byte was wrong; -1: none
  uint8_t expected;  // the byte sent there
  uint8_t received;  // the byte that stood there
};

// The stress test's passes.
struct record_stress {
  uint32_t passes;
  uint32_t sound;            // every byte came, each in its place
  uint32_t short_passes;     // fewer came than went
  uint32_t empty;            // none came
  uint32_t wrong;            // all came, but not each in its place
  uint32_t last_with_bytes;  // the last pass that brought a byte; 0: none
  uint32_t short_gcd;        // of the counts the short passes brought
  uint32_t short_min;        // the least of them (above 0)
  uint32_t late_starts;      // passes whose first byte was not the pattern's
  uint8_t n_bad;             // of first_bad and last_bad: 0, 1 or 2 kept
  record_pass first_bad;     // the first pass that was not sound
  record_pass last_bad;      // the last one
};

struct record_log {
  uint16_t n_segments;  // all of them; the first RECORD_SEGMENTS are kept
  uint16_t n_steps;     // likewise for steps
  uint8_t draining;     // the input drain is reading
  uint8_t in_step;      // a step is open: writes and reads are its own
  uint8_t in_reply;     // the open step's last command brought a byte
  record_segment segments[RECORD_SEGMENTS];
  record_step steps[RECORD_STEPS];
  record_stress stress;
  // The bytes that came, in the order they came (drains included): how
  // often one was not the one after the byte before, as a counting pattern
  // goes (0, 1, ... 255, 0, ...).
  uint8_t stream_started;
  uint8_t stream_next;
  uint32_t stream_breaks;
};

void record_init(record_log *r);

// A line setup: a new segment.
void record_setup(record_log *r, int32_t baud, int32_t runs);

// A write of n bytes of which put went out; ok 0: it failed.
void record_write(record_log *r, const unsigned char *buf, uint32_t n,
                  uint32_t put, int ok);

// A read that asked for n bytes and brought got; ok 0: it failed.
void record_read(record_log *r, const unsigned char *buf, uint32_t n,
                 uint32_t got, int ok);

// The input drain begins (1) or ends (0): its reads are drained bytes.
void record_drain(record_log *r, int draining);

// A probe step begins (what it asks), and ends: its result as the probe's
// report takes it, and the replies it counted out of sync.
void record_step_begin(record_log *r, int ask);
void record_step_end(record_log *r, int result, int no_sync);

// A stress pass: sent bytes went, got came back, and the first position
// that differed (-1: none) with the bytes expected and received there.
void record_stress_pass(record_log *r, uint32_t sent, uint32_t got, int differs,
                        unsigned char expected, unsigned char received);

// How many segments and steps the record kept (the counts go on past what
// it keeps).
int record_kept_segments(const record_log *r);
int record_kept_steps(const record_log *r);

// Whether byte value b is in a bitmap.
int record_seen(const uint8_t *bitmap, unsigned char b);

#endif
