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
#include "verdict_cases.h"

namespace {

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
  std::string how = "exit " + std::to_string(run.status) + ", signal " +
                    std::to_string(run.signal) + ", " + std::to_string(run.ms) +
                    " ms, stdout:\n" + run.out;
  if (c.regex) {
    EXPECT_TRUE(std::regex_match(
        run.err, std::regex("portvet: COM1: " + c.verdict + "\n")))
        << "stderr:\n"
        << run.err << how;
  } else {
    EXPECT_EQ(run.err, "portvet: COM1: " + c.verdict + "\n") << how;
  }
}

// The cases (verdict_cases.cpp) with small -r, in real time; the virtual-time
// suite runs them with the tool's defaults.
INSTANTIATE_TEST_SUITE_P(Check, VerdictTest, testing::ValuesIn(CheckVerdicts()),
                         [](const testing::TestParamInfo<VerdictCase> &p) {
                           return std::string(p.param.name);
                         });

INSTANTIATE_TEST_SUITE_P(Stress, VerdictTest,
                         testing::ValuesIn(StressVerdicts()),
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
        "echo 0403 > devices/usb1/1-1/idVendor && "
        "echo 6001 > devices/usb1/1-1/idProduct && "
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

// COM1 without PORTVET_COM1 opens /dev/ttyS0: where the check fails there,
// standard error says which device that was (a faked /dev and sysfs make
// ttyS0 a PC's UART with a silent device on it). With PORTVET_COMn set, as
// in every other test, the verdicts have no such line.
TEST(Ports, UnsetComNamesItsDevice) {
  if (UnderWine()) GTEST_SKIP() << "Windows opens COM1 by its own name";
  if (!CanFakeTtyClass()) GTEST_SKIP() << "needs root and unshare";
  Sim sim = StartSim({"stk500", "--silent-after", "0"});
  FakeTtyClass sysfs;
  sysfs.Run("mkdir -p dev/pts && ln -s '" + sim.path + "' dev/ttyS0");
  RunOptions options;
  options.tty_class = sysfs.Class();
  options.dev = sysfs.root + "/dev";
  options.env = {{"PORTVET_COM1", ""}};
  RunResult run = RunPortvet({"-c1", "-r2"}, {}, options);
  StopSim(sim);
  ASSERT_FALSE(run.hung);
  const std::string head = Banner() + "\nChecking COM1:\n";
  EXPECT_EQ(run.out.compare(0, head.size(), head), 0) << run.out;
  const std::string note =
      "portvet: COM1 was /dev/ttyS0 (a PC's UART), as PORTVET_COM1 is not "
      "set: a USB adapter or a board is another device (portvet -id lists "
      "them)\n";
  EXPECT_NE(run.err.find(note), std::string::npos) << run.err;
}

// -id alone lists every port with what the system says of the device
// behind it, opening none: natively from sysfs (the FTDI adapter's IDs,
// the UART), under Wine from the registry (COM7's CH340, COM12's FTDI
// adapter under FTDI's own bus: see wine/prefix.sh).
TEST(Ports, IdentifyListsEveryPort) {
  RunOptions options;
  std::string want;
  FakeTtyClass sysfs;
  if (UnderWine()) {
    want =
        "COM7 (CH340, 1a86:7523): manufacturer \"wch.cn\", product "
        "\"USB-SERIAL CH340\"\nCOM12 (FTDI FT232R, 0403:6001): manufacturer "
        "\"FTDI\", product \"USB Serial Port\", serial \"A50285BI\"\n";
  } else {
    if (!CanFakeTtyClass()) GTEST_SKIP() << "needs root and unshare";
    options.tty_class = sysfs.Class();
    want =
        "/dev/ttyS0 (a PC's UART)\n/dev/ttyUSB0 (FTDI FT232R, 0403:6001): "
        "product \"FT232R USB UART\"\n";
  }
  RunResult run = RunPortvet({"-id"}, {}, options);
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Banner() + "\n" + want);
  EXPECT_EQ(run.err,
            "portvet: none of these was opened; -id -a asks what is on every "
            "one at once, -id -p<port> on one (opening a port resets most "
            "boards, and stops a 3D printer's board printing from its card)\n");
  if (UnderWine()) return;
  // A computer without ports.
  options.tty_class = sysfs.root + "/devices/platform/serial8250";
  run = RunPortvet({"-id"}, {}, options);
  EXPECT_EQ(run.out, Banner() + "\nNo serial port was found\n");
}

// A USB adapter whose packets end the stress test's reads: its latency
// timer is named, where sysfs has one for the port (here the pty is given
// an adapter's sysfs entry).
TEST(Ports, LatencyTimerNamed) {
  if (UnderWine()) GTEST_SKIP() << "sysfs is Linux's";
  if (!CanFakeTtyClass()) GTEST_SKIP() << "needs root and unshare";
  FakeTtyClass sysfs;
  Sim sim = StartSim({"echo", "--pace", "0", "--chunk", "62", "--gap", "100"});
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
