// The POSIX line settings the tool asks for, computed from what the port had
// (a pure function, so that what no pty can show is tested: a Linux pty
// keeps 8N1 and no flow control whatever it is asked).
#ifndef PORTVET_SERIAL_TERMIOS_H
#define PORTVET_SERIAL_TERMIOS_H

#include <stdint.h>
#include <termios.h>

#include "serial.h"

// Raw 8N1 (or the framing asked for: even parity, not checked, and one or
// two stop bits) whatever another program left in had: no parity, one stop
// bit, no
// XON/XOFF, RTS/CTS or IXANY flow control, no canonical mode, echo, signals,
// CR/LF mapping or output processing, the receiver on, modem lines ignored,
// and a read that returns as soon as one byte is there (VMIN 1, VTIME 0).
// The rate goes into want when it has a Bnnn constant; returns 1 then, 0
// when the platform's custom-rate call must set it.
int serial_termios_for(const struct termios *had, int32_t baud,
                       serial_framing framing, struct termios *want);

#endif
