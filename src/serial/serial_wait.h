// Waiting on a port until it is ready or a deadline passes, for the POSIX
// backend.
#ifndef PORTVET_SERIAL_WAIT_H
#define PORTVET_SERIAL_WAIT_H

#include <stdint.h>

// Waits until fd can be read (writing 0) or written (writing 1), or until
// deadline_ns (CLOCK_MONOTONIC) passes. Returns 1 ready, 0 deadline passed,
// -1 port failure (error or hang-up).
int serial_wait(int fd, int writing, uint64_t deadline_ns);

// Whether fd can be waited on at all (select() takes descriptors below
// FD_SETSIZE only).
int serial_waitable(int fd);

#endif
