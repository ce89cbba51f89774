// How long a read waits between two bytes, once they flow.
//
// The Windows model ends a read when more than t ms pass between two
// bytes. Windows' own driver times that gap as the bytes reach the port, at
// the resolution of its timers; a program sees them only when the host
// hands them over: a PC's UART when its FIFO reaches the trigger level or
// four character times after the last byte, a USB bridge when a packet
// fills or its latency timer runs out. On a healthy line those hand-overs
// come further apart than t (an FTDI adapter at its defaults: every 16 ms),
// and a read that timed the gaps as the program sees them would take the
// host's own batches for a line that stops. So the gap allowed is t, or the
// host's longest gap between two hand-overs of a steady stream and the time
// a busy computer may add before the program gets them, whichever is
// longer. A silent line costs what it did: the read's total (t per byte
// and t) is not changed.
#ifndef PORTVET_SERIAL_INTERVAL_H
#define PORTVET_SERIAL_INTERVAL_H

#include <stdint.h>

#include "../ports/ports.h"

// The longest time, in microseconds, between two hand-overs of a steady
// stream at this rate through this host (an unknown host: the slowest of
// the common ones, a PC's UART with its trigger or an FTDI adapter at its
// defaults).
uint32_t serial_host_gap_us(const ports_host *host, int32_t baud);

// The inter-byte timeout of a read with timeout t at this rate on this
// host, in ms.
uint32_t serial_interval_ms(uint32_t t, int32_t baud, const ports_host *host);

#endif
