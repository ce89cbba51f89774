// Waits with poll(), or with select() where poll() refuses devices: macOS's
// poll() reports a tty as invalid, which would read as a port failure.
// Builds with PORTVET_WAIT_SELECT take the select() path anywhere, so that
// the suite runs it on Linux too.
#include <errno.h>
#include <poll.h>
#include <stddef.h>
#include <sys/select.h>

#include "serial_deadline.h"
#include "serial_time.h"
#include "serial_wait.h"

#if defined(__APPLE__) && !defined(PORTVET_WAIT_SELECT)
#define PORTVET_WAIT_SELECT
#endif

#ifdef PORTVET_WAIT_SELECT

int serial_waitable(int fd) { return fd >= 0 && fd < FD_SETSIZE; }

int serial_wait(int fd, int writing, uint64_t deadline_ns) {
  for (;;) {
    int timeout = serial_poll_timeout(deadline_ns, serial_now_ns());
    if (timeout == 0) {
      return 0;
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    struct timeval wait = {timeout / 1000, (timeout % 1000) * 1000};
    int n = select(fd + 1, writing ? NULL : &set, writing ? &set : NULL, NULL,
                   &wait);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (n > 0) {
      // A hang-up shows as ready; the read (0 bytes, or EIO) or the write
      // (EIO) that follows fails.
      return 1;
    }
  }
}

#else

int serial_waitable(int fd) { return fd >= 0; }

int serial_wait(int fd, int writing, uint64_t deadline_ns) {
  short events = writing ? POLLOUT : POLLIN;
  for (;;) {
    int timeout = serial_poll_timeout(deadline_ns, serial_now_ns());
    if (timeout == 0) {
      return 0;
    }
    struct pollfd pfd = {fd, events, 0};
    int n = serial_poll_one(&pfd, timeout);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (n == 0) {
      continue;  // the loop head decides whether the deadline has passed
    }
    // A hang-up (adapter unplugged, pty master closed) is a failure, never
    // a timeout; pending input is still delivered first.
    if ((pfd.revents & (POLLERR | POLLNVAL)) != 0 ||
        (pfd.revents & events) == 0) {
      return -1;
    }
    return 1;
  }
}

#endif
