#include "harness.h"

#include <errno.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

extern char **environ;

namespace {

std::vector<char *> Argv(const std::string &bin,
                         const std::vector<std::string> &args) {
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(bin.c_str()));
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// The environment of the test, without PORTVET_COMn and without what
// extra sets, plus the port map when with_ports is set, plus extra.
std::vector<std::string> Environment(
    const std::map<std::string, std::string> &ports, bool with_ports,
    const std::map<std::string, std::string> &extra) {
  std::vector<std::string> env;
  for (char **e = environ; *e != nullptr; e++) {
    std::string var = *e;
    std::string key = var.substr(0, var.find('='));
    if (key.compare(0, 11, "PORTVET_COM") != 0 && extra.count(key) == 0) {
      env.push_back(var);
    }
  }
  for (const auto &e : extra) {
    if (!e.second.empty()) env.push_back(e.first + "=" + e.second);
  }
  for (int n = 1; with_ports && n <= 4; n++) {
    std::string name = "COM" + std::to_string(n);
    if (extra.count("PORTVET_" + name) != 0) continue;  // set, or "" unset
    auto it = ports.find(name);
    std::string path =
        it != ports.end() ? it->second : "/nonexistent/portvet-test-" + name;
    env.push_back("PORTVET_" + name + "=" + path);
  }
  return env;
}

// What a started program plays, for its priority (see Spawn).
enum Device { kNoDevice, kEmulatedChip, kSimulator };

// Starts bin; its standard output is *out, its standard error err_fd (-1:
// the test's own).
pid_t Spawn(const std::string &bin, const std::vector<std::string> &args,
            const std::vector<std::string> *env, int *out, int err_fd = -1,
            bool unprivileged = false, Device device = kNoDevice) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  std::vector<char *> argv = Argv(bin, args);
  std::vector<char *> envp;
  if (env != nullptr) {
    for (const auto &e : *env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
  }
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    // The child ends with the test, whatever ends the test (a failed
    // assertion, ctest's timeout): the kernel kills it when its parent
    // goes, setsid() below or not. A parent already gone: go too.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
      _exit(125);
    }
    dup2(fds[1], 1);
    if (err_fd >= 0) dup2(err_fd, 2);
    close(fds[0]);
    close(fds[1]);
    setsid();  // no controlling terminal that a pty could become
    // A program starts with the signals a user's shell gives it: none
    // ignored or blocked. A test run from a script in the background (sh
    // ignores SIGINT and SIGQUIT there) would pass that on, and the tool
    // keeps a signal that it was started ignoring, as programs do.
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM}) {
      signal(sig, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // A device answers at once whatever the computer is busy with; the
    // simulator plays one, so it goes ahead of other programs where the
    // tests may raise it (as root), and a loaded machine cannot make it
    // late. Among equals (a test run starts several at once) a raised nice
    // value still waits its turn, past a 20 ms timeout at worst: the
    // simulator, which sleeps but for the moments it answers, takes the
    // lowest real-time class too. An emulated chip (fwhost) keeps the nice
    // value: it wakes every tenth of a millisecond and catches up at full
    // speed when it fell behind, which in a real-time class would hold up
    // the kernel's own workers that carry every pty's bytes.
    if (device != kNoDevice) setpriority(PRIO_PROCESS, 0, -15);
    if (device == kSimulator) {
      sched_param first = {};
      first.sched_priority = sched_get_priority_min(SCHED_FIFO);
      sched_setscheduler(0, SCHED_FIFO, &first);
    }
    if (unprivileged && getuid() == 0 &&
        (setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(126);
    }
    if (env != nullptr) {
      execve(bin.c_str(), argv.data(), envp.data());
    } else {
      execv(bin.c_str(), argv.data());
    }
    _exit(127);
  }
  close(fds[1]);
  *out = fds[0];
  return pid;
}

// Under Wine, PORTVET_WINE is "LOADER|EXE|PREFIX": the Windows build EXE
// runs through the Wine LOADER in PREFIX, where COMn opens the prefix's
// dosdevices link comn.
struct Wine {
  std::string loader, exe, prefix;
};

bool UnderWine(Wine *wine) {
  const char *setting = getenv("PORTVET_WINE");
  if (setting == nullptr || setting[0] == '\0') return false;
  std::string s = setting;
  size_t a = s.find('|');
  size_t b = s.find('|', a + 1);
  if (a == std::string::npos || b == std::string::npos) return false;
  wine->loader = s.substr(0, a);
  wine->exe = s.substr(a + 1, b - a - 1);
  wine->prefix = s.substr(b + 1);
  return true;
}

// The prefix's COMn is $WINEPREFIX/ports/comn (see tests/wine/prefix.sh).
// Wine opens /dev/ttySn for a COM link that leads nowhere, so a port that
// must not open links to a directory (no-port, made with the prefix).
void MapWinePorts(const Wine &wine,
                  const std::map<std::string, std::string> &ports) {
  for (const char *n : {"1", "2", "3", "4", "7", "12"}) {
    std::string name = std::string("COM") + n;
    std::string link = wine.prefix + "/ports/com" + n;
    auto it = ports.find(name);
    std::string target = it != ports.end() ? it->second : "";
    if (target.empty() || access(target.c_str(), F_OK) != 0)
      target = wine.prefix + "/no-port";
    std::string tmp = link + ".new";
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) == 0) {
      rename(tmp.c_str(), link.c_str());
    }
  }
}

// Runs the native portvet, or the Windows one under Wine. Under Wine the
// ports go through the prefix's links, and PORTVET_COMn is only what the
// test sets itself.
pid_t SpawnPortvet(const std::vector<std::string> &args,
                   const std::map<std::string, std::string> &ports,
                   const RunOptions &options, int *out, int err_fd) {
  Wine wine;
  bool wine_run = UnderWine(&wine) && !options.unprivileged;
  std::vector<std::string> env = Environment(ports, !wine_run, options.env);
  if (!wine_run) {
    // PORTVET_TEST_BIN: another build of portvet (the select() one).
    const char *bin = getenv("PORTVET_TEST_BIN");
    std::string portvet = bin != nullptr && bin[0] != '\0' ? bin : PORTVET_BIN;
    if (!options.ignored.empty()) {
      return Spawn(
          "/bin/sh",
          Concat({"-c", "trap '' " + options.ignored + " && exec \"$0\" \"$@\"",
                  portvet},
                 args),
          &env, out, err_fd, options.unprivileged);
    }
    if (options.tty_class.empty()) {
      return Spawn(portvet, args, &env, out, err_fd, options.unprivileged);
    }
    // The dev folder over /dev, with /dev/pts reachable under it (its
    // links lead to the simulators' ptys).
    return Spawn(
        "/usr/bin/unshare",
        Concat({"--mount", "--", "/bin/sh", "-c",
                "mount --bind \"$0\" /sys/class/tty && "
                "{ [ -z \"$1\" ] || { mount --bind /dev/pts \"$1/pts\" && "
                "mount --rbind \"$1\" /dev; }; } && shift && exec \"$@\"",
                options.tty_class, options.dev, portvet},
               args),
        &env, out, err_fd, options.unprivileged);
  }
  MapWinePorts(wine, ports);
  env.push_back("WINEPREFIX=" + wine.prefix);
  env.push_back("WINEDEBUG=-all");
  return Spawn(wine.loader, Concat({wine.exe}, args), &env, out, err_fd);
}

// A Windows console program ends its lines with CR LF.
std::string WithoutCarriageReturns(const std::string &text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  return plain;
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Reads fd to its end or until the deadline; false when the deadline won.
bool ReadAll(int fd, std::string *text, double deadline) {
  for (;;) {
    int left = static_cast<int>((deadline - Now()) * 1000);
    if (left <= 0) return false;
    pollfd pfd = {fd, POLLIN, 0};
    int n = poll(&pfd, 1, left);
    if (n < 0) continue;
    if (n == 0) return false;
    char buf[4096];
    ssize_t r = read(fd, buf, sizeof buf);
    if (r <= 0) return true;
    text->append(buf, static_cast<size_t>(r));
  }
}

}  // namespace

Sim::Sim(Sim &&other) noexcept
    : pid(other.pid), out(other.out), path(std::move(other.path)) {
  other.pid = -1;
  other.out = -1;
}

Sim::~Sim() { StopSim(*this); }

Running::~Running() { Kill(); }

void Running::Kill() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(out);
    pid = -1;
  }
}

static Sim Start(const std::string &bin, const std::vector<std::string> &args,
                 Device device) {
  Sim sim;
  sim.pid = Spawn(bin, args, nullptr, &sim.out, -1, false, device);
  std::string first = ReadUntil(sim.out, "\n", 10);
  size_t end = first.find('\n');
  if (end != std::string::npos) sim.path = first.substr(0, end);
  return sim;
}

Sim StartSim(const std::vector<std::string> &args) {
  // The line stays in the pty's default settings (IXON, ICANON, ...), as
  // another program may leave a port: the tool must set up what it needs.
  return Start(PORTVET_SIM_BIN, args, kSimulator);
}

Sim StartDevice(const std::string &bin, const std::vector<std::string> &args) {
  return Start(bin, args, kEmulatedChip);
}

std::string StopSim(Sim &sim) {
  std::string log;
  if (sim.pid > 0) {
    kill(sim.pid, SIGTERM);
    ReadAll(sim.out, &log, Now() + 10);
    waitpid(sim.pid, nullptr, 0);
    close(sim.out);
    sim.pid = -1;
  }
  std::string kept;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    end = end == std::string::npos ? log.size() : end + 1;
    std::string line = log.substr(at, end - at);
    if (line.compare(0, 6, "stall ") == 0) {
      sim.stall_ms = std::max(sim.stall_ms, atof(line.c_str() + 6));
    } else {
      kept += line;
    }
    at = end;
  }
  return kept;
}

bool Stalled(const RunResult &run, double slack_ms, std::string *why) {
  if (run.stall_ms <= slack_ms) return false;
  char text[200];
  snprintf(text, sizeof text,
           "the machine stalled the simulator %.1f ms in the middle of a "
           "stream, past the %.1f ms this run allows; a real line never "
           "stalls",
           run.stall_ms, slack_ms);
  *why = text;
  return true;
}

void StartPortvet(const std::vector<std::string> &args,
                  const std::map<std::string, std::string> &ports,
                  Running *running, const RunOptions &options) {
  running->pid = SpawnPortvet(args, ports, options, &running->out, -1);
}

// The wait status of pid once it ends, or of its SIGKILL after seconds.
static int WaitOrKill(pid_t pid, double seconds) {
  int status = 0;
  double end = Now() + seconds;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(10000);
  }
  return status;
}

int Running::Interrupt(int sig) { return Interrupt(sig, 1, 0); }

int Running::Interrupt(int sig, int times, int gap_us) {
  if (pid <= 0) return -1;
  for (int i = 0; i < times; i++) {
    if (i > 0) usleep((useconds_t)gap_us);
    kill(pid, sig);
  }
  std::string rest;
  ReadAll(out, &rest, Now() + 30);
  // A program that outlives its output by far did not end at the signal:
  // ended here, and the test sees a SIGKILL, not a hang.
  int status = WaitOrKill(pid, 30);
  close(out);
  pid = -1;
  return status;
}

int Running::CloseOutput() {
  if (pid <= 0) return -1;
  close(out);
  // The program writes its next line within its run; ended by the harness
  // at the latest when it does not.
  int status = WaitOrKill(pid, 60);
  pid = -1;
  return status;
}

RunResult RunPortvet(const std::vector<std::string> &args,
                     const std::map<std::string, std::string> &ports,
                     const RunOptions &options) {
  RunResult run;
  int out = -1;
  // Standard error goes to a file: it is short, and a second pipe would
  // need a second reader.
  FILE *err = tmpfile();
  double start = Now();
  pid_t pid = SpawnPortvet(args, ports, options, &out,
                           err != nullptr ? fileno(err) : -1);
  if (pid < 0) {
    run.out = std::string("(portvet did not start: ") + strerror(errno) + ")";
    if (err != nullptr) fclose(err);
    return run;
  }
  if (!ReadAll(out, &run.out, Now() + options.limit_seconds)) {
    run.hung = true;
    kill(pid, SIGKILL);
  }
  close(out);
  run.out = WithoutCarriageReturns(run.out);
  int status = 0;
  waitpid(pid, &status, 0);
  run.ms = (Now() - start) * 1000;
  if (err != nullptr) {
    rewind(err);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, err)) > 0) run.err.append(buf, n);
    fclose(err);
    run.err = WithoutCarriageReturns(run.err);
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return run;
}

RunResult RunOnCom1(const std::string &personality,
                    const std::vector<std::string> &knobs,
                    const std::vector<std::string> &args, int limit_seconds) {
  RunOptions options;
  options.limit_seconds = limit_seconds;
  if (personality.empty()) return RunPortvet(args, {}, options);
  Sim sim = StartSim(Concat({personality}, knobs));
  if (sim.path.empty()) {
    RunResult failed;
    failed.out = "(portvet-sim did not start)";
    return failed;
  }
  RunResult run = RunPortvet(args, {{"COM1", sim.path}}, options);
  run.log = StopSim(sim);
  run.stall_ms = sim.stall_ms;
  return run;
}

std::vector<std::string> Concat(std::vector<std::string> a,
                                const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string ReadUntil(int fd, const std::string &text, int seconds) {
  std::string got;
  double deadline = Now() + seconds;
  while (got.find(text) == std::string::npos) {
    int left = static_cast<int>((deadline - Now()) * 1000);
    if (left <= 0) break;
    pollfd pfd = {fd, POLLIN, 0};
    if (poll(&pfd, 1, left) <= 0) continue;
    // One byte at a time: what follows the text stays in the pipe.
    char c;
    if (read(fd, &c, 1) != 1) break;
    got += c;
  }
  return got;
}

bool UnderWine() {
  Wine wine;
  return UnderWine(&wine);
}

bool CanFakeTtyClass() {
  return getuid() == 0 && access("/usr/bin/unshare", X_OK) == 0 &&
         access("/sys/class/tty", F_OK) == 0;
}

const char *const kWineHangUp =
    "Wine reads a hung-up pty as a successful read of no bytes (a timeout), "
    "where Windows fails the read of a vanished port";
const char *const kWineExclusive =
    "Wine does not refuse a second open of a serial device, where Windows "
    "gives the port to one handle at a time";
const char *const kWineCustomRate =
    "Wine sets a rate without a Bnnn constant through the serial driver's "
    "custom divisor, which a pty lacks, so the line stays at 38400";

std::string Banner() {
  return "STK500/AVR910 connection check\nCOM port stress test\nv1.2 "
         "(portvet " PORTVET_VERSION ")\n";
}

std::string Usage() {
  return "\nTest connection to a STK500/AVR910 compatible device and list "
         "error details\n"
         "\nUsage: Portvet -cn [-rn] [-tn]\n\n"
         "   -cn\t  n = 1 - 4 for COM1 - 4\n"
         "\t  n = 0 for all four ports\n"
         "   -rn\t  n = number of connection retries (default = 50)\n"
         "   -tn\t  n = timeout value for COM port in ms (defaut 20ms)\n"
         "\n\nPerformance test for COM port with error details/counter\n\n"
         "Connect TXD and RXD line or use device that echos every byte\n"
         "Usage Portvet -st -cn [-bn] [-rn]\n\n"
         "   -cn\t  n = 1 - 4 for COM1 - 4\n"
         "   -bn\t  n = baudrate (default = 115200)\n"
         "   -rn\t  n = test loops (default = 10)\n";
}

std::string Repeat(const std::string &line, int times) {
  std::string s;
  for (int i = 0; i < times; i++) s += line;
  return s;
}

std::string Nothing(int attempts) {
  std::string s = "\n";
  for (const char *baud : {"115200", "38400", "19200", "9600"}) {
    s += std::string("AVR910 presence check (") + baud +
         " baud)...failed (retries = " + std::to_string(attempts) + " (max))\n";
  }
  return s;
}
