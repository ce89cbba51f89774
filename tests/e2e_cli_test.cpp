// The command line of the connection check: every message and exit status,
// with no port that can be opened.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

std::string Unopenable(const std::string &name) {
  return "\nChecking " + name + ":\nUnable to open COM port " + name + "\n";
}

const std::string kAllUnopenable = Unopenable("COM1") + Unopenable("COM2") +
                                   Unopenable("COM3") + Unopenable("COM4");
const std::string kPortRange = "Port number must be between 0 and 4\n";

struct CliCase {
  const char *name;
  std::vector<std::string> args;
  std::string out;  // after the banner
  int status;
};

void PrintTo(const CliCase &c, std::ostream *os) { *os << c.name; }

class CliTest : public testing::TestWithParam<CliCase> {};

TEST_P(CliTest, PrintsExactlyAndExits) {
  const CliCase &c = GetParam();
  RunResult run = RunPortvet(c.args, {});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, Banner() + c.out);
  EXPECT_EQ(run.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliTest,
    testing::Values(
        CliCase{"NoArguments", {}, Usage(), 0},
        CliCase{"StressTestAlone", {"-st"}, Usage(), 0},
        CliCase{"PortAboveRange", {"-c5"}, kPortRange, 1},
        CliCase{"PortNegative", {"-c-1"}, kPortRange, 1},
        CliCase{"NoPortOption", {"-r10"}, kPortRange, 1},
        CliCase{"PortBeyondInt", {"-c4294967297"}, kPortRange, 1},
        CliCase{"PortFarBelowInt", {"-c-4294967295"}, kPortRange, 1},
        CliCase{"DashAndLetterOnly", {"-c"}, "Invalid argument '-c'!\n", 1},
        CliCase{"NoDash", {"c1"}, "Invalid argument 'c1'!\n", 1},
        CliCase{"Empty", {""}, "Invalid argument ''!\n", 1},
        CliCase{"UnknownAfterValidPort",
                {"-c1", "-x1"},
                "Invalid argument '-x1'!\n",
                1},
        CliCase{"InvalidBeforeBadPort",
                {"-c9", "-x1"},
                "Invalid argument '-x1'!\n",
                1},
        CliCase{
            "FirstInvalidWins", {"-q1", "-z1"}, "Invalid argument '-q1'!\n", 1},
        CliCase{"ZeroAttempts", {"-c1", "-r0"}, "Invalid argument '-r0'!\n", 1},
        CliCase{"AttemptsNotANumber",
                {"-c1", "-rx"},
                "Invalid argument '-rx'!\n",
                1},
        CliCase{"ZeroTimeout", {"-c1", "-T0"}, "Invalid argument '-T0'!\n", 1},
        CliCase{"TimeoutNotANumber",
                {"-c1", "-tabc"},
                "Invalid argument '-tabc'!\n",
                1},
        CliCase{"StressFlagNotFirst",
                {"-c1", "-st"},
                "Invalid argument '-st'!\n",
                1},
        CliCase{"ArgumentIsNeverAFormat",
                {"-c1", "-%s%n%x"},
                "Invalid argument '-%s%n%x'!\n",
                1},
        CliCase{"AllPorts", {"-c0"}, kAllUnopenable, 0},
        CliCase{"PortTextReadsAsZero", {"-cx"}, kAllUnopenable, 0},
        CliCase{"UpperCaseOption", {"-C2"}, Unopenable("COM2"), 0},
        CliCase{"LastPortWins", {"-c1", "-c3"}, Unopenable("COM3"), 0},
        CliCase{"LeadingSpaceAndSign", {"-c +4"}, Unopenable("COM4"), 0},
        CliCase{"TrailingTextIgnored", {"-c2abc"}, Unopenable("COM2"), 0},
        CliCase{
            "NegativeTimeoutAccepted", {"-c1", "-t-1"}, Unopenable("COM1"), 0},
        CliCase{"NegativeAttemptsAccepted",
                {"-R-5", "-c1"},
                Unopenable("COM1"),
                0}),
    [](const testing::TestParamInfo<CliCase> &p) {
      return std::string(p.param.name);
    });

}  // namespace
