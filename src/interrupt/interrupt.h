// Ports that an interrupt must leave as they were found.
//
// While a port is open, an interrupt (on POSIX every signal that ends the
// program by default: Ctrl-C, Ctrl-\, SIGTERM, SIGHUP, SIGPIPE when
// standard output goes away, ...; on Windows the console's control events)
// puts the port's settings back before the program ends, as its close
// would have. A signal handler
// and a console control handler get no argument to find the open ports by,
// so this is the one table that lives outside the procedures that own the
// ports: the opening procedure enters a port, its close takes it out.
//
// The ports of a sweep are checked on threads of their own, and an
// interrupt comes on any thread (on Windows always on one of its own). So
// every change of a port's settings (the line setup, the open that enters a
// port, the close that puts it back and takes it out) runs in a section:
// once an interrupt has begun to put the ports back, no section starts (a
// thread that would begin one waits for the end of the program), and the
// interrupt waits for the sections under way to end before it puts any
// port back. No lock is taken in the handler: the two sides meet through
// two atomic counters. Any further interrupt while the first is at work
// waits for it: the first ends the program once every port is back.
//
// The table knows nothing of serial ports: the backend that enters a port
// gives the settings to put back, as bytes, and the routine that puts them
// back, which must be safe in a signal handler.
#ifndef PORTVET_INTERRUPT_H
#define PORTVET_INTERRUPT_H

#include <stddef.h>
#include <stdint.h>

#if !defined(_WIN32)
#include <signal.h>
#endif

// Room for a port's settings as found (termios2; DCB and COMMTIMEOUTS).
enum { INTERRUPT_SAVED_SIZE = 160 };

// A port as the platform hands it out: a POSIX descriptor or a Windows
// HANDLE.
typedef intptr_t interrupt_port;

// Puts saved settings back on a port at once.
typedef void (*interrupt_restore)(interrupt_port port,
                                  const unsigned char *saved);

// A section in which a thread changes a port's settings; the caller owns it.
struct interrupt_section {
#if defined(_WIN32)
  int entered;
#else
  sigset_t mask;  // the thread's signal mask before the section
#endif
};

// Begins a section (does not return once an interrupt is putting the ports
// back: the program is ending), and ends it.
void interrupt_enter(interrupt_section *section);
void interrupt_leave(interrupt_section *section);

// Enters an open port with the settings it was found with (size bytes, at
// most INTERRUPT_SAVED_SIZE) and the routine that puts them back. Call it in
// a section, before the port's settings change.
void interrupt_watch(interrupt_port port, const unsigned char *saved,
                     size_t size, interrupt_restore restore);

// Takes it out again (its own close has put the settings back, in the same
// section).
void interrupt_forget(interrupt_port port);

#endif
