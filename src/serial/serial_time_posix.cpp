#include <time.h>

#include "serial_time.h"

uint64_t serial_now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

int serial_poll_one(struct pollfd *pfd, int timeout_ms) {
  return poll(pfd, 1, timeout_ms);
}
