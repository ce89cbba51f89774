// The Windows timeout model on a port that only says when it can be read or
// written: the read and write loops of the POSIX backend, over what they
// need of the port and of time. The backend gives them the port's
// descriptor and the monotonic clock; the tests give them a model of the
// line, the host and the tool's own stalls, in virtual time.
#ifndef PORTVET_SERIAL_LOOP_H
#define PORTVET_SERIAL_LOOP_H

#include <stdint.h>

struct serial_io {
  void *port;
  // Nanoseconds of a monotonic clock.
  uint64_t (*now_ns)(void *port);
  // Waits until the port can be read (writing 0) or written (1), or until
  // deadline_ns passes. Returns 1 ready, 0 deadline passed, -1 a port
  // failure (error or hang-up).
  int (*wait)(void *port, int writing, uint64_t deadline_ns);
  // Takes what the port holds, without waiting: the count, 0 when nothing
  // is there, -1 on a port failure.
  long (*take)(void *port, unsigned char *buf, uint32_t n);
  // Gives the port what it takes now, without waiting: the count, 0 when it
  // has no room, -1 on a port failure.
  long (*give)(void *port, const unsigned char *buf, uint32_t n);
};

// Reads up to n bytes: until n have come, until more than interval_ms pass
// after a byte without another, or until total_ms have passed since the
// read began. Returns 1 with *got set to the count that came, 0 on a port
// failure.
int serial_read_loop(const serial_io *io, uint64_t total_ms,
                     uint32_t interval_ms, unsigned char *buf, uint32_t n,
                     uint32_t *got);

// Writes n bytes, giving up after total_ms. Returns 1 with *put set to the
// count written, 0 on a port failure.
int serial_write_loop(const serial_io *io, uint64_t total_ms,
                      const unsigned char *buf, uint32_t n, uint32_t *put);

#endif
