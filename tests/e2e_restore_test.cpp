// The port is left as it was found: the pty's whole line (termios2, the
// rate included) is byte for byte the same before and after a run, whatever
// the run met, an interrupt in the middle of a step too. And a rate the port
// refuses is said on standard error.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <map>

#include "harness.h"

namespace {

// The line of the pty at path as another program sees it, in hex.
std::string LineOf(const std::string &path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return "(cannot open)";
  termios2 tio;
  int ok = ioctl(fd, TCGETS2, &tio);
  close(fd);
  if (ok != 0) return "(no line)";
  std::string hex;
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&tio);
  for (size_t i = 0; i < sizeof tio; i++) {
    char two[3];
    snprintf(two, sizeof two, "%02x", bytes[i]);
    hex += two;
  }
  return hex;
}

struct RestoreCase {
  std::string name;
  std::vector<std::string> sim;   // personality and knobs
  std::vector<std::string> args;  // portvet's
  const char *interrupt_at;       // text to wait for, then a signal; or null
  int signal;   // that signal; SIGPIPE and no kill: its standard output closes
  bool in_log;  // interrupt_at comes in the simulator's log, not the output
  const char *not_under_wine;
};

void PrintTo(const RestoreCase &c, std::ostream *os) { *os << c.name; }

class RestoreTest : public testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreTest, LineIsAsFound) {
  const RestoreCase &c = GetParam();
  if (UnderWine() && c.not_under_wine != nullptr)
    GTEST_SKIP() << c.not_under_wine;
  Sim sim = StartSim(c.sim);
  ASSERT_FALSE(sim.path.empty());
  if (UnderWine()) {
    // Wine maps a DCB to termios and back with losses (it keeps IGNBRK
    // and drops OPOST, say), so the pty as found is, to a Windows program,
    // Wine's mapping of the DCB it reads there. A first run puts that in
    // place; it ends at 57600, which no case uses, so a run that did not
    // restore the line still shows.
    RunPortvet({"-st", "-c1", "-r1", "-b57600"}, {{"COM1", sim.path}});
  }
  std::string before = LineOf(sim.path);
  if (c.interrupt_at == nullptr) {
    RunResult run = RunPortvet(c.args, {{"COM1", sim.path}});
    ASSERT_FALSE(run.hung);
    EXPECT_EQ(run.status, 0);
  } else {
    // A signal that dumps core dumps none here.
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    Running running;
    RunOptions options;
    if (c.name == "OutputClosedPipeIgnored") options.ignored = "PIPE";
    StartPortvet(c.args, {{"COM1", sim.path}}, &running, options);
    std::string shown =
        ReadUntil(c.in_log ? sim.out : running.out, c.interrupt_at, 30);
    ASSERT_NE(shown.find(c.interrupt_at), std::string::npos) << shown;
    bool closed = c.name.compare(0, 12, "OutputClosed") == 0;
    int status = closed ? running.CloseOutput() : running.Interrupt(c.signal);
    // The program ends as the signal says, after it put the line back.
    if (!UnderWine()) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal)
          << "wait status " << status;
    }
  }
  EXPECT_EQ(LineOf(sim.path), before);
}

const char *const kWineCustomRateLine =
    "Wine sets a rate without a Bnnn constant through the serial driver's "
    "custom divisor, which a pty lacks";

const char *const kWineNoSuchSignal =
    "Windows has no such signal: Wine ends the program without the "
    "console's control events";

std::vector<RestoreCase> RestoreCases() {
  std::vector<RestoreCase> cases = {
      RestoreCase{
          "CheckFinds", {"stk500"}, {"-c1"}, nullptr, 0, false, nullptr},
      // Silence at every rate: the line was last set to 9600.
      RestoreCase{"CheckTimesOut",
                  {"stk500", "--silent-after", "0"},
                  {"-c1", "-r2"},
                  nullptr,
                  0,
                  false,
                  nullptr},
      RestoreCase{"LeftIn7E2ByAnotherProgram",
                  {"stk500", "--left-framing", "7E2"},
                  {"-c1"},
                  nullptr,
                  0,
                  false,
                  nullptr},
      RestoreCase{"StressTest",
                  {"echo", "--pace", "0"},
                  {"-st", "-c1", "-r2"},
                  nullptr,
                  0,
                  false,
                  nullptr},
      RestoreCase{"StressTestAtCustomRate",
                  {"echo", "--pace", "0"},
                  {"-st", "-c1", "-r1", "-b256000"},
                  nullptr,
                  0,
                  false,
                  kWineCustomRateLine},
      // Ctrl-C while the AVR910 probe waits at 115200, and SIGTERM while
      // the stress test waits for an echo that never comes (once the
      // simulator has seen its pattern at 115200: the test's own lines
      // wait in a buffer until it ends).
      RestoreCase{"InterruptedCheck",
                  {"stk500", "--silent-after", "0"},
                  {"-c1", "-r1000"},
                  "AVR910 presence check (115200 baud)...",
                  SIGINT,
                  false,
                  nullptr},
      RestoreCase{"InterruptedStressTest",
                  {"echo", "--stop-after-passes", "0"},
                  {"-st", "-c1", "-r1000"},
                  "echo @115200 8N1\n",
                  SIGINT,
                  true,
                  nullptr},
      RestoreCase{"TerminatedStressTest",
                  {"echo", "--stop-after-passes", "0"},
                  {"-st", "-c1", "-r1000"},
                  "echo @115200 8N1\n",
                  SIGTERM,
                  true,
                  "Windows has no SIGTERM: Wine ends the program without "
                  "the console's control events"}};
  // Every signal that ends the program by default, while the AVR910 probe
  // waits: the line is put back first, and the program ends as the signal
  // says (those that dump core dump none here).
  const struct {
    const char *name;
    int sig;
  } signals[] = {
      {"Hup", SIGHUP},   {"Quit", SIGQUIT},     {"Pipe", SIGPIPE},
      {"Alrm", SIGALRM}, {"Usr1", SIGUSR1},     {"Usr2", SIGUSR2},
      {"Xcpu", SIGXCPU}, {"Xfsz", SIGXFSZ},     {"Vtalrm", SIGVTALRM},
      {"Prof", SIGPROF}, {"Poll", SIGPOLL},     {"Pwr", SIGPWR},
      {"Sys", SIGSYS},   {"Abrt", SIGABRT},     {"Segv", SIGSEGV},
      {"Bus", SIGBUS},   {"Fpe", SIGFPE},       {"Ill", SIGILL},
      {"Trap", SIGTRAP}, {"Stkflt", SIGSTKFLT},
  };
  for (const auto &sig : signals) {
    cases.push_back({std::string("Signal") + sig.name,
                     {"stk500", "--silent-after", "0"},
                     {"-c1", "-r1000"},
                     "AVR910 presence check (115200 baud)...",
                     sig.sig,
                     false,
                     kWineNoSuchSignal});
  }
  // Standard output goes away (portvet -c1 -r3 | head -n 6): the next line
  // raises SIGPIPE, and the port is put back. The same for a program
  // started with SIGPIPE ignored: the write fails, and a report written to
  // nowhere for another 40 s helps no one.
  for (const char *name : {"OutputClosed", "OutputClosedPipeIgnored"}) {
    cases.push_back({name,
                     {"stk500", "--silent-after", "0"},
                     {"-c1", "-r3"},
                     "Presence check...",
                     SIGPIPE,
                     false,
                     "the harness closes no pipe of a Windows program"});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, RestoreTest, testing::ValuesIn(RestoreCases()),
                         [](const testing::TestParamInfo<RestoreCase> &p) {
                           return p.param.name;
                         });

// Started under nohup (SIGHUP ignored), the run goes on when the terminal
// closes, to its end, and leaves the line as found then.
TEST(Restore, IgnoredHangUpStaysIgnored) {
  if (UnderWine()) GTEST_SKIP() << kWineNoSuchSignal;
  Sim sim = StartSim({"stk500", "--silent-after", "0"});
  ASSERT_FALSE(sim.path.empty());
  std::string before = LineOf(sim.path);
  Running running;
  RunOptions options;
  options.ignored = "HUP";
  StartPortvet({"-c1", "-r2"}, {{"COM1", sim.path}}, &running, options);
  std::string shown = ReadUntil(running.out, "Presence check...", 30);
  ASSERT_NE(shown.find("Presence check..."), std::string::npos) << shown;
  int status = running.Interrupt(SIGHUP);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "wait status " << status;
  EXPECT_EQ(LineOf(sim.path), before);
}

// Ctrl-C while a read is in flight on a silent port, for 40 s (-t20000) or
// for the 6.4 s the loopback waits at 600 baud: the port is put back at
// once, not after the read (Windows: on a port opened without overlapped
// I/O the console handler would wait for it, longer than the 5 s Windows
// gives a closing console).
TEST(Restore, InterruptDoesNotWaitForAReadInFlight) {
  struct {
    std::vector<std::string> args;
    const char *shown;
  } const cases[] = {
      {{"-c1", "-t20000"}, "Presence check..."},
      {{"-st", "-c1", "-b600"}, "Initiate test on COM1"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    Sim sim = StartSim({"stk500", "--silent-after", "0"});
    ASSERT_FALSE(sim.path.empty());
    if (UnderWine()) {
      RunPortvet({"-st", "-c1", "-r1", "-b57600"}, {{"COM1", sim.path}});
    }
    std::string before = LineOf(sim.path);
    Running running;
    StartPortvet(c.args, {{"COM1", sim.path}}, &running);
    std::string shown = ReadUntil(running.out, c.shown, 30);
    ASSERT_NE(shown.find(c.shown), std::string::npos) << shown;
    usleep(500000);  // the read is under way
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    running.Interrupt(SIGINT);
    timespec end;
    clock_gettime(CLOCK_MONOTONIC, &end);
    double seconds = (double)(end.tv_sec - start.tv_sec) +
                     (double)(end.tv_nsec - start.tv_nsec) / 1e9;
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(LineOf(sim.path), before);
  }
}

// A port whose driver takes only standard rates: the loopback passes at
// the rate the port kept (38400, the pty's own), and standard error says
// that the test did not run at the rate asked for. The line is as found.
// Natively a preloaded driver refuses the rate; Wine refuses it itself (it
// sets such a rate through a custom divisor, which a pty lacks).
TEST(Restore, RefusedRateIsSaid) {
  Sim sim = StartSim({"echo", "--pace", "0"});
  RunOptions options;
  if (UnderWine()) {
    RunPortvet({"-st", "-c1", "-r1", "-b57600"}, {{"COM1", sim.path}});
  } else {
    options.env = {{"LD_PRELOAD", PORTVET_REFUSE_RATE_SHIM},
                   {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"}};
  }
  std::string before = LineOf(sim.path);
  RunResult run = RunPortvet({"-st", "-c1", "-r1", "-b256000"},
                             {{"COM1", sim.path}}, options);
  EXPECT_EQ(run.out, Banner() +
                         "\nInitiate test on COM1 (256000 baud, 1 loops):\n"
                         "Summary: 0 errors\n");
  EXPECT_EQ(run.err,
            "portvet: COM1 runs at 38400 baud, not 256000: the port refused "
            "that rate\n"
            "portvet: COM1: every byte came back, in order, at 38400 baud "
            "(the port refused 256000): the line is sound\n");
  EXPECT_EQ(LineOf(sim.path), before);
  std::string log = StopSim(sim);
  EXPECT_NE(log.find("echo @38400 8N1\n"), std::string::npos) << log;
}

}  // namespace

namespace {

// In a sweep the ports are checked at the same time, and a later port's
// note of a refused rate stays in its own block of standard error, after
// every line of the ports before it; the silence verdict names the rates
// the port ran at, not those asked for. The driver that refuses 38400 is
// preloaded into the native tool.
TEST(Restore, RefusedRateNoteStaysInItsPortsBlock) {
  if (UnderWine()) GTEST_SKIP() << "the refusing driver is a native preload";
  Sim com1 = StartSim({"stk500", "--silent-after", "0"});
  Sim com2 = StartSim({"stk500", "--silent-after", "0"});
  RunOptions options;
  options.env = {{"LD_PRELOAD", PORTVET_REFUSE_RATE_SHIM},
                 {"PORTVET_TEST_REFUSE_RATE", "38400"},
                 {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"}};
  RunResult run = RunPortvet(
      {"-c0", "-r2"}, {{"COM1", com1.path}, {"COM2", com2.path}}, options);
  ASSERT_FALSE(run.hung);
  const std::string silence =
      ": no byte came back at 115200, 19200, 9600 baud: nothing answers these "
      "queries: not connected, the wrong port, no power, a device that "
      "keeps silent to them (a programmer or bootloader that speaks STK500 "
      "v2, or STK500 v1 at a rate this check does not use, such as 57600), "
      "or a board that restarts when its port opens (most Arduino boards): "
      "its bootloader listens only after its start-up and leaves at the "
      "check's other queries\n";
  const std::string note =
      " runs at 115200 baud, not 38400: the port refused that rate\n";
  auto hint = [](const char *n) {
    return std::string(": portvet -id -c") + n +
           " asks each family at its rate and waits for a board's "
           "bootloader\n";
  };
  EXPECT_EQ(run.err.substr(0, run.err.find("portvet: COM3")),
            "portvet: COM1" + note + "portvet: COM1" + silence +
                "portvet: COM1" + hint("1") + "portvet: COM2" + note +
                "portvet: COM2" + silence + "portvet: COM2" + hint("2"));
}

}  // namespace

namespace {

// Interrupts at random moments of a sweep over four devices that answer at
// different steps (an STK500 found at once, an AVR910 programmer found at
// 38400, a silent port that runs through every rate, a loopback): every
// port is left as it was found, byte for byte, whichever thread the signal
// lands on and whatever step each port's thread is at. A user who presses
// Ctrl-C again while the ports are put back cuts nothing short: one, two
// or three signals, 0 to 5 ms apart, and natively a driver that takes 20 ms
// for each setting (a USB bridge's requests), so that four ports take 80
// ms to put back. The moments and signals come from a fixed seed
// (PORTVET_TEST_INTERRUPTS sets how many). Under Wine only SIGINT, which
// Wine turns into the console's Ctrl-C event; it raises no event for
// SIGTERM or SIGHUP.
TEST(Restore, InterruptedSweepLeavesEveryPortAsFound) {
  std::vector<Sim> sims;
  sims.push_back(StartSim({"stk500"}));
  sims.push_back(StartSim({"avr910", "--baud", "38400", "--unknown", "-1"}));
  sims.push_back(StartSim({"stk500", "--silent-after", "0"}));
  sims.push_back(StartSim({"echo"}));
  std::map<std::string, std::string> ports;
  for (int i = 0; i < 4; i++) {
    ASSERT_FALSE(sims[i].path.empty());
    ports["COM" + std::to_string(i + 1)] = sims[i].path;
  }
  if (UnderWine()) {
    // The ports as found, to a Windows program: Wine's mapping of the DCB
    // it reads there (see LineIsAsFound).
    RunPortvet({"-c0", "-r2", "-t5"}, ports);
  }
  std::vector<std::string> before;
  for (Sim &s : sims) before.push_back(LineOf(s.path));
  const char *count = getenv("PORTVET_TEST_INTERRUPTS");
  int trials = count != nullptr ? atoi(count) : UnderWine() ? 20 : 100;
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  RunOptions slow;
  if (!UnderWine()) {
    slow.env = {{"LD_PRELOAD", PORTVET_SLOW_LINE_SHIM},
                {"PORTVET_TEST_SLOW_LINE_MS", "20"},
                {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"}};
  }
  unsigned seed = 1209;
  for (int trial = 0; trial < trials; trial++) {
    int delay_ms = (int)(rand_r(&seed) % 400);
    int sig = UnderWine() ? SIGINT : signals[rand_r(&seed) % 4];
    int times = 1 + (int)(rand_r(&seed) % 3);
    int gap_us = (int)(rand_r(&seed) % 5000);
    Running running;
    StartPortvet({"-c0", "-r2", "-t5"}, ports, &running, slow);
    // Under Wine the program needs a while to start before it can take a
    // console event.
    usleep((useconds_t)((UnderWine() ? 600 : 0) + delay_ms) * 1000);
    running.Interrupt(sig, times, gap_us);
    for (int i = 0; i < 4; i++) {
      ASSERT_EQ(LineOf(sims[i].path), before[i])
          << "trial " << trial << " (seed 1209; signal " << sig << " " << times
          << " times " << gap_us << " us apart, after " << delay_ms
          << " ms): COM" << i + 1 << " was left changed";
    }
  }
}

}  // namespace
