// Where the serial ports of this computer are, for the line that says why a
// port would not open; what hands a port's received bytes to the program;
// and the file of a USB adapter's latency timer.
#ifndef PORTVET_PORTS_H
#define PORTVET_PORTS_H

#include <stddef.h>
#include <stdint.h>

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

// What stands between a port's UART and the program, as far as the system
// says: it decides how far apart the bytes of a steady stream reach the
// program (see serial_interval.h).
enum ports_host_kind {
  // The system does not say (a pty, a driver this tool does not know):
  // any common host, a PC's UART with the platform's trigger or a USB
  // bridge at its defaults.
  PORTS_HOST_UNKNOWN,
  // A PC's UART (a 16550): it hands bytes over when its FIFO reaches the
  // trigger level, or four character times after the last byte.
  PORTS_HOST_UART,
  // A USB-serial bridge with a latency timer: a packet when it is full, or
  // the timer after its first byte.
  PORTS_HOST_USB,
};

struct ports_host {
  int kind;
  // UART (and the UART an unknown host may be): the FIFO's trigger level;
  // 0 as Linux's driver sets it (8 bytes from 2400 baud up). Below 2400
  // baud Linux sets a UART's trigger to 1 whatever rx_trig_bytes says, so
  // a UART host (only Linux's sysfs names one) triggers at 1 there.
  uint32_t trigger;
  uint32_t latency_ms;  // USB: the latency timer
};

// What stands behind the port at path (the device COMn opens): on Linux
// from sysfs (the tty's driver, a UART's rx_trig_bytes, an FTDI adapter's
// latency_timer); elsewhere unknown, with the platform's UART trigger
// (Windows: 14).
void ports_host_of(const char *path, ports_host *host);

// The same from a folder laid out like /sys/class/tty (Linux).
void ports_host_in(const char *tty_class, const char *path, ports_host *host);

// The file that sets the latency timer of the USB adapter behind COMn
// (Linux: the adapter's latency_timer in sysfs), or "" when there is none.
void ports_latency_file(const char *name, char *out, size_t size);

#endif
