// What echoes on a port: a loopback, or a SerialUPDI adapter with or
// without a UPDI chip on its wire (identify_updi.cpp).
#ifndef PORTVET_IDENTIFY_UPDI_H
#define PORTVET_IDENTIFY_UPDI_H

#include "identify_query.h"

struct id_updi_result {
  int echo[3];   // at 57600, 115200, 230400: whole 0, changed 1, short 2
  int answered;  // 0: no chip; 1: after a break; 2: only after two
  unsigned char statusa;  // LDCS STATUSA: the UPDI revision, high nibble
  unsigned char sib[32];  // the System Information Block
  int has_sib;
};

// Checks an adapter that echoes: the echo at each rate, then a break (and
// where the chip keeps silent, a double break), STATUSA and the SIB.
// Returns 0, or -1 on a port failure.
int id_updi_check(id_session *s, id_updi_result *r);

// "a SerialUPDI adapter with a UPDI chip on its wire: tinyAVR, UPDI
// revision 3 (...), at 115200 baud; the echo ...; decided by ...".
void id_updi_describe(const id_updi_result *r, char *out, size_t size);

// The line of a port whose queries came back as they were sent (at
// echo_baud): a SerialUPDI adapter's with the chip on it, or a loopback's
// with a note on what a SerialUPDI adapter without a chip would be.
void id_updi_port(const char *name, id_session *s, int32_t echo_baud);

#endif
