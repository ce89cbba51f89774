// What only the platform's own calls can do with a port's line: a rate that
// has no Bnnn constant, the rate the port really runs at, and the whole line
// saved and put back byte for byte (custom rates included). Kept apart from
// serial_posix.cpp because Linux's termios2 header clashes with <termios.h>.
#ifndef PORTVET_SERIAL_NATIVE_H
#define PORTVET_SERIAL_NATIVE_H

#include <stddef.h>
#include <stdint.h>

// Sets a rate that has no Bnnn constant. Returns 1 when the port took it,
// 0 when it refused it.
int serial_set_custom_baud(int fd, int32_t baud);

// The rate the port runs at (its output rate); 0 when it cannot tell.
int32_t serial_actual_baud(int fd);

// Saves the whole line into buf (size bytes). Returns 0 when it cannot.
int serial_line_save(int fd, unsigned char *buf, size_t size);

// Puts a saved line back at once. Safe in a signal handler: one ioctl.
// Returns 0 when the port refused it.
int serial_line_restore(int fd, const unsigned char *buf);

#endif
