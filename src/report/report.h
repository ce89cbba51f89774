// Where a port's report goes. Alone (one port, or the stress test) it goes
// straight to standard output and standard error. In a sweep whose ports
// are checked at the same time (sweep.h), each port's thread writes into
// its own place in the sweep's ordered output, which prints the ports in
// their order: the first as it happens, each later one once every port
// before it is done.
#ifndef PORTVET_REPORT_H
#define PORTVET_REPORT_H

// Formatted text for standard output; report_err for standard error.
void report_out(const char *format, ...) __attribute__((format(printf, 1, 2)));
void report_err(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Lets a label that ends without a line end show while the port waits.
void report_flush(void);

struct report_order;

// The calling thread's report goes to port index of out (NULL: straight
// to the streams again).
void report_to(report_order *out, int index);

#endif
