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
  // Standard error: what was expected of the command line ("" when it was
  // accepted); not checked where it names this computer's serial ports.
  const char *err;
};

void PrintTo(const CliCase &c, std::ostream *os) { *os << c.name; }

class CliTest : public testing::TestWithParam<CliCase> {};

TEST_P(CliTest, PrintsExactlyAndExits) {
  const CliCase &c = GetParam();
  RunResult run = RunPortvet(c.args, {});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, Banner() + c.out);
  EXPECT_EQ(run.status, c.status);
  if (c.err != nullptr) {
    EXPECT_EQ(run.err, c.err);
  }
}

// A device's name after -c reads as 0, all four ports, as any text does
// (the connection check's options are numbers); standard error says how to
// reach that device.
TEST(Cli, PortNameAfterCSaysHowToReachIt) {
  const std::string name = UnderWine() ? "COM7" : "/dev/ttyUSB0";
  RunResult run = RunPortvet({"-c" + name, "-r2"}, {});
  ASSERT_FALSE(run.hung);
  EXPECT_EQ(run.out, Banner() + kAllUnopenable);
  std::string note = "portvet: '-c" + name +
                     "' reads as -c0, all four ports (-c takes 1 to 4); to "
                     "check " +
                     name + ", set PORTVET_COM1=" + name +
                     " and give -c1; portvet -id -p" + name +
                     " asks what is on it\n";
  EXPECT_EQ(run.err.substr(0, note.size()), note) << run.err;
  run = RunPortvet({"-cx", "-r2"}, {});
  EXPECT_EQ(run.err.find("reads as"), std::string::npos) << run.err;
}

// Wherever the usage text shows, standard error says where the identify
// mode and PORTVET_COMn (which the text names nowhere) are explained.
TEST(Cli, UsageSaysWhereTheRestIsExplained) {
  const std::string note =
      std::string(
          "portvet: portvet -id lists the serial ports and names what "
          "is on them; PORTVET_COM1 to PORTVET_COM4 choose what COM1 "
          "to COM4 open (PORTVET_COM1=") +
      (UnderWine() ? "COM7" : "/dev/ttyUSB0") +
      "); both are explained in portvet(1) and the README\n";
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{}, {"-st"}, {"-st", "-r2"}}) {
    RunResult run = RunPortvet(args, {});
    ASSERT_FALSE(run.hung);
    EXPECT_EQ(run.err, note) << args.size() << " arguments";
  }
}

#define PORT_HINT \
  "': the port is -c1 to -c4 for COM1 to COM4, or -c0 for all four\n"
#define CHECK_OPTIONS                                                       \
  "': the connection check takes -c (port), -r (attempts) and -t (timeout " \
  "in ms); -st first selects the stress test\n"
#define VALUE_APART                                                    \
  "': an option takes its value in the same argument, as -c1 (not -c " \
  "1); run portvet alone for the usage text\n"
#define NO_DASH                                                              \
  "': options start with a dash and take their value in the same argument, " \
  "as -c1\n"
#define ATTEMPTS \
  "': the number of attempts is a number other than 0 (default -r50)\n"
#define TIMEOUT "': the timeout is a number of ms, 1 or more (default -t20)\n"

INSTANTIATE_TEST_SUITE_P(
    Cases, CliTest,
    testing::Values(
        // (Their standard error: Cli.UsageSaysWhereTheRestIsExplained.)
        CliCase{"NoArguments", {}, Usage(), 0, nullptr},
        CliCase{"StressTestAlone", {"-st"}, Usage(), 0, nullptr},
        CliCase{"PortAboveRange",
                {"-c5"},
                kPortRange,
                1,
                "portvet: '-c5" PORT_HINT},
        CliCase{"PortNegative",
                {"-c-1"},
                kPortRange,
                1,
                "portvet: '-c-1" PORT_HINT},
        CliCase{"NoPortOption",
                {"-r10"},
                kPortRange,
                1,
                "portvet: choose the port: -c1 to -c4 for COM1 to COM4, or -c0 "
                "for all four\n"},
        CliCase{"PortBeyondInt",
                {"-c4294967297"},
                kPortRange,
                1,
                "portvet: '-c4294967297" PORT_HINT},
        CliCase{"PortFarBelowInt",
                {"-c-4294967295"},
                kPortRange,
                1,
                "portvet: '-c-4294967295" PORT_HINT},
        CliCase{"DashAndLetterOnly",
                {"-c"},
                "Invalid argument '-c'!\n",
                1,
                "portvet: '-c" VALUE_APART},
        CliCase{"NoDash",
                {"c1"},
                "Invalid argument 'c1'!\n",
                1,
                "portvet: 'c1" NO_DASH},
        CliCase{
            "Empty", {""}, "Invalid argument ''!\n", 1, "portvet: '" NO_DASH},
        CliCase{"UnknownAfterValidPort",
                {"-c1", "-x1"},
                "Invalid argument '-x1'!\n",
                1,
                "portvet: '-x1" CHECK_OPTIONS},
        CliCase{"InvalidBeforeBadPort",
                {"-c9", "-x1"},
                "Invalid argument '-x1'!\n",
                1,
                "portvet: '-x1" CHECK_OPTIONS},
        CliCase{"FirstInvalidWins",
                {"-q1", "-z1"},
                "Invalid argument '-q1'!\n",
                1,
                "portvet: '-q1" CHECK_OPTIONS},
        CliCase{"ZeroAttempts",
                {"-c1", "-r0"},
                "Invalid argument '-r0'!\n",
                1,
                "portvet: '-r0" ATTEMPTS},
        CliCase{"AttemptsNotANumber",
                {"-c1", "-rx"},
                "Invalid argument '-rx'!\n",
                1,
                "portvet: '-rx" ATTEMPTS},
        CliCase{"ZeroTimeout",
                {"-c1", "-T0"},
                "Invalid argument '-T0'!\n",
                1,
                "portvet: '-T0" TIMEOUT},
        CliCase{"TimeoutNotANumber",
                {"-c1", "-tabc"},
                "Invalid argument '-tabc'!\n",
                1,
                "portvet: '-tabc" TIMEOUT},
        CliCase{"StressFlagNotFirst",
                {"-c1", "-st"},
                "Invalid argument '-st'!\n",
                1,
                "portvet: '-st" CHECK_OPTIONS},
        CliCase{"ArgumentIsNeverAFormat",
                {"-c1", "-%s%n%x"},
                "Invalid argument '-%s%n%x'!\n",
                1,
                "portvet: '-%s%n%x" CHECK_OPTIONS},
        // Arguments a user may try first.
        CliCase{"Help",
                {"--help"},
                "Invalid argument '--help'!\n",
                1,
                "portvet: options are one argument each, a letter and its "
                "value right after it (-c1, -r20); run portvet alone for the "
                "usage text\n"},
        CliCase{"ValueApart",
                {"-c", "1"},
                "Invalid argument '-c'!\n",
                1,
                "portvet: '-c" VALUE_APART},
        CliCase{"StressBaudTooLow",
                {"-st", "-c1", "-b599"},
                "Invalid argument '-b599'\n",
                1,
                "portvet: '-b599': the baud rate is 600 to 256000 (default "
                "-b115200)\n"},
        CliCase{"StressUnknownOption",
                {"-st", "-c1", "-x"},
                "Invalid argument '-x'\n",
                1,
                "portvet: '-x': the stress test takes -c (port), -b (baud "
                "rate) and -r (loops)\n"},
        // A refused stress-test line ran nothing: status 1, as for the
        // connection check (the test's own outcome never changes it).
        CliCase{"StressBaudApart",
                {"-st", "-c1", "-b", "abc"},
                "Invalid argument '-b'\n",
                1,
                nullptr},
        CliCase{"StressBaudUnderRange",
                {"-st", "-c1", "-b300"},
                "Invalid argument '-b300'\n",
                1,
                "portvet: '-b300': the baud rate is 600 to 256000 (default "
                "-b115200)\n"},
        CliCase{"StressPortZero",
                {"-st", "-c0"},
                "Invalid argument '-c0'\n",
                1,
                "portvet: '-c0': the port is -c1 to -c4 for COM1 to COM4\n"},
        // The identify mode (alone it lists the ports: Ports.* test it).
        CliCase{"IdentifyPortAboveRange",
                {"-id", "-c5"},
                "Invalid argument '-c5'\n",
                1,
                "portvet: '-c5" PORT_HINT},
        CliCase{"IdentifyOtherOption",
                {"-id", "-c1", "-r2"},
                "Invalid argument '-r2'\n",
                1,
                "portvet: '-r2': the identify mode takes -c (COM1 to COM4), "
                "-p<port> (a port by its own name) and -a (every port); -id "
                "alone lists the ports\n"},
        CliCase{"IdentifyNameApart",
                {"-id", "-p", "/dev/ttyUSB0"},
                "Invalid argument '-p'\n",
                1,
                "portvet: '-p" VALUE_APART},
        CliCase{"IdentifyUnopenable",
                {"-id", "-c2"},
                "\nCOM2: cannot be opened\n",
                0,
                nullptr},
        CliCase{"AllPorts", {"-c0"}, kAllUnopenable, 0, nullptr},
        CliCase{"PortTextReadsAsZero", {"-cx"}, kAllUnopenable, 0, nullptr},
        CliCase{"UpperCaseOption", {"-C2"}, Unopenable("COM2"), 0, nullptr},
        CliCase{"LastPortWins", {"-c1", "-c3"}, Unopenable("COM3"), 0, nullptr},
        CliCase{
            "LeadingSpaceAndSign", {"-c +4"}, Unopenable("COM4"), 0, nullptr},
        CliCase{
            "TrailingTextIgnored", {"-c2abc"}, Unopenable("COM2"), 0, nullptr},
        // A negative timeout would be a wait of about 49 days: refused.
        CliCase{"NegativeTimeout",
                {"-c1", "-t-1"},
                "Invalid argument '-t-1'!\n",
                1,
                "portvet: '-t-1" TIMEOUT},
        CliCase{"NegativeAttemptsAccepted",
                {"-R-5", "-c1"},
                Unopenable("COM1"),
                0,
                nullptr}),
    [](const testing::TestParamInfo<CliCase> &p) {
      return std::string(p.param.name);
    });

}  // namespace
