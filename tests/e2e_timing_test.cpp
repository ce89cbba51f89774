// The timeout model end to end: how long portvet takes against a silent
// port, an open loopback and a stuck line. A timeout never ends early, so
// the lower bounds are exact: the sum of the waits the model gives (a
// silent read of n bytes takes t*n + t ms, a drain on a quiet line 2*t, a
// write into a stuck line t*n + t). The upper bounds allow three times
// that (under Wine, plus the time Wine takes to start) and only catch
// faults that change the time many-fold: a timeout that is missing, far
// too long, or never ends.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

// A silent port with -r2 and -tT: the sign-on's 1-byte read (2T), then at
// each of four rates a drain (2T) and the identifier's 7-byte read (8T).
int SilentCheckMs(int t) { return 2 * t + 4 * (2 * t + 8 * t); }

const std::string kSilentBlock =
    "\nChecking COM1:\nPresence check...timeout\n" + Nothing(2) + "\n\n";
const std::string kStuckBlock =
    "\nChecking COM1:\nPresence check...Can't read/write port\n\n"
    "AVR910 presence check (115200 baud)...Can't read/write port\n\n\n";

struct TimingCase {
  const char *name;
  std::string personality;
  std::vector<std::string> sim;
  std::vector<std::string> args;
  std::string out;  // after the banner
  int lower_ms;     // the model's time: never less
  const char *not_under_wine = nullptr;
};

void PrintTo(const TimingCase &c, std::ostream *os) { *os << c.name; }

class TimingTest : public testing::TestWithParam<TimingCase> {};

TEST_P(TimingTest, NeverEarlyNeverManyTimesLate) {
  const TimingCase &c = GetParam();
  if (UnderWine() && c.not_under_wine != nullptr)
    GTEST_SKIP() << c.not_under_wine;
  // Wine needs a while to start a program; that is not the tool's time.
  double start_ms = UnderWine() ? 1500 : 0;
  double upper_ms = 3 * c.lower_ms + start_ms;
  RunResult run = RunOnCom1(c.personality, c.sim, c.args,
                            static_cast<int>(upper_ms / 1000) + 10);
  ASSERT_FALSE(run.hung) << "still running after " << run.ms << " ms";
  EXPECT_EQ(run.out, Banner() + c.out);
  EXPECT_GE(run.ms, c.lower_ms);
  EXPECT_LE(run.ms, upper_ms);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimingTest,
    testing::Values(
        TimingCase{"SilentPortDefaultTimeout",
                   "stk500",
                   {"--silent-after", "0"},
                   {"-c1", "-r2"},
                   kSilentBlock,
                   SilentCheckMs(20)},
        // -t reaches the line: 5 ms and 40 ms give a quarter and twice the
        // default time.
        TimingCase{"SilentPortShortTimeout",
                   "stk500",
                   {"--silent-after", "0"},
                   {"-c1", "-r2", "-t5"},
                   kSilentBlock,
                   SilentCheckMs(5)},
        TimingCase{"SilentPortLongTimeout",
                   "stk500",
                   {"--silent-after", "0"},
                   {"-c1", "-r2", "-t40"},
                   kSilentBlock,
                   SilentCheckMs(40)},
        // Stress test, open line: per pass a drain (2 ms) and a silent
        // 256-byte read (257 ms) at the test's own 1 ms timeouts.
        TimingCase{"OpenLineStressTest",
                   "echo",
                   {"--stop-after-passes", "0"},
                   {"-st", "-c1", "-r3"},
                   "\nInitiate test on COM1 (115200 baud, 3 loops):\n" +
                       Repeat("Only 0 of 256 bytes read\n", 3) +
                       "Summary: 3 errors\n",
                   3 * (2 + 257)},
        // A line that takes nothing: each write gives up after its 257 ms
        // having written nothing, then the read waits its 257 ms.
        TimingCase{"StuckLineStressTest",
                   "echo",
                   {"--stuck", "1"},
                   {"-st", "-c1", "-r2"},
                   "\nInitiate test on COM1 (115200 baud, 2 loops):\n" +
                       Repeat("Only 0 of 256 bytes written\n", 2) +
                       "Summary: 2 errors\n",
                   2 * (2 + 257 + 257)},
        // The sign-on's 2-byte write gives up after 3*20 ms: a port
        // failure; then the AVR910 drain (40 ms) and its 1-byte write
        // (40 ms) fail likewise.
        TimingCase{"StuckLineCheck",
                   "stk500",
                   {"--stuck", "1"},
                   {"-c1", "-r3"},
                   kStuckBlock,
                   60 + 40 + 40}),
    [](const testing::TestParamInfo<TimingCase> &p) {
      return std::string(p.param.name);
    });

}  // namespace
