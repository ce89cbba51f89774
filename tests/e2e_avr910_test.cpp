// The AVR910 fallback end to end: portvet -c1 against portvet-sim avr910.
#include <gtest/gtest.h>

#include <regex>

#include "harness.h"

namespace {

std::string Failed(const char *baud, int attempts) {
  return std::string("AVR910 presence check (") + baud +
         " baud)...failed (retries = " + std::to_string(attempts) + " (max))\n";
}

std::string Found(const char *baud, const char *id, int attempt) {
  return std::string("AVR910 presence check (") + baud + " baud)...found " +
         id + " (retries = " + std::to_string(attempt) + ")\n";
}

std::string Queries(const std::string &sw, const std::string &hw,
                    const std::string &type) {
  return "Software version...found (retires = 1)\n" + sw +
         "Hardware version...found (retires = 1)\n" + hw +
         "Programmer type...found (retires = 1)\n" + type;
}

const std::string kSw = "-> SW Version is 3.8\n";
const std::string kHw = "-> HW Version is 1.0\n";
const std::string kSerial = "-> Serial programmer\n";
const std::string kPresence = "Presence check...timeout\n\n";

struct Avr910Case {
  const char *name;
  std::vector<std::string> sim;   // knobs after "avr910"
  std::vector<std::string> args;  // after -c1
  std::string block;              // after the STK500 presence line
  std::string wire;               // the simulator's log; empty: not checked
  const char *not_under_wine = nullptr;  // why Wine cannot run it
};

void PrintTo(const Avr910Case &c, std::ostream *os) { *os << c.name; }

class Avr910Test : public testing::TestWithParam<Avr910Case> {};

TEST_P(Avr910Test, ReportsEveryStep) {
  const Avr910Case &c = GetParam();
  if (UnderWine() && c.not_under_wine != nullptr)
    GTEST_SKIP() << c.not_under_wine;
  RunResult run = RunOnCom1("avr910", c.sim, Concat({"-c1"}, c.args));
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out,
            Banner() + "\nChecking COM1:\n" + kPresence + c.block + "\n\n")
      << "standard error: " << run.err;
  EXPECT_EQ(run.status, 0);
  if (!c.wire.empty()) {
    EXPECT_EQ(run.log, c.wire);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Avr910Test,
    testing::Values(
        // At 115200 the STK500 sign-on reaches the programmer too; one that
        // stays quiet about unknown commands is found there.
        Avr910Case{"At115200",
                   {"--baud", "115200", "--unknown", "-1"},
                   {"-r3"},
                   Found("115200", "AVR ISP", 1) + Queries(kSw, kHw, kSerial),
                   "avr910 53(S) @115200 8N1\navr910 56(V) @115200 8N1\n"
                   "avr910 76(v) @115200 8N1\navr910 70(p) @115200 8N1\n"},
        // Five junk bytes after every reply: each exchange's drain must
        // take all of them, or the next reply is read out of step.
        Avr910Case{"JunkAfterEveryReplyIsDrained",
                   {"--baud", "115200", "--unknown", "-1", "--trailing", "5"},
                   {"-r2"},
                   Found("115200", "AVR ISP", 1) + Queries(kSw, kHw, kSerial),
                   ""},
        // A programmer at another rate hears the tool's bytes as garbage:
        // the sign-on 31 20 at 115200 reaches one at 38400 as E3, 'S' as FF
        // (sim_line's unit table works such cases out). One that stays
        // quiet about unknown commands leaves the sign-on a timeout, so
        // the AVR910 probe runs and finds it at its own rate.
        Avr910Case{"At38400",
                   {"--baud", "38400", "--id", "AVR PPR", "--unknown", "-1"},
                   {"-r3"},
                   Failed("115200", 3) + Found("38400", "AVR PPR", 1) +
                       Queries(kSw, kHw, kSerial),
                   ""},
        // 9600 is never tried once 19200 has answered.
        // At 19200 the sign-on comes as FD, 'S' at 115200 as FF and at
        // 38400 as FC: no command of its own.
        Avr910Case{"At19200",
                   {"--baud", "19200", "--id", "AVR DEV", "--unknown", "-1"},
                   {"-r3"},
                   Failed("115200", 3) + Failed("38400", 3) +
                       Found("19200", "AVR DEV", 1) +
                       Queries(kSw, kHw, kSerial),
                   "avr910 53(S) @19200 8N1\navr910 56(V) @19200 8N1\n"
                   "avr910 76(v) @19200 8N1\navr910 70(p) @19200 8N1\n"},
        // At 9600: the sign-on and 'S' at 115200 and 38400 as FF, 'S' at
        // 19200 as FC.
        Avr910Case{"At9600",
                   {"--baud", "9600", "--unknown", "-1"},
                   {"-r2"},
                   Failed("115200", 2) + Failed("38400", 2) +
                       Failed("19200", 2) + Found("9600", "AVR ISP", 1) +
                       Queries(kSw, kHw, kSerial),
                   ""},
        Avr910Case{"UnknownIdentifier",
                   {"--id", "AVR XYZ", "--unknown", "-1"},
                   {"-r2"},
                   Failed("115200", 2) + Failed("38400", 2) +
                       Failed("19200", 2) + Failed("9600", 2),
                   ""},
        Avr910Case{"SixByteIdentifier",
                   {"--id", "AVR IS", "--unknown", "-1"},
                   {"-r2"},
                   Failed("115200", 2) + Failed("38400", 2) +
                       Failed("19200", 2) + Failed("9600", 2),
                   ""},
        Avr910Case{"ParallelProgrammer",
                   {"--baud", "115200", "--unknown", "-1", "--type", "P"},
                   {"-r2"},
                   Found("115200", "AVR ISP", 1) +
                       Queries(kSw, kHw,
                               "-> Parallel programmer (where did u get "
                               "that!?!)\n"),
                   ""},
        Avr910Case{
            "UnknownProgrammerType",
            {"--baud", "115200", "--unknown", "-1", "--type", "X"},
            {"-r2"},
            Found("115200", "AVR ISP", 1) +
                Queries(kSw, kHw, "-> Unknown programmer (or read error)\n"),
            ""},
        // Digits are signed bytes less '0': 0xA5 gives -91 - 48 = -139.
        Avr910Case{"VersionDigitsAsSignedBytes",
                   {"--baud", "115200", "--unknown", "-1", "--sw-digits",
                    "\xa5"
                    "9",
                    "--hw-digits", "0A"},
                   {"-r2"},
                   Found("115200", "AVR ISP", 1) +
                       Queries("-> SW Version is -139.9\n",
                               "-> HW Version is 0.17\n", kSerial),
                   ""},
        Avr910Case{
            "GarbageThenFound",
            {"--baud", "115200", "--unknown", "-1", "--garbage-first", "2"},
            {"-r5"},
            Found("115200", "AVR ISP", 3) + Queries(kSw, kHw, kSerial),
            ""},
        // A short version reply uses up -r2's one attempt; the probe goes
        // on with the next query at the same rate.
        // A short reply uses up -r2's one attempt; the probe goes on
        // with the next query at the same rate.
        Avr910Case{"VersionRunsOutOfAttempts",
                   {"--baud", "115200", "--unknown", "-1", "--fault-cmd", "V",
                    "--short-first", "1"},
                   {"-r2"},
                   Found("115200", "AVR ISP", 1) +
                       "Software version...failed (retries = 2 (max))\n"
                       "Hardware version...found (retires = 1)\n" +
                       kHw + "Programmer type...found (retires = 1)\n" +
                       kSerial,
                   "avr910 53(S) @115200 8N1\navr910 56(V) @115200 8N1\n"
                   "avr910 76(v) @115200 8N1\navr910 70(p) @115200 8N1\n"},
        Avr910Case{"ShortIdentifierThenFound",
                   {"--baud", "115200", "--unknown", "-1", "--fault-cmd", "S",
                    "--short-first", "1"},
                   {"-r3"},
                   Found("115200", "AVR ISP", 2) + Queries(kSw, kHw, kSerial),
                   ""}),
    [](const testing::TestParamInfo<Avr910Case> &p) {
      return std::string(p.param.name);
    });

// A programmer that answers the STK500 sign-on with '?' looks like a
// device that is there but out of step: the STK500 probe reports its
// failures and the AVR910 probe does not run on that port.
//
// At 115200 the tool reads the '?'s themselves (one for each byte of each
// command): every step uses its one attempt, and the version bytes keep the
// zero they started with.
TEST(Avr910, AnswerToSignOnKeepsTheProbeAway) {
  Sim sim = StartSim({"avr910", "--baud", "115200"});
  RunResult run = RunPortvet({"-c1", "-r2"}, {{"COM1", sim.path}});
  StopSim(sim);
  ASSERT_FALSE(run.hung);
  const std::string failed = "failed (retries = 2; noSync = 0)\n";
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\nPresence check..." + failed +
                         "Sync test..." + failed + "Get version 1..." + failed +
                         "Get version 2..." + failed + "Get version 3..." +
                         failed + "Version: HW: 0x00, SW: 0x00.0x00\n\n\n");
}

// At any other rate the tool reads what its UART makes of the '?'s: a
// 19200 bit is six of the tool's, so every byte it reads from there is 00
// or E0 (its samples 1..5 fall in one bit, 6..8 in the next); from 38400
// FC or E0, from 9600 00. Never 0x14 or 0x15, and the first sign-on, sent
// to an idle UART, is heard as a byte that is no command (FD, E3, FF) and
// answered: the presence step fails, and the AVR910 probe never runs. So
// an AVR910 programmer that answers unknown commands, as the protocol has
// it, is not found at any rate. How many garbled commands the slower UART
// hears in the later steps depends on how the tool's quick retries fall
// on its frames, so those steps may run out of answers: each is a failure
// with no out-of-sync reply, or a timeout, never found.
class Avr910Missed : public testing::TestWithParam<const char *> {};

TEST_P(Avr910Missed, AnswerToSignOnKeepsTheProbeAway) {
  Sim sim = StartSim({"avr910", "--baud", GetParam()});
  RunResult run = RunPortvet({"-c1", "-r2"}, {{"COM1", sim.path}});
  StopSim(sim);
  ASSERT_FALSE(run.hung);
  const std::string failed = "failed \\(retries = 2; noSync = 0\\)";
  const std::string later = "(" + failed + "|timeout)\n";
  EXPECT_TRUE(std::regex_match(
      run.out,
      std::regex(
          std::regex_replace(Banner(), std::regex("[().]"), "\\$&") +
          "\nChecking COM1:\nPresence check\\.\\.\\." + failed +
          "\nSync test\\.\\.\\." + later + "Get version 1\\.\\.\\." + later +
          "Get version 2\\.\\.\\." + later + "Get version 3\\.\\.\\." + later +
          "(Version: HW: 0x00, SW: 0x00\\.0x00|Some errors occured)\n\n\n")))
      << run.out;
}

INSTANTIATE_TEST_SUITE_P(Rates, Avr910Missed,
                         testing::Values("38400", "19200", "9600"));

// One sweep: an STK500 on COM2, an AVR910 programmer on COM3, COM1 and COM4
// cannot be opened.
TEST(Avr910, SweepOverMixedPorts) {
  Sim stk = StartSim({"stk500"});
  // Quiet about unknown commands: see Avr910Missed for one that is not.
  Sim avr = StartSim({"avr910", "--baud", "38400", "--unknown", "-1"});
  RunResult run =
      RunPortvet({"-c0", "-r2"}, {{"COM2", stk.path}, {"COM3", avr.path}});
  StopSim(stk);
  StopSim(avr);
  ASSERT_FALSE(run.hung);
  const std::string ok = "ok (retries = 1; noSync = 0)\n";
  EXPECT_EQ(run.out,
            Banner() + "\nChecking COM1:\nUnable to open COM port COM1\n" +
                "\nChecking COM2:\nPresence check..." + ok + "Sync test..." +
                ok + "Get version 1..." + ok + "Get version 2..." + ok +
                "Get version 3..." + ok +
                "Version: HW: 0x02, SW: 0x01.0x12\n\n\n" +
                "\nChecking COM3:\n" + kPresence + Failed("115200", 2) +
                Found("38400", "AVR ISP", 1) + Queries(kSw, kHw, kSerial) +
                "\n\n" + "\nChecking COM4:\nUnable to open COM port COM4\n");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
