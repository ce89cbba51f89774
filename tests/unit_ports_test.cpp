// What Linux's sysfs says of a port's host, read from a folder laid out
// like /sys/class/tty: the tty's device's driver, an FTDI adapter's latency
// timer, a UART's FIFO trigger.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "../src/ports/ports.h"

namespace {

struct HostCase {
  const char *tty;     // its name in /dev and in the class folder
  const char *driver;  // the device's driver; null: no device behind it
  const char *file;    // a file in the device folder ("latency_timer"),
  const char *value;   // or beside it in the tty's ("rx_trig_bytes")
  ports_host want;
};

void PrintTo(const HostCase &c, std::ostream *os) { *os << c.tty; }

class SysfsHostTest : public testing::TestWithParam<HostCase> {};

TEST_P(SysfsHostTest, SaysWhatTheDriverIs) {
  const HostCase &c = GetParam();
  char dir[] = "/tmp/portvet-host-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string root = dir;
  std::string cls = root + "/class/tty";
  std::string dev = root + "/devices/" + c.tty;
  std::string node = root + "/dev/" + c.tty;
  std::string make = "mkdir -p '" + cls + "/" + c.tty + "' '" + dev + "' '" +
                     root + "/dev' '" + root + "/drivers/" +
                     (c.driver ? c.driver : "none") + "' && touch '" + node +
                     "'";
  if (c.driver != nullptr) {
    make += " && ln -s '" + dev + "' '" + cls + "/" + c.tty + "/device'" +
            " && ln -s '" + root + "/drivers/" + c.driver + "' '" + dev +
            "/driver'";
  }
  if (c.file != nullptr) {
    bool beside = std::string(c.file) == "rx_trig_bytes";
    make += " && echo " + std::string(c.value) + " > '" +
            (beside ? cls + "/" + c.tty : dev) + "/" + c.file + "'";
  }
  ASSERT_EQ(system(make.c_str()), 0) << make;
  ports_host h;
  ports_host_in(cls.c_str(), node.c_str(), &h);
  EXPECT_EQ(h.kind, c.want.kind);
  EXPECT_EQ(h.trigger, c.want.trigger);
  EXPECT_EQ(h.latency_ms, c.want.latency_ms);
  ASSERT_EQ(system(("rm -rf '" + root + "'").c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SysfsHostTest,
    testing::Values(
        // FTDI: its latency timer as set, 16 where the file says nothing.
        HostCase{"ttyUSB0",
                 "ftdi_sio",
                 "latency_timer",
                 "1",
                 {PORTS_HOST_USB, 0, 1}},
        HostCase{
            "ttyUSB1", "ftdi_sio", nullptr, nullptr, {PORTS_HOST_USB, 0, 16}},
        HostCase{
            "ttyUSB2", "ch341-uart", nullptr, nullptr, {PORTS_HOST_USB, 0, 1}},
        // A UART: its trigger as set, else the driver's own choice.
        HostCase{"ttyS0",
                 "serial8250",
                 "rx_trig_bytes",
                 "14",
                 {PORTS_HOST_UART, 14, 0}},
        HostCase{"ttyS1", "serial", nullptr, nullptr, {PORTS_HOST_UART, 0, 0}},
        // A driver the tool does not know, and a pty (no device behind it).
        HostCase{
            "ttyACM0", "cdc_acm", nullptr, nullptr, {PORTS_HOST_UNKNOWN, 0, 0}},
        HostCase{
            "pts7", nullptr, nullptr, nullptr, {PORTS_HOST_UNKNOWN, 0, 0}}));

}  // namespace
