// Windows backend: the kernel's serial-port calls, nothing else.
#include <windows.h>

#include "serial.h"

int serial_open(serial_port *port, const char *name) {
  // The bare name ("COM1"), exclusive, blocking (not overlapped).
  port->handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                             OPEN_EXISTING, 0, NULL);
  return port->handle != INVALID_HANDLE_VALUE;
}

void serial_close(serial_port *port) {
  if (port->handle != INVALID_HANDLE_VALUE) {
    CloseHandle(port->handle);
    port->handle = INVALID_HANDLE_VALUE;
  }
}

void serial_setup(serial_port *port, uint32_t timeout_ms, int32_t baud) {
  // Only the named fields change; every other one stays as the port
  // reports it. Results are ignored: a port that refuses a setting is used
  // with what it has.
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  GetCommState(port->handle, &dcb);
  dcb.BaudRate = (DWORD)baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommState(port->handle, &dcb);

  COMMTIMEOUTS timeouts;
  ZeroMemory(&timeouts, sizeof timeouts);
  GetCommTimeouts(port->handle, &timeouts);
  timeouts.ReadIntervalTimeout = timeout_ms;
  timeouts.ReadTotalTimeoutMultiplier = timeout_ms;
  timeouts.ReadTotalTimeoutConstant = timeout_ms;
  timeouts.WriteTotalTimeoutMultiplier = timeout_ms;
  timeouts.WriteTotalTimeoutConstant = timeout_ms;
  SetCommTimeouts(port->handle, &timeouts);
}

int serial_read(serial_port *port, unsigned char *buf, uint32_t n,
                uint32_t *got) {
  DWORD count = 0;
  BOOL ok = ReadFile(port->handle, buf, n, &count, NULL);
  *got = count;
  return ok ? 1 : 0;
}

int serial_write(serial_port *port, const unsigned char *buf, uint32_t n,
                 uint32_t *put) {
  DWORD count = 0;
  BOOL ok = WriteFile(port->handle, buf, n, &count, NULL);
  *put = count;
  return ok ? 1 : 0;
}
