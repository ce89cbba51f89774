// The verdicts with the tool's own defaults (50 attempts and 20 ms; 10
// loops at 115200 baud), in virtual time: each case of verdict_cases.cpp
// against the same device the simulator plays, on the line model, through
// the host a PC has. A silent port costs 40 s of the model's clock and a
// few milliseconds of the test's.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "../src/check/check_port.h"
#include "../src/serial/serial.h"
#include "../src/st/st.h"
#include "verdict_cases.h"
#include "vt/vt_port.h"

namespace {

// Runs the connection check (-c1) or the stress test (-st -c1) with the
// tool's defaults on COM1 against the line; returns standard output and
// standard error.
void RunDefaults(const VtLine &line, bool stress, std::string *out,
                 std::string *err) {
  VtUse(&line);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  if (stress) {
    char a0[] = "portvet", a1[] = "-st", a2[] = "-c1";
    char *argv[] = {a0, a1, a2, nullptr};
    st_main(3, argv);
  } else {
    check_port("COM1", 50, 20);
  }
  *out = testing::internal::GetCapturedStdout();
  *err = testing::internal::GetCapturedStderr();
  VtUse(nullptr);
}

class VtVerdictTest : public testing::TestWithParam<VerdictCase> {};

TEST_P(VtVerdictTest, TrueAtTheDefaults) {
  const VerdictCase &c = GetParam();
  VtLine line = {};
  line.told = {PORTS_HOST_UNKNOWN, 0, 0};  // a pty says nothing
  line.device = c.sim;
  std::string out, err;
  RunDefaults(line, c.args[0] == "-st", &out, &err);
  std::string want = c.at_defaults.empty() ? c.verdict : c.at_defaults;
  if (c.regex) {
    EXPECT_TRUE(
        std::regex_match(err, std::regex("portvet: COM1: " + want + "\n")))
        << err << "stdout:\n"
        << out.substr(0, 2000);
  } else {
    EXPECT_EQ(err, "portvet: COM1: " + want + "\n") << "stdout:\n"
                                                    << out.substr(0, 2000);
  }
}

// How long the check takes to find a programmer, with the defaults and
// with -r2, in the model's time: an STK500 at once; an AVR910 programmer
// only once the rates before its own have used their 49 attempts of
// 200 ms (the README's and the manual's figures).
TEST(VtCheckTime, AProgrammerAtALowerRateWaitsForTheRatesBefore) {
  const struct {
    std::vector<std::string> sim;
    int attempts;
    uint64_t at_least_ms, at_most_ms;
  } cases[] = {
      {{"stk500"}, 50, 0, 100},
      {{"avr910", "--baud", "38400", "--unknown", "-1"}, 50, 9800, 10500},
      {{"avr910", "--baud", "19200", "--unknown", "-1"}, 50, 19600, 21000},
      {{"avr910", "--baud", "19200", "--unknown", "-1"}, 2, 0, 1000},
  };
  for (const auto &c : cases) {
    VtLine line = {};
    line.told = {PORTS_HOST_UNKNOWN, 0, 0};
    line.device = c.sim;
    VtUse(&line);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    uint64_t start = serial_clock_ms();
    check_port("COM1", c.attempts, 20);
    uint64_t ms = serial_clock_ms() - start;
    std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    VtUse(nullptr);
    EXPECT_NE(out.find(c.sim[0] == "stk500" ? "Version: HW:"
                                            : "found AVR ISP (retries = 1)"),
              std::string::npos)
        << out;
    EXPECT_GE(ms, c.at_least_ms) << c.sim[0] << " " << c.sim.size();
    EXPECT_LE(ms, c.at_most_ms) << c.sim[0] << " " << c.sim.size();
  }
}

INSTANTIATE_TEST_SUITE_P(Check, VtVerdictTest,
                         testing::ValuesIn(CheckVerdicts()),
                         [](const testing::TestParamInfo<VerdictCase> &p) {
                           return std::string(p.param.name);
                         });

INSTANTIATE_TEST_SUITE_P(Stress, VtVerdictTest,
                         testing::ValuesIn(StressVerdicts()),
                         [](const testing::TestParamInfo<VerdictCase> &p) {
                           return std::string(p.param.name);
                         });

}  // namespace
