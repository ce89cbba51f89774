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
