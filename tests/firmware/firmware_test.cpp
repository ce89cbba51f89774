// portvet against real programmer firmware that nobody on this project
// wrote, on an emulated ATmega328P (fwhost, on simavr). The expected
// reports follow from the firmware's source and the probes' rules, line by
// line, as the comments say; the emulated UART has no baud rate of its own,
// so the firmware hears the tool whatever rate the tool sets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "../harness.h"

namespace {

const std::string kOk = "ok (retries = 1; noSync = 0)\n";

std::string Firmware(const char *name) {
  return std::string(PORTVET_FIRMWARE_DIR) + "/" + name;
}

// ArduinoISP (examples/11.ArduinoISP in Debian's arduino package), after
// half a second of its own time for the LED pulses of its setup().
Sim StartArduinoIsp() {
  return StartDevice(PORTVET_FWHOST,
                     {"--settle", "500", Firmware("ArduinoISP.hex")});
}

// What portvet -c1 -rN reports for ArduinoISP, from the sketch's avrisp():
// - sign-on '1' 0x20 is answered STK_INSYNC, "AVR ISP", STK_OK: nine bytes
//   that the probe reads as 0x14 and eight more, but the identifier is not
//   "AVR STK", so no attempt succeeds and none of the replies starts with
//   0x15: all N-1 attempts are used, "failed (retries = N; noSync = 0)";
//   that result keeps the error flag clear and the probe goes on;
// - get-sync '0' 0x20 is empty_reply(): 0x14 0x10, ok at the first attempt;
// - get-parameter 'A' 0x80/0x81/0x82 is get_version(): breply() of HWVER 2,
//   SWMAJ 1 and SWMIN 18, each 0x14, the value, 0x10: ok at once;
// - so the version line is HW 0x02, SW 0x01.0x12, and since the presence
//   step did not end in silence the AVR910 probe does not run.
std::string ArduinoIspBlock(int attempts) {
  return "Presence check...failed (retries = " + std::to_string(attempts) +
         "; noSync = 0)\n" + "Sync test..." + kOk + "Get version 1..." + kOk +
         "Get version 2..." + kOk + "Get version 3..." + kOk +
         "Version: HW: 0x02, SW: 0x01.0x12\n";
}

TEST(Firmware, ArduinoIsp) {
  Sim isp = StartArduinoIsp();
  ASSERT_FALSE(isp.path.empty()) << "fwhost did not start";
  RunResult run = RunPortvet({"-c1", "-t100"}, {{"COM1", isp.path}});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out,
            Banner() + "\nChecking COM1:\n" + ArduinoIspBlock(50) + "\n\n");
  EXPECT_EQ(run.status, 0);
}

// optiboot (arduino-core-avr), started as after the reset button, just
// before the tool opens the port (it waits a second for a host). From
// optiboot.c:
// - sign-on 0x31 is no command of optiboot's: its catch-all branch calls
//   verifySpace(), which takes the 0x20 and answers STK_INSYNC, then the
//   loop's STK_OK: two bytes. The probe reads 0x14, then wants eight more
//   and gets one: a timeout, so the presence step ends and the AVR910 probe
//   follows;
// - 'S' is no command either: verifySpace() waits for a 0x20 that never
//   comes, so nothing answers at 115200. The next byte that is not 0x20
//   (the drain and 'S' at 38400) sets the watchdog to 16 ms, or its 1 s
//   watchdog runs out first, and optiboot resets; after a watchdog reset it
//   starts the application (none here: the chip stays silent), so every
//   rate fails: with -r2 one attempt each.
TEST(Firmware, Optiboot) {
  Sim boot = StartDevice(PORTVET_FWHOST,
                         {"--boot", Firmware("optiboot_atmega328.hex")});
  ASSERT_FALSE(boot.path.empty()) << "fwhost did not start";
  RunResult run = RunPortvet({"-c1", "-r2", "-t100"}, {{"COM1", boot.path}});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\nPresence check...timeout\n" +
                         Nothing(2) + "\n\n");
}

// Sends bytes to the emulated chip on a raw line and reads n bytes back,
// waiting up to five seconds for them (simavr hands the host's first bytes
// to the chip with a delay of its own).
std::string Exchange(int fd, const std::string &bytes, size_t n) {
  if (write(fd, bytes.data(), bytes.size()) != (ssize_t)bytes.size()) return "";
  std::string got;
  while (got.size() < n) {
    pollfd pfd = {fd, POLLIN, 0};
    if (poll(&pfd, 1, 5000) <= 0) break;
    char c;
    if (read(fd, &c, 1) != 1) break;
    got += c;
  }
  return got;
}

// The rig itself: optiboot really runs there and answers as its source
// says. Get-sync (0x30 0x20) takes the generic branch: STK_INSYNC, STK_OK;
// read-signature (0x75 0x20) answers STK_INSYNC, SIGNATURE_0..2 of the
// ATmega328P (1E 95 0F), STK_OK.
TEST(Firmware, OptibootAnswersAsItsSourceSays) {
  Sim boot = StartDevice(PORTVET_FWHOST,
                         {"--boot", Firmware("optiboot_atmega328.hex")});
  ASSERT_FALSE(boot.path.empty()) << "fwhost did not start";
  int fd = open(boot.path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio;
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  cfmakeraw(&tio);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
  EXPECT_EQ(Exchange(fd, "\x30\x20", 2), "\x14\x10");
  EXPECT_EQ(Exchange(fd, "\x75\x20", 5), "\x14\x1e\x95\x0f\x10");
  close(fd);
}

// A sweep with real firmware on COM1, the simulator on COM2 (an STK500)
// and COM3 (an AVR910 programmer at 38400 baud), and no port on COM4.
TEST(Firmware, SweepWithArduinoIspOnCom1) {
  Sim isp = StartArduinoIsp();
  Sim stk = StartSim({"stk500"});
  Sim avr = StartSim({"avr910", "--baud", "38400"});
  ASSERT_FALSE(isp.path.empty()) << "fwhost did not start";
  RunResult run =
      RunPortvet({"-c0", "-r3", "-t100"},
                 {{"COM1", isp.path}, {"COM2", stk.path}, {"COM3", avr.path}});
  ASSERT_FALSE(run.hung);
  // The simulator's defaults: HW 0x02, SW 0x01.0x12; "AVR ISP", software
  // version "38", hardware version "10", a serial programmer.
  std::string stk500 = "Presence check..." + kOk + "Sync test..." + kOk +
                       "Get version 1..." + kOk + "Get version 2..." + kOk +
                       "Get version 3..." + kOk +
                       "Version: HW: 0x02, SW: 0x01.0x12\n";
  std::string found = "found (retires = 1)\n";
  std::string avr910 =
      "Presence check...timeout\n\n"
      "AVR910 presence check (115200 baud)...failed (retries = 3 (max))\n"
      "AVR910 presence check (38400 baud)...found AVR ISP (retries = 1)\n"
      "Software version..." +
      found + "-> SW Version is 3.8\nHardware version..." + found +
      "-> HW Version is 1.0\nProgrammer type..." + found +
      "-> Serial programmer\n";
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\n" + ArduinoIspBlock(3) +
                         "\n\n" + "\nChecking COM2:\n" + stk500 + "\n\n" +
                         "\nChecking COM3:\n" + avr910 + "\n\n" +
                         "\nChecking COM4:\nUnable to open COM port COM4\n");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
