// The identify mode's plan in virtual time, against device timelines:
// every family at every rate its devices use, as a board's bootloader
// that restarts when the port opens, reads nothing for a while after the
// reset (0, 65, 440 or 1200 ms), answers for a second after its last
// command, and leaves for its silent program at the first byte that is no
// command of its own or at the fifth; and as a programmer that answers at
// once. The plan runs as the tool runs it, on the line model; its seconds
// are the model's, and a row takes the test a few milliseconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../src/identify/identify.h"
#include "../src/serial/serial.h"
#include "vt/vt_port.h"

namespace {

// A family at a rate, as the simulator plays it.
struct Family {
  const char *name;
  std::vector<std::string> sim;  // personality and knobs
  int rate;
  const char *named;  // how the line begins after "COM1: "
  bool board;         // its devices restart when the port opens
};

// Boards restart when the port opens: their bootloaders speak STK500 v1
// (optiboot, ATmegaBOOT) or v2 (the Mega 2560's). AVR910 programmers and
// AVR109 bootloaders do not (the Butterfly's starts from its joystick,
// Caterina when a sketch sees the port opened at 1200 baud, over USB).
const Family kFamilies[] = {
    // optiboot signs on with 14 10 alone (an empty name): at 115200 on
    // 16 MHz boards, at 57600 on 8 MHz ones, at 19200 on slower ones.
    {"Optiboot115200",
     {"stk500", "--id", ""},
     115200,
     "optiboot, a board's bootloader: STK500 v1",
     true},
    {"Optiboot57600",
     {"stk500", "--id", ""},
     57600,
     "optiboot, a board's bootloader: STK500 v1",
     true},
    {"Optiboot19200",
     {"stk500", "--id", ""},
     19200,
     "optiboot, a board's bootloader: STK500 v1",
     true},
    // ATmegaBOOT says "AVR ISP", as AVRISP programmers do: the line says
    // which only where the device showed it (it restarted, or it left).
    {"AtmegaBoot115200",
     {"stk500", "--id", "AVR ISP"},
     115200,
     "ATmegaBOOT, a board's bootloader: STK500 v1 \"AVR ISP\"",
     true},
    {"AtmegaBoot57600",
     {"stk500", "--id", "AVR ISP"},
     57600,
     "ATmegaBOOT, a board's bootloader: STK500 v1 \"AVR ISP\"",
     true},
    {"AtmegaBoot19200",
     {"stk500", "--id", "AVR ISP"},
     19200,
     "ATmegaBOOT, a board's bootloader: STK500 v1 \"AVR ISP\"",
     true},
    // The NG's and the LilyPad's ATmegaBOOT waits 8 s: it is there still
    // after the mode's wait, and only its restart tells it a board's.
    {"AtmegaBootLongWait19200",
     {"stk500", "--id", "AVR ISP", "--window", "8000"},
     19200,
     "ATmegaBOOT, a board's bootloader: STK500 v1 \"AVR ISP\"",
     true},
    // The Mega 2560's STK500 v2 bootloader.
    {"Mega2560",
     {"stk500v2", "--id", "AVRISP_2", "--hw-version", "15"},
     115200,
     "the Arduino Mega 2560's bootloader: STK500 v2 \"AVRISP_2\"",
     true},
    // AVR109 bootloaders, and AVR910 programmers at their rates.
    {"Avr109At115200",
     {"avr109", "--id", "CATERIN"},
     115200,
     "an AVR109 bootloader: AVR109 \"CATERIN\"",
     false},
    {"Avr109At19200",
     {"avr109"},
     19200,
     "an AVR109 bootloader: AVR109 \"AVRBOOT\"",
     false},
    {"Avr910At38400",
     {"avr910"},
     38400,
     "an AVR910 programmer: AVR910 \"AVR ISP\"",
     false},
    {"Avr910At19200",
     {"avr910"},
     19200,
     "an AVR910 programmer: AVR910 \"AVR ISP\"",
     false},
    {"Avr910At9600",
     {"avr910"},
     9600,
     "an AVR910 programmer: AVR910 \"AVR ISP\"",
     false},
};

// What the plan makes of a device.
enum Outcome {
  NAMED,      // the family's line, at its rate
  EITHER,     // a programmer or a board's bootloader: it restarts at once
              // and stays longer than the mode waits, as a programmer would
  ONCE,       // a board's bootloader of the family at its rate that
              // answered its first query once (the query waited in its
              // UART behind another's byte, which then drove it off)
  UNREACHED,  // nothing answers: see below
};

struct Row {
  std::string name;
  std::vector<std::string> sim;
  int rate;
  std::string named;
  int outcome;
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

// What the plan reaches of a board at rate, deaf for deaf ms after the
// reset, that leaves at its foreign-th byte of no command. Each reset
// gives one rate the first bytes a deaf bootloader's UART keeps (round 1:
// 115200, round 2: 57600); the time an empty port may take (3 s) holds
// two resets, each waiting 1.2 s. So:
// - a bootloader at 19200 that leaves at its first foreign byte finds a
//   57600 query first in its UART: it leaves unheard (the 19200 boards'
//   ATmegaBOOT takes five); one deaf for 1.2 s read the 19200 query too
//   and answers it once;
// - at 115200 one deaf for 1.2 s finds the Mega 2560's message behind the
//   first query, answers that, and leaves;
// - the Mega 2560's bootloader ignores stray bytes; one that left at the
//   first would leave at round 1's get-sync;
// - ATmegaBOOT that reads at once after a reset and stays longer than the
//   mode waits behaves as a programmer: the line says either.
int Reach(const Family &f, int deaf, int foreign) {
  bool v2 = std::string(f.sim[0]) == "stk500v2";
  bool stays = std::find(f.sim.begin(), f.sim.end(), "--window") != f.sim.end();
  if (foreign == 1 && v2) {
    return UNREACHED;
  }
  if (foreign == 1 && f.rate == 19200) {
    return deaf == 1200 ? ONCE : UNREACHED;
  }
  if (foreign == 1 && f.rate == 115200 && deaf == 1200) {
    return ONCE;
  }
  return stays && deaf == 0 ? EITHER : NAMED;
}

std::vector<Row> Rows() {
  std::vector<Row> rows;
  for (const Family &f : kFamilies) {
    // There when the port opens, always: a programmer, or a board without
    // auto-reset.
    Row always = {std::string(f.name) + "_NoReset", f.sim, f.rate, f.named,
                  NAMED};
    always.sim.insert(always.sim.end(), {"--baud", std::to_string(f.rate)});
    if (std::string(f.name).rfind("AtmegaBoot", 0) == 0) {
      always.named =
          "a programmer (an AVRISP, or a clone) or a board's bootloader "
          "(ATmegaBOOT): STK500 v1 \"AVR ISP\"";
    }
    rows.push_back(always);
    if (!f.board) {
      continue;
    }
    for (int deaf : {0, 65, 440, 1200}) {
      for (int foreign : {1, 5}) {
        Row r = {std::string(f.name) + "_Deaf" + std::to_string(deaf) +
                     "_LeavesAt" + std::to_string(foreign),
                 f.sim, f.rate, f.named, Reach(f, deaf, foreign)};
        r.sim.insert(r.sim.end(), {"--baud", std::to_string(f.rate), "--reset",
                                   "1", "--deaf", std::to_string(deaf),
                                   "--foreign", std::to_string(foreign)});
        if (std::find(f.sim.begin(), f.sim.end(), "--window") == f.sim.end()) {
          r.sim.insert(r.sim.end(), {"--window", "1000"});
        }
        rows.push_back(r);
      }
    }
  }
  return rows;
}

// Runs the mode on COM1 against the line; returns its line, how long it
// took of the model's clock, and how often it opened the port.
std::string Identify(const VtLine &line, uint64_t *ms, int *opens = nullptr) {
  VtUse(&line);
  testing::internal::CaptureStdout();
  uint64_t start = serial_clock_ms();
  id_port_each("COM1", nullptr);
  *ms = serial_clock_ms() - start;
  std::string out = testing::internal::GetCapturedStdout();
  if (opens != nullptr) {
    *opens = VtOpens();
  }
  VtUse(nullptr);
  return out;
}

class VtIdentifyTest : public testing::TestWithParam<Row> {};

TEST_P(VtIdentifyTest, NamesTheFamilyAtItsRate) {
  const Row &r = GetParam();
  VtLine line = {};
  line.told = {PORTS_HOST_UNKNOWN, 0, 0};
  line.device = r.sim;
  uint64_t ms = 0;
  std::string out = Identify(line, &ms);
  std::string at = ", at " + std::to_string(r.rate) + " baud";
  // A bootloader the line names reads its own chip's signature (the
  // simulator's: an ATmega328P) while it is there; a programmer, or what
  // may be one, is never asked. ATmegaBOOT that reads at once after the
  // reset answers as a programmer would until it has left for its program.
  bool bootloader = r.outcome == NAMED &&
                    r.named.find("bootloader") != std::string::npos &&
                    r.named.rfind("a programmer", 0) != 0 &&
                    !(r.name.rfind("AtmegaBoot", 0) == 0 &&
                      r.name.find("_Deaf0_") != std::string::npos);
  EXPECT_EQ(out.find(at + ", on an ATmega328P (signature 1E 95 0F)") !=
                std::string::npos,
            bootloader)
      << out;
  switch (r.outcome) {
    case NAMED:
      EXPECT_EQ(out.rfind("COM1: " + r.named, 0), 0u) << out;
      EXPECT_NE(out.find(at), std::string::npos) << out;
      break;
    case EITHER:
      EXPECT_EQ(out.rfind("COM1: a programmer (an AVRISP, or a clone) or a "
                          "board's bootloader (ATmegaBOOT): STK500 v1 \"AVR "
                          "ISP\"",
                          0),
                0u)
          << out;
      EXPECT_NE(out.find(at), std::string::npos) << out;
      break;
    case ONCE:
      EXPECT_EQ(out.rfind("COM1: a board's bootloader: " +
                              r.named.substr(r.named.find(": ") + 2, 9) + at +
                              ", which answered its first query once",
                          0),
                0u)
          << out;
      break;
    default:
      EXPECT_EQ(out.rfind("COM1: nothing answers:", 0), 0u) << out;
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Timelines, VtIdentifyTest, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<Row> &p) {
                           return p.param.name;
                         });

// Each reset gives one rate the first bytes: a board at 115200 is named
// after the first, one at 57600 after the second; a third comes only where
// bytes came and nothing was certain, or to see whether a device that
// could be either restarts.
TEST(VtIdentifyResets, OneRateEachAndAThirdOnlyOnEvidence) {
  const struct {
    std::vector<std::string> sim;
    int opens;
  } cases[] = {
      {{"stk500", "--id", "", "--reset", "1", "--deaf", "440", "--window",
        "1000", "--foreign", "1"},
       1},
      {{"stk500", "--id", "", "--baud", "57600", "--reset", "1", "--deaf",
        "265", "--window", "1000", "--foreign", "5"},
       2},
      {{"stk500", "--id", "", "--baud", "57600", "--reset", "1", "--deaf",
        "1200", "--window", "1000", "--foreign", "5"},
       3},
      {{"stk500", "--silent-after", "0"}, 2},
      // ATmegaBOOT that answered a while after the query restarted when
      // the port opened: no third open to see whether it does.
      {{"stk500", "--id", "AVR ISP", "--baud", "57600", "--reset", "1",
        "--deaf", "265", "--window", "1000", "--foreign", "5"},
       2},
  };
  for (const auto &c : cases) {
    VtLine line = {};
    line.told = {PORTS_HOST_UNKNOWN, 0, 0};
    line.device = c.sim;
    uint64_t ms = 0;
    int opens = 0;
    std::string out = Identify(line, &ms, &opens);
    EXPECT_EQ(opens, c.opens) << out;
  }
}

// An open that takes long (a loaded computer, a driver slow to set a USB
// bridge up) ends after a board's 65 ms in reset: the query the plan sends
// at once would wait in optiboot's UART and drive it off at its next byte.
// Left out then, the board is named still, and so is a programmer.
TEST(VtIdentifySlowOpen, BoardAndProgrammerNamedStill) {
  const std::vector<std::string> optiboot = {
      "stk500", "--id",     "",     "--reset",   "1", "--deaf",
      "440",    "--window", "1000", "--foreign", "1"};
  const struct {
    std::vector<std::string> sim;
    uint32_t open_ms;
    const char *named;
  } cases[] = {
      {optiboot, 0, "optiboot, a board's bootloader"},
      {optiboot, 25, "optiboot, a board's bootloader"},
      {optiboot, 80, "optiboot, a board's bootloader"},
      {optiboot, 200, "optiboot, a board's bootloader"},
      {{"stk500"}, 80, "an STK500 programmer"},
  };
  for (const auto &c : cases) {
    VtLine line = {};
    line.told = {PORTS_HOST_UNKNOWN, 0, 0};
    line.device = c.sim;
    line.open_ms = c.open_ms;
    uint64_t ms = 0;
    std::string out = Identify(line, &ms);
    EXPECT_EQ(out.rfind(std::string("COM1: ") + c.named, 0), 0u)
        << c.open_ms << " ms: " << out;
  }
}

// A program that prints is never taken for what it prints: text that
// comes while a query waits reads like an AVR910 name ("lo worl"), and
// only the same answer to the same query asked again is believed.
TEST(VtIdentifyUnasked, TextIsShownNotTakenForAnAnswer) {
  const struct {
    const char *text, *baud, *every, *shown;
  } cases[] = {
      // At the rate of the queries before: without line ends, every seven
      // bytes of it are printable.
      {"Hello world ", "115200", "5", "Hello world "},
      {"Hello world\\r\\n", "38400", "1000", "Hello world\\r\\n"},
  };
  for (const auto &c : cases) {
    VtLine line = {};
    line.told = {PORTS_HOST_UNKNOWN, 0, 0};
    line.device = {
        "stk500", "--id",         "",     "--reset",       "1",    "--deaf",
        "440",    "--window",     "1000", "--foreign",     "1",    "--print",
        c.text,   "--print-baud", c.baud, "--print-every", c.every};
    uint64_t ms = 0;
    std::string out = Identify(line, &ms);
    EXPECT_EQ(out.rfind("COM1: optiboot, a board's bootloader", 0), 0u) << out;
    EXPECT_NE(out.find(std::string("then the board's program prints unasked "
                                   "at ") +
                       c.baud + " baud"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(c.shown), std::string::npos) << out;
  }
}

// An empty port costs the plan's two waits for a bootloader (1.25 s each,
// never less) and its queries' short waits: at most 3 s.
TEST(VtIdentifyTime, EmptyPortTakesTwoWaitsAndAtMostThreeSeconds) {
  VtLine line = {};
  line.told = {PORTS_HOST_UNKNOWN, 0, 0};
  line.device = {"stk500", "--silent-after", "0"};
  uint64_t ms = 0;
  std::string out = Identify(line, &ms);
  EXPECT_EQ(out.rfind("COM1: nothing answers:", 0), 0u) << out;
  EXPECT_GE(ms, 2500u);
  EXPECT_LE(ms, 3000u);
}

}  // namespace
