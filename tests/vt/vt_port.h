// A serial port in virtual time, for the tests: the tool's port on a
// TXD-RXD loopback through the line model (sim/sim_line.h), with the host
// that hands received bytes to the program (a PC's UART, a USB bridge), and
// the tool's own stalls. It implements the tool's serial interface
// (src/serial/serial.h), running the POSIX backend's read and write loops
// (serial_loop.h) and its inter-byte timeout (serial_interval.h) against
// the model, so that whatever links it instead of the real backend runs
// unchanged: the stress test, the drain, the record.
//
// Nothing waits: the clock moves from one event of the model to the next
// (a byte reaching the host, a hand-over, a deadline), so a run is exact
// and takes microseconds, whatever the rate.
#ifndef PORTVET_TESTS_VT_PORT_H
#define PORTVET_TESTS_VT_PORT_H

#include <stdint.h>

#include "../../src/ports/ports.h"

enum VtFaultKind {
  VT_NONE,
  VT_DROP,   // the loop loses the byte at position of pass
  VT_PAUSE,  // the loop stops ms after the byte at position of pass
  VT_STALL,  // the tool does not run for ms once that byte has come
};

struct VtLine {
  int host;  // LINE_HOST_DIRECT, _UART or _USB (sim_line.h)
  uint32_t host_size;
  uint32_t latency_ms;
  ports_host told;  // what the system says of the port
  int fault;        // VtFaultKind
  int pass;
  int position;
  uint32_t ms;
};

// COM1 opens a port on this line from now on (NULL: COM1 does not open).
void VtUse(const VtLine *line);

// Bytes the loop received from the tool, and the virtual time of the last
// close, in ms since the port opened (for the speed rows).
uint64_t VtSent(void);
double VtClosedMs(void);

#endif
