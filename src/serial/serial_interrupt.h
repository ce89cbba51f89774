// Ports that an interrupt must leave as they were found.
//
// While a port is open, an interrupt (Ctrl-C, SIGINT or SIGTERM on POSIX,
// the console's control events on Windows) puts the port's settings back
// before the program ends, as its close would have. A signal handler and a
// console control handler get no argument to find the open ports by, so
// this is the one table that lives outside the procedures that own the
// ports: the opening procedure enters a port, its close takes it out.
#ifndef PORTVET_SERIAL_INTERRUPT_H
#define PORTVET_SERIAL_INTERRUPT_H

#include "serial.h"

// Enters an open port with the settings it was found with (port->saved).
void serial_interrupt_watch(const serial_port *port);

// Takes it out again (its own close has put the settings back).
void serial_interrupt_forget(const serial_port *port);

#endif
