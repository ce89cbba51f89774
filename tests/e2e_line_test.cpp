// The stress test in real time on lines as users have them: a loopback
// whose bytes take their ten bit times at the chosen rate, through the
// host that hands them to the program (a PC's UART and its FIFO, a USB
// bridge's packets). What the read loops make of every host, rate and
// fault is proven in virtual time (vt_stress_test.cpp); these few cases
// show that the real tool on a real pty agrees, and they must hold on a
// busy machine, which stalls any process (the simulator too) for
// milliseconds now and then: the gap the tool allows on a pty is the
// slowest common host's (an FTDI adapter's 16 ms and more), so a stall
// shorter than that changes nothing, as on a real line. Label "line"; they
// run alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "harness.h"

namespace {

std::string Header(int baud, int loops) {
  return "\nInitiate test on COM1 (" + std::to_string(baud) + " baud, " +
         std::to_string(loops) + " loops):\n";
}

struct LineCase {
  const char *name;
  std::vector<std::string> sim;   // knobs after "echo"
  std::vector<std::string> args;  // after -st -c1
  int baud, loops;
};

void PrintTo(const LineCase &c, std::ostream *os) { *os << c.name; }

class LineTest : public testing::TestWithParam<LineCase> {};

TEST_P(LineTest, HealthyLoopbackHasNoErrors) {
  const LineCase &c = GetParam();
  RunResult run = RunOnCom1("echo", c.sim, Concat({"-st", "-c1"}, c.args));
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.status, 0);
  // The line as the tool set it (after the tool ends, the simulator may
  // log the line it put back).
  EXPECT_EQ(run.log.substr(0, run.log.find('\n') + 1),
            "echo @" + std::to_string(c.baud) + " 8N1\n");
  EXPECT_EQ(run.out, Banner() + Header(c.baud, c.loops) + "Summary: 0 errors\n")
      << "the simulator's longest stall: " << run.stall_ms << " ms";
}

// A PC's UART hands bytes over 8 at a time (from 2400 baud up), the rest
// four character times after the last; FTDI at its defaults in 62-byte
// packets or when its 16 ms latency timer runs out; a CH340 in 32-byte
// packets or after 1 ms. On every one a healthy loopback has no error.
INSTANTIATE_TEST_SUITE_P(
    Hosts, LineTest,
    testing::Values(
        // The tool's defaults: 115200 baud, 10 loops; a PC's UART.
        LineCase{"UartDefaults", {}, {}, 115200, 10},
        LineCase{"UartAt9600", {"--host", "uart"}, {"-b9600", "-r3"}, 9600, 3},
        LineCase{"UartAt1200", {"--host", "uart"}, {"-b1200", "-r1"}, 1200, 1},
        LineCase{"FtdiAt115200", {"--host", "ftdi"}, {"-r3"}, 115200, 3},
        LineCase{"FtdiAt9600", {"--host", "ftdi"}, {"-b9600", "-r2"}, 9600, 2},
        LineCase{
            "Ch340At57600", {"--host", "ch340"}, {"-b57600", "-r3"}, 57600, 3}),
    [](const testing::TestParamInfo<LineCase> &p) {
      return std::string(p.param.name);
    });

// The tool stopped (SIGSTOP) for 50 ms in the middle of a paced pass at
// 9600 baud, then continued: the bytes that came meanwhile are in the port,
// and a driver times the gaps between bytes as they reach it, not as the
// program looks. So the pass still counts 0 errors, as on Windows.
TEST(LineStop, StoppedToolStillCountsEveryByte) {
  Sim sim = StartSim({"echo"});
  Running running;
  StartPortvet({"-st", "-c1", "-r1", "-b9600"}, {{"COM1", sim.path}}, &running);
  // The pattern has reached the loopback: the pass is on.
  ASSERT_NE(ReadUntil(sim.out, "echo @9600 8N1\n", 30).find("@9600"),
            std::string::npos);
  usleep(50000);  // about 48 of the 256 bytes are back by now
  kill(running.pid, SIGSTOP);
  usleep(50000);
  kill(running.pid, SIGCONT);
  std::string out = ReadUntil(running.out, "errors\n", 30);
  // A Windows program ends its lines with CR LF.
  for (size_t cr; (cr = out.find("\r\n")) != std::string::npos;) {
    out.erase(cr, 1);
  }
  EXPECT_EQ(out, Banner() + Header(9600, 1) + "Summary: 0 errors\n");
}

// One simulator for many runs, as a loopback plug stays on the port while
// the tool runs again and again: each run starts on an empty line, whatever
// the run before left in flight (a run interrupted in the middle of a pass,
// a USB bridge's half-filled packet, the end of a long run) and whatever
// another program wrote into the port between two runs; and the simulator
// never stops echoing. (The long run is 30 passes: it leaves what 300
// leave, and under Wine on a loaded machine every pass is one more chance
// of a stall longer than a read's gap between bytes; one of 300 passes
// came back short so, once.)
TEST(LineMany, EveryRunOnOneSimulatorIsTheSame) {
  Sim sim = StartSim({"echo", "--host", "ftdi"});
  ASSERT_FALSE(sim.path.empty());
  const std::vector<std::vector<std::string>> runs = {
      {"-r3"}, {"-r3"},  {"-b9600", "-r2"},  {"-r3"}, {"-r30"},
      {"-r3"}, {"-r10"}, {"-b57600", "-r3"}, {"-r3"}, {"-r3"}};
  for (size_t i = 0; i < runs.size(); i++) {
    if (i == 2) {
      // Another program writes a byte into the port between two runs: the
      // loop sends it back to a port nobody reads.
      FILE *f = fopen(sim.path.c_str(), "w");
      ASSERT_NE(f, nullptr);
      fputc('x', f);
      fclose(f);
      usleep(20000);
    }
    if (i == 6) {
      // A run interrupted in the middle of a pass at 9600 baud, its bytes
      // still on their way back.
      Running running;
      StartPortvet({"-st", "-c1", "-b9600", "-r1000"}, {{"COM1", sim.path}},
                   &running);
      ASSERT_NE(ReadUntil(running.out, "loops):", 30).find("loops):"),
                std::string::npos);
      usleep(150000);
      running.Interrupt(SIGINT);
    }
    RunResult run =
        RunPortvet(Concat({"-st", "-c1"}, runs[i]), {{"COM1", sim.path}});
    ASSERT_FALSE(run.hung) << "run " << i;
    std::string summary =
        run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
    EXPECT_EQ(summary, "Summary: 0 errors\n") << "run " << i << ":\n"
                                              << run.out.substr(0, 400);
  }
}

}  // namespace
