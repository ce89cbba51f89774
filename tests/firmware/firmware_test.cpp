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
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <map>

#include "../harness.h"

namespace {

// An emulated chip takes a fifth of a core to keep to the wall clock, and
// a test here runs up to four. ctest runs one such test at a time (its
// resource lock); this lock does the same across test runs on the machine
// (two clones built and tested at once), which would otherwise run eight
// chips on two cores, and the chips or the tool would fall behind. The
// kernel drops the lock with the process, however it ends.
class OneTestWithChipsAtATime : public testing::Environment {
 public:
  void SetUp() override {
    int fd = open("/tmp/portvet-emulated-chips.lock", O_RDWR | O_CREAT, 0666);
    if (fd >= 0) flock(fd, LOCK_EX);
  }
};

testing::Environment *const kChipLock =
    testing::AddGlobalTestEnvironment(new OneTestWithChipsAtATime);

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

// An Uno running "Arduino as ISP": the sketch and optiboot (with its LED
// flashes) in one flash, reset (into optiboot) whenever the tool opens the
// port; the sketch starts when optiboot leaves.
Sim StartArduinoIspBoard() {
  return StartDevice(PORTVET_FWHOST,
                     {"--board", "--app", Firmware("ArduinoISP.hex"),
                      Firmware("optiboot_atmega328.hex")});
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
            "protocol, or a board that restarts when its port opens (most "
            "Arduino boards): its bootloader listens only after its start-up "
            "and leaves at the check's other queries; STK500 v1 "
            "out-of-sync replies (0x15) came at 19200 baud: an STK500 v1 "
            "programmer at 19200 baud, such as a board running ArduinoISP; "
            "this check looks for STK500 only at 115200\n"
            "portvet: COM1: portvet -id -c1 asks each family at its rate and "
            "waits for a board's bootloader\n");
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
// 65 ms, then optiboot (EXTRF set) blinks its LED until 440 ms and reads
// for a second at 117647 baud, then, once its watchdog has run out, the
// sketch runs at 19231.
// - the sign-on goes out as the port opens, into the reset: lost; the
//   sign-on's read (200 ms) brings nothing: a timeout;
// - 'S' at 115200 waits in optiboot's UART while it blinks: no command of
//   its own, so verifySpace() reads the next byte, not a 0x20, and the
//   watchdog resets it into the sketch; neither answers "AVR ISP": every
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
// - 'S' waits in the UART until optiboot reads it after its flashes: no
//   command of its own, so verifySpace() reads the next byte, not a 0x20,
//   and sets the watchdog to 16 ms; after a watchdog reset optiboot starts
//   the application, and there is none: the chip stays silent. Every rate
//   fails.
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
// resets the board; after the 65 ms in reset optiboot blinks its LED, and
// reads what its UART kept at 440 ms. Get-sync
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

// A board of boards.txt in arduino-core-avr, as it ships: its chip and
// clock (build.mcu, build.f_cpu), its bootloader, and a program that does
// not touch the UART (the Blink sketch boards ship with is silent on the
// line); it restarts when the port opens. avrdude reaches it with
// programmer at its upload.speed.
struct Board {
  const char *name;
  const char *mcu;
  const char *hz;
  std::string bootloader;
  const char *programmer;  // avrdude's -c
  const char *part;        // avrdude's -p
  int rate;                // upload.speed
  const char *signature;   // what avrdude reads, "0x1e950f"
  std::string line;        // what portvet -id prints after "COM1: " (@: the
                           // chip, see LineOf)
};

void PrintTo(const Board &b, std::ostream *os) { *os << b.name; }

std::vector<std::string> BoardArgs(const Board &b) {
  return {"--board",
          "--mcu",
          b.mcu,
          "--hz",
          b.hz,
          "--app",
          Firmware("silent.hex"),
          b.bootloader};
}

class BoardTest : public testing::TestWithParam<Board> {};

// The rig is proven before the tool is: avrdude, a host nobody here wrote,
// reads the chip's signature through the board's bootloader on the same
// rig, at the board's upload rate (-n: it writes nothing).
TEST_P(BoardTest, AvrdudeReadsTheSignature) {
  const Board &b = GetParam();
  if (UnderWine()) GTEST_SKIP() << "avrdude is a native host";
  if (std::string(PORTVET_AVRDUDE).find("NOTFOUND") != std::string::npos)
    GTEST_SKIP() << "avrdude is not installed";
  Sim chip = StartDevice(PORTVET_FWHOST, BoardArgs(b));
  ASSERT_FALSE(chip.path.empty()) << "fwhost did not start";
  std::string cmd = std::string("timeout 60 ") + PORTVET_AVRDUDE +
                    " -C /etc/avrdude.conf -c " + b.programmer + " -p " +
                    b.part + " -P " + chip.path + " -b " +
                    std::to_string(b.rate) + " -n 2>&1";
  std::string out;
  FILE *pipe = popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buf[512];
  while (fgets(buf, sizeof buf, pipe) != nullptr) out += buf;
  pclose(pipe);
  EXPECT_NE(out.find(std::string("device signature = ") + b.signature),
            std::string::npos)
      << out;
}

const char kOptibootBytes[] =
    "; decided by get-sync 14 10, sign-on 14 10, version 14 04 10";
const char kAtmegaBootBytes[] =
    "; decided by get-sync 14 10, sign-on 14 41 56 52 20 49 53 50 10, "
    "parameter 0x93 14 00 10";

// optiboot answers for a second after its flashes, then the board runs
// its program, which is silent.
std::string Optiboot() {
  return std::string(
             "optiboot, a board's bootloader: STK500 v1, version 4.4, at "
             "115200 baud@, for a second after the port opens; what the "
             "board runs after it answers none of these queries") +
         kOptibootBytes;
}

// ATmegaBOOT at rate, its software version, and what came after a wait:
// built with a getch time-out of F_CPU >> 4 it leaves after about a second
// without a command, with F_CPU >> 1 (the NG, the LilyPad, the ATmega8's)
// it stays longer than the mode waits.
std::string AtmegaBoot(int rate, const char *software, bool leaves) {
  return std::string(
             "ATmegaBOOT, a board's bootloader: STK500 v1 \"AVR "
             "ISP\", hardware 2, software ") +
         software + ", at " + std::to_string(rate) + " baud@" +
         (leaves ? ", for a second after the port opens; what the board "
                   "runs after it answers none of these queries"
                 : ", and still after a wait: the board's program was not "
                   "reached") +
         kAtmegaBootBytes;
}

// The board's line: where it has '@', what it says of the chip. The
// bootloader reads its own chip's signature, which is what avrdude reads
// ("0x1e950f": ", on an ATmega328P (signature 1E 95 0F)"; the name from
// build.mcu).
std::string LineOf(const Board &b) {
  std::string mcu = b.mcu;
  std::string name = "ATmega";
  for (size_t i = 6; i < mcu.size(); i++) name += (char)toupper(mcu[i]);
  std::string sig = b.signature;
  std::string hex;
  for (size_t i = 2; i + 1 < sig.size(); i += 2)
    hex += (hex.empty() ? "" : " ") + std::string(1, (char)toupper(sig[i])) +
           (char)toupper(sig[i + 1]);
  std::string line = b.line;
  size_t at = line.find('@');
  if (at != std::string::npos)
    line.replace(at, 1, ", on an " + name + " (signature " + hex + ")");
  return line;
}

// Every board of the table, in the order the README's table has them.
std::vector<Board> Boards() {
  return {
      // optiboot, three LED flashes (440 ms deaf after the reset).
      Board{"Uno", "atmega328p", "16000000", Firmware("optiboot_atmega328.hex"),
            "arduino", "m328p", 115200, "0x1e950f", Optiboot()},
      Board{"Optiboot168", "atmega168", "16000000",
            Firmware("optiboot_atmega168.hex"), "arduino", "m168", 115200,
            "0x1e9406", Optiboot()},
      Board{"Optiboot8", "atmega8", "16000000",
            Bootloader("optiboot/optiboot_atmega8.hex"), "arduino", "m8",
            115200, "0x1e9307", Optiboot()},
      // ATmegaBOOT at 57600: Duemilanove 328, Nano (old bootloader), Pro
      // 16 MHz 328, Fio, LilyPad 328 and Pro 8 MHz 328, Mega 1280.
      Board{"Duemilanove328", "atmega328p", "16000000",
            Bootloader("atmega/ATmegaBOOT_168_atmega328.hex"), "arduino",
            "m328p", 57600, "0x1e950f", AtmegaBoot(57600, "1.16", true)},
      // The same for the ATmega328 without the P ("notp").
      Board{"Atmega328NoTp", "atmega328", "16000000",
            Bootloader("atmega/ATmegaBOOT_168_atmega328_notp.hex"), "arduino",
            "m328", 57600, "0x1e9514", AtmegaBoot(57600, "1.16", true)},
      Board{"Pro8MHz328", "atmega328p", "8000000",
            Bootloader("atmega/ATmegaBOOT_168_atmega328_pro_8MHz.hex"),
            "arduino", "m328p", 57600, "0x1e950f",
            AtmegaBoot(57600, "1.16", true)},
      Board{"Mega1280", "atmega1280", "16000000",
            Bootloader("atmega/ATmegaBOOT_168_atmega1280.hex"), "arduino",
            "m1280", 57600, "0x1e9703", AtmegaBoot(57600, "1.16", true)},
      // ATmegaBOOT at 19200: the ATmega168 boards (Diecimila, Nano 168,
      // Pro 168 at 8, 16 and 20 MHz, Mini 168 and NG, LilyPad 168) and
      // the ATmega8's.
      Board{"Diecimila", "atmega168", "16000000",
            Bootloader("atmega/ATmegaBOOT_168_diecimila.hex"), "arduino",
            "m168", 19200, "0x1e9406", AtmegaBoot(19200, "1.16", true)},
      Board{"Pro16MHz168", "atmega168", "16000000",
            Bootloader("atmega/ATmegaBOOT_168_pro_16MHz.hex"), "arduino",
            "m168", 19200, "0x1e9406", AtmegaBoot(19200, "1.16", true)},
      Board{"Pro20MHz168", "atmega168", "20000000",
            Bootloader("atmega/ATmegaBOOT_168_pro_20mhz.hex"), "arduino",
            "m168", 19200, "0x1e9406", AtmegaBoot(19200, "1.16", true)},
      Board{"Pro8MHz168", "atmega168", "8000000",
            Bootloader("atmega/ATmegaBOOT_168_pro_8MHz.hex"), "arduino", "m168",
            19200, "0x1e9406", AtmegaBoot(19200, "1.16", true)},
      Board{"LilyPadResonator", "atmega168", "8000000",
            Bootloader("atmega/ATmegaBOOT_168_lilypad_resonator.hex"),
            "arduino", "m168", 19200, "0x1e9406",
            AtmegaBoot(19200, "1.16", true)},
      Board{"MiniAndNg168", "atmega168", "16000000",
            Bootloader("atmega/ATmegaBOOT_168_ng.hex"), "arduino", "m168",
            19200, "0x1e9406", AtmegaBoot(19200, "1.16", false)},
      Board{"LilyPad168", "atmega168", "8000000",
            Bootloader("atmega/ATmegaBOOT_168_lilypad.hex"), "arduino", "m168",
            19200, "0x1e9406", AtmegaBoot(19200, "1.16", false)},
      Board{"NgAtmega8", "atmega8", "16000000",
            Bootloader("atmega8/ATmegaBOOT.hex"), "arduino", "m8", 19200,
            "0x1e9307", AtmegaBoot(19200, "1.18", false)},
      // The BT's bootloader sets up its radio with text at 115200 first.
      Board{"Bt", "atmega328p", "16000000",
            Bootloader("bt/ATmegaBOOT_168_atmega328_bt.hex"), "arduino",
            "m328p", 115200, "0x1e950f",
            std::string("ATmegaBOOT, a board's bootloader: STK500 v1 \"AVR "
                        "ISP\", hardware 2, software 1.15, at 115200 "
                        "baud@, and text comes unasked at 115200 baud (\"SET "
                        "BT "
                        "PAGEMODE 3 2000 1\\rSET BT ROLE 0 f\" ...), and "
                        "still after a wait: the board's program was not "
                        "reached") +
                kAtmegaBootBytes},
      // The Mega 2560's STK500 v2 bootloader: any byte in its first
      // second keeps it for several.
      Board{"Mega2560", "atmega2560", "16000000",
            Bootloader("stk500v2/stk500boot_v2_mega2560.hex"), "wiring",
            "m2560", 115200, "0x1e9801",
            "the Arduino Mega 2560's bootloader: STK500 v2 \"AVRISP_2\", "
            "hardware 15, software 2.10, at 115200 baud@, and still after "
            "a wait: the board's program was not reached; decided by sign-on "
            "1B 01 00 0B 0E 01 00 08 41 56 52 49 53 50 5F 32 74"}};
}

INSTANTIATE_TEST_SUITE_P(ArduinoCore, BoardTest, testing::ValuesIn(Boards()),
                         [](const testing::TestParamInfo<Board> &p) {
                           return std::string(p.param.name);
                         });

// The identify mode names each board at its upload rate with its family,
// from the bootloader's own answers, and says what the board runs after
// it (see identify_plan.cpp for why each board is found where it is): four
// boards at once, on four ports, in the time of one.
TEST(BoardSweep, IdentifyNamesEveryBoard) {
  std::vector<Board> boards = Boards();
  for (size_t first = 0; first < boards.size(); first += 4) {
    std::vector<Sim> chips;
    std::map<std::string, std::string> ports;
    for (size_t i = first; i < first + 4 && i < boards.size(); i++) {
      chips.push_back(StartDevice(PORTVET_FWHOST, BoardArgs(boards[i])));
      ASSERT_FALSE(chips.back().path.empty()) << "fwhost did not start";
      ports["COM" + std::to_string(i - first + 1)] = chips.back().path;
    }
    RunResult run = RunPortvet({"-id", "-c0"}, ports);
    ASSERT_FALSE(run.hung);
    EXPECT_EQ(run.status, 0);
    for (size_t i = first; i < first + 4 && i < boards.size(); i++) {
      std::string com = "COM" + std::to_string(i - first + 1);
      std::string line = "\n" + com + ": " + LineOf(boards[i]) + "\n";
      EXPECT_NE(run.out.find(line), std::string::npos)
          << boards[i].name << ": no line" << line << "in\n"
          << run.out;
      // The upload settings it gives are the ones avrdude reached the
      // bootloader with (BoardTest).
      std::string upload =
          "portvet: " + com + ": to upload to the board: avrdude -c " +
          boards[i].programmer + " -b " + std::to_string(boards[i].rate) + " (";
      EXPECT_NE(run.err.find(upload), std::string::npos)
          << boards[i].name << ": no note " << upload << " in\n"
          << run.err;
    }
  }
}

struct Program {
  const char *name;
  std::vector<std::string> fwhost;
  std::string line;  // after "COM1: "
  std::string err;   // the upload settings it names
};

void PrintTo(const Program &c, std::ostream *os) { *os << c.name; }

class ProgramTest : public testing::TestWithParam<Program> {};

// What runs after a board's bootloader, or with no bootloader at all, is
// named too, from its own answers; text that comes unasked is shown as
// text, never taken for an answer.
TEST_P(ProgramTest, IdentifyNamesIt) {
  const Program &c = GetParam();
  Sim chip = StartDevice(PORTVET_FWHOST, c.fwhost);
  ASSERT_FALSE(chip.path.empty()) << "fwhost did not start";
  RunResult run = RunPortvet({"-id", "-c1"}, {{"COM1", chip.path}});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Banner() + "\nCOM1: " + c.line + "\n");
  EXPECT_EQ(run.err, c.err);
}

// The settings avrdude reaches them with (Firmware.ArduinoIsp, BoardTest).
const char kUploadToTheUno[] =
    "portvet: COM1: to upload to the board: avrdude -c arduino -b 115200 "
    "(the rate of an Uno's and a new Nano's bootloader)\n";
std::string ProgramThroughIt(int rate) {
  return "portvet: COM1: to program a chip through it: avrdude -c stk500v1 "
         "-b " +
         std::to_string(rate) + "\n";
}

// What optiboot reads of the Uno's chip.
const char kOnTheUno[] = ", on an ATmega328P (signature 1E 95 0F)";

const char kArduinoIsp[] =
    "ArduinoISP, a programmer: STK500 v1 \"AVR ISP\", hardware 2, software "
    "1.18, at 19200 baud";
const char kIspBytes[] =
    "; decided by get-sync 14 10, sign-on 14 41 56 52 20 49 53 50 10, "
    "parameter 0x93 14 53 10";

INSTANTIATE_TEST_SUITE_P(
    Programs, ProgramTest,
    testing::Values(
        // ArduinoISP on a programmer without auto-reset, running long since
        // it was powered.
        Program{"ArduinoIspAlone",
                {"--settle", "600", Firmware("ArduinoISP.hex")},
                std::string(kArduinoIsp) + kIspBytes,
                ProgramThroughIt(19200)},
        // An Uno running ArduinoISP: optiboot answers after its flashes,
        // then leaves, and the sketch answers once its setup has blinked.
        Program{"ArduinoIspOnAnUno",
                {"--board", "--app", Firmware("ArduinoISP.hex"),
                 Firmware("optiboot_atmega328.hex")},
                std::string(kArduinoIsp) +
                    ", on a board whose bootloader answers for a second "
                    "after the port opens (optiboot, a board's bootloader: "
                    "STK500 v1, version 4.4, at 115200 baud" +
                    kOnTheUno + ")" + kIspBytes,
                kUploadToTheUno + ProgramThroughIt(19200)},
        // ArduinoISP set to 115200: the bootloader's rate, so only its
        // answers tell it from optiboot.
        Program{"ArduinoIsp115200OnAnUno",
                {"--board", "--app", Firmware("ArduinoISP_115200.hex"),
                 Firmware("optiboot_atmega328.hex")},
                "ArduinoISP, a programmer: STK500 v1 \"AVR ISP\", hardware 2, "
                "software 1.18, at 115200 baud, on a board whose bootloader "
                "answers for a second after the port opens (optiboot, a "
                "board's bootloader: STK500 v1, version 4.4, at 115200 baud" +
                    std::string(kOnTheUno) + ")" + kIspBytes,
                kUploadToTheUno + ProgramThroughIt(115200)},
        // An Uno whose sketch prints a line every second at 9600.
        Program{"HelloWorldOnAnUno",
                {"--board", "--app", Firmware("HelloWorld.hex"),
                 Firmware("optiboot_atmega328.hex")},
                std::string("optiboot, a board's bootloader: STK500 v1, "
                            "version 4.4, at 115200 baud") +
                    kOnTheUno +
                    ", for a second after the port opens; then the "
                    "board's program prints unasked at 9600 baud (\"Hello "
                    "world\\r\\n\"); decided by get-sync 14 10, sign-on 14 10, "
                    "version 14 04 10",
                kUploadToTheUno}),
    [](const testing::TestParamInfo<Program> &p) {
      return std::string(p.param.name);
    });

// The connection check with its own defaults against the boards people
// own, which it cannot reach: opening the port restarts each, and its
// first queries are lost in the start-up or reach the bootloader's UART
// before it reads; the AVR910 queries that follow are foreign bytes to it
// (optiboot leaves at the first, ATmegaBOOT at the fifth), or at another
// rate (57600, 19200), or in another protocol (the Mega 2560's STK500 v2).
// Nothing answers, and the verdict names such a board beside an empty
// port, and the identify mode.
TEST(Firmware, BoardsTheCheckCannotReachAtTheDefaults) {
  // Four boards at once, in one sweep: a silent port at the defaults takes
  // some 40 s, and the sweep's ports take it side by side.
  auto board = [](std::vector<std::string> args) {
    std::vector<std::string> all = {"--board", "--app", Firmware("silent.hex")};
    all.insert(all.end(), args.begin(), args.end());
    return StartDevice(PORTVET_FWHOST, all);
  };
  Sim uno = board({Firmware("optiboot_atmega328.hex")});
  Sim diecimila = board({"--mcu", "atmega168",
                         Bootloader("atmega/ATmegaBOOT_168_diecimila.hex")});
  Sim old = board({Bootloader("atmega/ATmegaBOOT_168_atmega328.hex")});
  Sim mega = board({"--mcu", "atmega2560",
                    Bootloader("stk500v2/stk500boot_v2_mega2560.hex")});
  ASSERT_FALSE(uno.path.empty() || diecimila.path.empty() || old.path.empty() ||
               mega.path.empty())
      << "fwhost did not start";
  RunResult run = RunPortvet({"-c0"}, {{"COM1", uno.path},
                                       {"COM2", diecimila.path},
                                       {"COM3", old.path},
                                       {"COM4", mega.path}});
  ASSERT_FALSE(run.hung);
  std::string silent = "Presence check...timeout\n" + Nothing(50) + "\n\n";
  EXPECT_EQ(run.out, Banner() + "\nChecking COM1:\n" + silent +
                         "\nChecking COM2:\n" + silent + "\nChecking COM3:\n" +
                         silent + "\nChecking COM4:\n" + silent);
  std::string err;
  for (const char *port : {"COM1", "COM2", "COM3", "COM4"}) {
    err += std::string("portvet: ") + port +
           ": no byte came back at 115200, 38400, 19200, 9600 baud: nothing "
           "answers these queries: not connected, the wrong port, no power, "
           "a device that keeps silent to them (a programmer or bootloader "
           "that speaks STK500 v2, or STK500 v1 at a rate this check does "
           "not use, such as 57600), or a board that restarts when its port "
           "opens (most Arduino boards): its bootloader listens only after "
           "its start-up and leaves at the check's other queries\n" +
           "portvet: " + port + ": portvet -id -c" + (port + 3) +
           " asks each family at its rate and waits for a board's "
           "bootloader\n";
  }
  EXPECT_EQ(run.err, err);
}

}  // namespace
