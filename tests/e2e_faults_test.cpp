// Fault injection end to end: a device that hangs up in every step of both
// probes and of the stress test, a port held by another process, a path
// that is no serial port, a device node without permission, and a device
// that sends noise forever. Nothing may crash or hang, and the output holds
// only the tool's own texts.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "harness.h"

namespace {

const std::string kOk = "ok (retries = 1; noSync = 0)\n";
const std::string kPort = "Can't read/write port\n";

// The STK500 device hangs up when command `step` (0: sign-on, 1: sync,
// 2..4: the version reads) arrives.
class Stk500HangUp : public testing::TestWithParam<int> {};

TEST_P(Stk500HangUp, EveryLaterStepReportsThePort) {
  if (UnderWine()) GTEST_SKIP() << kWineHangUp;
  int step = GetParam();
  // -t200: the simulator has that long to hang up after the command came,
  // even on a loaded machine; what is checked does not depend on it.
  RunResult run = RunOnCom1("stk500", {"--hangup-after", std::to_string(step)},
                            {"-c1", "-r3", "-t200"});
  ASSERT_FALSE(run.hung);
  const char *labels[] = {"Presence check...", "Sync test...",
                          "Get version 1...", "Get version 2...",
                          "Get version 3..."};
  std::string block;
  if (step == 0) {
    block = "Presence check..." + kPort + "\nAVR910 presence check (115200 " +
            "baud)..." + kPort;
  } else {
    for (int i = 0; i < 5; i++) block += labels[i] + (i < step ? kOk : kPort);
    block += "Some errors occured\n";
  }
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\n" + block + "\n\n");
  EXPECT_EQ(run.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Steps, Stk500HangUp, testing::Range(0, 5));

// The AVR910 programmer (at 115200, quiet about the STK500 sign-on) hangs
// up when query `step` arrives: 'S', 'V', 'v', 'p'.
class Avr910HangUp : public testing::TestWithParam<int> {};

TEST_P(Avr910HangUp, TheProbeEndsAtThePortFailure) {
  if (UnderWine()) GTEST_SKIP() << kWineHangUp;
  int step = GetParam();
  RunResult run = RunOnCom1("avr910",
                            {"--baud", "115200", "--unknown", "-1",
                             "--hangup-after", std::to_string(step)},
                            {"-c1", "-r2", "-t200"});
  ASSERT_FALSE(run.hung);
  const std::string found = "found (retires = 1)\n";
  std::string block = "AVR910 presence check (115200 baud)...";
  const std::string steps[] = {
      "found AVR ISP (retries = 1)\n",
      "Software version..." + found + "-> SW Version is 3.8\n",
      "Hardware version..." + found + "-> HW Version is 1.0\n",
  };
  const char *labels[] = {"", "Software version...", "Hardware version...",
                          "Programmer type..."};
  if (step == 0) {
    block += kPort;
  } else {
    block += steps[0];
    for (int i = 1; i < step; i++) block += steps[i];
    block += labels[step] + kPort;
  }
  EXPECT_EQ(run.out, Banner() +
                         "\nChecking COM1:\nPresence check...timeout\n\n" +
                         block + "\n\n");
  EXPECT_EQ(run.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Steps, Avr910HangUp, testing::Range(0, 4));

// The loopback hangs up at the start of pass `pass`: the passes before are
// clean, then the read fails and no summary follows. (An instant loopback,
// as in e2e_st_test.cpp: clean passes must not hang on the machine's
// stalls.)
class StHangUp : public testing::TestWithParam<int> {};

TEST_P(StHangUp, ReadErrorAndNoSummary) {
  if (UnderWine()) GTEST_SKIP() << kWineHangUp;
  RunResult run = RunOnCom1(
      "echo",
      {"--pace", "0", "--hangup-after-passes", std::to_string(GetParam())},
      {"-st", "-c1", "-r3"});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, Banner() +
                         "\nInitiate test on COM1 (115200 baud, 3 loops):\n"
                         "Read error\n");
  EXPECT_EQ(run.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Passes, StHangUp, testing::Range(0, 3));

// What both modes print for a port they cannot open: standard output as
// it always was, and on standard error one line that says why.
void ExpectRefused(const std::map<std::string, std::string> &ports,
                   const std::string &why,
                   const RunOptions &options = RunOptions()) {
  RunResult check = RunPortvet({"-c1"}, ports, options);
  EXPECT_EQ(check.out,
            Banner() + "\nChecking COM1:\nUnable to open COM port COM1\n");
  EXPECT_EQ(check.err, "portvet: " + why + "\n");
  EXPECT_EQ(check.status, 0);
  RunResult st = RunPortvet({"-st", "-c1", "-r1"}, ports, options);
  EXPECT_EQ(st.out, Banner() +
                        "\nInitiate test on COM1 (115200 baud, 1 loops):\n"
                        "Unable to open COM1\n");
  EXPECT_EQ(st.err, "portvet: " + why + "\n");
  EXPECT_EQ(st.status, 0);
}

TEST(Faults, PortHeldByAnotherProcess) {
  if (UnderWine()) GTEST_SKIP() << kWineExclusive;
  Sim sim = StartSim({"stk500"});
  // Another program holding the port the way portvet itself does.
  int fd = open(sim.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  ExpectRefused({{"COM1", sim.path}},
                "COM1 (" + sim.path +
                    "): Device or resource busy (held by another program)");
  close(fd);
  RunResult free = RunPortvet({"-c1", "-r2"}, {{"COM1", sim.path}});
  EXPECT_NE(free.out.find("Version: HW: 0x02"), std::string::npos);
  EXPECT_EQ(free.err,
            "portvet: COM1: an STK500 programmer (\"AVR STK\") answers at "
            "115200 baud: the link works\n");
}

TEST(Faults, NoSuchPort) {
  if (UnderWine()) {
    // The prefix knows no COM9; it announces COM7 and COM12.
    RunOptions options;
    options.env = {{"PORTVET_COM1", "COM9"}};
    ExpectRefused({},
                  "COM1 (\\\\.\\COM9): File not found. (serial ports here: "
                  "COM7, COM12)",
                  options);
    return;
  }
  // Every port the test does not name is a path that does not exist; the
  // computer has no serial port (an empty /sys/class/tty), and
  // PORTVET_COM1 is set already: the hint only says so.
  if (!CanFakeTtyClass()) GTEST_SKIP() << "needs root and unshare";
  char dir[] = "/tmp/portvet-no-ports-XXXXXX";
  RunOptions options;
  options.tty_class = mkdtemp(dir);
  ExpectRefused({},
                "COM1 (/nonexistent/portvet-test-COM1): No such file or "
                "directory (no serial port is here now)",
                options);
  rmdir(dir);
}

TEST(Faults, PathThatIsNoSerialPort) {
  // A file opens like a port, but has no line settings.
  ExpectRefused({{"COM1", "/etc/hostname"}},
                UnderWine() ? "COM1: Invalid handle. (not a serial port)"
                            : "COM1 (/etc/hostname): not a serial port");
  if (UnderWine()) return;  // Wine cannot link a COM port to a directory
  ExpectRefused({{"COM1", "/"}},
                "COM1 (/): Is a directory (not a serial port)");
}

TEST(Faults, DeviceNodeWithoutPermission) {
  if (UnderWine()) GTEST_SKIP() << "Wine runs as the prefix's owner";
  Sim sim = StartSim({"stk500"});
  ASSERT_EQ(chmod(sim.path.c_str(), 0), 0);
  // The hint names the group the device belongs to (tty for a pty).
  struct stat st;
  ASSERT_EQ(stat(sim.path.c_str(), &st), 0);
  const group *owner = getgrgid(st.st_gid);
  ASSERT_NE(owner, nullptr);
  std::string hint = st.st_gid == 0 ? "only root may open it"
                                    : std::string("add your user to the ") +
                                          owner->gr_name + " group";
  RunOptions options;
  options.unprivileged = true;
  ExpectRefused({{"COM1", sim.path}},
                "COM1 (" + sim.path + "): Permission denied (" + hint + ")",
                options);
}

// Every line the tool can print for these runs; a device's bytes must
// never reach the output.
bool OwnText(const std::string &line) {
  static const std::regex known(
      "STK500/AVR910 connection check|COM port stress test|v1\\.2 .*|"
      "Checking COM1:|"
      "(Presence check|Sync test|Get version [123])\\.\\.\\."
      "(ok \\(retries = \\d+; noSync = \\d+\\)|timeout|"
      "failed \\(retries = \\d+; noSync = \\d+\\)|"
      "failed \\(Internal error\\. Report bug\\)|Can't read/write port)|"
      "Version: HW: 0x[0-9A-F]{2}, SW: 0x[0-9A-F]{2}\\.0x[0-9A-F]{2}|"
      "Some errors occured|"
      "AVR910 presence check \\(\\d+ baud\\)\\.\\.\\."
      "(failed \\(retries = \\d+ \\(max\\)\\)|found AVR (ISP|PPR|DEV) "
      "\\(retries = \\d+\\)|Can't read/write port)|"
      "(Software version|Hardware version|Programmer type)\\.\\.\\."
      "(found \\(retires = \\d+\\)|failed \\(retries = \\d+ \\(max\\)\\)|"
      "Can't read/write port)|"
      "-> (SW|HW) Version is -?\\d+\\.-?\\d+|-> Serial programmer|"
      "-> Parallel programmer \\(where did u get that!\\?!\\)|"
      "-> Unknown programmer \\(or read error\\)|"
      "Initiate test on COM1 \\(\\d+ baud, \\d+ loops\\):|"
      "Only \\d+ of \\d+ bytes (read|written)|"
      "Expected \\d+ and received \\d+|Summary: \\d+ errors|"
      "Read error|Write error|");
  return std::regex_match(line, known);
}

void ExpectOnlyOwnText(const std::string &out) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(OwnText(line)) << "not the tool's text: '" << line << "'";
  }
}

TEST(Faults, NoiseForeverEnds) {
  RunResult check = RunOnCom1("noise", {}, {"-c1"});
  ASSERT_FALSE(check.hung);
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out.compare(0, Banner().size(), Banner()), 0);
  EXPECT_EQ(check.out.substr(check.out.size() - 2), "\n\n");
  ExpectOnlyOwnText(check.out);

  RunResult st = RunOnCom1("noise", {}, {"-st", "-c1", "-r2"});
  ASSERT_FALSE(st.hung);
  EXPECT_EQ(st.status, 0);
  EXPECT_NE(st.out.find("Summary: "), std::string::npos);
  ExpectOnlyOwnText(st.out);
}

TEST(Faults, GarbageRepliesForeverEnd) {
  for (const char *byte : {"0x00", "0x14", "0x15", "0xff"}) {
    // 0x14 alone leaves the sign-on short: a timeout, so the AVR910 probe
    // runs too; -r5 keeps that short.
    RunResult run = RunOnCom1("stk500", {"--always", byte}, {"-c1", "-r5"});
    ASSERT_FALSE(run.hung) << byte;
    EXPECT_EQ(run.status, 0) << byte;
    ExpectOnlyOwnText(run.out);
  }
}

}  // namespace
