// Sets a baud rate that has no Bnnn constant, through the platform's own
// call. Kept apart from serial_posix.cpp because Linux's termios2 header
// clashes with <termios.h>.
#ifndef PORTVET_SERIAL_CUSTOM_BAUD_H
#define PORTVET_SERIAL_CUSTOM_BAUD_H

#include <stdint.h>

// Returns 1 when the port took the rate, 0 when it refused it.
int serial_set_custom_baud(int fd, int32_t baud);

#endif
