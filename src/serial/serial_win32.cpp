// Windows backend: the kernel's serial-port calls, plus GetLastError and
// FormatMessageA to say why a port would not open, PurgeComm so that a close
// never waits on a stuck line, and SetConsoleCtrlHandler so that Ctrl-C
// leaves the port as it was found (src/interrupt). The line
// settings come from serial_dcb.cpp.
//
// The port is opened for overlapped I/O, and each read and write waits for
// its own completion (GetOverlappedResult), so every call still blocks as
// the timeouts say. Why overlapped: on a handle opened without it, Windows
// runs one call at a time, so the console handler's SetCommState would
// wait behind a read in flight (6.4 s at 600 baud, unbounded with a long
// -t), and Windows ends the program 5 s after the console window closes,
// with the port not put back.
//
// Port names: "COMn" opens the port that the environment variable
// PORTVET_COMn names when it is set and not empty (a value "COMk" opens
// "\\.\COMk", the only form that reaches COM10 and up; any other value is
// opened as it stands), else the port of that name ("COM1", "\\.\COM17").
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "../interrupt/interrupt.h"
#include "../ports/ports.h"
#include "../report/report.h"
#include "serial.h"
#include "serial_dcb.h"
#include "serial_interval.h"

// Whether text is "COM" and a port number, in either case.
static int serial_is_com_name(const char *text) {
  if (_strnicmp(text, "COM", 3) != 0 || text[3] < '1' || text[3] > '9') {
    return 0;
  }
  for (const char *c = text + 4; *c != '\0'; c++) {
    if (*c < '0' || *c > '9') {
      return 0;
    }
  }
  return 1;
}

// What COMn opens; 0 when PORTVET_COMn is too long for the buffer.
static int serial_path(const char *name, char *path, size_t size) {
  char var[32];
  snprintf(var, sizeof var, "PORTVET_%s", name);
  const char *env = getenv(var);
  int n;
  if (env == NULL || env[0] == '\0') {
    // Only the \\.\ form reaches COM10 and up.
    n = serial_is_com_name(name) && name[4] != '\0'
            ? snprintf(path, size, "\\\\.\\%s", name)
            : snprintf(path, size, "%s", name);
  } else if (serial_is_com_name(env)) {
    n = snprintf(path, size, "\\\\.\\%s", env);
  } else {
    n = snprintf(path, size, "%s", env);
  }
  return n >= 0 && (size_t)n < size;
}

int serial_implicit_path(const char *, char *path, size_t size) {
  if (size > 0) {
    path[0] = '\0';
  }
  return 0;
}

void serial_device_id(const char *name, char *id, size_t size) {
  char path[512];
  if (!serial_path(name, path, sizeof path)) {
    snprintf(id, size, "%s", name);
    return;
  }
  // "COM7", "\\.\COM7" and "com7" are one port.
  const char *p = strncmp(path, "\\\\.\\", 4) == 0 ? path + 4 : path;
  size_t i = 0;
  for (; p[i] != '\0' && i + 1 < size; i++) {
    id[i] = (char)toupper((unsigned char)p[i]);
  }
  id[i] = '\0';
}

// What a user can do about a failed open, after the system's own text.
static const char *serial_hint(const char *name, DWORD err, char *buf,
                               size_t size) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: {
      ports_hint(name, "COM7", buf, size);
      return buf;
    }
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return " (held by another program)";
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return " (not a serial port)";
    default:
      return "";
  }
}

// Fills port->why from GetLastError's code and a hint (NULL: the one that
// fits the code).
static void serial_why(serial_port *port, const char *name, const char *path,
                       DWORD err, const char *hint) {
  char text[256];
  DWORD len =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     NULL, err, 0, text, sizeof text, NULL);
  if (len == 0) {
    snprintf(text, sizeof text, "error %lu", (unsigned long)err);
  }
  // The system's text ends with "\r\n"; the line gets its own end.
  size_t end = strlen(text);
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' ||
                     text[end - 1] == ' ')) {
    text[--end] = '\0';
  }
  char hint_text[600];
  if (hint == NULL) {
    hint = serial_hint(name, err, hint_text, sizeof hint_text);
  }
  if (strcmp(name, path) == 0) {
    snprintf(port->why, sizeof port->why, "%s: %s%s", name, text, hint);
  } else {
    snprintf(port->why, sizeof port->why, "%s (%s): %s%s", name, path, text,
             hint);
  }
}

// Puts a port's DCB and timeouts back as they were found, at once: after a
// console control event as at close. Never waits for output a stuck line
// will not take.
static void serial_put_back(interrupt_port handle, const unsigned char *saved) {
  DCB dcb;
  COMMTIMEOUTS timeouts;
  memcpy(&dcb, saved, sizeof dcb);
  memcpy(&timeouts, saved + sizeof dcb, sizeof timeouts);
  PurgeComm((HANDLE)handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
  SetCommState((HANDLE)handle, &dcb);
  SetCommTimeouts((HANDLE)handle, &timeouts);
}

// A read (writing 0) or a write (1) on the overlapped port, waited for to
// its end as the timeouts say: what ReadFile or WriteFile on a blocking
// handle returns, with the count done.
static BOOL serial_overlapped(HANDLE handle, unsigned char *buf, DWORD n,
                              int writing, DWORD *count) {
  *count = 0;
  OVERLAPPED ov;
  ZeroMemory(&ov, sizeof ov);
  ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (ov.hEvent == NULL) {
    return FALSE;
  }
  BOOL ok = writing ? WriteFile(handle, buf, n, count, &ov)
                    : ReadFile(handle, buf, n, count, &ov);
  if (!ok && GetLastError() == ERROR_IO_PENDING) {
    ok = GetOverlappedResult(handle, &ov, count, TRUE);
  }
  if (!ok && GetLastError() == ERROR_TIMEOUT) {
    // A read whose timeout ran out ends with STATUS_TIMEOUT, a success
    // that Windows passes on as such; Wine makes it ERROR_TIMEOUT. Either
    // way it brought *count bytes and failed nothing.
    ok = TRUE;
  }
  CloseHandle(ov.hEvent);
  return ok;
}

int serial_open(serial_port *port, const char *name) {
  port->why[0] = '\0';
  port->refused = 0;
  record_init(&port->record);
  snprintf(port->name, sizeof port->name, "%s", name);
  char path[512];
  if (!serial_path(name, path, sizeof path)) {
    port->handle = INVALID_HANDLE_VALUE;
    snprintf(port->why, sizeof port->why,
             "%s: no such port (PORTVET_%s is too long)", name, name);
    return 0;
  }
  // Exclusive; overlapped, so that the console handler is never held up
  // behind a read in flight (see above).
  port->handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
  if (port->handle == INVALID_HANDLE_VALUE) {
    serial_why(port, name, path, GetLastError(), NULL);
    return 0;
  }
  // A file or a device that is no serial port opens too; it has no line
  // settings to give.
  // What it had is put back at close.
  DCB dcb;
  COMMTIMEOUTS timeouts;
  ZeroMemory(&dcb, sizeof dcb);
  ZeroMemory(&timeouts, sizeof timeouts);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port->handle, &dcb) ||
      !GetCommTimeouts(port->handle, &timeouts)) {
    DWORD err = GetLastError();
    CloseHandle(port->handle);
    port->handle = INVALID_HANDLE_VALUE;
    serial_why(port, name, path, err, " (not a serial port)");
    return 0;
  }
  ports_host_of(path, &port->host);
  memcpy(port->saved, &dcb, sizeof dcb);
  memcpy(port->saved + sizeof dcb, &timeouts, sizeof timeouts);
  // Watched before any setting changes: from here a console event puts
  // the port back.
  interrupt_section section;
  interrupt_enter(&section);
  interrupt_watch((interrupt_port)port->handle, port->saved, sizeof port->saved,
                  serial_put_back);
  interrupt_leave(&section);
  return 1;
}

void serial_close(serial_port *port) {
  if (port->handle == INVALID_HANDLE_VALUE) {
    return;
  }
  // One section: the console handler (a thread of its own) meanwhile
  // waits, and never finds the handle closed (or reused) under it.
  interrupt_section section;
  interrupt_enter(&section);
  serial_put_back((interrupt_port)port->handle, port->saved);
  interrupt_forget((interrupt_port)port->handle);
  CloseHandle(port->handle);
  interrupt_leave(&section);
  port->handle = INVALID_HANDLE_VALUE;
}

void serial_setup(serial_port *port, uint32_t timeout_ms, int32_t baud) {
  serial_setup_framed(port, timeout_ms, baud, SERIAL_8N1);
}

void serial_setup_framed(serial_port *port, uint32_t timeout_ms, int32_t baud,
                         serial_framing framing) {
  // Results are ignored: a port that refuses a setting is used with what it
  // has; but the rate it runs at is read back (a loopback passes at any
  // rate, so a test at another rate would say nothing about the one asked).
  DCB had;
  DCB want;
  ZeroMemory(&had, sizeof had);
  had.DCBlength = sizeof had;
  GetCommState(port->handle, &had);
  serial_dcb_for(&had, baud, framing, &want);
  // Once a console event puts the ports back, no setup changes one again.
  interrupt_section section;
  interrupt_enter(&section);
  SetCommState(port->handle, &want);
  interrupt_leave(&section);
  DCB now;
  ZeroMemory(&now, sizeof now);
  now.DCBlength = sizeof now;
  int known = GetCommState(port->handle, &now);
  record_setup(&port->record, baud, known ? (int32_t)now.BaudRate : 0);
  if (known && now.BaudRate != (DWORD)baud && port->refused != baud) {
    port->refused = baud;
    // Through the report: in a sweep the note goes in its port's block.
    report_err(
        "portvet: %s runs at %lu baud, not %ld: the port refused that "
        "rate\n",
        port->name, (unsigned long)now.BaudRate, (long)baud);
  }

  COMMTIMEOUTS timeouts;
  ZeroMemory(&timeouts, sizeof timeouts);
  GetCommTimeouts(port->handle, &timeouts);
  // The gap between bytes follows what hands them over (serial_interval.h):
  // an FTDI driver's packets come every 16 ms at its defaults.
  timeouts.ReadIntervalTimeout = serial_interval_ms(
      timeout_ms, known ? (int32_t)now.BaudRate : baud, &port->host);
  timeouts.ReadTotalTimeoutMultiplier = timeout_ms;
  timeouts.ReadTotalTimeoutConstant = timeout_ms;
  timeouts.WriteTotalTimeoutMultiplier = timeout_ms;
  timeouts.WriteTotalTimeoutConstant = timeout_ms;
  interrupt_enter(&section);
  SetCommTimeouts(port->handle, &timeouts);
  interrupt_leave(&section);
}

int serial_read(serial_port *port, unsigned char *buf, uint32_t n,
                uint32_t *got) {
  DWORD count = 0;
  BOOL ok = serial_overlapped(port->handle, buf, n, 0, &count);
  *got = count;
  record_read(&port->record, buf, n, count, ok);
  return ok ? 1 : 0;
}

// QueryPerformanceCounter, not GetTickCount64: that one moves in steps of
// about 16 ms, and a wait measured with it could end early.
uint64_t serial_clock_ms(void) {
  LARGE_INTEGER freq;
  LARGE_INTEGER count;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&count);
  return (uint64_t)(count.QuadPart / freq.QuadPart * 1000 +
                    count.QuadPart % freq.QuadPart * 1000 / freq.QuadPart);
}

int serial_read_for(serial_port *port, unsigned char *buf, uint32_t n,
                    uint32_t ms, uint32_t *got) {
  if (ms == 0) {
    // What has come, at once: as many bytes as the port holds, which a
    // read then takes without waiting. (Read timeouts that mean "at once"
    // do so on a blocking handle only: Wine leaves such a read on an
    // overlapped one pending until n bytes come.)
    DWORD errors = 0;
    COMSTAT stat;
    ZeroMemory(&stat, sizeof stat);
    if (!ClearCommError(port->handle, &errors, &stat)) {
      *got = 0;
      record_read(&port->record, buf, n, 0, 0);
      return 0;
    }
    if (stat.cbInQue == 0) {
      *got = 0;
      record_read(&port->record, buf, n, 0, 1);
      return 1;
    }
    n = stat.cbInQue < n ? (uint32_t)stat.cbInQue : n;
  }
  COMMTIMEOUTS usual;
  ZeroMemory(&usual, sizeof usual);
  GetCommTimeouts(port->handle, &usual);
  COMMTIMEOUTS now = usual;
  now.ReadTotalTimeoutMultiplier = 0;
  now.ReadTotalTimeoutConstant = ms;
  if (ms == 0) {
    // Windows' way of "what has come, at once": all three read fields 0
    // would wait for every byte instead.
    now.ReadIntervalTimeout = MAXDWORD;
  }
  interrupt_section section;
  interrupt_enter(&section);
  SetCommTimeouts(port->handle, &now);
  interrupt_leave(&section);
  int ok = serial_read(port, buf, n, got);
  interrupt_enter(&section);
  SetCommTimeouts(port->handle, &usual);
  interrupt_leave(&section);
  return ok;
}

int serial_write(serial_port *port, const unsigned char *buf, uint32_t n,
                 uint32_t *put) {
  DWORD count = 0;
  BOOL ok = serial_overlapped(port->handle, (unsigned char *)buf, n, 1, &count);
  *put = count;
  record_write(&port->record, buf, n, count, ok);
  return ok ? 1 : 0;
}
