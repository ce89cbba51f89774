// One port of the connection check, for the sweep (one port or four) and
// the fuzz target alike.
#ifndef PORTVET_CHECK_PORT_H
#define PORTVET_CHECK_PORT_H

// Prints the port's heading, opens it, runs the STK500 probe and, when that
// found nothing there, the AVR910 probe, then closes the port. A port that
// cannot be opened is reported (standard error says why) and skipped.
// After the report, standard error says what it likely means (src/diagnose).
void check_port(const char *name, int attempts, int timeout);

// The same for a sweep (sweep.h): how points to a check_how.
struct check_how {
  int attempts;
  int timeout;
};
void check_port_each(const char *name, const void *how);

#endif
