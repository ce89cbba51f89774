// What a port's record (src/record/record.h) likely means, in words,
// for standard error. Derived only from what crossed the line: the bytes
// written and read, at which rate, and when. Where the evidence fits more
// than one cause, each is named. Standard output never changes for it.
//
// Each routine writes one line, "portvet: COMn: <what was seen>: <what it
// likely means>\n", and a second where a fix needs one, into out (size
// bytes, DIAGNOSE_SIZE will do).
#ifndef PORTVET_DIAGNOSE_H
#define PORTVET_DIAGNOSE_H

#include <stddef.h>

#include "../ports/ports.h"
#include "../record/record.h"

enum { DIAGNOSE_SIZE = 1024 };

// After a port's report in the connection check.
void diagnose_check(const record_log *r, const char *name, char *out,
                    size_t size);

// After the stress test's summary (or its read or write error). latency
// names the file that sets the port's USB latency timer, or is empty;
// host is what the system says hands the port's bytes over (ports.h).
void diagnose_stress(const record_log *r, const char *name, const char *latency,
                     const ports_host *host, char *out, size_t size);

// For a refused command line: what was expected, in one line ending in
// "\n", or "" when there is nothing to add. mode: 0 the connection check,
// 1 the stress test, 2 the identify mode. arg: the refused argument; NULL for a
// missing or invalid port number.
void diagnose_argument(int mode, const char *arg, char *out, size_t size);

// The connection check's -c with a device's name for its value ("-c
// /dev/ttyUSB0", "-cCOM7"): it reads as 0, all four ports, as -c with any
// text does; the line says so and how to reach that device. "" for any
// other -c argument.
void diagnose_port_name(const char *arg, char *out, size_t size);

#endif
