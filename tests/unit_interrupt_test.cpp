// An interrupt while four threads change their ports' settings as fast as
// they can (a sweep's threads set a new rate at every step): every port is
// left as it was found, byte for byte, whatever moment the signal comes
// and whichever thread it lands on. Each trial runs in a child process,
// which the signal ends, on four ptys of the test's own.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../src/serial/serial.h"

namespace {

struct Pty {
  int master = -1;
  std::string slave;
};

// The slave's whole line, read through the master (a pty's termios ioctls
// on the master reach the slave's).
std::string LineOf(int master) {
  termios2 tio;
  if (ioctl(master, TCGETS2, &tio) != 0) return "(no line)";
  return std::string(reinterpret_cast<const char *>(&tio), sizeof tio);
}

void *Hammer(void *arg) {
  serial_port *port = static_cast<serial_port *>(arg);
  for (int i = 0;; i++) {
    serial_setup(port, 5, i % 2 == 0 ? 9600 : 115200);
  }
  return nullptr;
}

// The child: opens the four ports, hammers them from four threads, and is
// interrupted after delay_us by sig, sent to the process (any thread).
[[noreturn]] void Child(const std::vector<Pty> &ptys, int delay_us, int sig) {
  static serial_port ports[4];
  static const char *const names[4] = {"COM1", "COM2", "COM3", "COM4"};
  for (int i = 0; i < 4; i++) {
    setenv(("PORTVET_" + std::string(names[i])).c_str(), ptys[i].slave.c_str(),
           1);
    if (!serial_open(&ports[i], names[i])) _exit(3);
  }
  pthread_t threads[4];
  for (int i = 0; i < 4; i++) {
    pthread_create(&threads[i], nullptr, Hammer, &ports[i]);
  }
  usleep((useconds_t)delay_us);
  kill(getpid(), sig);
  for (;;) pause();
}

TEST(Interrupt, EveryThreadsPortIsLeftAsFound) {
  std::vector<Pty> ptys(4);
  for (Pty &p : ptys) {
    p.master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(p.master, 0);
    ASSERT_EQ(grantpt(p.master), 0);
    ASSERT_EQ(unlockpt(p.master), 0);
    p.slave = ptsname(p.master);
  }
  std::vector<std::string> before;
  for (Pty &p : ptys) before.push_back(LineOf(p.master));
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  unsigned seed = 20261209;
  for (int trial = 0; trial < 60; trial++) {
    int delay_us = 200 + (int)(rand_r(&seed) % 5000);
    int sig = signals[rand_r(&seed) % 3];
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) Child(ptys, delay_us, sig);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
        << "trial " << trial << ": wait status " << status;
    for (int i = 0; i < 4; i++) {
      ASSERT_EQ(LineOf(ptys[i].master), before[i])
          << "trial " << trial << " (signal " << sig << " after " << delay_us
          << " us): COM" << i + 1 << " was left changed";
    }
  }
  for (Pty &p : ptys) close(p.master);
}

}  // namespace
