// AVR910 probe: identifier, version and programmer-type queries, tried at
// 115200, 38400, 19200 and 9600 baud until a programmer answers.
#ifndef PORTVET_AVR910_H
#define PORTVET_AVR910_H

#include "../serial/serial.h"

// Results of the query routines; a positive value is the number of the
// attempt that succeeded.
enum {
  AVR910_FAILED = 0,         // every attempt used without a valid answer
  AVR910_PORT_FAILURE = -1,  // write failed or wrote nothing, or read failed
};

// The index (0 to 2) of the programmer whose identifier the seven bytes
// are ("AVR ISP", "AVR PPR", "AVR DEV"), or -1.
int avr910_id_index(const unsigned char *id);

// The identifier of index (0 to 2).
const char *avr910_id_name(int index);

// Runs the probe on an open port; always returns 0.
int avr910_main(serial_port *port, int attempts, int timeout);

// One exchange: drain, write the command byte, read length bytes. Returns
// the count read (0 to length) or AVR910_PORT_FAILURE.
int avr910_sendcmd(serial_port *port, unsigned char command, int length,
                   unsigned char *buffer);

// The identifier query with retries; on success stores the device index.
int avr910_checkpresence(serial_port *port, int attempts, int *index);

// A query with retries that hands back the first two reply bytes.
int avr910_sendcmdext(serial_port *port, int attempts, unsigned char command,
                      int length, unsigned char *first, unsigned char *second);

// Prints the outcome of a step; returns 1 to go on, 0 to stop. An index of
// -1 marks a step without an identifier.
int avr910_checkmessage(int result, int index, int attempts);

void avr910_ComInit(serial_port *port, int timeout, int baud);
void avr910_flush(serial_port *port);

#endif
