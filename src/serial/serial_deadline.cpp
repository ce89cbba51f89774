#include "serial_deadline.h"

#include <limits.h>

static const uint64_t NS_PER_MS = 1000000;

uint64_t serial_deadline_after(uint64_t start_ns, uint64_t ms) {
  if (ms > (UINT64_MAX - start_ns) / NS_PER_MS) {
    return UINT64_MAX;
  }
  return start_ns + ms * NS_PER_MS;
}

uint64_t serial_total_timeout_ms(uint32_t t, uint32_t n) {
  return (uint64_t)t * ((uint64_t)n + 1);
}

int serial_poll_timeout(uint64_t deadline_ns, uint64_t now_ns) {
  if (now_ns >= deadline_ns) {
    return 0;
  }
  uint64_t left = deadline_ns - now_ns;
  uint64_t ms = left / NS_PER_MS + (left % NS_PER_MS != 0);
  return ms > (uint64_t)INT_MAX ? INT_MAX : (int)ms;
}
