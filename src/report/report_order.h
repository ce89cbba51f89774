// The ordered output of ports checked at the same time (a sweep): the one
// place where the ports' work meets.
//
// Each port has a buffer. The port whose turn it is (the first that is not
// done yet) writes straight to standard output and standard error; every
// later port writes into its buffer. When a port is done, the turn passes
// on: the next port's buffer is printed at once and, if that port is still
// running, it writes straight from then on. So both streams carry, byte for
// byte and in the same order, what checking the ports one after another
// would print. A mutex guards the turn and the buffers; nothing else is
// shared between the ports.
#ifndef PORTVET_REPORT_ORDER_H
#define PORTVET_REPORT_ORDER_H

#include <stddef.h>

#include "../thread/thread.h"

enum {
  REPORT_PORTS = 16,
  REPORT_BUFFER = 16384,  // a port's report with its verdicts, and room
};

struct report_order {
  thread_mutex lock;
  int count;  // ports, in output order
  int turn;   // the port that writes straight to the streams
  int done[REPORT_PORTS];
  // Each port's text so far: pieces of [stream (1 or 2)][length][bytes].
  char buffer[REPORT_PORTS][REPORT_BUFFER];
  size_t used[REPORT_PORTS];
};

void report_order_init(report_order *out, int count);
void report_order_free(report_order *out);

// Port index writes text (len bytes) to stream 1 (standard output) or 2.
void report_order_write(report_order *out, int index, int stream,
                        const char *text, size_t len);

// Port index has written all it will.
void report_order_done(report_order *out, int index);

#endif
