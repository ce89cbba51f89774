// The gap a read allows between two bytes, by host and rate; and the
// README's figures of it, which must not drift from the code.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "../src/serial/serial_interval.h"

namespace {

const ports_host kPty = {PORTS_HOST_UNKNOWN, 0, 0};
const ports_host kWindows = {PORTS_HOST_UNKNOWN, 14, 0};
const ports_host kTtyS0 = {PORTS_HOST_UART, 8, 0};  // rx_trig_bytes 8
const ports_host kTtyS0Driver = {PORTS_HOST_UART, 0, 0};
const ports_host kFtdi = {PORTS_HOST_USB, 0, 16};
const ports_host kFtdiLow = {PORTS_HOST_USB, 0, 1};

struct IntervalCase {
  const char *name;
  ports_host host;
  int32_t baud;
  uint32_t t;
  uint32_t ms;  // the gap allowed
};

// c: a character, ten bits, rounded up to whole microseconds. The host's
// own gap, rounded up to whole ms, and 50 ms for a busy computer; never
// less than the timeout.
TEST(Interval, FollowsTheHostAndTheRate) {
  const IntervalCase cases[] = {
      // A 16550 under Linux: trigger + 3 characters from 2400 baud up;
      // below, one character, whatever rx_trig_bytes says (8250 driver).
      {"Uart8At600", kTtyS0, 600, 1, 17 + 50},
      {"Uart8At1200", kTtyS0, 1200, 1, 9 + 50},
      {"Uart8At2400", kTtyS0, 2400, 1, 46 + 50},
      {"Uart8At115200", kTtyS0, 115200, 1, 1 + 50},
      {"UartDriverAt600", kTtyS0Driver, 600, 1, 17 + 50},
      {"UartDriverAt9600", kTtyS0Driver, 9600, 1, 12 + 50},
      // FTDI: its latency timer, a character and a USB frame.
      {"FtdiAt115200", kFtdi, 115200, 1, 18 + 50},
      {"FtdiLowAt600", kFtdiLow, 600, 1, 19 + 50},
      // A host the system does not name: the slower of a UART and FTDI at
      // its defaults; on Windows a 14-byte FIFO.
      {"PtyAt115200", kPty, 115200, 1, 18 + 50},
      {"WindowsAt600", kWindows, 600, 1, 284 + 50},
      {"WindowsAt1200", kWindows, 1200, 1, 142 + 50},
      // Never less than the timeout.
      {"LongTimeout", kTtyS0, 115200, 500, 500},
  };
  for (const IntervalCase &c : cases) {
    EXPECT_EQ(serial_interval_ms(c.t, c.baud, &c.host), c.ms) << c.name;
  }
}

std::string Readme() {
  std::ifstream f(std::string(PORTVET_SOURCE_DIR) + "/README.md");
  std::stringstream s;
  s << f.rdbuf();
  // As one line: the figures may wrap.
  std::string text = s.str();
  for (char &c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

// Every "about N ms at 115200 baud" in the README is the gap the tool
// allows on a port the system says nothing of, and the Windows figure at
// 600 baud is the gap with its 14-byte FIFO.
TEST(Interval, TheReadmesFiguresAreTheCodes) {
  std::string text = Readme();
  ASSERT_FALSE(text.empty());
  std::regex about("about ([0-9]+) ms at 115200 baud");
  int seen = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), about);
       it != std::sregex_iterator(); ++it, ++seen) {
    EXPECT_EQ(std::stoul((*it)[1]), serial_interval_ms(1, 115200, &kPty))
        << (*it)[0];
  }
  EXPECT_GE(seen, 2);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      text, m, std::regex("includes a 14-byte FIFO, ([0-9]+) ms at 600 baud")));
  EXPECT_EQ(std::stoul(m[1]), serial_interval_ms(1, 600, &kWindows));
}

}  // namespace
