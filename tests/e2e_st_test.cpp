// The loopback stress test end to end: portvet -st against portvet-sim echo.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

std::string Header(const std::string &port, int baud, int loops) {
  return "\nInitiate test on " + port + " (" + std::to_string(baud) +
         " baud, " + std::to_string(loops) + " loops):\n";
}

// One pass in which the byte at position k was lost: a short read, then
// every later position shifted by one.
std::string DroppedPass(int k) {
  std::string s = "Only 255 of 256 bytes read\n";
  for (int i = k; i < 255; i++) {
    s += "Expected " + std::to_string(i) + " and received " +
         std::to_string(i + 1) + "\n";
  }
  return s;
}

struct StCase {
  const char *name;
  std::vector<std::string> sim;   // knobs after "echo"; empty: no device
  std::vector<std::string> args;  // after -st
  std::string out;                // after the banner
  std::string wire = "";          // the simulator's log; empty: not checked
  const char *not_under_wine = nullptr;  // why Wine cannot run it
  int status = 0;  // 1 for a command line the test refused
};

void PrintTo(const StCase &c, std::ostream *os) { *os << c.name; }

class StTest : public testing::TestWithParam<StCase> {};

TEST_P(StTest, CountsEveryError) {
  const StCase &c = GetParam();
  if (UnderWine() && c.not_under_wine != nullptr)
    GTEST_SKIP() << c.not_under_wine;
  RunResult run =
      RunOnCom1(c.sim.empty() ? "" : "echo", c.sim, Concat({"-st"}, c.args));
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, Banner() + c.out) << "standard error: " << run.err;
  EXPECT_EQ(run.status, c.status);
  if (!c.wire.empty()) {
    EXPECT_EQ(run.log, c.wire);
  }
}

// These cases check what the tool counts and prints, so the loopback is an
// instant line: every byte comes back the moment it was sent. Paced at its
// rate, a line leaves the test's 1 ms inter-byte timeout 0.9 ms of slack
// at 115200, and a loaded machine stalls the simulator longer than that
// (a real line never stalls); the paced loopbacks are in the line suite
// (e2e_line_test.cpp), which runs alone and tells a stalled rig apart.
std::vector<std::string> Instant(std::vector<std::string> knobs = {}) {
  return Concat({"--pace", "0"}, knobs);
}
const std::vector<std::string> kEcho = Instant();

INSTANTIATE_TEST_SUITE_P(
    Cases, StTest,
    testing::Values(
        // Every byte value 0..255 must come back unchanged: a port left
        // in canonical, echoing or translating mode fails here.
        StCase{"PerfectLoopback",
               kEcho,
               {"-c1", "-r3"},
               Header("COM1", 115200, 3) + "Summary: 0 errors\n",
               "echo @115200 8N1\n"},
        StCase{"DefaultLoops",
               kEcho,
               {"-c1"},
               Header("COM1", 115200, 10) + "Summary: 0 errors\n"},
        StCase{"CorruptedByte",
               Instant({"--corrupt", "201"}),
               {"-c1", "-r2"},
               Header("COM1", 115200, 2) +
                   Repeat("Expected 201 and received 200\n", 2) +
                   "Summary: 2 errors\n"},
        StCase{"CorruptedFirstByte",
               Instant({"--corrupt", "0"}),
               {"-c1", "-r1"},
               Header("COM1", 115200, 1) +
                   "Expected 0 and received 1\nSummary: 1 errors\n"},
        // Junk after every pass: the drain at the start of the next pass
        // must take all of it. It comes with the pass's last byte (a direct
        // host): through a UART's FIFO it would come four characters
        // later, and a stall of the simulator of a millisecond (which the
        // rig has and a UART has not) would put it past the drain's 2 ms
        // wait, into the next pass.
        StCase{"JunkAfterEveryPassIsDrained",
               Instant({"--trailing", "3", "--host", "direct"}),
               {"-c1", "-r3"},
               Header("COM1", 115200, 3) + "Summary: 0 errors\n"},
        // A 100 ms pause after byte 100 ends the read, with 1 ms timeouts
        // (long enough that no stall of the tool itself hides it: bytes
        // that came while it was not running still count).
        StCase{"PauseEndsTheRead",
               Instant({"--pause-after", "100", "--pause", "100"}),
               {"-c1", "-r1"},
               Header("COM1", 115200, 1) +
                   "Only 101 of 256 bytes read\nSummary: 1 errors\n"},
        StCase{"CorruptedHighBit",
               Instant({"--corrupt", "5", "--flip", "0x80"}),
               {"-c1", "-r1"},
               Header("COM1", 115200, 1) +
                   "Expected 5 and received 133\nSummary: 1 errors\n"},
        StCase{"DroppedByte",
               Instant({"--drop", "100"}),
               {"-c1", "-r2"},
               Header("COM1", 115200, 2) + DroppedPass(100) + DroppedPass(100) +
                   "Summary: 312 errors\n"},
        StCase{"OpenLine",
               Instant({"--stop-after-passes", "0"}),
               {"-c1", "-r3"},
               Header("COM1", 115200, 3) +
                   Repeat("Only 0 of 256 bytes read\n", 3) +
                   "Summary: 3 errors\n"},
        StCase{"StopsAnsweringMidTest",
               Instant({"--stop-after-passes", "1"}),
               {"-c1", "-r2"},
               Header("COM1", 115200, 2) + "Only 0 of 256 bytes read\n" +
                   "Summary: 1 errors\n"},
        StCase{"LowestBaud",
               kEcho,
               {"-c1", "-b600", "-r1"},
               Header("COM1", 600, 1) + "Summary: 0 errors\n",
               "echo @600 8N1\n"},
        StCase{"HighestBaud",
               kEcho,
               {"-c1", "-b256000", "-r1"},
               Header("COM1", 256000, 1) + "Summary: 0 errors\n",
               "echo @256000 8N1\n",
               kWineCustomRate},
        StCase{"UnusualBaud",
               kEcho,
               {"-c1", "-b31250", "-r1"},
               Header("COM1", 31250, 1) + "Summary: 0 errors\n",
               "echo @31250 8N1\n",
               kWineCustomRate},
        StCase{"LastOptionWins",
               kEcho,
               {"-c3", "-C1", "-r5", "-R2", "-b9600", "-B19200"},
               Header("COM1", 19200, 2) + "Summary: 0 errors\n"},
        StCase{"BaudBelowRange",
               kEcho,
               {"-c1", "-b599"},
               "Invalid argument '-b599'\n",
               "",
               nullptr,
               1},
        StCase{"BaudAboveRange",
               kEcho,
               {"-c1", "-b256001"},
               "Invalid argument '-b256001'\n",
               "",
               nullptr,
               1},
        StCase{"PortZero",
               kEcho,
               {"-c0"},
               "Invalid argument '-c0'\n",
               "",
               nullptr,
               1},
        StCase{"PortFive",
               kEcho,
               {"-c5"},
               "Invalid argument '-c5'\n",
               "",
               nullptr,
               1},
        StCase{"ZeroLoops",
               kEcho,
               {"-c1", "-r0"},
               "Invalid argument '-r0'\n",
               "",
               nullptr,
               1},
        StCase{"NegativeLoops",
               kEcho,
               {"-c1", "-r-3"},
               "Invalid argument '-r-3'\n",
               "",
               nullptr,
               1},
        StCase{"UnknownOption",
               kEcho,
               {"-c2", "-x"},
               "Invalid argument '-x'\n",
               "",
               nullptr,
               1},
        StCase{
            "NoDash", kEcho, {"c1"}, "Invalid argument 'c1'\n", "", nullptr, 1},
        StCase{"ArgumentIsNeverAFormat",
               kEcho,
               {"-c1", "%s%n"},
               "Invalid argument '%s%n'\n",
               "",
               nullptr,
               1},
        StCase{"NoPortChosen",
               kEcho,
               {"-r2"},
               "No port chosen: the stress test needs -c1 to -c4\n" + Usage(),
               "",
               nullptr,
               1},
        StCase{"Unopenable",
               {},
               {"-c2"},
               Header("COM2", 115200, 10) + "Unable to open COM2\n"}),
    [](const testing::TestParamInfo<StCase> &p) {
      return std::string(p.param.name);
    });

}  // namespace
