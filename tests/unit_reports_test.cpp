// The report routines of both probes: text printed and go-on answer.
#include <gtest/gtest.h>
#include <stdio.h>

#include "../src/avr910/avr910.h"
#include "../src/stk500/stk500.h"

namespace {

struct ReportCase {
  int result;
  const char *text;
  int go_on;
};

TEST(Stk500CheckMessage, PrintsOutcomeAndSaysWhetherToGoOn) {
  const ReportCase cases[] = {
      {0, "Can't read/write port\n", 0},
      {-1, "failed (retries = 50; noSync = 7)\n", 1},
      {-2, "failed (Internal error. Report bug)\n", 1},
      {-3, "timeout\n", 0},
      {1, "ok (retries = 1; noSync = 7)\n", 1},
      {49, "ok (retries = 49; noSync = 7)\n", 1},
      {-4, "", 1},
  };
  for (const ReportCase &c : cases) {
    testing::internal::CaptureStdout();
    int go_on = stk500_CheckMessage(c.result, 50, 7);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.text) << c.result;
    EXPECT_EQ(go_on, c.go_on) << c.result;
  }
}

struct Avr910ReportCase {
  int result;
  int index;
  const char *text;
  int go_on;
};

TEST(Avr910CheckMessage, PrintsOutcomeAndSaysWhetherToGoOn) {
  const Avr910ReportCase cases[] = {
      {-1, 0, "Can't read/write port\n", 0},
      {-1, -1, "Can't read/write port\n", 0},
      {0, -1, "failed (retries = 50 (max))\n", 1},
      {3, 0, "found AVR ISP (retries = 3)\n", 1},
      {1, 1, "found AVR PPR (retries = 1)\n", 1},
      {2, 2, "found AVR DEV (retries = 2)\n", 1},
      {4, -1, "found (retires = 4)\n", 1},
      {4, 3, "", 1},
      {4, -2, "", 1},
      {-2, 0, "", 1},
  };
  for (const Avr910ReportCase &c : cases) {
    testing::internal::CaptureStdout();
    int go_on = avr910_checkmessage(c.result, c.index, 50);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.text)
        << c.result << "/" << c.index;
    EXPECT_EQ(go_on, c.go_on) << c.result << "/" << c.index;
  }
}

}  // namespace
