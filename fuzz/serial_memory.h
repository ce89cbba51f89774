// An in-memory serial port for the fuzz targets: the device's side of every
// exchange comes from a script of bytes.
#ifndef PORTVET_FUZZ_SERIAL_MEMORY_H
#define PORTVET_FUZZ_SERIAL_MEMORY_H

#include <stddef.h>

// Script format, consumed in call order:
// - each write takes one control byte: 0xFE fails, 0xFD writes one byte
//   less than asked, anything else writes everything;
// - each read takes one control byte c: 0xFF fails, 0xFC asks for all n
//   bytes, else c % (n + 1) bytes; they come from the script (fewer when
//   it runs out).
// Once the script is used up, writes succeed and reads bring nothing, as on
// a silent line, so every probe ends.
void serial_memory_load(const unsigned char *script, size_t size);

// Ports opened and not yet closed.
int serial_memory_open_ports(void);

#endif
