// A serial port in virtual time, for the tests: the tool's port on the line
// model (sim/sim_line.h) with the host that hands received bytes to the
// program (a PC's UART, a USB bridge), and at the far end either a TXD-RXD
// loopback with a fault, or a device the simulator plays (its STK500,
// AVR910 or echo personality, with its knobs).
//
// The tool runs its own POSIX backend unchanged (src/serial: open, setup,
// the read and write loops, the wait with poll's rounding, EINTR, EAGAIN
// and hang-ups) on a real pty. Only the clock and poll() are the model's
// (serial_time.h), and what the system says stands behind the port
// (ports_host_of): the model's clock moves from one event of the model to
// the next (a byte reaching a UART, a hand-over, a deadline), writing what
// the host hands over into the pty's master side and reading there what
// the tool wrote. So a run is exact and takes milliseconds, whatever the
// rate, the timeouts and the attempts.
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
  // Every other poll() ends early in EINTR, as when signals come.
  int eintr = 0;
  // The tool's open takes this long, in ms: a board restarts as it begins,
  // and the tool runs on once it returned (a loaded computer, a driver slow
  // to set a USB bridge up).
  uint32_t open_ms = 0;
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
