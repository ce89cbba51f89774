// POSIX: SIGINT and SIGTERM put the watched ports back, then end the
// program as the signal would have.
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>

#include "serial_interrupt.h"
#include "serial_native.h"

namespace {

enum { SERIAL_WATCHED = 8 };  // ports open at once: four, and room to spare

struct serial_watched {
  std::atomic<int> fd_plus_one;  // 0: a free slot
  unsigned char saved[SERIAL_SAVED_SIZE];
};

// The table (see serial_interrupt.h), and whether the handler is in place.
serial_watched serial_watch_table[SERIAL_WATCHED];
std::atomic<int> serial_handler_set;

// Only calls that are safe in a signal handler: tcflush, ioctl, signal,
// raise.
void serial_on_interrupt(int sig) {
  for (serial_watched &w : serial_watch_table) {
    int fd = w.fd_plus_one.load() - 1;
    if (fd >= 0) {
      tcflush(fd, TCIOFLUSH);
      serial_line_restore(fd, w.saved);
      ioctl(fd, TIOCNXCL);
    }
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

void serial_handle(int sig) {
  struct sigaction old;
  // A signal the program was started to ignore stays ignored.
  if (sigaction(sig, NULL, &old) != 0 || old.sa_handler == SIG_IGN) {
    return;
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = serial_on_interrupt;
  sigfillset(&sa.sa_mask);
  sigaction(sig, &sa, NULL);
}

}  // namespace

void serial_interrupt_watch(const serial_port *port) {
  int expected = 0;
  if (serial_handler_set.compare_exchange_strong(expected, 1)) {
    serial_handle(SIGINT);
    serial_handle(SIGTERM);
  }
  for (serial_watched &w : serial_watch_table) {
    int free = 0;
    // Claimed with -1 first, so that the handler never sees a slot whose
    // settings are not all written yet.
    if (w.fd_plus_one.compare_exchange_strong(free, -1)) {
      memcpy(w.saved, port->saved, sizeof w.saved);
      w.fd_plus_one.store(port->fd + 1);
      return;
    }
  }
}

void serial_interrupt_forget(const serial_port *port) {
  for (serial_watched &w : serial_watch_table) {
    int fd = port->fd + 1;
    if (w.fd_plus_one.compare_exchange_strong(fd, 0)) {
      return;
    }
  }
}
