// What the identify mode's parts share: a session on one open port (its
// clock, the bytes it sent unasked), one exchange, and what a family's
// queries found on a port at one rate.
#ifndef PORTVET_IDENTIFY_QUERY_H
#define PORTVET_IDENTIFY_QUERY_H

#include <stddef.h>
#include <stdint.h>

#include "../serial/serial.h"

enum id_outcome {
  ID_SILENT,  // no byte came back
  ID_FOUND,   // an answer of the family
  ID_ECHO,    // what went out came back as it was sent
  ID_OTHER,   // bytes that fit the family's answers nowhere
  ID_FAILED,  // the port failed
};

enum id_role {
  ID_PROGRAMMER,
  ID_BOOTLOADER,
  ID_EITHER,  // the bytes cannot tell a programmer from a board's bootloader
  ID_DEVICE,  // of the family, of no kind this mode knows
};

struct id_found {
  int outcome;
  int role;
  const char *what;         // "optiboot", "ArduinoISP", "an STK500" ...
  const char *family;       // "STK500 v1", "STK500 v2", "AVR910", "AVR109"
  char name[20];            // what the device calls itself; "" none
  char version[64];         // ", hardware 2, software 1.18"
  char decided[192];        // the bytes that decided it, by query
  unsigned char other[12];  // ID_OTHER: the first bytes of a reply
  size_t n_other;
  const char *query;         // ID_FAILED: the query the port failed in
  unsigned char answer[40];  // ID_FOUND: the answer to the first query
  size_t n_answer;
  int with_unasked;  // bytes came unasked around that answer
  int late;          // it answered only a while after it was asked
  int once;          // it answered its first query, and then no more
  int has_chip;      // a bootloader read its chip's signature
  unsigned char chip[3];
};

// Bytes that came without a query, by the rate the port was set to.
enum { ID_RATES = 6, ID_KEPT = 48 };

struct id_unasked {
  int32_t baud[ID_RATES];  // 0: a free entry
  unsigned char bytes[ID_RATES][ID_KEPT];
  uint32_t count[ID_RATES];  // that came at the rate (more than kept)
};

// One open port as the mode uses it.
struct id_session {
  serial_port *port;
  const char *name;     // "COM1"
  uint64_t opened_ms;   // serial_clock_ms() when the port opened
  uint64_t opening_ms;  // and when its open began (a board's reset begins
                        // in the open, which may take long)
  int32_t baud;         // what the port is set to; 0: not yet
  int unasked_now;      // bytes came unasked since the last query went out
  id_unasked unasked;
};

// The mode's timeout in ms, for the line setup: a reply's bytes follow
// each other at once, and a silent query must cost little.
enum { ID_TIMEOUT_MS = 20 };

// How long a query waits for the first byte of an answer: two timeouts,
// as a one-byte read of the line setup would (a USB adapter at its
// defaults hands a byte over up to 16 ms after it came).
enum { ID_WAIT_MS = 2 * ID_TIMEOUT_MS };

// Milliseconds since the port opened.
uint32_t id_elapsed_ms(const id_session *s);

// Sets the port to baud (when it is set otherwise).
void id_rate(id_session *s, int32_t baud);

// Keeps bytes as unasked at the rate the port is set to.
void id_keep_unasked(id_session *s, const unsigned char *bytes, uint32_t n);

// Takes what came unasked by now and keeps it, by rate. Returns the count,
// or -1 on a port failure.
int id_take_unasked(id_session *s);

// Listens for ms: what comes is unasked. Returns 0, or -1 on a port
// failure.
int id_listen(id_session *s, uint32_t ms);

// One exchange: takes what came unasked, writes the command, and reads up
// to want bytes into reply, waiting up to first_ms for the first of them
// (then as serial_read does). Returns the count read, or -1 on a port
// failure (or a command that did not all go out).
int id_exchange(id_session *s, const unsigned char *cmd, uint32_t len,
                uint32_t first_ms, unsigned char *reply, uint32_t want);

// Reads up to want more bytes of a reply that has begun. Returns the count,
// or -1 on a port failure.
int id_more(id_session *s, unsigned char *reply, uint32_t want);

// An answer that should have ended there: bytes that follow it are kept as
// unasked, and found->with_unasked says whether any came around it (or,
// with unasked, before it). Returns 0, or -1 on a port failure (found then
// ID_FAILED).
int id_answer_ended(id_session *s, int unasked, id_found *found);

// Appends "label b1 b2 ..." to found->decided.
void id_decided(id_found *found, const char *label, const unsigned char *bytes,
                size_t n);

// Sets found up as bytes that fit no family (the first of them kept).
void id_other(id_found *found, const unsigned char *bytes, size_t n);

// The families' queries at the rate the port is set to.
void id_stk500v1(id_session *s, id_found *found);
// What an STK500 v1 device that could be either is once it showed itself
// a board's (it restarted when the port opened, or left for its program).
void id_stk500v1_board(id_found *found);
void id_stk500v2(id_session *s, id_found *found);
void id_avr910(id_session *s, id_found *found);
// jtag2updi, or a JTAGICE mkII on its serial port: the sign-on.
void id_jtagmkii(id_session *s, id_found *found);

// What a board's bootloader reads of its own chip: its three signature
// bytes into found->chip (has_chip set), first byte first. Asked of a
// bootloader only: a programmer reads a signature only in programming
// mode. STK500 v1: read-signature (75 20); STK500 v2: the signature read
// (1B), one byte a message; AVR109: 's' (the last byte first). Returns 0
// (also when no whole answer came), or -1 on a port failure.
int id_stk500v1_chip(id_session *s, id_found *found);
int id_stk500v2_chip(id_session *s, id_found *found);
int id_avr109_chip(id_session *s, id_found *found);

// ", on an ATmega328P (signature 1E 95 0F)" where the chip is known; ", on
// a chip with signature ..." where the table has not its bytes; "" where
// no signature was read.
void id_chip(const id_found *f, char *out, size_t size);

// Each family's first query, harmless to every device at any rate: the
// bytes into out (16 at most), their count returned. STK500 v1: get-sync;
// STK500 v2: the sign-on message; AVR910: the identifier query.
uint32_t id_stk500v1_knock(unsigned char *out);
uint32_t id_stk500v2_knock(unsigned char *out);
uint32_t id_avr910_knock(unsigned char *out);

// Whether bytes are, whole, a family's answer to its first query: 14 10;
// a message that answers the sign-on; seven characters. Then found has
// the family, the name, and the bytes as what decided it.
int id_stk500v1_answers(const unsigned char *b, size_t n, id_found *found);
int id_stk500v2_answers(const unsigned char *b, size_t n, id_found *found);
int id_avr910_answers(const unsigned char *b, size_t n, id_found *found);

// What reaches a found device from avrdude, for a note: "to upload to the
// board: avrdude -c arduino -b 115200 (the rate of an Uno's ...)", "to
// program a chip through it: avrdude -c stk500v1 -b 19200"; "" where the
// family is no uploader's.
void id_upload(const id_found *f, int32_t baud, char *out, size_t size);

#endif
