// A serial port in virtual time, for the tests: the tool's port on the line
// model (sim/sim_line.h) with the host that hands received bytes to the
// program (a PC's UART, a USB bridge), and at the far end either a TXD-RXD
// loopback with a fault, or a device the simulator plays (its STK500,
// AVR910 or echo personality, with its knobs). It implements the tool's
// serial interface (src/serial/serial.h), running the POSIX backend's read
// and write loops (serial_loop.h) and its inter-byte timeout
// (serial_interval.h) against the model, so that whatever links it instead
// of the real backend runs unchanged: the probes, the stress test, the
// drain, the record and the verdicts.
//
// Nothing waits: the clock moves from one event of the model to the next
// (a byte reaching a UART, a hand-over, a deadline), so a run is exact and
// takes microseconds, whatever the rate, the timeouts and the attempts.
#ifndef PORTVET_TESTS_VT_PORT_H
#define PORTVET_TESTS_VT_PORT_H

#include <stdint.h>

#include <string>
#include <vector>

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
  // A device instead of the loopback: the simulator's personality and its
  // knobs ("stk500", "--nosync-signon", "3"); its --host replaces host.
  std::vector<std::string> device;
};

// COM1 opens a port on this line from now on (NULL: COM1 does not open).
void VtUse(const VtLine *line);

// What the last run did to the port: the bytes the port handed the
// program, and every rate the tool set.
uint64_t VtDelivered(void);
std::vector<int> VtRates(void);

// How many times COM1 was opened since VtUse.
int VtOpens(void);

#endif
