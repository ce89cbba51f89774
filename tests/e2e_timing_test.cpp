// The timeout model end to end: how long portvet takes against a silent
// port, an open loopback and a stuck line. A timeout never ends early, so
// the lower bounds are exact: the sum of the waits the model gives (a
// silent read of n bytes takes t*n + t ms, a drain on a quiet line 2*t, a
// write into a stuck line t*n + t). The upper bounds allow three times
// that (under Wine, plus the time Wine takes to start) and only catch
// faults that change the time many-fold: a timeout that is missing, far
// too long, or never ends.
#include <gtest/gtest.h>
#include <time.h>

#include <map>

#include "harness.h"

namespace {

// A silent port with -r2 and -tT: the sign-on's 1-byte read (2T), then at
// each of four rates a drain (2T) and the identifier's 7-byte read (8T).
int SilentCheckMs(int t) { return 2 * t + 4 * (2 * t + 8 * t); }

const std::string kSilentBlock =
    "\nChecking COM1:\nPresence check...timeout\n" + Nothing(2) + "\n\n";
const char kNothingThere[] =
    ": nothing answers: no byte came back at 115200, 57600, 38400, 19200, "
    "9600 baud to any family's query: not connected, the wrong port, no "
    "power, or a device that keeps silent at these rates\n";
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
                   60 + 40 + 40},
        // At the defaults an AVR910 programmer at 38400 is found once
        // 115200 has used its 49 attempts (a drain of 40 ms and a 7-byte
        // read of 160 ms each), after the sign-on's 40: about 10 s, as the
        // README says, where -r2 takes under a second.
        TimingCase{"Avr910At38400Defaults",
                   "avr910",
                   {"--baud", "38400", "--id", "AVR PPR", "--unknown", "-1"},
                   {"-c1"},
                   "\nChecking COM1:\nPresence check...timeout\n\n"
                   "AVR910 presence check (115200 baud)...failed (retries = "
                   "50 (max))\n"
                   "AVR910 presence check (38400 baud)...found AVR PPR "
                   "(retries = 1)\n"
                   "Software version...found (retires = 1)\n"
                   "-> SW Version is 3.8\n"
                   "Hardware version...found (retires = 1)\n"
                   "-> HW Version is 1.0\n"
                   "Programmer type...found (retires = 1)\n"
                   "-> Serial programmer\n\n\n",
                   40 + 49 * (40 + 160)}),
    [](const testing::TestParamInfo<TimingCase> &p) {
      return std::string(p.param.name);
    });

}  // namespace

namespace {

// The sweep checks its ports at the same time: four silent ports take the
// time of one (never less: each port's own waits are as the model says),
// not four times that; the output is as the one-at-a-time sweep prints it.
// So does the identify mode.
struct SweepCase {
  const char *name;
  std::vector<std::string> args;
  std::string (*block)(const std::string &port);
  int one_port_ms;
};

void PrintTo(const SweepCase &c, std::ostream *os) { *os << c.name; }

class SweepTimingTest : public testing::TestWithParam<SweepCase> {};

TEST_P(SweepTimingTest, FourSilentPortsInTheTimeOfOne) {
  const SweepCase &c = GetParam();
  std::vector<Sim> sims;
  std::map<std::string, std::string> ports;
  std::string out = Banner() + (c.args[0] == "-id" ? "\n" : "");
  for (const char *name : {"COM1", "COM2", "COM3", "COM4"}) {
    sims.push_back(StartSim({"stk500", "--silent-after", "0"}));
    ports[name] = sims.back().path;
    out += c.block(name);
  }
  double start_ms = UnderWine() ? 1500 : 0;
  RunOptions options;
  options.limit_seconds = 30;
  RunResult run = RunPortvet(c.args, ports, options);
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, out);
  EXPECT_GE(run.ms, c.one_port_ms);
  EXPECT_LE(run.ms, 3 * c.one_port_ms + start_ms)
      << "one port at a time would take " << 4 * c.one_port_ms << " ms";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SweepTimingTest,
    testing::Values(SweepCase{"Check",
                              {"-c0", "-r2"},
                              [](const std::string &port) {
                                return "\nChecking " + port +
                                       ":\nPresence check...timeout\n" +
                                       Nothing(2) + "\n\n";
                              },
                              SilentCheckMs(20)},
                    // At its own 20 ms: a first look for noise (a 1-byte read,
                    // 2t), then eight queries, each after a drain (2t): STK500
                    // v1's get-sync (3t) at three rates, STK500 v2's first byte
                    // (2t), AVR910's identifier (8t) at four rates.
                    SweepCase{"Identify",
                              {"-id", "-c0"},
                              [](const std::string &port) {
                                return port + kNothingThere;
                              },
                              (2 + 8 * 2 + 3 * 3 + 2 + 4 * 8) * 20}),
    [](const testing::TestParamInfo<SweepCase> &p) {
      return std::string(p.param.name);
    });

// A slow silent port on COM1 and a programmer on COM2: COM1's lines come
// as they happen (its first label long before COM1 is done), COM2's block
// comes whole after COM1's, though COM2 was done long before; the run takes
// about one silent port's time.
TEST(SweepTiming, LaterPortWaitsItsTurnWhole) {
  Sim slow = StartSim({"stk500", "--silent-after", "0"});
  Sim stk = StartSim({"stk500"});
  int one_port = SilentCheckMs(40);
  double start_ms = UnderWine() ? 1500 : 0;
  Running running;
  StartPortvet({"-c0", "-r2", "-t40"},
               {{"COM1", slow.path}, {"COM2", stk.path}}, &running);
  auto now_ms = []() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 +
           static_cast<double>(ts.tv_nsec) / 1e6;
  };
  double t0 = now_ms();
  auto elapsed = [&]() { return now_ms() - t0; };
  std::string shown = ReadUntil(running.out, "Presence check...", 30);
  double label_ms = elapsed();
  shown += ReadUntil(running.out, "Checking COM2:", 30);
  double com2_ms = elapsed();
  shown += ReadUntil(running.out, "COM4\n", 30);
  double end_ms = elapsed();
  for (size_t cr; (cr = shown.find("\r\n")) != std::string::npos;) {
    shown.erase(cr, 1);
  }
  const std::string ok = "ok (retries = 1; noSync = 0)\n";
  EXPECT_EQ(shown, Banner() + "\nChecking COM1:\nPresence check...timeout\n" +
                       Nothing(2) + "\n\n" +
                       "\nChecking COM2:\nPresence check..." + ok +
                       "Sync test..." + ok + "Get version 1..." + ok +
                       "Get version 2..." + ok + "Get version 3..." + ok +
                       "Version: HW: 0x02, SW: 0x01.0x12\n\n\n" +
                       "\nChecking COM3:\nUnable to open COM port COM3\n" +
                       "\nChecking COM4:\nUnable to open COM port COM4\n");
  // The first label shows while COM1 still waits out its sign-on.
  EXPECT_LT(label_ms, 2 * 40 + start_ms + one_port / 2.0);
  // COM2's block waits for COM1's end.
  EXPECT_GE(com2_ms, one_port);
  EXPECT_LE(end_ms, 3 * one_port + start_ms);
}

}  // namespace
