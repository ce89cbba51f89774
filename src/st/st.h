// Loopback stress test: a 256-byte counting pattern sent over a line whose
// TXD and RXD are joined, read back and compared, a given number of times.
#ifndef PORTVET_ST_H
#define PORTVET_ST_H

#include "../serial/serial.h"

struct st_options {
  int port;   // 1 to 4; -1 when no -c option was given
  int baud;   // 600 to 256000
  int loops;  // 1 and more
};

// Parses the options after "-st" (argv[2] on). Returns NULL when all are
// valid, else the first refused argument.
const char *st_ParseOptions(int argc, char **argv, st_options *options);

// Runs the stress test. Returns 0 when the usage text is to be shown, else 1.
int st_main(int argc, char **argv);

// The stress test's timeout in ms for a rate: 1, or 1.5 character times
// where a character takes longer (below 15000 baud).
int st_timeout(int baud);

void st_ComInit(serial_port *port, int timeout, int baud);
void st_flush(serial_port *port);

#endif
