// The verdict on standard error after each report: what crossed the line,
// what it likely means. Standard output is as it always was (the other
// suites compare it whole); here the line on standard error is checked.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "harness.h"

namespace {

const char kNothing[] =
    "no byte came back at 115200, 38400, 19200, 9600 baud: nothing answers "
    "(not connected, the wrong port, or no power)";

struct VerdictCase {
  const char *name;
  std::vector<std::string> sim;   // personality and knobs
  std::vector<std::string> args;  // portvet's
  std::string verdict;            // after "portvet: COM1: "; a regex if
  bool regex;                     // regex is set
  const char *not_under_wine;
};

void PrintTo(const VerdictCase &c, std::ostream *os) { *os << c.name; }

class VerdictTest : public testing::TestWithParam<VerdictCase> {};

TEST_P(VerdictTest, SaysWhatTheBytesMean) {
  const VerdictCase &c = GetParam();
  if (UnderWine() && c.not_under_wine != nullptr)
    GTEST_SKIP() << c.not_under_wine;
  Sim sim = StartSim(c.sim);
  ASSERT_FALSE(sim.path.empty());
  RunResult run = RunPortvet(c.args, {{"COM1", sim.path}});
  StopSim(sim);
  ASSERT_FALSE(run.hung);
  if (c.regex) {
    EXPECT_TRUE(std::regex_match(
        run.err, std::regex("portvet: COM1: " + c.verdict + "\n")))
        << run.err;
  } else {
    EXPECT_EQ(run.err, "portvet: COM1: " + c.verdict + "\n")
        << "exit " << run.status << ", " << run.ms << " ms, stdout:\n"
        << run.out;
  }
}

// Each verdict from the bytes a device sends, as the line model carries
// them (sim_line): at another rate they arrive as the receiving UART
// samples them.
INSTANTIATE_TEST_SUITE_P(
    Check, VerdictTest,
    testing::Values(
        VerdictCase{"StkFound",
                    {"stk500"},
                    {"-c1"},
                    "an STK500 programmer \\(\"AVR STK\"\\) answers at 115200 "
                    "baud: the link works",
                    true,
                    nullptr},
        VerdictCase{"StkFoundOutOfSync",
                    {"stk500", "--nosync-signon", "2"},
                    {"-c1"},
                    "an STK500 programmer (\"AVR STK\") answers at 115200 "
                    "baud: the link works, but some replies were out of sync "
                    "(0x15): bytes lost or garbled now and then",
                    false,
                    nullptr},
        VerdictCase{"Avr910Found",
                    {"avr910", "--baud", "38400", "--unknown", "-1"},
                    {"-c1", "-r3"},
                    "an AVR910 programmer (\"AVR ISP\") answers at 38400 "
                    "baud: the link works",
                    false,
                    nullptr},
        VerdictCase{"Silence",
                    {"stk500", "--silent-after", "0"},
                    {"-c1", "-r2"},
                    kNothing,
                    false,
                    nullptr},
        // '?' from a programmer at 19200 reaches the tool as E0 00: the
        // tool can read nothing but E0 and 00 from a UART six times slower
        // (which of them, where two replies follow closely, depends on
        // when the tool's quick retries fall on them).
        VerdictCase{"NoiseFromAnotherRate",
                    {"avr910", "--baud", "19200"},
                    {"-c1", "-r2"},
                    "bytes that no programmer sends came at 115200 baud "
                    "\\(E0( (E0|00))*( \\.\\.\\.)?\\): something answers at "
                    "another rate",
                    true,
                    nullptr},
        // An STK500 at 19200: its out-of-sync reply to the garbled sign-on
        // reaches the tool at 115200 as E0 E0 E0 00; at 19200 the AVR910
        // probe reads it clean.
        VerdictCase{"Stk500v1AtAnotherRate",
                    {"stk500", "--baud", "19200"},
                    {"-c1", "-r2"},
                    "bytes that no programmer sends came at 115200 baud (E0 E0 "
                    "E0 00): something answers at another rate; STK500 v1 "
                    "out-of-sync replies (0x15) came at 19200 baud: an STK500 "
                    "v1 programmer at 19200 baud, such as a board running "
                    "ArduinoISP; this check looks for STK500 only at 115200",
                    false,
                    nullptr},
        VerdictCase{"OtherIdentity",
                    {"stk500", "--id", "AVR ISP"},
                    {"-c1", "-r3"},
                    "an STK500 device signs on as \"AVR ISP\" at 115200 baud, "
                    "not as \"AVR STK\", so the presence step counts no "
                    "attempt: sync and the version reads work (ArduinoISP "
                    "says \"AVR ISP\"): the link works",
                    false,
                    nullptr},
        // A sign-on answered 14 10 and nothing more, as optiboot does.
        VerdictCase{"BootloaderAnswer",
                    {"stk500", "--id", ""},
                    {"-c1", "-r2"},
                    "the sign-on is answered with 14 10 alone, as a bootloader "
                    "(optiboot) answers any command: a board running its "
                    "bootloader (it resets when the port opens, or its reset "
                    "button was pressed), not a programmer",
                    false,
                    nullptr},
        VerdictCase{"UnknownCommandAnswers",
                    {"avr910", "--baud", "115200"},
                    {"-c1", "-r2"},
                    "'\\?' answers the STK500 sign-on at 115200 baud, as an "
                    "AVR910 programmer answers a command it does not know: "
                    "the sign-on got an answer, so this check does not try "
                    "AVR910 here, and misses such a programmer",
                    true,
                    nullptr},
        VerdictCase{"Echo",
                    {"echo", "--pace", "0"},
                    {"-c1", "-r2"},
                    "what the tool sends comes back as it was sent: a "
                    "loopback or an adapter that echoes, not a programmer",
                    false,
                    nullptr},
        VerdictCase{"PortWentAway",
                    {"stk500", "--hangup-after", "1"},
                    {"-c1", "-r3", "-t200"},
                    "the port failed (a read failed) during the STK500 "
                    "get-sync at 115200 baud: unplugged, or a driver failure",
                    false,
                    kWineHangUp},
        VerdictCase{"StuckLine",
                    {"stk500", "--stuck", "1"},
                    {"-c1", "-r3"},
                    "the port did not send all of the STK500 sign-on at "
                    "115200 baud: the line does not move \\(flow control "
                    "held, CTS low, or a stuck driver\\)",
                    true,
                    nullptr}),
    [](const testing::TestParamInfo<VerdictCase> &p) {
      return std::string(p.param.name);
    });

// The stress test's verdicts, on an instant loopback (as in e2e_st_test:
// these check what the bytes say, not the line's pace).
INSTANTIATE_TEST_SUITE_P(
    Stress, VerdictTest,
    testing::Values(
        VerdictCase{"Sound",
                    {"echo", "--pace", "0"},
                    {"-st", "-c1", "-r2"},
                    "every byte came back, in order, at 115200 baud: the line "
                    "is sound",
                    false,
                    nullptr},
        VerdictCase{"NothingBack",
                    {"echo", "--stop-after-passes", "0"},
                    {"-st", "-c1", "-r2"},
                    "no byte came back in 2 passes at 115200 baud: TXD and "
                    "RXD are not joined (nothing echoes), or the port does not "
                    "send",
                    false,
                    nullptr},
        VerdictCase{
            "LateNotLost",
            {"echo", "--pace", "0", "--pause-after", "100", "--pause", "100"},
            {"-st", "-c1", "-r2"},
            "1 of 2 passes at 115200 baud came back short, and later "
            "passes \\(or the drains before them\\) took the bytes "
            "that came after: pauses on the line longer than the "
            "test's timeout, not lost bytes",
            true,
            nullptr},
        VerdictCase{"Lost",
                    {"echo", "--pace", "0", "--drop", "100"},
                    {"-st", "-c1", "-r2"},
                    "2 of 2 passes at 115200 baud came back short, and "
                    "nothing that came later made up for them: the line loses "
                    "bytes",
                    false,
                    nullptr},
        // The loop goes dead after the first 100 bytes (values 0 to 99):
        // what came back has no high bit, yet it is no seven-bit line.
        VerdictCase{
            "DeadAfterLowBytes",
            {"echo", "--pace", "0", "--pause-after", "100", "--pause", "5000"},
            {"-st", "-c1", "-r2"},
            "2 of 2 passes at 115200 baud came back short, and "
            "nothing that came later made up for them: the line loses "
            "bytes",
            false,
            nullptr},
        // Blocks of 62 bytes 40 ms apart, further than any common host
        // hands its batches (on a pty the tool allows the slowest, an FTDI
        // adapter's 16 ms): a stall of this program longer than the gap
        // may join two blocks in one read, so the count of short passes is
        // a bound.
        VerdictCase{"Blocks",
                    {"echo", "--pace", "0", "--chunk", "62", "--gap", "40"},
                    {"-st", "-c1", "-r3"},
                    "[23] of 3 passes at 115200 baud ended after whole blocks "
                    "of 62 bytes, and later passes took the bytes that came "
                    "late: bytes come in blocks with pauses longer than the "
                    "test's timeout between them, as a USB adapter hands "
                    "them over \\(or the line stalls at the same places\\); "
                    "no sign of a lost byte",
                    true,
                    nullptr},
        VerdictCase{"XonXoff",
                    {"echo", "--pace", "0", "--xonxoff", "1"},
                    {"-st", "-c1", "-r2"},
                    "0x11 and 0x13 never came back, every other byte did, at "
                    "115200 baud: XON/XOFF flow control on the line (another "
                    "program's setting, or the adapter's)",
                    false,
                    nullptr},
        VerdictCase{"SevenBits",
                    {"echo", "--pace", "0", "--seven-bits", "1"},
                    {"-st", "-c1", "-r2"},
                    "no byte came back with bit 7 set at 115200 baud: the "
                    "line carries seven data bits (another program's "
                    "setting, or the adapter's)",
                    false,
                    nullptr},
        VerdictCase{"Twice",
                    {"echo", "--pace", "0", "--twice", "1"},
                    {"-st", "-c1", "-r2"},
                    "every byte came back twice at 115200 baud: an echo on "
                    "top of the loopback (the adapter or a device on the line "
                    "echoes too)",
                    false,
                    nullptr},
        VerdictCase{"Garbled",
                    {"echo", "--pace", "0", "--corrupt", "201"},
                    {"-st", "-c1", "-r2"},
                    "every pass brought all its bytes at 115200 baud, some of "
                    "them wrong (never came back: 0xC9): the line garbles "
                    "bytes (noise, a loose contact, or a rate slightly off)",
                    false,
                    nullptr},
        VerdictCase{"WentAway",
                    {"echo", "--pace", "0", "--hangup-after-passes", "1"},
                    {"-st", "-c1", "-r3"},
                    "the port failed (a read failed) in pass 2 at 115200 "
                    "baud: unplugged, or a driver failure",
                    false,
                    kWineHangUp}),
    [](const testing::TestParamInfo<VerdictCase> &p) {
      return std::string(p.param.name);
    });

// A folder laid out like /sys/class/tty: a USB adapter (an FTDI chip, its
// product name two levels up from its tty's device, and its latency
// timer), an on-board UART, and a virtual console (no device: no port).
struct FakeTtyClass {
  std::string root;
  FakeTtyClass() {
    char dir[] = "/tmp/portvet-sysfs-XXXXXX";
    root = mkdtemp(dir);
    // Absolute links: the tool sees class/tty where /sys/class/tty was.
    Run("mkdir -p devices/usb1/1-1/1-1:1.0/ttyUSB0 devices/platform/serial8250 "
        "class/tty/tty0 class/tty/ttyUSB0 class/tty/ttyS0 && "
        "echo 'FT232R USB UART' > devices/usb1/1-1/product && "
        "ln -s \"$PWD/devices/usb1/1-1/1-1:1.0/ttyUSB0\" "
        "class/tty/ttyUSB0/device && "
        "ln -s \"$PWD/devices/platform/serial8250\" class/tty/ttyS0/device && "
        "echo 16 > devices/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer");
  }
  ~FakeTtyClass() { Run("rm -rf \"$PWD\""); }
  void Run(const std::string &command) {
    std::string full = "cd '" + root + "' && " + command;
    EXPECT_EQ(system(full.c_str()), 0) << command;
  }
  std::string Class() const { return root + "/class/tty"; }
};

// Where the ports are: a port that cannot be opened names the serial ports
// that are here (the ttys with a device behind them, a USB adapter with its
// product name); where PORTVET_COMn is set already, it does not ask for it.
TEST(Ports, ListedWhenAPortCannotOpen) {
  if (UnderWine()) GTEST_SKIP() << "Wine lists its registry's ports (below)";
  if (!CanFakeTtyClass()) GTEST_SKIP() << "needs root and unshare";
  FakeTtyClass sysfs;
  RunOptions options;
  options.tty_class = sysfs.Class();
  RunResult run = RunPortvet({"-c1"}, {}, options);
  EXPECT_EQ(run.out,
            Banner() + "\nChecking COM1:\nUnable to open COM port COM1\n");
  EXPECT_EQ(run.err,
            "portvet: COM1 (/nonexistent/portvet-test-COM1): No such file or "
            "directory (serial ports here: /dev/ttyS0, /dev/ttyUSB0 (FT232R "
            "USB UART))\n");
  // Without PORTVET_COM1 the tool opens /dev/ttyS0, which the test cannot
  // count on; an empty folder stands for a computer without ports.
  options.tty_class = sysfs.root + "/devices/platform/serial8250";
  run = RunPortvet({"-st", "-c1"}, {}, options);
  EXPECT_EQ(run.err,
            "portvet: COM1 (/nonexistent/portvet-test-COM1): No such file or "
            "directory (no serial port is here now)\n");
}

// Under Wine the ports are the ones its registry announces under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (the prefix puts COM7 and COM12 there,
// see wine/prefix.sh).
TEST(Ports, ListedFromTheRegistryUnderWine) {
  if (!UnderWine()) GTEST_SKIP() << "the registry is Windows'";
  RunOptions options;
  options.env = {{"PORTVET_COM1", "COM9"}};
  RunResult run = RunPortvet({"-c1"}, {}, options);
  EXPECT_EQ(run.err,
            "portvet: COM1 (\\\\.\\COM9): File not found. (serial ports here: "
            "COM7, COM12)\n");
}

// A USB adapter whose packets end the stress test's reads: its latency
// timer is named, where sysfs has one for the port (here the pty is given
// an adapter's sysfs entry).
TEST(Ports, LatencyTimerNamed) {
  if (UnderWine()) GTEST_SKIP() << "sysfs is Linux's";
  if (!CanFakeTtyClass()) GTEST_SKIP() << "needs root and unshare";
  FakeTtyClass sysfs;
  Sim sim = StartSim({"echo", "--pace", "0", "--chunk", "62", "--gap", "40"});
  // The pty /dev/pts/N stands for ttyUSB0 here.
  std::string pts = sim.path.substr(sim.path.rfind('/') + 1);
  sysfs.Run("mkdir class/tty/" + pts + " && ln -s " + sysfs.root +
            "/devices/usb1/1-1/1-1:1.0/ttyUSB0 class/tty/" + pts + "/device");
  RunOptions options;
  options.tty_class = sysfs.Class();
  RunResult run =
      RunPortvet({"-st", "-c1", "-r3"}, {{"COM1", sim.path}}, options);
  std::string second = run.err.substr(run.err.find('\n') + 1);
  EXPECT_EQ(second,
            "portvet: COM1: the adapter hands bytes over when its latency "
            "timer runs out: write 1 to /sys/class/tty/" +
                pts + "/device/latency_timer (as root) for 1 ms\n")
      << run.err;
}

}  // namespace
