// Standard output and standard error must agree, whatever the device: over
// a seeded set of rigs (a device the simulator plays, its rate and knobs
// drawn at random, the host before the port, the tool's options), the real
// connection check or stress test runs in virtual time and its two streams
// are held to rules that hold for any device. A broken rule prints the
// seed; RigTest/Rig.Consistent/<seed> runs that rig alone.
#include <gtest/gtest.h>
#include <stdint.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../src/check/check_port.h"
#include "../src/st/st.h"
#include "vt/vt_port.h"

namespace {

// splitmix64: a seed's draws, the same on every machine.
struct Draw {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return (int)(Next() % (uint64_t)n); }
  template <typename T>
  T Pick(const std::vector<T> &from) {
    return from[(size_t)Below((int)from.size())];
  }
  bool Chance(int percent) { return Below(100) < percent; }
};

struct Rig {
  uint64_t seed;
  std::vector<std::string> device;  // personality and knobs
  std::vector<std::string> args;    // portvet's after argv[0]
  bool stress;
  bool defaults;          // the tool's own -r (and -t)
  int device_rate;        // the device's UART; 0: the tool's own
  std::string name7;      // an AVR910 device's answer to 'S'
  bool usb_or_blocks;     // its replies come in blocks (a USB host, --chunk)
  int garbage_first = 0;  // AVR910: queries answered with garbage
  int short_first = 0;    // then queries answered a byte short
};

void PrintTo(const Rig &r, std::ostream *os) {
  *os << "seed " << r.seed << ":";
  for (const std::string &a : r.device) *os << " " << a;
  *os << " | portvet";
  for (const std::string &a : r.args) *os << " " << a;
}

void Knob(Rig *rig, const std::string &name, const std::string &value) {
  rig->device.push_back("--" + name);
  rig->device.push_back(value);
}

Rig MakeRig(uint64_t seed) {
  Draw d = {seed * 0x2545F4914F6CDD1Dull};
  Rig rig = {seed, {}, {}, false, false, 0, "", false};
  // One rig in ten uses the tool's defaults (50 attempts, 10 loops).
  rig.defaults = seed % 10 == 0;
  const std::string host = d.Pick<std::string>(
      {"uart", "uart", "direct", "ftdi", "ftdi-low", "ch340", "uart14"});
  rig.usb_or_blocks = host == "ftdi" || host == "ftdi-low" || host == "ch340";
  int kind = d.Below(10);
  if (kind < 4) {  // an STK500, at 115200 mostly
    rig.device = {"stk500"};
    rig.device_rate =
        d.Chance(60) ? 115200 : d.Pick<int>({57600, 38400, 19200, 9600});
    Knob(&rig, "baud", std::to_string(rig.device_rate));
    if (d.Chance(30))
      Knob(&rig, "nosync-signon", d.Pick<std::string>({"1", "3", "30", "60"}));
    if (d.Chance(15)) Knob(&rig, "nosync-sync", "2");
    if (d.Chance(15))
      Knob(&rig, "nosync-param", d.Pick<std::string>({"1", "200"}));
    if (d.Chance(25))
      Knob(&rig, "id", d.Pick<std::string>({"AVR ISP", "", "XYZ 123"}));
    if (d.Chance(25))
      Knob(&rig, "sw-minor", d.Pick<std::string>({"0x15", "0x14", "0x10"}));
    if (d.Chance(10)) Knob(&rig, "hw-version", "0x15");
    if (d.Chance(8))
      Knob(&rig, "always", d.Pick<std::string>({"0x99", "0x14"}));
    if (d.Chance(12))
      Knob(&rig, "silent-after", d.Pick<std::string>({"0", "1", "3"}));
    if (d.Chance(8)) Knob(&rig, "fail-param", "0x81");
    if (d.Chance(10)) Knob(&rig, "trailing", "3");
    // Replies in pieces, or with a pause in the middle: slower than the
    // timeout, or not.
    if (d.Chance(12)) {
      Knob(&rig, "chunk", d.Pick<std::string>({"1", "3", "5"}));
      Knob(&rig, "gap", d.Pick<std::string>({"5", "40"}));
      rig.usb_or_blocks = true;
    }
    if (d.Chance(8)) {
      Knob(&rig, "pause-after", d.Pick<std::string>({"0", "2", "4"}));
      Knob(&rig, "pause", d.Pick<std::string>({"10", "60"}));
    }
  } else if (kind < 7) {  // an AVR910 programmer (or an AVR109 bootloader)
    rig.device = {"avr910"};
    rig.device_rate = d.Pick<int>({19200, 38400, 9600, 115200, 57600});
    Knob(&rig, "baud", std::to_string(rig.device_rate));
    rig.name7 =
        d.Pick<std::string>({"AVR ISP", "AVR DEV", "AVRBOOT", "PRG0910"});
    Knob(&rig, "id", rig.name7);
    if (d.Chance(60)) Knob(&rig, "unknown", "-1");
    if (d.Chance(15)) {
      Knob(&rig, "garbage-first", "2");
      rig.garbage_first = 2;
    }
    if (d.Chance(15)) {
      Knob(&rig, "short-first", "2");
      rig.short_first = 2;
    }
    if (d.Chance(20)) Knob(&rig, "type", "P");
    if (d.Chance(12)) {
      Knob(&rig, "chunk", d.Pick<std::string>({"2", "3"}));
      Knob(&rig, "gap", d.Pick<std::string>({"5", "40"}));
      rig.usb_or_blocks = true;
    }
  } else {  // a loopback, with what a line may do
    rig.device = {"echo"};
    if (d.Chance(40)) Knob(&rig, "pace", "0");
    if (d.Chance(15)) Knob(&rig, "corrupt", std::to_string(d.Below(256)));
    if (d.Chance(15)) Knob(&rig, "drop", std::to_string(d.Below(256)));
    if (d.Chance(30)) Knob(&rig, "fault-pass", std::to_string(d.Below(6)));
    if (d.Chance(10)) Knob(&rig, "stop-after-passes", "2");
    if (d.Chance(8)) Knob(&rig, "xonxoff", "1");
    if (d.Chance(8)) Knob(&rig, "seven-bits", "1");
    if (d.Chance(8)) Knob(&rig, "twice", "1");
    if (d.Chance(12)) {
      Knob(&rig, "pause-after", std::to_string(d.Below(256)));
      Knob(&rig, "pause", d.Pick<std::string>({"50", "100", "400"}));
    }
    if (d.Chance(10)) {
      Knob(&rig, "chunk", "62");
      Knob(&rig, "gap", "40");
      rig.usb_or_blocks = true;
    }
    rig.stress = !d.Chance(15);  // and now and then the connection check
  }
  Knob(&rig, "host", host);
  if (rig.stress) {
    rig.args = {"-st", "-c1"};
    int baud = d.Pick<int>({115200, 115200, 57600, 19200, 9600, 2400});
    if (!rig.defaults) {
      rig.args.push_back("-b" + std::to_string(baud));
      rig.args.push_back("-r" + d.Pick<std::string>({"2", "3", "5"}));
    }
  } else {
    rig.args = {"-c1"};
    if (!rig.defaults) {
      rig.args.push_back("-r" + d.Pick<std::string>({"2", "3", "5", "35"}));
    }
  }
  return rig;
}

// Every "N baud" in a text.
std::vector<int> RatesNamed(const std::string &text) {
  std::vector<int> rates;
  std::regex rate("(\\d+) baud");
  for (std::sregex_iterator it(text.begin(), text.end(), rate), end; it != end;
       ++it) {
    rates.push_back(std::stoi((*it)[1]));
  }
  return rates;
}

bool Has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

class RigTest : public testing::TestWithParam<Rig> {};

TEST_P(RigTest, Consistent) {
  const Rig &rig = GetParam();
  VtLine line = {};
  line.told = {PORTS_HOST_UNKNOWN, 0, 0};  // a pty says nothing
  line.device = rig.device;
  VtUse(&line);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  if (rig.stress) {
    std::vector<std::string> all = {"portvet"};
    all.insert(all.end(), rig.args.begin(), rig.args.end());
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    st_main((int)all.size(), argv.data());
  } else {
    int attempts = rig.defaults ? 50 : std::stoi(rig.args[1].substr(2));
    check_port("COM1", attempts, 20);
  }
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  VtUse(nullptr);
  std::vector<int> ran = VtRates();
  std::string seed = "seed " + std::to_string(rig.seed) + "\nstderr: " + err;

  // A sound line only with no error counted.
  if (Has(err, "the line is sound")) {
    EXPECT_TRUE(Has(out, "Summary: 0 errors\n")) << seed << out;
  }
  // "Every pass brought all its bytes" only where no pass came back short.
  if (Has(err, "every pass brought all its bytes")) {
    EXPECT_FALSE(Has(out, "Only ")) << seed << out;
  }
  // "The link works" where, and only where, standard output shows a found
  // programmer or a working sync.
  bool found = Has(out, "Presence check...ok") || Has(out, "...found AVR") ||
               Has(out, "Sync test...ok");
  EXPECT_EQ(Has(err, "the link works"), found) << seed << out;
  // A programmer standard output shows found is named on standard error.
  if (Has(out, "Presence check...ok")) {
    EXPECT_TRUE(Has(err, "an STK500 programmer (\"AVR STK\") answers"))
        << seed << out;
  }
  std::smatch avr;
  if (std::regex_search(out, avr, std::regex("\\.\\.\\.found (AVR ...) "))) {
    EXPECT_TRUE(Has(err, "(\"" + avr[1].str() + "\") answers")) << seed << out;
  }
  // Out-of-sync replies only where the probe counted some.
  if (Has(err, "out of sync (0x15)") && !Has(err, "STK500 v1 out-of-sync")) {
    EXPECT_TRUE(std::regex_search(out, std::regex("noSync = [1-9]")))
        << seed << out;
  }
  // "Now and then" only where no step had every reply out of sync.
  if (Has(err, "now and then")) {
    std::smatch m;
    std::string rest = out;
    while (std::regex_search(rest, m,
                             std::regex("failed \\(retries = (\\d+); noSync = "
                                        "(\\d+)\\)"))) {
      EXPECT_LT(std::stoi(m[2]), std::stoi(m[1]) - 1) << seed << out;
      rest = m.suffix();
    }
  }
  // "Nothing answers" only where no byte came, naming the devices that
  // keep silent too.
  if (Has(err, "nothing answers")) {
    EXPECT_EQ(VtDelivered(), 0u) << seed << out;
    EXPECT_TRUE(Has(err, "STK500 v2")) << seed;
  }
  // A rate named only where the port ran at it.
  for (int rate : RatesNamed(err)) {
    EXPECT_NE(std::find(ran.begin(), ran.end(), rate), ran.end())
        << seed << "names " << rate << " baud";
  }
  // Blocks as a USB adapter hands them over (or a line that stalls at the
  // same places) only where bytes came so.
  if (Has(err, "as a USB adapter hands them over")) {
    EXPECT_TRUE(rig.usb_or_blocks ||
                std::find(rig.device.begin(), rig.device.end(),
                          "--pause-after") != rig.device.end())
        << seed;
  }
  // An AVR910 device that names itself, at a rate the probe tried, is
  // named, or the start of its name that came is: never taken for noise.
  // The probe asks 'S' attempts - 1 times at each rate; the device answers
  // its first garbage-first queries with garbage, the short-first after
  // them a byte short, and in pieces further apart than the timeout (40
  // ms) it sends less than the probe reads in one go.
  if (!rig.name7.empty() &&
      Has(out, "AVR910 presence check (" + std::to_string(rig.device_rate) +
                   " baud)...")) {
    int asks =
        rig.defaults ? 49 : std::max(1, std::stoi(rig.args[1].substr(2)) - 1);
    if (asks > rig.garbage_first) {
      char hex[8];
      snprintf(hex, sizeof hex, "%02X %02X", (unsigned char)rig.name7[0],
               (unsigned char)rig.name7[1]);
      EXPECT_TRUE(Has(err, rig.name7) || Has(err, hex)) << seed << out;
    }
  }
  // What a verdict calls bytes that no programmer sends is no start of an
  // answer (0x14 and a name or a value; the start of the AVR910 device's
  // name, after any '?'): those are named as replies cut short.
  std::smatch none;
  if (std::regex_search(err, none,
                        std::regex("no programmer sends came at \\d+ baud "
                                   "\\(([0-9A-F ]+)( \\.\\.\\.)?\\)"))) {
    std::istringstream words(none[1].str());
    std::string bytes;
    std::string word;
    while (words >> word) bytes += (char)std::stoi(word, nullptr, 16);
    bool stk500_start =
        !bytes.empty() && bytes[0] == 0x14 && bytes.size() < 9 &&
        std::all_of(bytes.begin() + 1, bytes.end(),
                    [](char c) { return c >= 0x20 && c < 0x7F; });
    EXPECT_FALSE(stk500_start) << seed << out;
    std::string name =
        bytes.substr(bytes.find_first_not_of('?') == std::string::npos
                         ? bytes.size()
                         : bytes.find_first_not_of('?'));
    EXPECT_FALSE(!rig.name7.empty() && !name.empty() && none[2].str().empty() &&
                 name.size() < 7 &&
                 rig.name7.compare(0, name.size(), name) == 0)
        << seed << out;
  }
}

std::vector<Rig> Rigs() {
  std::vector<Rig> rigs;
  for (uint64_t seed = 1; seed <= 240; seed++) rigs.push_back(MakeRig(seed));
  return rigs;
}

INSTANTIATE_TEST_SUITE_P(Rig, RigTest, testing::ValuesIn(Rigs()),
                         [](const testing::TestParamInfo<Rig> &p) {
                           return std::to_string(p.param.seed);
                         });

}  // namespace
