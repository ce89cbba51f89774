// What the POSIX backend asks of the system about time: the monotonic
// clock, and poll() on one descriptor with a timeout. The two live apart
// from the rest of the backend, so that the virtual-time tests put a clock
// of their own under the unchanged read and write loops, poll's rounding,
// EINTR, EAGAIN and hang-ups included.
#ifndef PORTVET_SERIAL_TIME_H
#define PORTVET_SERIAL_TIME_H

#include <poll.h>
#include <stdint.h>

// Nanoseconds of CLOCK_MONOTONIC.
uint64_t serial_now_ns(void);

// poll() on one descriptor: the same result, errno and revents.
int serial_poll_one(struct pollfd *pfd, int timeout_ms);

#endif
