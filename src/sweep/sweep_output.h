// The ordered output of a sweep: the one place where the ports' work meets.
//
// Each port has a buffer. The port whose turn it is (the first that is not
// done yet) writes straight to standard output and standard error; every
// later port writes into its buffer. When a port is done, the turn passes
// on: the next port's buffer is printed at once and, if that port is still
// running, it writes straight from then on. So both streams carry, byte for
// byte and in the same order, what checking the ports one after another
// would print. A mutex guards the turn and the buffers; nothing else is
// shared between the ports.
#ifndef PORTVET_SWEEP_OUTPUT_H
#define PORTVET_SWEEP_OUTPUT_H

#include <stddef.h>

#include "sweep_thread.h"

enum {
  SWEEP_PORTS = 4,
  SWEEP_BUFFER = 16384,  // a port's report with its verdicts, and room
};

struct sweep_output {
  sweep_mutex lock;
  int count;  // ports, in output order
  int turn;   // the port that writes straight to the streams
  int done[SWEEP_PORTS];
  // Each port's text so far: pieces of [stream (1 or 2)][length][bytes].
  char buffer[SWEEP_PORTS][SWEEP_BUFFER];
  size_t used[SWEEP_PORTS];
};

void sweep_output_init(sweep_output *out, int count);
void sweep_output_free(sweep_output *out);

// Port index writes text (len bytes) to stream 1 (standard output) or 2.
void sweep_output_write(sweep_output *out, int index, int stream,
                        const char *text, size_t len);

// Port index has written all it will.
void sweep_output_done(sweep_output *out, int index);

#endif
