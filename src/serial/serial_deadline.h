// Monotonic-clock deadline arithmetic for the POSIX backend.
//
// Times are nanoseconds of CLOCK_MONOTONIC in 64 bits; a deadline that would
// not fit saturates at UINT64_MAX, which no wait ever reaches.
#ifndef PORTVET_SERIAL_DEADLINE_H
#define PORTVET_SERIAL_DEADLINE_H

#include <stdint.h>

// start_ns + ms milliseconds, saturated.
uint64_t serial_deadline_after(uint64_t start_ns, uint64_t ms);

// The read or write timeout for n bytes in the Windows model: t*n + t ms.
// Cannot overflow: t and n + 1 each fit in 32 bits.
uint64_t serial_total_timeout_ms(uint32_t t, uint32_t n);

// The poll() timeout that waits until deadline_ns: whole milliseconds,
// rounded up so that a wait never ends before the deadline, capped at
// INT_MAX; 0 once the deadline has passed.
int serial_poll_timeout(uint64_t deadline_ns, uint64_t now_ns);

#endif
