// portvet against real programmer firmware that nobody on this project
// wrote, on an emulated ATmega328P (fwhost, on simavr), through the
// simulator's line model: the chip's UART runs at the rate its firmware
// set (ArduinoISP: 19200 as UBRR0 = 103 with U2X0, that is 19231 baud;
// optiboot: UBRR0 = 16 with U2X0, 117647 baud), the tool's at the rate it
// set, and a byte that crosses between two rates arrives as what the
// receiving UART samples of it. The expected reports follow from the
// firmware's source, the probes' rules and that model, line by line, as
// the comments say.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "../harness.h"

namespace {

// Sets the line raw at the rate, sends bytes to the emulated chip and reads
// n bytes back, waiting up to five seconds for them (the emulated chip
// shares the machine), and then half a second for any more.
std::string Exchange(int fd, speed_t rate, const std::string &bytes, size_t n) {
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return "(no line)";
  cfmakeraw(&tio);
  cfsetispeed(&tio, rate);
  cfsetospeed(&tio, rate);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return "(no line)";
  if (write(fd, bytes.data(), bytes.size()) != (ssize_t)bytes.size()) return "";
  std::string got;
  for (;;) {
    pollfd pfd = {fd, POLLIN, 0};
    if (poll(&pfd, 1, got.size() < n ? 5000 : 500) <= 0) break;
    char c;
    if (read(fd, &c, 1) != 1) break;
    got += c;
  }
  return got;
}

const std::string kOk = "ok (retries = 1; noSync = 0)\n";

std::string Firmware(const char *name) {
  return std::string(PORTVET_FIRMWARE_DIR) + "/" + name;
}

// ArduinoISP (examples/11.ArduinoISP in Debian's arduino package) on its
// own, as on a programmer without auto-reset, after half a second of its
// own time for the LED pulses of its setup().
Sim StartArduinoIsp() {
  return StartDevice(PORTVET_FWHOST,
                     {"--settle", "600", Firmware("ArduinoISP.hex")});
}

// An Uno running "Arduino as ISP": the sketch and optiboot in one flash,
// reset (into optiboot) whenever the tool opens the port.
Sim StartArduinoIspBoard() {
  return StartDevice(PORTVET_FWHOST,
                     {"--board", "--settle", "600",
                      Firmware("ArduinoISP_with_bootloader.hex")});
}

// What portvet -c1 -rN -t100 reports for ArduinoISP on its own, from the
// sketch's avrisp() and the line model:
// - the sign-on 31 20 at 115200 reaches the sketch at 19231 as one byte, FC
//   (its samples at 3, 9, 15, 21... of the tool's bits read 0x31's bits 1
//   and 7, 0x20's bit 3, then the idle line): no command, so avrisp()'s
//   default branch waits for one more byte; nothing answers within the
//   sign-on's read: a timeout, and the AVR910 probe follows;
// - at every rate no reply is seven bytes "AVR ISP": the sketch answers
//   each byte it hears with one STK_NOSYNC (at 115200 that comes as E0 E0
//   E0 00), or waits for another. So every rate fails, and the programmer
//   that is there is not found: the tool looks for STK500 only at 115200.
std::string ArduinoIspBlock(int attempts) {
  return "Presence check...timeout\n" + Nothing(attempts);
}

// The line model against the sketch, byte for byte: at 115200 the sign-on
// is heard as FC (no answer yet), get-sync as FC too, which ends the
// default branch: STK_NOSYNC 0x15 at 19231, which the tool's UART at 115200
// samples as E0 E0 E0 00 (sim_line's unit table works out 0x15 at 19200:
// six of the tool's bits to one of the sketch's). At 19200 the sketch
// answers as its source says: STK_INSYNC, "AVR ISP", STK_OK.
TEST(Firmware, ArduinoIspAnswersAtItsOwnRateOnly) {
  Sim isp = StartArduinoIsp();
  ASSERT_FALSE(isp.path.empty()) << "fwhost did not start";
  int fd = open(isp.path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Exchange(fd, B115200, "\x31\x20", 0), "");
  EXPECT_EQ(Exchange(fd, B115200, "\x30\x20", 4),
            std::string("\xe0\xe0\xe0\x00", 4));
  EXPECT_EQ(Exchange(fd, B19200, "\x31\x20", 9),
            "\x14"
            "AVR ISP\x10");
  close(fd);
}

// The verdict on standard error names what the bytes show: the sketch's
// out-of-sync reply at 115200 is garbage there (E0 E0 E0 00, to 'S'), and
// clean at 19200 (0x15, to 'S' there): an STK500 v1 programmer at 19200.
TEST(Firmware, ArduinoIsp) {
  Sim isp = StartArduinoIsp();
  ASSERT_FALSE(isp.path.empty()) << "fwhost did not start";
  RunResult run = RunPortvet({"-c1", "-r2", "-t100"}, {{"COM1", isp.path}});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out,
            Banner() + "\nChecking COM1:\n" + ArduinoIspBlock(2) + "\n\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "portvet: COM1: bytes that no programmer sends came at 115200 baud "
            "(E0 E0 E0 00): something answers at another rate, or in another "
            "protocol; STK500 v1 "
            "out-of-sync replies (0x15) came at 19200 baud: an STK500 v1 "
            "programmer at 19200 baud, such as a board running ArduinoISP; "
            "this check looks for STK500 only at 115200\n");
}

// optiboot running when the port opens (a board without auto-reset, its
// reset button pressed just before): the sign-on 0x31 is no command of
// optiboot's, so its catch-all branch (verifySpace()) answers STK_INSYNC,
// then the loop STK_OK: 14 10, and no more; the probe wants eight bytes
// after 0x14: a timeout. 'S' is no command either, and nothing answers it
// (verifySpace() waits for a 0x20; the next byte resets the chip into the
// empty application). The verdict names the bootloader's answer.
TEST(Firmware, BootloaderAnswersTheSignOn) {
  Sim boot = StartDevice(PORTVET_FWHOST,
                         {"--button", Firmware("optiboot_atmega328.hex")});
  ASSERT_FALSE(boot.path.empty()) << "fwhost did not start";
  RunResult run = RunPortvet({"-c1", "-r2", "-t100"}, {{"COM1", boot.path}});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\nPresence check...timeout\n" +
                         Nothing(2) + "\n\n");
  EXPECT_EQ(run.err,
            "portvet: COM1: the sign-on is answered with 14 10 alone, as a "
            "bootloader (optiboot) answers any command: a board running its "
            "bootloader (it resets when the port opens, or its reset button "
            "was pressed), not a programmer\n");
}

// The Uno running ArduinoISP. Opening the port resets it: held in reset for
// 65 ms, then optiboot (EXTRF set) for a second at 117647 baud, then, once
// its watchdog has run out, the sketch at 19231.
// - the sign-on goes out as the port opens, into the reset: lost; the
//   sign-on's read (200 ms) brings nothing: a timeout;
// - 'S' at 115200 reaches optiboot: no command of its own, so
//   verifySpace() waits for a 0x20 that never comes; the next byte (or its
//   watchdog) resets it into the sketch; neither answers "AVR ISP": every
//   rate fails, as for the sketch alone.
TEST(Firmware, ArduinoIspBoardResetsOnOpen) {
  Sim board = StartArduinoIspBoard();
  ASSERT_FALSE(board.path.empty()) << "fwhost did not start";
  RunResult run = RunPortvet({"-c1", "-r2", "-t100"}, {{"COM1", board.path}});
  std::string log = StopSim(board);
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out,
            Banner() + "\nChecking COM1:\n" + ArduinoIspBlock(2) + "\n\n");
  EXPECT_EQ(log.find("reset external\n"), 0u) << log;
}

// A board with only its bootloader (optiboot, arduino-core-avr), reset as
// the tool opens the port. From optiboot.c and the line model:
// - the sign-on is lost in the reset, as above: a timeout;
// - 'S' is no command of optiboot's: verifySpace() waits for a 0x20, and
//   the next byte that is not one sets the watchdog to 16 ms; after a
//   watchdog reset optiboot starts the application, and there is none:
//   the chip stays silent. Every rate fails.
TEST(Firmware, BootloaderOnlyBoard) {
  Sim boot = StartDevice(PORTVET_FWHOST,
                         {"--board", Firmware("optiboot_atmega328.hex")});
  ASSERT_FALSE(boot.path.empty()) << "fwhost did not start";
  RunResult run = RunPortvet({"-c1", "-r2", "-t100"}, {{"COM1", boot.path}});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\nPresence check...timeout\n" +
                         Nothing(2) + "\n\n");
}

// The rig itself: optiboot really runs there and answers as its source
// says, at 115200 (its 117647, 2 % off, as on every Uno). The port's open
// resets the board; after the 65 ms in reset optiboot listens. Get-sync
// (0x30 0x20) takes the generic branch: STK_INSYNC, STK_OK;
// read-signature (0x75 0x20) answers STK_INSYNC, SIGNATURE_0..2 of the
// ATmega328P (1E 95 0F), STK_OK.
TEST(Firmware, OptibootAnswersAsItsSourceSays) {
  Sim boot = StartDevice(PORTVET_FWHOST,
                         {"--board", Firmware("optiboot_atmega328.hex")});
  ASSERT_FALSE(boot.path.empty()) << "fwhost did not start";
  int fd = open(boot.path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  usleep(200000);
  EXPECT_EQ(Exchange(fd, B115200, "\x30\x20", 2), "\x14\x10");
  EXPECT_EQ(Exchange(fd, B115200, "\x75\x20", 5), "\x14\x1e\x95\x0f\x10");
  close(fd);
}

// A sweep with the Uno running ArduinoISP on COM1, the simulator on COM2
// (an STK500) and COM3 (an AVR910 programmer at 38400 baud, quiet about
// unknown commands), and no port on COM4.
TEST(Firmware, SweepWithArduinoIspOnCom1) {
  Sim isp = StartArduinoIspBoard();
  Sim stk = StartSim({"stk500"});
  Sim avr = StartSim({"avr910", "--baud", "38400", "--unknown", "-1"});
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

namespace {

// A bootloader as Debian's arduino-core-avr ships it, built and unchanged.
std::string Bootloader(const char *path) {
  return std::string(PORTVET_ARDUINO_AVR) + "/bootloaders/" + path;
}

struct IdFirmwareCase {
  const char *name;
  std::vector<std::string> fwhost;
  std::string line;  // after "COM1: "
};

void PrintTo(const IdFirmwareCase &c, std::ostream *os) { *os << c.name; }

class IdFirmwareTest : public testing::TestWithParam<IdFirmwareCase> {};

// The identify mode names real firmware on the emulated chip, from the
// firmware's own answers (see the sources: ArduinoISP.ino, optiboot.c,
// ATmegaBOOT_168.c, stk500boot.c): its family, name, versions and rate, and
// whether it is a programmer or a board's bootloader. A board resets when
// the port opens; its bootloader answers for a second, then it runs its
// program, which the mode asks for after a wait.
TEST_P(IdFirmwareTest, NamesTheFirmware) {
  const IdFirmwareCase &c = GetParam();
  Sim chip = StartDevice(PORTVET_FWHOST, c.fwhost);
  ASSERT_FALSE(chip.path.empty()) << "fwhost did not start";
  RunResult run = RunPortvet({"-id", "-c1"}, {{"COM1", chip.path}});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Banner() + "\nCOM1: " + c.line + "\n");
}

const char kArduinoIsp[] =
    "ArduinoISP, a programmer: STK500 v1 \"AVR ISP\", hardware 2, software "
    "1.18, at 19200 baud";
const char kIspBytes[] =
    "; decided by get-sync 14 10, sign-on 14 41 56 52 20 49 53 50 10, "
    "parameter 0x93 14 53 10";

INSTANTIATE_TEST_SUITE_P(
    Firmware, IdFirmwareTest,
    testing::Values(
        // ArduinoISP without auto-reset: the sketch at its 19200.
        IdFirmwareCase{"ArduinoIspAlone",
                       {"--settle", "600", Firmware("ArduinoISP.hex")},
                       std::string(kArduinoIsp) + kIspBytes},
        // An Uno running ArduinoISP: optiboot answers at 115200 after the
        // reset (get-sync and sign-on 14 10; its version, 4.4, as the
        // software version), then the sketch.
        IdFirmwareCase{"ArduinoIspOnAnUno",
                       {"--board", "--settle", "600",
                        Firmware("ArduinoISP_with_bootloader.hex")},
                       std::string(kArduinoIsp) +
                           ", on a board whose bootloader answers for a second "
                           "after the port opens (optiboot, a board's "
                           "bootloader: STK500 v1, version 4.4, at 115200 "
                           "baud)" +
                           kIspBytes},
        // optiboot alone: after its second, the empty application.
        IdFirmwareCase{"Optiboot",
                       {"--board", Firmware("optiboot_atmega328.hex")},
                       "optiboot, a board's bootloader: STK500 v1, version "
                       "4.4, at 115200 baud, for a second after the port "
                       "opens; what the board runs after it answers none of "
                       "these queries; decided by get-sync 14 10, sign-on 14 "
                       "10, version 14 04 10"},
        // The older bootloader (Duemilanove, early Nano) at 57600: it also
        // says "AVR ISP", but answers ArduinoISP's parameter 0x93 with 0.
        // Without an application it runs again after its wait.
        IdFirmwareCase{
            "OlderBootloaderAt57600",
            {"--board", "--boot", "0x7800",
             Bootloader("atmega/ATmegaBOOT_168_atmega328.hex")},
            "ATmegaBOOT, a board's bootloader: STK500 v1 \"AVR ISP\", "
            "hardware 2, software 1.16, at 57600 baud, and still after a "
            "wait: the board runs no other program that answers; decided by "
            "get-sync 14 10, sign-on 14 41 56 52 20 49 53 50 10, parameter "
            "0x93 14 00 10"},
        // The Mega 2560's STK500 v2 bootloader, on an emulated ATmega2560.
        IdFirmwareCase{
            "Mega2560Bootloader",
            {"--mcu", "atmega2560", "--board", "--boot", "0x3E000",
             Bootloader("stk500v2/stk500boot_v2_mega2560.hex")},
            "the Arduino Mega 2560's bootloader: STK500 v2 \"AVRISP_2\", "
            "hardware 15, software 2.10, at 115200 baud, and still after a "
            "wait: the board runs no other program that answers; decided by "
            "sign-on 1B 01 00 0B 0E 01 00 08 41 56 52 49 53 50 5F 32 74"}),
    [](const testing::TestParamInfo<IdFirmwareCase> &p) {
      return std::string(p.param.name);
    });

// The connection check with its own defaults against the two bootloaders
// it cannot reach (STK500 v1 at 57600; STK500 v2): nothing answers its
// queries, and the verdict says that silence means only that, naming such
// devices beside an empty port.
TEST(Firmware, BootloadersTheCheckCannotReachAtTheDefaults) {
  // Both boards at once, in one sweep: a silent port at the defaults takes
  // some 40 s, and the sweep's ports take it side by side.
  Sim old = StartDevice(PORTVET_FWHOST,
                        {"--board", "--boot", "0x7800",
                         Bootloader("atmega/ATmegaBOOT_168_atmega328.hex")});
  Sim mega = StartDevice(PORTVET_FWHOST,
                         {"--mcu", "atmega2560", "--board", "--boot", "0x3E000",
                          Bootloader("stk500v2/stk500boot_v2_mega2560.hex")});
  ASSERT_FALSE(old.path.empty() || mega.path.empty()) << "fwhost did not start";
  RunResult run =
      RunPortvet({"-c0"}, {{"COM1", old.path}, {"COM2", mega.path}});
  ASSERT_FALSE(run.hung);
  std::string silent = "Presence check...timeout\n" + Nothing(50) + "\n\n";
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\n" + silent +
                         "\nChecking COM2:\n" + silent +
                         "\nChecking COM3:\nUnable to open COM port COM3\n" +
                         "\nChecking COM4:\nUnable to open COM port COM4\n");
  for (const char *port : {"COM1", "COM2"}) {
    EXPECT_NE(
        run.err.find(
            std::string("portvet: ") + port +
            ": no byte came back at 115200, 38400, 19200, 9600 baud: nothing "
            "answers these queries: not connected, the wrong port, no power, "
            "or a device that keeps silent to them (a programmer or "
            "bootloader that speaks STK500 v2, or STK500 v1 at a rate this "
            "check does not use, such as 57600)\n"),
        std::string::npos)
        << run.err;
  }
}

}  // namespace
