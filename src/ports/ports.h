// Where the serial ports of this computer are, for the line that says why a
// port would not open, and the file of a USB adapter's latency timer.
#ifndef PORTVET_PORTS_H
#define PORTVET_PORTS_H

#include <stddef.h>

// The serial ports that exist, as a user would name them in PORTVET_COMn,
// with a USB adapter's product name where the system has it: on Linux the
// ttys with a device behind them (/sys/class/tty/*/device), e.g.
// "/dev/ttyUSB0 (FT232R USB UART), /dev/ttyS0"; on Windows the ports under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, e.g. "COM3, COM7"; on macOS the
// /dev/cu.* devices. "" when there is none.
void ports_list(char *out, size_t size);

// The hint for a port that does not exist: the serial ports that are here,
// and, only where PORTVET_COMn is not set already, that it names the port
// (example: how a port is named on this platform, "/dev/ttyUSB0", "COM7").
void ports_hint(const char *name, const char *example, char *out, size_t size);

// The file that sets the latency timer of the USB adapter behind COMn
// (Linux: the adapter's latency_timer in sysfs), or "" when there is none.
void ports_latency_file(const char *name, char *out, size_t size);

#endif
