// The stress test on lines as users have them: a loopback whose bytes take
// their ten bit times at the chosen rate, and a loopback behind a USB-serial
// bridge that hands what it receives to the computer in packets. These run
// alone (label "line"): a real line never stalls, but a virtual machine
// stalls any process for a millisecond or more several times a second
// (measured here: a loop doing nothing but read the clock), and the
// stress test's timeouts are that tight. The simulator logs its longest
// stall in the middle of a stream. A run in which that exceeds the case's
// slack is void: it proves nothing either way, so it is measured again, up
// to eight times (then the case is skipped, saying so). A run in which the
// line kept pace must give exactly what the model says, the first time.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>

#include "harness.h"

namespace {

std::string Header(int baud) {
  return "\nInitiate test on COM1 (" + std::to_string(baud) +
         " baud, 1 loops):\n";
}

// What the pty itself may add between the simulator's write and the
// reader: a kernel worker moves the bytes across, and on a busy machine it
// is stalled too. A stall of the simulator counts against a case's slack
// with this much of it kept back (seen: a 0.83 ms stall at 115200, whose
// slack is 0.91, ended a read).
const double kPtyMs = 0.25;

struct LineCase {
  const char *name;
  std::vector<std::string> sim;  // knobs after "echo"
  int baud;
  // Perfect lines: the slack of the read's inter-byte timeout over one
  // character time (the stress test's timeout at the rate, less ten bit
  // times); a stall of the simulator longer than that may end a read.
  double slack_ms;
  // 0: a perfect line, "Summary: 0 errors". Else the bytes in each of the
  // bridge's packets: the read ends after whole packets (see BridgeCases),
  // whatever stalls the simulator, which sends each packet in one piece.
  int packet;
};

void PrintTo(const LineCase &c, std::ostream *os) { *os << c.name; }

class LineTest : public testing::TestWithParam<LineCase> {};

TEST_P(LineTest, StressTestSeesTheLine) {
  const LineCase &c = GetParam();
  RunResult run;
  std::string why;
  for (int tries = 0; tries < 8; tries++) {
    run = RunOnCom1("echo", c.sim,
                    {"-st", "-c1", "-b" + std::to_string(c.baud), "-r1"});
    if (c.packet != 0 || !Stalled(run, c.slack_ms - kPtyMs, &why)) break;
  }
  ASSERT_FALSE(run.hung);
  if (c.packet == 0 && Stalled(run, c.slack_ms - kPtyMs, &why)) {
    GTEST_SKIP() << why;
  }
  EXPECT_EQ(run.status, 0);
  // The line as the tool set it (after the tool ends, the simulator may
  // log the line it put back, for bytes still on their way).
  EXPECT_EQ(run.log.substr(0, run.log.find('\n') + 1),
            "echo @" + std::to_string(c.baud) + " 8N1\n");
  if (c.packet == 0) {
    EXPECT_EQ(run.out, Banner() + Header(c.baud) + "Summary: 0 errors\n")
        << "the simulator's longest stall: " << run.stall_ms << " ms";
    return;
  }
  // The first packet comes, the next not within the inter-byte timeout:
  // the read ends after one packet. Where this program was not running
  // when a packet came (a loaded machine), its last look takes what came
  // meanwhile: more whole packets, or all 256 bytes. Never a part of one.
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      run.out, m,
      std::regex(std::regex_replace(Banner() + Header(c.baud),
                                    std::regex("[().]"), "\\$&") +
                 "(Only (\\d+) of 256 bytes read\nSummary: 1 errors\n|"
                 "Summary: 0 errors\n)")))
      << run.out;
  if (m[2].matched) {
    int got = std::stoi(m[2].str());
    EXPECT_GT(got, 0);
    EXPECT_EQ(got % c.packet, 0) << got << " bytes: not whole packets";
  }
}

// Paced loopbacks at the rates the stress test accepts, from the lowest:
// 0 errors at each. The stress test's timeout is 1 ms from 15000 baud up,
// else 1.5 character times rounded up (600: 25 ms, 1200: 13, 9600: 2), so
// that a byte that takes its time on the line is never a short read.
INSTANTIATE_TEST_SUITE_P(
    PacedLoopback, LineTest,
    testing::Values(LineCase{"At600", {}, 600, 25 - 16.7, 0},
                    LineCase{"At1200", {}, 1200, 13 - 8.3, 0},
                    LineCase{"At9600", {}, 9600, 2 - 1.04, 0},
                    LineCase{"At19200", {}, 19200, 1 - 0.52, 0},
                    LineCase{"At38400", {}, 38400, 1 - 0.26, 0},
                    LineCase{"At115200", {}, 115200, 1 - 0.087, 0}),
    [](const testing::TestParamInfo<LineCase> &p) {
      return std::string(p.param.name);
    });

// A loopback behind a USB bridge. Bytes come back one character time
// apart, and the bridge sends them on in packets: when the packet is full
// or its latency timer runs out after the packet's first byte.
// - FTDI at its defaults (62 bytes, 16 ms) at 115200: a packet fills in
//   62 x 86.8 us = 5.4 ms, the next 5.4 ms later, past the 1 ms timeout:
//   "Only 62 of 256 bytes read".
// - FTDI set to low latency (1 ms) at 115200: the timer runs out first,
//   after 12 bytes (the 12th came 11 x 86.8 = 955 us after the first, the
//   13th at 1042 us), and the next packet comes 1042 us after it, 42 us
//   past the 1 ms timeout counted from the moment the tool read the one
//   before: 12, or more where the tool read a little late.
// - At 9600 a byte takes 1.04 ms: FTDI's 16 ms timer runs out first, after
//   16 bytes (the 16th came 15 x 1.04 = 15.6 ms after the first, the 17th
//   16.7 ms), and the next packet is 16 ms away, past the 2 ms timeout: 16.
//   With low latency each byte goes out 1 ms after it came, 1.04 ms after
//   the one before, within the 2 ms: 0 errors.
INSTANTIATE_TEST_SUITE_P(
    BridgeCases, LineTest,
    testing::Values(LineCase{"FtdiAt115200",
                             {"--usb-packet", "62", "--usb-latency", "16"},
                             115200,
                             0,
                             62},
                    LineCase{"FtdiLowLatencyAt115200",
                             {"--usb-packet", "62", "--usb-latency", "1"},
                             115200,
                             0,
                             12},
                    LineCase{"FtdiAt9600",
                             {"--usb-packet", "62", "--usb-latency", "16"},
                             9600,
                             0,
                             16},
                    LineCase{"FtdiLowLatencyAt9600",
                             {"--usb-packet", "62", "--usb-latency", "1"},
                             9600,
                             2 - 1.04,
                             0}),
    [](const testing::TestParamInfo<LineCase> &p) {
      return std::string(p.param.name);
    });

// The tool stopped (SIGSTOP) for 50 ms in the middle of a paced pass at
// 9600 baud, then continued: the bytes that came meanwhile are in the port,
// and a driver times the gaps between bytes as they reach it, not as the
// program looks. So the pass still counts 0 errors, as on Windows.
TEST(LineStop, StoppedToolStillCountsEveryByte) {
  const double slack_ms = 2 - 1.04 - kPtyMs;
  std::string out;
  RunResult stalled;  // the simulator's stall in the last try
  for (int tries = 0; tries < 8; tries++) {
    Sim sim = StartSim({"echo"});
    Running running;
    StartPortvet({"-st", "-c1", "-r1", "-b9600"}, {{"COM1", sim.path}},
                 &running);
    // The pattern has reached the loopback: the pass is on.
    ASSERT_NE(ReadUntil(sim.out, "echo @9600 8N1\n", 30).find("@9600"),
              std::string::npos);
    usleep(50000);  // about 48 of the 256 bytes are back by now
    kill(running.pid, SIGSTOP);
    usleep(50000);
    kill(running.pid, SIGCONT);
    out = ReadUntil(running.out, "errors\n", 30);
    // A Windows program ends its lines with CR LF.
    for (size_t cr; (cr = out.find("\r\n")) != std::string::npos;) {
      out.erase(cr, 1);
    }
    StopSim(sim);
    stalled.stall_ms = sim.stall_ms;
    if (stalled.stall_ms <= slack_ms) break;
  }
  std::string why;
  if (Stalled(stalled, slack_ms, &why))
    GTEST_SKIP() << why << " (in each of eight tries)";
  EXPECT_EQ(out, Banner() + Header(9600) + "Summary: 0 errors\n");
}

}  // namespace
