// What echoes on a port: a loopback, or a SerialUPDI adapter with or
// without a UPDI chip on its wire (identify_updi.cpp).
#ifndef PORTVET_IDENTIFY_UPDI_H
#define PORTVET_IDENTIFY_UPDI_H

#include "identify_query.h"

// The line of a port whose queries came back as they were sent (at
// echo_baud): a SerialUPDI adapter's with the chip on it, or a loopback's
// with a note on what a SerialUPDI adapter without a chip would be.
void id_updi_port(const char *name, id_session *s, int32_t echo_baud);

#endif
