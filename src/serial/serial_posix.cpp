// POSIX backend: termios for the line (serial_termios.cpp), a wait against a
// monotonic clock for the Windows timeout model (serial_wait_posix.cpp; VTIME
// counts in 100 ms steps and cannot do it).
//
// Port names: "COMn" opens the path in the environment variable PORTVET_COMn
// when it is set and not empty, else /dev/ttyS<n-1>; a name that starts
// with '/' is a device's own path.
//
// The line is raw 8N1 with no flow control of any kind whatever state
// another program left the port in, and goes back to that state when the
// port closes: a terminal program or a script that relies on it then finds
// it as it was.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "../interrupt/interrupt.h"
#include "../ports/ports.h"
#include "../report/report.h"
#include "serial.h"
#include "serial_deadline.h"
#include "serial_interval.h"
#include "serial_loop.h"
#include "serial_native.h"
#include "serial_termios.h"
#include "serial_time.h"
#include "serial_wait.h"

// The path COMn stands for. Returns 1 with path set; 0 for a name with no
// path (not COMn, or a PORTVET_COMn value too long for the buffer).
static int serial_path(const char *name, char *path, size_t size) {
  if (name[0] == '/') {
    return (size_t)snprintf(path, size, "%s", name) < size;
  }
  char var[32];
  snprintf(var, sizeof var, "PORTVET_%s", name);
  const char *env = getenv(var);
  if (env != NULL && env[0] != '\0') {
    return (size_t)snprintf(path, size, "%s", env) < size;
  }
  if (strncmp(name, "COM", 3) == 0 && name[3] >= '1' && name[3] <= '9' &&
      name[4] == '\0') {
    snprintf(path, size, "/dev/ttyS%d", name[3] - '1');
    return 1;
  }
  return 0;
}

int serial_implicit_path(const char *name, char *path, size_t size) {
  char var[32];
  snprintf(var, sizeof var, "PORTVET_%s", name);
  const char *env = getenv(var);
  return name[0] != '/' && (env == NULL || env[0] == '\0') &&
         serial_path(name, path, size);
}

void serial_device_id(const char *name, char *id, size_t size) {
  char path[512];
  if (!serial_path(name, path, sizeof path)) {
    snprintf(id, size, "%s", name);
    return;
  }
  // The device node a path leads to, through any links.
  struct stat st;
  if (stat(path, &st) == 0 && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))) {
    snprintf(id, size, "device %lu", (unsigned long)st.st_rdev);
  } else {
    snprintf(id, size, "path %s", path);
  }
}

// What a user can do about a failed open, after the system's own text.
static void serial_hint(const char *name, const char *path, int err, char *hint,
                        size_t size) {
  hint[0] = '\0';
  switch (err) {
    case EACCES:
    case EPERM: {
      // Serial devices belong to a group (dialout on Debian, uucp
      // elsewhere) whose members may open them.
      struct stat st;
      struct group gr;
      struct group *found = NULL;
      char buf[1024];
      if (stat(path, &st) == 0 && st.st_gid != 0 &&
          getgrgid_r(st.st_gid, &gr, buf, sizeof buf, &found) == 0 &&
          found != NULL) {
        snprintf(hint, size, " (add your user to the %s group)", gr.gr_name);
      } else {
        snprintf(hint, size, " (only root may open it)");
      }
      break;
    }
    case EBUSY:
      snprintf(hint, size, " (held by another program)");
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO: {
      ports_hint(name, "/dev/ttyUSB0", hint, size);
      break;
    }
    case EISDIR:
      snprintf(hint, size, " (not a serial port)");
      break;
    case EMFILE:
      snprintf(hint, size, " (too many files open)");
      break;
    default:
      break;
  }
}

// Fills port->why for a port that would not open.
static void serial_why(serial_port *port, const char *name, const char *path,
                       int err) {
  char hint[600];
  serial_hint(name, path, err, hint, sizeof hint);
  // ENOTTY's own text ("Inappropriate ioctl for device") says little here.
  const char *what = err == ENOTTY ? "not a serial port" : strerror(err);
  if (strcmp(name, path) == 0) {
    snprintf(port->why, sizeof port->why, "%s: %s%s", name, what, hint);
  } else {
    snprintf(port->why, sizeof port->why, "%s (%s): %s%s", name, path, what,
             hint);
  }
}

// Puts a port's line back as it was found, at once: after an interrupt as
// at close. Safe in a signal handler: tcflush and ioctl only.
static void serial_put_back(interrupt_port fd, const unsigned char *saved) {
  // Never let close() wait for output that a stuck line will not take; put
  // the line back as it was found; let the next opener in.
  tcflush((int)fd, TCIOFLUSH);
  serial_line_restore((int)fd, saved);
  ioctl((int)fd, TIOCNXCL);
}

int serial_open(serial_port *port, const char *name) {
  port->fd = -1;
  port->timeout_ms = 0;
  port->interval_ms = 0;
  port->refused = 0;
  port->why[0] = '\0';
  record_init(&port->record);
  snprintf(port->name, sizeof port->name, "%s", name);
  char path[512];
  if (!serial_path(name, path, sizeof path)) {
    snprintf(port->why, sizeof port->why,
             "%s: no such port (PORTVET_%s names no usable path)", name, name);
    return 0;
  }
  // O_NOCTTY: a port must never become our controlling terminal.
  // O_NONBLOCK: do not wait for carrier detect; every wait goes through
  // serial_wait() with its own deadline anyway.
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    serial_why(port, name, path, errno);
    return 0;
  }
  if (!isatty(fd) || !serial_line_save(fd, port->saved, sizeof port->saved)) {
    close(fd);
    serial_why(port, name, path, ENOTTY);
    return 0;
  }
  if (!serial_waitable(fd)) {
    close(fd);
    serial_why(port, name, path, EMFILE);
    return 0;
  }
  // The port is ours alone. TIOCEXCL refuses later opens but not root's,
  // so an advisory lock also refuses a second portvet run as root.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno == EWOULDBLOCK ? EBUSY : errno;
    close(fd);
    serial_why(port, name, path, err);
    return 0;
  }
  ioctl(fd, TIOCEXCL);
  port->fd = fd;
  ports_host_of(path, &port->host);
  // Watched before any setting changes: from here an interrupt puts the
  // port back.
  interrupt_section section;
  interrupt_enter(&section);
  interrupt_watch(fd, port->saved, sizeof port->saved, serial_put_back);
  interrupt_leave(&section);
  return 1;
}

void serial_close(serial_port *port) {
  if (port->fd < 0) {
    return;
  }
  // One section: an interrupt meanwhile waits, and never finds the
  // descriptor closed (or another port's) under it.
  interrupt_section section;
  interrupt_enter(&section);
  serial_put_back(port->fd, port->saved);
  interrupt_forget(port->fd);
  close(port->fd);
  interrupt_leave(&section);
  port->fd = -1;
}

void serial_setup(serial_port *port, uint32_t timeout_ms, int32_t baud) {
  serial_setup_framed(port, timeout_ms, baud, SERIAL_8N1);
}

void serial_setup_framed(serial_port *port, uint32_t timeout_ms, int32_t baud,
                         serial_framing framing) {
  port->timeout_ms = timeout_ms;
  port->interval_ms = serial_interval_ms(timeout_ms, baud, &port->host);
  struct termios had;
  struct termios want;
  if (tcgetattr(port->fd, &had) != 0) {
    return;
  }
  int standard = serial_termios_for(&had, baud, framing, &want);
  // As on Windows, a setting the port refuses leaves it as it was. Once
  // an interrupt puts the ports back, no setup changes one again.
  interrupt_section section;
  interrupt_enter(&section);
  tcsetattr(port->fd, TCSANOW, &want);
  if (!standard) {
    serial_set_custom_baud(port->fd, baud);
  }
  interrupt_leave(&section);
  // A loopback passes at any rate: a test at a rate the port did not take
  // would say nothing about the rate asked for.
  int32_t runs = serial_actual_baud(port->fd);
  port->interval_ms =
      serial_interval_ms(timeout_ms, runs > 0 ? runs : baud, &port->host);
  record_setup(&port->record, baud, runs);
  if (runs > 0 && runs != baud && port->refused != baud) {
    port->refused = baud;
    // Through the report: in a sweep the note goes in its port's block.
    report_err(
        "portvet: %s runs at %ld baud, not %ld: the port refused that "
        "rate\n",
        port->name, (long)runs, (long)baud);
  }
}

uint64_t serial_clock_ms(void) { return serial_now_ns() / 1000000; }

// What the read and write loops need of the port: its descriptor and the
// monotonic clock.
static uint64_t serial_io_now(void *) { return serial_now_ns(); }

static int serial_io_wait(void *port, int writing, uint64_t deadline_ns) {
  return serial_wait(((serial_port *)port)->fd, writing, deadline_ns);
}

static long serial_io_take(void *port, unsigned char *buf, uint32_t n) {
  for (;;) {
    ssize_t r = read(((serial_port *)port)->fd, buf, n);
    if (r > 0) {
      return (long)r;
    }
    if (r == 0) {
      return -1;  // readable yet no data: the other end hung up
    }
    if (errno == EAGAIN) {
      return 0;
    }
    if (errno != EINTR) {
      return -1;
    }
  }
}

static long serial_io_give(void *port, const unsigned char *buf, uint32_t n) {
  for (;;) {
    ssize_t w = write(((serial_port *)port)->fd, buf, n);
    if (w >= 0) {
      return (long)w;
    }
    if (errno == EAGAIN) {
      return 0;
    }
    if (errno != EINTR) {
      return -1;
    }
  }
}

int serial_read(serial_port *port, unsigned char *buf, uint32_t n,
                uint32_t *got) {
  const serial_io io = {port, serial_io_now, serial_io_wait, serial_io_take,
                        serial_io_give};
  int ok = serial_read_loop(&io, serial_total_timeout_ms(port->timeout_ms, n),
                            port->interval_ms, buf, n, got);
  record_read(&port->record, buf, n, *got, ok);
  return ok;
}

int serial_read_for(serial_port *port, unsigned char *buf, uint32_t n,
                    uint32_t ms, uint32_t *got) {
  const serial_io io = {port, serial_io_now, serial_io_wait, serial_io_take,
                        serial_io_give};
  int ok = serial_read_loop(&io, ms, port->interval_ms, buf, n, got);
  record_read(&port->record, buf, n, *got, ok);
  return ok;
}

int serial_write(serial_port *port, const unsigned char *buf, uint32_t n,
                 uint32_t *put) {
  const serial_io io = {port, serial_io_now, serial_io_wait, serial_io_take,
                        serial_io_give};
  int ok = serial_write_loop(&io, serial_total_timeout_ms(port->timeout_ms, n),
                             buf, n, put);
  record_write(&port->record, buf, n, *put, ok);
  return ok;
}
