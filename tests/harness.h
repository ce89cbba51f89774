// Runs the real portvet binary against portvet-sim on pseudo-terminals.
#ifndef PORTVET_TESTS_HARNESS_H
#define PORTVET_TESTS_HARNESS_H

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// A running simulator; its slave path is what the tool opens.
// It is stopped at the latest when it goes out of scope, so a failed
// assertion never leaves one running.
struct Sim {
  pid_t pid = -1;
  int out = -1;  // the simulator's standard output
  std::string path;
  double stall_ms = 0;  // its longest stall in a stream (sim_main.cpp)
  Sim() = default;
  Sim(Sim &&other) noexcept;
  Sim(const Sim &) = delete;
  Sim &operator=(const Sim &) = delete;
  ~Sim();
};

// Starts portvet-sim with the arguments (personality first).
Sim StartSim(const std::vector<std::string> &args);

// Starts another device program that prints its pty's path on the first
// line of its standard output, as portvet-sim does.
Sim StartDevice(const std::string &bin, const std::vector<std::string> &args);

// Stops the simulator and returns the log it printed after the path line,
// without its "stall" lines: their greatest value goes to sim.stall_ms.
std::string StopSim(Sim &sim);

struct RunResult {
  std::string out;
  std::string err;      // standard error
  std::string log;      // what the simulator logged, when there was one
  double stall_ms = 0;  // the simulator's longest stall (see Stalled)
  int status = -1;      // exit status; -1 when killed
  int signal = 0;       // the signal that ended it, when one did
  bool hung = false;    // killed after the time limit
  double ms = 0;        // wall time from start to exit
};

struct RunOptions {
  int limit_seconds = 90;
  bool unprivileged = false;  // the native portvet as nobody (when root)
  // More environment, set as given in both worlds (PORTVET_COMn here is
  // what the tool reads, natively and under Wine; a value "" leaves the
  // variable unset: natively COMn then opens /dev/ttyS<n-1>, which only a
  // dev folder of the test's own may stand for).
  std::map<std::string, std::string> env;
  // Natively: a folder laid out like /sys/class/tty that the tool sees in
  // its place (bound over it in a mount namespace of its own, as root), so
  // that what it says of this computer's ports is the test's to choose.
  std::string tty_class;
  // Natively, with tty_class: a folder the tool sees in place of /dev,
  // with an empty folder pts (the system's /dev/pts is bound there), so
  // that the ports a faked sysfs lists can lead to simulators.
  std::string dev;
  // Natively: started with these signals ignored (names, as sh's trap
  // takes them: "PIPE", as some launchers leave it; "HUP", as nohup does).
  std::string ignored;
};

// Whether a run can be given a tty_class (root, and unshare is there).
bool CanFakeTtyClass();

// Runs portvet with the arguments; ports maps "COMn" to paths (natively
// through PORTVET_COMn for COM1..COM4; under Wine through the prefix's
// ports/comn link), and every port not named maps to a path that does not
// exist, so no test ever touches a real serial port.
RunResult RunPortvet(const std::vector<std::string> &args,
                     const std::map<std::string, std::string> &ports,
                     const RunOptions &options = RunOptions());

// Runs portvet with the arguments, COM1 mapped to a fresh portvet-sim of
// the personality with the knobs (no device at all when personality is
// empty), and keeps the simulator's log.
RunResult RunOnCom1(const std::string &personality,
                    const std::vector<std::string> &knobs,
                    const std::vector<std::string> &args,
                    int limit_seconds = 90);

// The two argument lists one after the other.
std::vector<std::string> Concat(std::vector<std::string> a,
                                const std::vector<std::string> &b);

// A portvet started without waiting; killed when it goes out of scope.
struct Running {
  pid_t pid = -1;
  int out = -1;  // its standard output
  Running() = default;
  Running(const Running &) = delete;
  Running &operator=(const Running &) = delete;
  ~Running();
  void Kill();
  // Sends sig and waits for the program to end; returns its wait status.
  int Interrupt(int sig);
  // Sends sig times over, gap_us apart, and waits for the program to end;
  // returns its wait status.
  int Interrupt(int sig, int times, int gap_us);
  // Closes its standard output, as a reader that stops reading does, and
  // waits for the program to end; returns its wait status.
  int CloseOutput();
};

void StartPortvet(const std::vector<std::string> &args,
                  const std::map<std::string, std::string> &ports,
                  Running *running, const RunOptions &options = RunOptions());

// Reads from fd until text has appeared or seconds have passed.
std::string ReadUntil(int fd, const std::string &text, int seconds);

// Whether the tests run the Windows build under Wine.
bool UnderWine();

// What Wine cannot express, for the cases that skip themselves under it
// (the README lists them).
extern const char *const kWineHangUp;
extern const char *const kWineExclusive;
extern const char *const kWineCustomRate;

// Whether the machine stalled the simulator longer than slack_ms in the
// middle of a stream: a real line never stalls, so a run that depends on
// bytes coming on time proves nothing then, and says so with this text.
bool Stalled(const RunResult &run, double slack_ms, std::string *why);

// The three banner lines every run begins with.
std::string Banner();

// The usage text.
std::string Usage();

// line, times over.
std::string Repeat(const std::string &line, int times);

// What the AVR910 probe prints after a blank line when nothing answers at
// any of its four rates.
std::string Nothing(int attempts);

#endif
