// POSIX: SIGINT and SIGTERM put the watched ports back, then end the
// program as the signal would have.
#include <signal.h>
#include <string.h>

#include <atomic>

#include "interrupt.h"

namespace {

enum { INTERRUPT_SLOTS = 8 };  // ports open at once: four, and room to spare

struct interrupt_slot {
  std::atomic<intptr_t> port_plus_one;  // 0: a free slot
  unsigned char saved[INTERRUPT_SAVED_SIZE];
  interrupt_restore restore;
};

// The table (see interrupt.h), and whether the handler is in place.
interrupt_slot interrupt_table[INTERRUPT_SLOTS];
std::atomic<int> interrupt_handler_set;

// Only calls that are safe in a signal handler: the restore routines,
// signal, raise.
void interrupt_on_signal(int sig) {
  for (interrupt_slot &s : interrupt_table) {
    intptr_t port = s.port_plus_one.load() - 1;
    if (port >= 0) {
      s.restore(port, s.saved);
    }
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

void interrupt_handle(int sig) {
  struct sigaction old;
  // A signal the program was started to ignore stays ignored.
  if (sigaction(sig, NULL, &old) != 0 || old.sa_handler == SIG_IGN) {
    return;
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = interrupt_on_signal;
  sigfillset(&sa.sa_mask);
  sigaction(sig, &sa, NULL);
}

}  // namespace

void interrupt_watch(interrupt_port port, const unsigned char *saved,
                     size_t size, interrupt_restore restore) {
  int expected = 0;
  if (interrupt_handler_set.compare_exchange_strong(expected, 1)) {
    interrupt_handle(SIGINT);
    interrupt_handle(SIGTERM);
  }
  for (interrupt_slot &s : interrupt_table) {
    intptr_t free = 0;
    // Claimed with -1 first, so that the handler never sees a slot whose
    // settings are not all written yet.
    if (s.port_plus_one.compare_exchange_strong(free, -1)) {
      memcpy(s.saved, saved, size < sizeof s.saved ? size : sizeof s.saved);
      s.restore = restore;
      s.port_plus_one.store(port + 1);
      return;
    }
  }
}

void interrupt_forget(interrupt_port port) {
  for (interrupt_slot &s : interrupt_table) {
    intptr_t taken = port + 1;
    if (s.port_plus_one.compare_exchange_strong(taken, 0)) {
      return;
    }
  }
}
