// The STK500 probe end to end: portvet -c1 against portvet-sim stk500.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

namespace {

const std::string kOk = "ok (retries = 1; noSync = 0)\n";
const std::string kVersion = "Version: HW: 0x02, SW: 0x01.0x12\n";

std::string Step(const std::string &label, const std::string &outcome) {
  return label + outcome;
}

std::string Steps(const std::string &signon, const std::string &sync,
                  const std::string &v1, const std::string &v2,
                  const std::string &v3) {
  return Step("Presence check...", signon) + Step("Sync test...", sync) +
         Step("Get version 1...", v1) + Step("Get version 2...", v2) +
         Step("Get version 3...", v3);
}

struct Stk500Case {
  const char *name;
  std::vector<std::string> sim;   // knobs after "stk500"
  std::vector<std::string> args;  // after -c1
  std::string block;              // between "Checking COM1:" and "\n\n"
  std::string wire;               // the simulator's log; empty: not checked
  const char *not_under_wine = nullptr;  // why Wine cannot run it
};

void PrintTo(const Stk500Case &c, std::ostream *os) { *os << c.name; }

class Stk500Test : public testing::TestWithParam<Stk500Case> {};

TEST_P(Stk500Test, ReportsEveryStep) {
  const Stk500Case &c = GetParam();
  if (UnderWine() && c.not_under_wine != nullptr)
    GTEST_SKIP() << c.not_under_wine;
  RunResult run = RunOnCom1("stk500", c.sim, Concat({"-c1"}, c.args));
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\n" + c.block + "\n\n")
      << "standard error: " << run.err;
  EXPECT_EQ(run.status, 0);
  if (!c.wire.empty()) {
    EXPECT_EQ(run.log, c.wire);
  }
}

const std::string kWire =
    "stk500 31(1) 20 @115200 8N1\n"
    "stk500 30(0) 20 @115200 8N1\n"
    "stk500 41(A) 80 20 @115200 8N1\n"
    "stk500 41(A) 81 20 @115200 8N1\n"
    "stk500 41(A) 82 20 @115200 8N1\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, Stk500Test,
    testing::Values(
        Stk500Case{"FullReport",
                   {},
                   {},
                   Steps(kOk, kOk, kOk, kOk, kOk) + kVersion,
                   kWire},
        Stk500Case{
            "VersionBytesAboveSeven",
            {"--hw-version", "0x80", "--sw-major", "0xab", "--sw-minor", "0"},
            {},
            Steps(kOk, kOk, kOk, kOk, kOk) +
                "Version: HW: 0x80, SW: 0xAB.0x00\n",
            ""},
        // Another program left the line at 7 data bits, even parity and
        // two stop bits: the tool sets 8N1 all the same. (A Linux pty keeps
        // only the stop bits and odd-parity flag of that: it is always 8
        // bits without parity.)
        Stk500Case{"LineLeftIn7E2",
                   {"--left-framing", "7E2"},
                   {},
                   Steps(kOk, kOk, kOk, kOk, kOk) + kVersion,
                   kWire},
        Stk500Case{"LineLeftIn5O1",
                   {"--left-framing", "5O1"},
                   {},
                   Steps(kOk, kOk, kOk, kOk, kOk) + kVersion,
                   kWire},
        // XON, XOFF and 0xFF pass as data: a line left with software flow
        // control by another program would swallow 0x11 and 0x13.
        Stk500Case{"FlowControlBytesAsData",
                   {"--hw-version", "0x13", "--sw-major", "0x11", "--sw-minor",
                    "0xff"},
                   {},
                   Steps(kOk, kOk, kOk, kOk, kOk) +
                       "Version: HW: 0x13, SW: 0x11.0xFF\n",
                   kWire},
        // Replies in 4-byte pieces 50 ms apart, as a USB adapter's latency
        // timer delivers them: within an 80 ms inter-byte timeout (which
        // never ends early) they make one reply. 200 ms apart, past a 20 ms
        // timeout and far past the gap the tool allows a pty (68 ms), so
        // that a kernel worker that hands the first piece on late (tens of
        // ms on a loaded machine) cannot close it, the sign-on's 8-byte
        // read ends after "AVR".
        Stk500Case{"RepliesInPiecesWithinTimeout",
                   {"--chunk", "4", "--gap", "50"},
                   {"-t80"},
                   Steps(kOk, kOk, kOk, kOk, kOk) + kVersion,
                   kWire},
        Stk500Case{"RepliesInPiecesPastTimeout",
                   {"--chunk", "4", "--gap", "200"},
                   {"-t20", "-r2"},
                   "Presence check...timeout\n" + Nothing(2),
                   ""},
        // Replies at the line's pace within a short timeout: 10 ms (a
        // 1-byte read's total is 20 ms) leaves a loaded machine's kernel,
        // which hands a pty's bytes on from a worker thread, its 8 ms and
        // more; at 5 ms a run beside another build's tests timed out.
        Stk500Case{"PacedReplies",
                   {"--pace", "1"},
                   {"-t10"},
                   Steps(kOk, kOk, kOk, kOk, kOk) + kVersion,
                   kWire},
        Stk500Case{"SignOnOutOfSyncThreeTimes",
                   {"--nosync-signon", "3"},
                   {},
                   Steps("ok (retries = 4; noSync = 3)\n", kOk, kOk, kOk, kOk) +
                       kVersion,
                   Repeat("stk500 31(1) 20 @115200 8N1\n", 4) +
                       kWire.substr(kWire.find("stk500 30(0)"))},
        Stk500Case{"SyncOutOfSyncTwice",
                   {"--nosync-sync", "2", "--nosync-bytes", "2"},
                   {},
                   Steps(kOk, "ok (retries = 3; noSync = 2)\n", kOk, kOk, kOk) +
                       kVersion,
                   ""},
        // Out of sync is the first byte of a reply, whatever follows it.
        Stk500Case{"SyncOutOfSyncThenForeignByte",
                   {"--nosync-sync", "2", "--nosync-bytes", "2",
                    "--nosync-fill", "0x5A"},
                   {},
                   Steps(kOk, "ok (retries = 3; noSync = 2)\n", kOk, kOk, kOk) +
                       kVersion,
                   ""},
        // A lone 0x15 to get-sync leaves its two-byte read short.
        Stk500Case{
            "SyncOneByteReplyTimesOut",
            {"--nosync-sync", "1"},
            {},
            Steps(kOk, "timeout\n", kOk, kOk, kOk) + "Some errors occured\n",
            ""},
        Stk500Case{"ParameterOutOfSync",
                   {"--nosync-param", "2"},
                   {},
                   Steps(kOk, kOk, "ok (retries = 3; noSync = 2)\n", kOk, kOk) +
                       kVersion,
                   ""},
        Stk500Case{
            "ParameterFailedStatus",
            {"--fail-param", "0x81"},
            {},
            Steps(kOk, kOk, kOk, "failed (Internal error. Report bug)\n", kOk) +
                kVersion,
            ""},
        Stk500Case{
            "WrongIdentifier",
            {"--id", "AVR STX"},
            {"-r3"},
            Steps("failed (retries = 3; noSync = 0)\n", kOk, kOk, kOk, kOk) +
                kVersion,
            ""},
        Stk500Case{
            "WrongEighthByte",
            {"--signon-end", "0x11"},
            {"-r4"},
            Steps("failed (retries = 4; noSync = 0)\n", kOk, kOk, kOk, kOk) +
                kVersion,
            Repeat("stk500 31(1) 20 @115200 8N1\n", 3) +
                kWire.substr(kWire.find("stk500 30(0)"))},
        // -r1, -r-5 and -r2 all make exactly one attempt.
        Stk500Case{
            "OneAttemptWithR1",
            {"--nosync-signon", "1"},
            {"-r1"},
            Steps("failed (retries = 2; noSync = 1)\n", kOk, kOk, kOk, kOk) +
                kVersion,
            kWire},
        Stk500Case{
            "OneAttemptWithRMinus5",
            {"--nosync-signon", "1"},
            {"-r-5"},
            Steps("failed (retries = 2; noSync = 1)\n", kOk, kOk, kOk, kOk) +
                kVersion,
            kWire},
        // The parameter reads keep their limit of 100 (99 attempts).
        Stk500Case{"AlwaysOutOfSync",
                   {"--always", "0x15"},
                   {"-r5"},
                   Steps("failed (retries = 5; noSync = 4)\n", "timeout\n",
                         "failed (retries = 5; noSync = 99)\n",
                         "failed (retries = 5; noSync = 99)\n",
                         "failed (retries = 5; noSync = 99)\n") +
                       "Some errors occured\n",
                   Repeat("stk500 31(1) 20 @115200 8N1\n", 4) +
                       "stk500 30(0) 20 @115200 8N1\n" +
                       Repeat("stk500 41(A) 80 20 @115200 8N1\n", 99) +
                       Repeat("stk500 41(A) 81 20 @115200 8N1\n", 99) +
                       Repeat("stk500 41(A) 82 20 @115200 8N1\n", 99)},
        Stk500Case{"AlwaysGarbage",
                   {"--always", "0"},
                   {"-r3"},
                   Steps("failed (retries = 3; noSync = 0)\n", "timeout\n",
                         "failed (retries = 3; noSync = 0)\n",
                         "failed (retries = 3; noSync = 0)\n",
                         "failed (retries = 3; noSync = 0)\n") +
                       "Some errors occured\n",
                   ""},
        Stk500Case{
            "SilentAfterSignOn",
            {"--silent-after", "1"},
            {},
            Steps(kOk, "timeout\n", "timeout\n", "timeout\n", "timeout\n") +
                "Some errors occured\n",
            ""},
        Stk500Case{"NothingConnected",
                   {"--silent-after", "0"},
                   {"-r2"},
                   "Presence check...timeout\n" + Nothing(2),
                   ""},
        // At another rate the device hears garbage: the sign-on 31 20 at
        // 115200 reaches it at 57600 as one byte, 85 (its start sample finds
        // 0x31's bit 0 high, a spike; the frame from the next edge reads 1
        // 0 1 0 0 0 0 1), which it takes as the first of a two-byte
        // command: no answer within the sign-on's read, a timeout. Its
        // later answers (out of sync, at 57600) reach the tool as garbage:
        // never "AVR ISP".
        Stk500Case{"WrongBaudIsGarbage",
                   {"--baud", "57600"},
                   {"-r2", "-t5"},
                   "Presence check...timeout\n" + Nothing(2),
                   ""}),
    [](const testing::TestParamInfo<Stk500Case> &p) {
      return std::string(p.param.name);
    });

// A port must be closed before the sweep opens the next one: with COM1 and
// COM2 on the same device, COM2 opens only if COM1 was closed.
// The sweep checks ports at the same time, but two COMn that name one device
// one after the other. Natively both PORTVET_COMn name the simulator's pty;
// under Wine, as on Windows, both name one port (COM7, once as \\.\COM7).
TEST(Stk500Sweep, ClosesEachPortBeforeTheNext) {
  Sim sim = StartSim({"stk500"});
  RunOptions options;
  std::map<std::string, std::string> ports = {{"COM1", sim.path},
                                              {"COM2", sim.path}};
  if (UnderWine()) {
    options.env = {{"PORTVET_COM1", "COM7"}, {"PORTVET_COM2", "\\\\.\\COM7"}};
    ports = {{"COM7", sim.path}};
  }
  RunResult run = RunPortvet({"-c0"}, ports, options);
  StopSim(sim);
  ASSERT_FALSE(run.hung);
  std::string found = Steps(kOk, kOk, kOk, kOk, kOk) + kVersion + "\n\n";
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\n" + found +
                         "\nChecking COM2:\n" + found +
                         "\nChecking COM3:\nUnable to open COM port COM3\n" +
                         "\nChecking COM4:\nUnable to open COM port COM4\n");
  EXPECT_EQ(run.status, 0);
}

// PORTVET_COMn reaches the ports past COM4 that USB adapters get. The Wine
// prefix knows COM7 and COM12, and opens COM12 only as \\.\COM12, as
// Windows does. The output keeps the name COMn.
TEST(PortNames, PastCom4) {
  if (!UnderWine())
    GTEST_SKIP() << "COMk names a Windows port (natively PORTVET_COMn is a "
                    "path, as in every other test)";
  Sim stk = StartSim({"stk500"});
  Sim echo = StartSim({"echo", "--pace", "0"});  // instant: see e2e_st_test
  RunOptions options;
  options.env = {{"PORTVET_COM1", "COM7"},
                 {"PORTVET_COM2", "COM12"},
                 {"PORTVET_COM3", "\\\\.\\COM7"}};
  const std::map<std::string, std::string> ports = {{"COM7", stk.path},
                                                    {"COM12", echo.path}};
  std::string found = Steps(kOk, kOk, kOk, kOk, kOk) + kVersion + "\n\n";
  RunResult com1 = RunPortvet({"-c1"}, ports, options);
  EXPECT_EQ(com1.out, Banner() + "\nChecking COM1:\n" + found);
  EXPECT_EQ(com1.err,
            "portvet: COM1: an STK500 programmer (\"AVR STK\") answers at "
            "115200 baud: the link works\n");
  RunResult com2 = RunPortvet({"-st", "-c2", "-r1"}, ports, options);
  EXPECT_EQ(com2.out, Banner() +
                          "\nInitiate test on COM2 (115200 baud, 1 loops):\n"
                          "Summary: 0 errors\n");
  EXPECT_EQ(com2.err,
            "portvet: COM2: every byte came back, in order, at 115200 baud: "
            "the line is sound\n");
  // Any other value is opened as it stands.
  RunResult com3 = RunPortvet({"-c3"}, ports, options);
  EXPECT_EQ(com3.out, Banner() + "\nChecking COM3:\n" + found);
}

// Opens path as another program would (as nobody when the tests run as
// root, no lock asked for); returns 0 or the errno of the failed open.
int OpenAsAnotherProgram(const std::string &path) {
  pid_t pid = fork();
  if (pid == 0) {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    _exit(fd >= 0 ? 0 : errno);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The port is exclusive: a second portvet is refused while the first holds
// it (tests run as root too, which TIOCEXCL alone would let through), so is
// another program that opens it without asking for a lock, and the port is
// free again once the first has ended.
TEST(Stk500Sweep, SecondInstanceIsRefused) {
  if (UnderWine()) GTEST_SKIP() << kWineExclusive;
  Sim sim = StartSim({"stk500", "--silent-after", "0"});
  ASSERT_EQ(chmod(sim.path.c_str(), 0666), 0);
  ASSERT_EQ(OpenAsAnotherProgram(sim.path), 0);  // free before
  Running first;
  StartPortvet({"-c1", "-r1000"}, {{"COM1", sim.path}}, &first);
  std::string shown = ReadUntil(first.out, "AVR910 presence check", 30);
  ASSERT_NE(shown.find("AVR910 presence check"), std::string::npos);
  EXPECT_EQ(OpenAsAnotherProgram(sim.path), EBUSY);
  RunResult second = RunPortvet({"-c1"}, {{"COM1", sim.path}});
  EXPECT_EQ(second.out, Banner() +
                            "\nChecking COM1:\nUnable to open COM port "
                            "COM1\n");
  first.Kill();
  RunResult third = RunPortvet({"-c1", "-r2"}, {{"COM1", sim.path}});
  StopSim(sim);
  EXPECT_EQ(third.out, Banner() +
                           "\nChecking COM1:\nPresence check...timeout\n" +
                           Nothing(2) + "\n\n");
}

}  // namespace
