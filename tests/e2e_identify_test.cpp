// The identify mode end to end: portvet -id against the simulator's
// devices, each at its own rate: one line on standard output naming what
// is there, and, from the device's own log, no command heard that writes,
// erases or enters programming mode. The real firmware (ArduinoISP, optiboot,
// the older 57600 bootloader, the Mega 2560's STK500 v2 bootloader) is in
// firmware/firmware_test.cpp.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "harness.h"

namespace {

struct IdCase {
  const char *name;
  std::vector<std::string> sim;  // personality and knobs; empty: no device
  std::string line;              // after "COM1: "; a regex if regex is set
  bool regex;
  const char *not_under_wine;
  // Natively, the run takes less than this (0: not checked).
  double max_ms = 0;
};

void PrintTo(const IdCase &c, std::ostream *os) { *os << c.name; }

// Whether a command a device logged writes, erases, or enters or leaves
// programming mode (STK500 v1: set parameter or device, program mode,
// erase, load address, universal, program; STK500 v2: the same by body;
// AVR910 and AVR109: erase, program mode, select, address, writes, exit),
// or, of a programmer, reads the signature (that needs programming mode;
// a bootloader reads its own chip's); of a UPDI chip, any instruction but
// LDCS and the SIB read (a key, a store, a memory read); of jtag2updi, any
// command but the sign-on. Whatever a device hears, at its own rate or
// garbled from another, must be none of these.
bool Harmful(const std::string &who, const std::vector<int> &bytes,
             bool bootloader) {
  if (bytes.empty()) return false;
  if (who == "stk500") {
    int c = bytes[0];
    return (c == 0x75 && !bootloader) || c == 0x40 || c == 0x42 || c == 0x45 ||
           c == 0x50 || c == 0x51 || c == 0x52 || c == 0x55 || c == 0x56 ||
           (c >= 0x60 && c <= 0x67);
  }
  if (who == "stk500v2") {
    if (bytes.size() < 6) return false;
    int c = bytes[5];
    return (c == 0x1B && !bootloader) || c == 0x02 || c == 0x04 || c == 0x06 ||
           c == 0x07 || (c >= 0x10 && c <= 0x13) || c == 0x15 || c == 0x17 ||
           c == 0x19 || c == 0x1D;
  }
  if (who == "updi") {
    int op = bytes.size() < 2 ? 0 : bytes[1];
    return !((op >= 0x80 && op <= 0x8F) || (op >= 0xE4 && op <= 0xE7));
  }
  if (who == "jtag2updi") {
    return bytes.size() < 9 || bytes[8] != 0x01;
  }
  if (who == "avr910" || who == "avr109") {
    return (bytes[0] == 's' && !bootloader) ||
           std::string("ePLTAcCmDlBE").find((char)bytes[0]) !=
               std::string::npos;
  }
  return false;
}

// Whether the simulator plays a bootloader: AVR109's, one that restarts
// when the port opens, optiboot's bare sign-on, the Mega 2560's.
bool Bootloader(const std::vector<std::string> &sim) {
  auto has = [&](const char *knob, const char *value) {
    for (size_t i = 0; i + 1 < sim.size(); i++)
      if (sim[i] == knob && sim[i + 1] == value) return true;
    return false;
  };
  return (!sim.empty() && sim[0] == "avr109") || has("--reset", "1") ||
         has("--id", "") || has("--hw-version", "15");
}

// Every command the device logged (as "stk500 31(1) 20 @115200 8N1").
void ExpectNothingHarmful(const std::string &log, bool bootloader) {
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string who, word;
    words >> who;
    std::vector<int> bytes;
    while (words >> word && word[0] != '@') {
      bytes.push_back(std::stoi(word.substr(0, 2), nullptr, 16));
    }
    EXPECT_FALSE(Harmful(who, bytes, bootloader))
        << "the device heard: " << line;
  }
}

class IdentifyTest : public testing::TestWithParam<IdCase> {};

TEST_P(IdentifyTest, NamesWhatIsThere) {
  const IdCase &c = GetParam();
  if (UnderWine() && c.not_under_wine != nullptr)
    GTEST_SKIP() << c.not_under_wine;
  RunResult run = RunOnCom1(
      c.sim.empty() ? "" : c.sim[0],
      c.sim.empty() ? std::vector<std::string>()
                    : std::vector<std::string>(c.sim.begin() + 1, c.sim.end()),
      {"-id", "-c1"});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.status, 0);
  std::string head = Banner() + "\n";
  ASSERT_EQ(run.out.compare(0, head.size(), head), 0) << run.out;
  std::string line = run.out.substr(head.size());
  if (c.regex) {
    EXPECT_TRUE(std::regex_match(line, std::regex("COM1: " + c.line + "\n")))
        << line;
  } else {
    EXPECT_EQ(line, "COM1: " + c.line + "\n");
  }
  if (c.max_ms > 0 && !UnderWine()) {
    EXPECT_LT(run.ms, c.max_ms);
  }
  ExpectNothingHarmful(run.log, Bootloader(c.sim));
}

const char kStk500[] =
    "an STK500 programmer: STK500 v1 \"AVR STK\", hardware 2, software 1.18, "
    "at 115200 baud; decided by get-sync 14 10, sign-on 14 41 56 52 20 53 54 "
    "4B 10";

const char kStk500v2[] =
    "an STK500 programmer: STK500 v2 \"STK500_2\", hardware 2, software "
    "2.10, at 115200 baud; decided by sign-on 1B 01 00 0B 0E 01 00 08 53 54 "
    "4B 35 30 30 5F 32 02";

std::string Avr910At(int baud) {
  return "an AVR910 programmer: AVR910 \"AVR ISP\", software 3.8, hardware "
         "1.0, serial, at " +
         std::to_string(baud) + " baud; decided by 'S' 41 56 52 20 49 53 50";
}

const char kLoopback[] =
    "a loopback: what the tool sends comes back as it was sent at 115200 "
    "baud (TXD joined to RXD, or an adapter that echoes), not a programmer";

const char kNothing[] =
    "nothing answers: no byte came back at 115200, 57600, 38400, 19200, 9600 "
    "baud to any family's query: not connected, the wrong port, no power, or "
    "a device that keeps silent at these rates";

const char kSerialUpdi[] =
    "a SerialUPDI adapter with a UPDI chip on its wire: tinyAVR, UPDI "
    "revision 3 (\"tinyAVR P:0D:1-3M2 (01.59B14.0)\"), at 115200 baud; the "
    "echo comes back whole at 57600, 115200 and 230400 baud; decided by "
    "LDCS STATUSA 30, SIB 74 69 6E 79 41 56 52 20";

const char kJtag2updi[] =
    "jtag2updi or a JTAGICE mkII: JTAGICE mkII \"JTAGICE mkII\", hardware 1, "
    "firmware 7.00, at 19200 baud; decided by sign-on 86 01 01 00 07 01 01 00 "
    "07 01";

// What a bootloader reads of its own chip (the simulator's: an
// ATmega328P). A programmer is never asked: see Harmful.
const char kChip[] = ", on an ATmega328P (signature 1E 95 0F)";

// An AVR109 bootloader that does not restart when the port opens (the
// Butterfly's: its joystick starts it) is there still after the wait. It
// reads its chip's signature last byte first: the Butterfly's ATmega169,
// the Leonardo's ATmega32U4.
const std::vector<std::string> kButterfly = {"avr109", "--signature",
                                             "0x1E9405"};
const std::vector<std::string> kCaterina = {"avr109", "--id", "CATERIN",
                                            "--signature", "0x1E9587"};
std::string Avr109At(int baud, const char *id = "AVRBOOT",
                     const char *hex = "41 56 52 42 4F 4F 54",
                     const char *chip = "ATmega169 (signature 1E 94 05)") {
  return std::string("an AVR109 bootloader: AVR109 \"") + id +
         "\", software 1.0, block size 128, at " + std::to_string(baud) +
         " baud, on an " + chip +
         ", and still after a wait: the board's program was not "
         "reached; decided by 'S' " +
         hex;
}

// A board's bootloader as optiboot is one (the simulator's stk500 with an
// empty name signs on with 14 10 alone): it restarts when the port opens,
// reads nothing for 440 ms (its LED flashes), answers for a second after
// its last command, and leaves at the first byte it does not understand.
const std::vector<std::string> kOptibootLike = {
    "stk500", "--id",     "",     "--reset",   "1", "--deaf",
    "440",    "--window", "1000", "--foreign", "1"};

const std::string kOptibootLikeLine =
    std::string(
        "optiboot, a board's bootloader: STK500 v1, version 1.18, at "
        "115200 baud") +
    kChip + ", for a second after the port opens";
const char kOptibootLikeBytes[] =
    "; decided by get-sync 14 10, sign-on 14 10, version 14 01 10";

// A port by its own name (-p): natively the device's path, under Wine a
// COM name past COM4 (which the registry says is a CH340, see
// wine/prefix.sh); its line starts with that name and what the system says
// of the device (of a pty: nothing).
TEST(NamedPort, IdentifiedByItsName) {
  Sim sim = StartSim({"stk500"});
  std::string name = UnderWine() ? "COM7" : sim.path;
  std::string head = UnderWine() ? "COM7 (CH340, 1a86:7523)" : sim.path;
  RunResult run = RunPortvet({"-id", "-p" + name}, {{"COM7", sim.path}});
  std::string log = StopSim(sim);
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Banner() + "\n" + head + ": " + kStk500 + "\n");
  ExpectNothingHarmful(log, false);
}

INSTANTIATE_TEST_SUITE_P(
    Families, IdentifyTest,
    testing::Values(
        IdCase{"Stk500", {"stk500"}, kStk500, false, nullptr},
        IdCase{"Stk500At57600",
               {"stk500", "--baud", "57600"},
               std::regex_replace(kStk500, std::regex("115200"), "57600"),
               false,
               nullptr},
        IdCase{"Stk500v2", {"stk500v2"}, kStk500v2, false, nullptr},
        IdCase{"AvrispMk2",
               {"stk500v2", "--id", "AVRISP_MK2", "--hw-version", "1"},
               "an AVRISP programmer: STK500 v2 \"AVRISP_MK2\", hardware 1, "
               "software 2.10, at 115200 baud; decided by sign-on 1B 01 00 0D "
               "0E 01 00 0A 41 56 52 49 53 50 5F 4D 4B 32 76",
               false,
               nullptr},
        // An AVR910 programmer that answers commands it does not know with
        // '?', and one that ignores them, at each of its rates.
        IdCase{"Avr910At19200", {"avr910"}, Avr910At(19200), false, nullptr},
        IdCase{"Avr910At38400",
               {"avr910", "--baud", "38400", "--unknown", "-1"},
               Avr910At(38400),
               false,
               nullptr},
        IdCase{"Avr910At9600",
               {"avr910", "--baud", "9600"},
               Avr910At(9600),
               false,
               nullptr},
        IdCase{"Avr109At19200", kButterfly, Avr109At(19200), false, nullptr},
        IdCase{"Avr109At115200", Concat(kButterfly, {"--baud", "115200"}),
               Avr109At(115200), false, nullptr},
        // Told apart: a loopback, an empty port, a device at a rate no
        // family uses (an STK500 at 31250), noise, a port that fails.
        IdCase{"Loopback", {"echo"}, kLoopback, false, nullptr},
        // The newer AVRs' programmers: a SerialUPDI adapter with a chip
        // (one that answers only after a double break too), one with
        // nothing on its wire (its echo, as a loopback's), jtag2updi.
        IdCase{"SerialUpdi", {"serialupdi"}, kSerialUpdi, false, nullptr},
        IdCase{"SerialUpdiAfterDoubleBreak",
               {"serialupdi", "--double-break", "1"},
               std::regex_replace(kSerialUpdi, std::regex("115200 baud"),
                                  std::string("115200 baud, which answers only "
                                              "after a double break (its link "
                                              "was left in a state one break "
                                              "does not clear)")),
               false,
               nullptr},
        IdCase{"SerialUpdiWithoutChip",
               {"serialupdi", "--target", "0"},
               kLoopback,
               false,
               nullptr},
        // No echo (an RX LED that loads the line): as silent as nothing.
        IdCase{"SerialUpdiNoEcho",
               {"serialupdi", "--echo", "0"},
               kNothing,
               false,
               nullptr},
        // A weak line: every 40th byte the tool sends crosses flipped,
        // which hits the 16 bytes at 230400 and no other.
        IdCase{"SerialUpdiWeakLine",
               {"serialupdi", "--weak", "40"},
               std::regex_replace(
                   kSerialUpdi,
                   std::regex("whole at 57600, 115200 and 230400 baud"),
                   std::string("whole at 57600 and 115200 baud, changed at "
                               "230400 baud (a weak line: a series resistor "
                               "too large, or an RX LED that loads it)")),
               false,
               nullptr},
        // An AVR DA's SIB: its family padded with four spaces in front.
        IdCase{"SerialUpdiAvrDa",
               {"serialupdi", "--id", "    AVR P:2D:1-3M2 (A3.KV00S.0)",
                "--signature", "0x1E9632"},
               "a SerialUPDI adapter with a UPDI chip on its wire: AVR, UPDI "
               "revision 3 (\"AVR P:2D:1-3M2 (A3.KV00S.0)\"), at 115200 "
               "baud; the echo comes back whole at 57600, 115200 and 230400 "
               "baud; decided by LDCS STATUSA 30, SIB 20 20 20 20 41 56 52 20",
               false,
               nullptr},
        // A jtag2updi whose answers' CRC is wrong: no family's.
        IdCase{"Jtag2updiWrongCrc",
               {"jtag2updi", "--bad-sum-first", "100"},
               "something unknown: bytes that fit no family came at 19200 "
               "baud \\(1B 00 00 1D 00 00 00 0E \\.\\.\\.\\): a device at "
               "a rate no family uses, or in another protocol",
               true,
               nullptr},
        // One whose parser lost the first sign-on (a start byte in the
        // garbage of the queries before): asked again, as avrdude does.
        IdCase{"Jtag2updiLosesFirst",
               {"jtag2updi", "--lose-first", "1"},
               kJtag2updi,
               false,
               nullptr},
        IdCase{"Jtag2updi", {"jtag2updi"}, kJtag2updi, false, nullptr},
        IdCase{"NothingThere",
               {"stk500", "--silent-after", "0"},
               kNothing,
               false,
               nullptr},
        IdCase{
            "RateNoFamilyUses",
            {"stk500", "--baud", "31250"},
            "something unknown: bytes that fit no family came at 115200 "
            "baud \\([0-9A-F]{2}( [0-9A-F]{2})*( \\.\\.\\.)?\\): a device at "
            "a rate no family uses, or in another protocol",
            true,
            nullptr},
        IdCase{
            "Noise",
            {"noise"},
            "noise: bytes come without a query \\(([0-9A-F]{2} ){7}[0-9A-F]{2}"
            " \\.\\.\\.\\): noise on the line, or a device that streams; not a "
            "programmer",
            true,
            nullptr,
            // Known from the first looks (80 ms), before the plan's
            // queries and waits (which take over a second here).
            700},
        IdCase{"PortFails",
               {"stk500", "--hangup-after", "0"},
               "the port failed during the STK500 v1 get-sync at 115200 baud: "
               "unplugged, or a driver failure",
               false,
               kWineHangUp},
        // STK500 v2 answers whose checksums are wrong name nothing (the
        // mode asks more than once).
        IdCase{"Stk500v2WrongChecksum",
               {"stk500v2", "--bad-sum-first", "100"},
               "something unknown: bytes that fit no family came at 115200 "
               "baud (1B 01 00 0B 0E 01 00 08 ...): a device at a rate no "
               "family uses, or in another protocol",
               false,
               nullptr},
        IdCase{"NoPort", {}, "cannot be opened", false, nullptr},
        // Boards, with the simulator's timelines (the virtual-time table
        // holds every family, rate and timeline; these cross the line).
        IdCase{"BoardsBootloader", kOptibootLike,
               std::string(kOptibootLikeLine) +
                   "; what the board runs after it answers none of these "
                   "queries" +
                   kOptibootLikeBytes,
               false, nullptr},
        // A sketch that prints after the bootloader: text that comes
        // unasked is shown as text at its rate, never taken for an answer.
        IdCase{"BoardsProgramPrints",
               Concat(kOptibootLike, {"--print", "Hello world\\r\\n",
                                      "--print-baud", "38400"}),
               std::string(kOptibootLikeLine) +
                   "; then the board's program prints unasked at 38400 baud "
                   "(\"Hello world\\r\\n\")" +
                   kOptibootLikeBytes,
               false, nullptr},
        // A board whose bootloader leaves at once and whose program prints
        // every 200 ms at 9600: text, at the rate it is text at.
        IdCase{"ProgramPrintsAlone",
               {"stk500", "--reset", "1", "--deaf", "0", "--window", "1",
                "--print", "Hello world\\r\\n", "--print-baud", "9600",
                "--print-every", "200"},
               // Where the text starts depends on when the mode listens
               // at 9600 (a port opened while a device prints, in real
               // time): pieces of the line, as they came.
               "text comes unasked at 9600 baud \\(\"([Hel owrd]|\\\\r|\\\\n)+"
               "\"( \\.\\.\\.)?\\): a device or a board's program that "
               "prints; not a programmer",
               true,
               nullptr},
        // The port fails (a board unplugged) in the wait for its program,
        // after the bootloader answered.
        IdCase{"BoardUnpluggedInTheWait",
               Concat(kOptibootLike, {"--hangup-at", "1500"}),
               std::string(
                   "optiboot, a board's bootloader: STK500 v1, version 1.18, "
                   "at 115200 baud") +
                   kChip +
                   "; then the port failed during the wait for the board's "
                   "program at 115200 baud: unplugged, or a driver failure" +
                   kOptibootLikeBytes,
               false, kWineHangUp},
        // Atmel's AVRISP and its clones sign on as ATmegaBOOT does, and
        // know no parameter 0x93: only how the device behaves could tell,
        // and this one neither restarts nor leaves.
        IdCase{"Stk500v1AvrIsp",
               {"stk500", "--id", "AVR ISP"},
               "a programmer (an AVRISP, or a clone) or a board's bootloader "
               "(ATmegaBOOT): STK500 v1 \"AVR ISP\", hardware 2, software "
               "1.18, at 115200 baud, and still after a wait: what it does "
               "cannot tell which; decided by get-sync 14 10, sign-on 14 41 56 "
               "52 20 49 53 50 10, parameter 0x93 14 00 10",
               false,
               nullptr},
        // Caterina (the Leonardo's and the Micro's) calls itself CATERIN.
        IdCase{"Avr109Caterina", kCaterina,
               Avr109At(19200, "CATERIN", "43 41 54 45 52 49 4E",
                        "ATmega32U4 (signature 1E 95 87)"),
               false, nullptr}),
    [](const testing::TestParamInfo<IdCase> &p) {
      return std::string(p.param.name);
    });

// A bench of seven boards and programmers behind USB bridges, none of them
// COM1 to COM4: a faked sysfs names each bridge, and /dev leads each tty
// to its simulator. -id -a names every port, with its bridge on its line
// and the settings avrdude reaches each programmer or bootloader with,
// in port order, all at the same time: in about one port's time (a
// board's, 3 s, as the AVR109 bootloader's: the mode waits them out), not
// in the 12 s of all of them in a row, nor the 6 s of four at a time.
TEST(Bench, EveryPortNamedAtOnce) {
  if (UnderWine())
    GTEST_SKIP() << "Wine's ports are its registry's: "
                    "NamedPort.IdentifiedByItsName names COM7";
  if (!CanFakeTtyClass()) GTEST_SKIP() << "needs root and unshare";
  struct Port {
    const char *tty, *vid, *pid;
    std::vector<std::string> sim;
    std::string line;  // after the tty's head
    // Its note on standard error: what reaches it from avrdude, or what a
    // loopback would be as a SerialUPDI adapter; "" nothing.
    std::string upload;
  };
  // An optiboot board behind the bridge named so.
  auto Board = [](const char *tty, const char *vid, const char *pid,
                  const std::string &label) {
    return Port{tty,
                vid,
                pid,
                kOptibootLike,
                " (" + label + ", " + vid + ":" + pid +
                    "): " + kOptibootLikeLine +
                    "; what the board runs after it answers none of these "
                    "queries" +
                    kOptibootLikeBytes,
                "to upload to the board: avrdude -c arduino -b 115200 (the "
                "rate of an Uno's and a new Nano's bootloader)"};
  };
  const std::vector<Port> bench = {
      Board("ttyACM0", "2341", "0043", "Uno's ATmega16U2"),
      {"ttyACM1", "2341", "8036", kCaterina,
       " (Leonardo's ATmega32U4, 2341:8036): " +
           Avr109At(19200, "CATERIN", "43 41 54 45 52 49 4E",
                    "ATmega32U4 (signature 1E 95 87)"),
       "to upload to the board: avrdude -c avr109 -b 19200"},
      {"ttyUSB0",
       "1a86",
       "7523",
       {"avr910"},
       " (CH340, 1a86:7523): " + Avr910At(19200),
       "to program a chip through it: avrdude -c avr910 -b 19200"},
      {"ttyUSB1",
       "0403",
       "6001",
       {"stk500"},
       " (FTDI FT232R, 0403:6001): " + std::string(kStk500),
       "to program a chip through it: avrdude -c stk500v1 -b 115200"},
      {"ttyUSB2",
       "067b",
       "2303",
       {"stk500v2"},
       " (PL2303, 067b:2303): " + std::string(kStk500v2),
       "to program a chip through it: avrdude -c stk500v2 -b 115200"},
      {"ttyUSB3",
       "10c4",
       "ea60",
       {"echo"},
       " (CP210x, 10c4:ea60): a loopback: what the tool sends comes back as "
       "it was sent at 115200 baud (TXD joined to RXD, or an adapter that "
       "echoes), not a programmer",
       "no UPDI chip answers after a break and a double break: if this is a "
       "SerialUPDI adapter, nothing is on its wire (no chip, no power, or the "
       "wire not on the UPDI pin); the echo comes back whole at 57600, 115200 "
       "and 230400 baud"},
      // A clone Nano with optiboot: a board in the last four as well.
      Board("ttyUSB4", "1a86", "7523", "CH340"),
  };
  char dir[] = "/tmp/portvet-bench-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string root = dir;
  std::vector<Sim> sims;
  std::string make = "cd '" + root + "' && mkdir -p class/tty dev/pts";
  std::string want = Banner() + "\n";
  std::string notes;
  for (size_t i = 0; i < bench.size(); i++) {
    const Port &p = bench[i];
    sims.push_back(StartSim(p.sim));
    std::string usb = root + "/devices/usb1/1-" + std::to_string(i + 1);
    std::string tty = root + "/class/tty/" + p.tty;
    make += " && mkdir -p '" + usb + "/if' '" + tty + "' && echo " + p.vid +
            " > '" + usb + "/idVendor' && echo " + p.pid + " > '" + usb +
            "/idProduct' && ln -s '" + usb + "/if' '" + tty +
            "/device' && ln -s '" + sims.back().path + "' dev/" + p.tty;
    std::string head = "/dev/" + std::string(p.tty);
    want += head + p.line + "\n";
    if (!p.upload.empty()) {
      notes += "portvet: " + head + p.line.substr(0, p.line.find(')') + 1) +
               ": " + p.upload + "\n";
    }
  }
  ASSERT_EQ(system(make.c_str()), 0) << make;
  RunOptions options;
  options.tty_class = root + "/class/tty";
  options.dev = root + "/dev";
  RunResult run = RunPortvet({"-id", "-a"}, {}, options);
  // A board on a simulator of its own, untouched so far.
  Sim board = StartSim(kOptibootLike);
  ASSERT_EQ(
      system(
          ("ln -sfn '" + board.path + "' '" + root + "/dev/ttyACM0'").c_str()),
      0);
  // The list first: it opens none of them (a board says "reset" at every
  // open, as the bench's board does at -a's).
  RunResult list = RunPortvet({"-id"}, {}, options);
  std::string board_log = StopSim(board);
  EXPECT_EQ(board_log.find("reset"), std::string::npos) << board_log;
  // The slowest port alone: the AVR109 bootloader (3.3 s: it is waited
  // out as a board's is, without a board's timeline to keep to), after
  // the bench's run, on the bench's own simulator.
  RunResult alone = RunPortvet({"-id", "-p/dev/ttyACM1"}, {}, options);
  std::string logs;
  for (size_t i = 0; i < sims.size(); i++) {
    std::string log = StopSim(sims[i]);
    ExpectNothingHarmful(log, Bootloader(bench[i].sim));
    logs += log;
  }
  EXPECT_NE(logs.find("reset"), std::string::npos) << logs;
  std::string listed = Banner() + "\n";
  for (const Port &p : bench) {
    listed += "/dev/" + std::string(p.tty) +
              p.line.substr(0, p.line.find(')') + 1) + "\n";
  }
  EXPECT_EQ(list.out, listed);
  EXPECT_EQ(system(("rm -rf '" + root + "'").c_str()), 0);
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, want);
  EXPECT_EQ(run.err, notes);
  EXPECT_EQ(alone.out, Banner() + "\n/dev/ttyACM1" + bench[1].line + "\n");
  EXPECT_LT(run.ms, alone.ms + 2000) << "alone: " << alone.ms << " ms";
}

}  // namespace
