// Ports that an interrupt must leave as they were found.
//
// While a port is open, an interrupt (Ctrl-C, SIGINT or SIGTERM on POSIX,
// the console's control events on Windows) puts the port's settings back
// before the program ends, as its close would have. A signal handler and a
// console control handler get no argument to find the open ports by, so
// this is the one table that lives outside the procedures that own the
// ports: the opening procedure enters a port, its close takes it out.
//
// The table knows nothing of serial ports: the backend that enters a port
// gives the settings to put back, as bytes, and the routine that puts them
// back, which must be safe in a signal handler.
#ifndef PORTVET_INTERRUPT_H
#define PORTVET_INTERRUPT_H

#include <stddef.h>
#include <stdint.h>

// Room for a port's settings as found (termios2; DCB and COMMTIMEOUTS).
enum { INTERRUPT_SAVED_SIZE = 160 };

// A port as the platform hands it out: a POSIX descriptor or a Windows
// HANDLE.
typedef intptr_t interrupt_port;

// Puts saved settings back on a port at once.
typedef void (*interrupt_restore)(interrupt_port port,
                                  const unsigned char *saved);

// Enters an open port with the settings it was found with (size bytes, at
// most INTERRUPT_SAVED_SIZE) and the routine that puts them back.
void interrupt_watch(interrupt_port port, const unsigned char *saved,
                     size_t size, interrupt_restore restore);

// Takes it out again (its own close has put the settings back).
void interrupt_forget(interrupt_port port);

#endif
