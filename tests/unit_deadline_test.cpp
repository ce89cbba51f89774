// Deadline arithmetic of the POSIX backend: no overflow, never early.
#include <gtest/gtest.h>
#include <limits.h>

#include "../src/serial/serial_deadline.h"

namespace {

TEST(Deadline, TotalTimeoutNeverOverflows) {
  EXPECT_EQ(serial_total_timeout_ms(20, 1), 40u);
  EXPECT_EQ(serial_total_timeout_ms(1, 256), 257u);
  EXPECT_EQ(serial_total_timeout_ms(0xFFFFFFFFu, 0xFFFFFFFFu),
            0xFFFFFFFFull * 0x100000000ull);
}

TEST(Deadline, AfterSaturates) {
  EXPECT_EQ(serial_deadline_after(5, 2), 2000005u);
  EXPECT_EQ(serial_deadline_after(1, UINT64_MAX / 1000), UINT64_MAX);
  EXPECT_EQ(serial_deadline_after(UINT64_MAX - 10, 1), UINT64_MAX);
}

struct PollCase {
  uint64_t deadline, now;
  int ms;
};

TEST(Deadline, PollTimeoutRoundsUpAndCaps) {
  const PollCase cases[] = {
      {100, 100, 0},             // reached
      {100, 200, 0},             // passed
      {1000000, 0, 1},           // exactly 1 ms
      {1000001, 0, 2},           // a little more: never wait too short
      {1, 0, 1},                 // 1 ns still waits
      {UINT64_MAX, 0, INT_MAX},  // beyond poll()'s range
  };
  for (const PollCase &c : cases) {
    EXPECT_EQ(serial_poll_timeout(c.deadline, c.now), c.ms)
        << c.deadline << " " << c.now;
  }
}

}  // namespace
