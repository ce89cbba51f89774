// What the identify mode's queries share: one exchange, and what a family's
// queries found on a port at one rate.
#ifndef PORTVET_IDENTIFY_QUERY_H
#define PORTVET_IDENTIFY_QUERY_H

#include <stddef.h>
#include <stdint.h>

#include "../serial/serial.h"

enum id_outcome {
  ID_SILENT,  // no byte came back
  ID_FOUND,   // a certain answer of the family
  ID_ECHO,    // what went out came back as it was sent
  ID_OTHER,   // bytes that fit the family's answers nowhere
  ID_FAILED,  // the port failed
};

enum id_role { ID_PROGRAMMER, ID_BOOTLOADER, ID_DEVICE };

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
  const char *query;  // ID_FAILED: the query the port failed in
};

// The identify mode's timeout in ms: a reply's bytes follow each other at
// once, and a silent query must cost little.
enum { ID_TIMEOUT_MS = 20 };

// One exchange: drains the input, writes the command, reads up to want
// bytes into reply (want bytes, or until the timeout). Returns the count
// read, or -1 on a port failure (or a command that did not all go out).
int id_exchange(serial_port *port, const unsigned char *cmd, uint32_t len,
                unsigned char *reply, uint32_t want);

// Reads up to want more bytes of a reply that has begun. Returns the count,
// or -1 on a port failure.
int id_more(serial_port *port, unsigned char *reply, uint32_t want);

// Appends "label b1 b2 ..." to found->decided.
void id_decided(id_found *found, const char *label, const unsigned char *bytes,
                size_t n);

// Sets found up as bytes that fit no family (the first of them kept).
void id_other(id_found *found, const unsigned char *bytes, size_t n);

// The families' queries at the rate the port is set to.
void id_stk500v1(serial_port *port, id_found *found);
void id_stk500v2(serial_port *port, id_found *found);
void id_avr910(serial_port *port, id_found *found);

#endif
