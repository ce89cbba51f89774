#include "serial_loop.h"

#include "serial_deadline.h"

int serial_read_loop(const serial_io *io, uint64_t total_ms,
                     uint32_t interval_ms, unsigned char *buf, uint32_t n,
                     uint32_t *got) {
  uint64_t total = serial_deadline_after(io->now_ns(io->port), total_ms);
  uint64_t deadline = total;
  *got = 0;
  while (*got < n) {
    int ready = io->wait(io->port, 0, deadline);
    if (ready < 0) {
      return 0;
    }
    // At the deadline, one last look: a driver times the gaps between
    // bytes as they reach the port, so bytes that came while this program
    // was not running still count.
    long r = io->take(io->port, buf + *got, n - *got);
    if (r < 0) {
      return 0;
    }
    if (r == 0) {
      if (ready == 0) {
        break;
      }
      continue;
    }
    *got += (uint32_t)r;
    uint64_t now = io->now_ns(io->port);
    if (now >= total) {
      break;
    }
    // From the first byte on, more than the interval without another byte
    // also ends the read.
    uint64_t interval = serial_deadline_after(now, interval_ms);
    deadline = interval < total ? interval : total;
  }
  return 1;
}

int serial_write_loop(const serial_io *io, uint64_t total_ms,
                      const unsigned char *buf, uint32_t n, uint32_t *put) {
  uint64_t deadline = serial_deadline_after(io->now_ns(io->port), total_ms);
  *put = 0;
  int last = 0;  // the last try, after the deadline
  while (*put < n) {
    long w = io->give(io->port, buf + *put, n - *put);
    if (w < 0) {
      return 0;
    }
    if (w > 0) {
      *put += (uint32_t)w;
      continue;
    }
    if (last) {
      break;
    }
    int ready = io->wait(io->port, 1, deadline);
    if (ready < 0) {
      return 0;
    }
    last = ready == 0;  // the deadline passed: one more try takes what fits
  }
  return 1;
}
