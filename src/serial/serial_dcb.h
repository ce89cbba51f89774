// The Windows line settings the tool asks for, computed from what the port
// had (a pure function, tested under Wine, where a pty keeps 8N1 whatever
// it is asked).
#ifndef PORTVET_SERIAL_DCB_H
#define PORTVET_SERIAL_DCB_H

#include <stdint.h>
#include <windows.h>

#include "serial.h"

// The rate and 8N1 (or the framing asked for: even parity, sent and not
// checked, and one or two stop bits), and a binary line whatever another
// program left in had: fBinary on; fParity, XON/XOFF (fOutX, fInX), fNull,
// fErrorChar, fDsrSensitivity and fAbortOnError off. The handshake lines and
// their flow control (fDtrControl, fRtsControl, fOutxCtsFlow, fOutxDsrFlow) and
// every other field stay as the port reports them.
void serial_dcb_for(const DCB *had, int32_t baud, serial_framing framing,
                    DCB *want);

#endif
