// Portable serial port access used by every module of portvet.
//
// One port is open at a time; its state lives in a serial_port record that
// the caller owns (a local variable), so nothing here allocates or keeps
// globals. Every call blocks until it completes or its timeout runs out.
//
// Timeouts follow the Windows model with the COMMTIMEOUTS fields equal to t
// milliseconds: a read of n bytes returns success with the count it got
// when n bytes have come, when more than t ms pass between two bytes, or when
// t*n + t ms have passed; a write of n bytes may take up to t*n + t ms. The
// gap allowed between two bytes is never less than the host's own between
// two hand-overs of a steady stream (serial_interval.h).
#ifndef PORTVET_SERIAL_H
#define PORTVET_SERIAL_H

#include <stddef.h>
#include <stdint.h>

#include "../interrupt/interrupt.h"
#include "../ports/ports.h"
#include "../record/record.h"

// Room for the line that says why a port would not open.
enum { SERIAL_WHY_SIZE = 1400 };

// Room for what names a port's device (serial_device_id).
enum { SERIAL_DEVICE_ID_SIZE = 600 };

// Room for a port's name: "COM1", "COM17", "/dev/ttyUSB0".
enum { SERIAL_NAME_SIZE = 64 };

// Room for the port's settings as they were found (termios or termios2;
// DCB and COMMTIMEOUTS), put back when it closes or on an interrupt.
enum { SERIAL_SAVED_SIZE = INTERRUPT_SAVED_SIZE };

#if defined(PORTVET_SERIAL_MEMORY)
// The in-memory port of the fuzz targets (fuzz/serial_memory.cpp).
struct serial_port {
  int open;
  ports_host host;
  record_log record;
  char why[SERIAL_WHY_SIZE];
};
#elif defined(_WIN32)
struct serial_port {
  void *handle;                 // HANDLE; INVALID_HANDLE_VALUE while closed
  char name[SERIAL_NAME_SIZE];  // "COM1"
  ports_host host;              // what hands the port's bytes over
  unsigned char saved[SERIAL_SAVED_SIZE];  // DCB and COMMTIMEOUTS at open
  int32_t refused;    // the last rate the port refused; 0: none
  record_log record;  // what crossed the line, for the diagnosis
  char why[SERIAL_WHY_SIZE];
};
#else
struct serial_port {
  int fd;                                  // -1 while closed
  uint32_t timeout_ms;                     // t of the model above
  uint32_t interval_ms;                    // the gap allowed between bytes
  ports_host host;                         // what hands its bytes over
  char name[SERIAL_NAME_SIZE];             // "COM1"
  unsigned char saved[SERIAL_SAVED_SIZE];  // the line as found at open
  int32_t refused;    // the last rate the port refused; 0: none
  record_log record;  // what crossed the line, for the diagnosis
  char why[SERIAL_WHY_SIZE];
};
#endif

// Opens "COM1".."COM4", or a port by its own name. COMn opens what the
// environment variable PORTVET_COMn names when it is set and not empty;
// unset, the port of that name on Windows (COM10 and up too) and
// /dev/ttyS<n-1> on POSIX (see each backend). On POSIX a name that starts
// with '/' is the device's path ("/dev/ttyACM0").
// Returns 1 on success, 0 when the port cannot be opened; then port->why
// holds one line naming the port, what was tried and why it failed, with a
// hint where one helps, e.g.
// "COM1 (/dev/ttyUSB0): Permission denied (add your user to the dialout
// group)".
int serial_open(serial_port *port, const char *name);

// Where COMn opens a device the user did not name (POSIX: PORTVET_COMn is
// not set, and COMn opens /dev/ttyS<n-1>): returns 1 with its path. 0 where
// the user named it, and on Windows, where COMn is the port's own name.
int serial_implicit_path(const char *name, char *path, size_t size);

// What names the device COMn opens, the same for two names of one device
// (two PORTVET_COMn values, or links to one node), so that those are never
// checked at the same time.
void serial_device_id(const char *name, char *id, size_t size);

// Puts the port's settings back as they were found at open and frees it.
// Safe on a port that failed to open. Until then an interrupt (Ctrl-C,
// SIGTERM) puts them back too, before the program ends.
void serial_close(serial_port *port);

// A line's framing: 8 data bits, then no parity and one stop bit (every
// programmer and bootloader but UPDI's), or even parity and one or two stop
// bits (UPDI: 8E2, and 8E1 for the zero at 300 baud that is its break).
enum serial_framing { SERIAL_8N1, SERIAL_8E1, SERIAL_8E2 };

// Line setup: the given baud rate, 8 data bits, no parity, one stop bit, and
// all timeouts equal to timeout_ms. A setting the port refuses is ignored and
// the port is used with what it has; when the rate it runs at is another
// than asked, standard error says so once, e.g. "portvet: COM1 runs at
// 115200 baud, not 256000: the port refused that rate".
void serial_setup(serial_port *port, uint32_t timeout_ms, int32_t baud);

// The same in another framing. Parity is sent, not checked: a byte with a
// wrong parity bit comes through as it is.
void serial_setup_framed(serial_port *port, uint32_t timeout_ms, int32_t baud,
                         serial_framing framing);

// Reads up to n bytes. Returns 1 with *got set to the count that came (below
// n when the timeout ran out), or 0 on a port failure (including a hang-up).
int serial_read(serial_port *port, unsigned char *buf, uint32_t n,
                uint32_t *got);

// Reads up to n bytes within ms milliseconds, whatever the timeout of the
// line setup: ends when n bytes have come, when the gap after a byte runs
// out (as in serial_read), or when ms have passed; with ms 0, takes what
// has come and does not wait. Returns as serial_read.
int serial_read_for(serial_port *port, unsigned char *buf, uint32_t n,
                    uint32_t ms, uint32_t *got);

// Writes n bytes. Returns 1 with *put set to the count written, or 0 on a
// port failure.
int serial_write(serial_port *port, const unsigned char *buf, uint32_t n,
                 uint32_t *put);

// Milliseconds of a monotonic clock, for waits that span several calls.
uint64_t serial_clock_ms(void);

// Input drain: reads and discards one byte at a time, stopping after the
// first read that fails or brings nothing, and after 100 reads at most.
void serial_drain(serial_port *port);

#endif
