// The sweep over COM1..COM4 (-c0), or the identify mode's ports: the ports are
// independent lines, so they are checked at the same time, each on a thread of
// its own with its own port record; the output comes in port order, byte for
// byte as checking them one after another would give it (report_order.h). Two
// COMn that name one device are checked one after the other, on one thread, as
// before. The connection check and the identify mode sweep alike.
#ifndef PORTVET_SWEEP_H
#define PORTVET_SWEEP_H

// The most ports checked at the same time (COM1..COM4, or every port of
// the computer for the identify mode).
enum { SWEEP_PORTS = 16 };

// What a sweep does with each port: its name, and how (the mode's own
// options).
typedef void (*sweep_each)(const char *name, const void *how);

// Runs each on names[first..last]; more than SWEEP_PORTS in groups of
// that many, one group after the other.
void sweep_ports(const char *const *names, int first, int last, sweep_each each,
                 const void *how);

#endif
