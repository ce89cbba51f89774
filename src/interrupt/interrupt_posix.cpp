// POSIX: every signal that ends the program by default (Ctrl-C, Ctrl-\,
// SIGTERM, SIGHUP, SIGPIPE when standard output goes away, the faults, the
// timers' and the users' signals) puts the watched ports back, then ends
// the program as the signal would have.
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "interrupt.h"

namespace {

enum { INTERRUPT_SLOTS = 8 };  // ports open at once: four, and room to spare

// How long an interrupt waits for the sections under way: a change of a
// port's settings takes microseconds, but a driver may hang in one, and the
// program must end all the same.
const int INTERRUPT_WAIT_MS = 2000;

// The signals whose default is to end the program (SIGKILL and SIGSTOP
// cannot be caught; the real-time signals belong to the C library).
const int interrupt_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
    SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
    SIGXCPU,   SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

struct interrupt_slot {
  std::atomic<intptr_t> port_plus_one;  // 0: a free slot
  unsigned char saved[INTERRUPT_SAVED_SIZE];
  interrupt_restore restore;
};

// The table (see interrupt.h), whether the handler is in place, whether an
// interrupt is putting the ports back, and the sections under way.
interrupt_slot interrupt_table[INTERRUPT_SLOTS];
std::atomic<int> interrupt_handler_set;
std::atomic<int> interrupt_stopping;
std::atomic<int> interrupt_busy;

// Only calls that are safe in a signal handler: atomics, nanosleep, the
// restore routines, signal, raise, pause.
void interrupt_on_signal(int sig) {
  if (interrupt_stopping.exchange(1) != 0) {
    // Another interrupt is putting the ports back (on another thread: this
    // one's signals are blocked while its handler runs), and ends the
    // program when it is done: a second Ctrl-C must not cut that short.
    for (;;) {
      pause();
    }
  }
  // The sections under way end first; none begins from now on. (This
  // thread is in none: a section blocks these signals.)
  struct timespec ms = {0, 1000000};
  for (int i = 0; i < INTERRUPT_WAIT_MS && interrupt_busy.load() > 0; i++) {
    nanosleep(&ms, NULL);
  }
  for (interrupt_slot &s : interrupt_table) {
    intptr_t port = s.port_plus_one.load() - 1;
    if (port >= 0) {
      s.restore(port, s.saved);
    }
  }
  signal(sig, SIG_DFL);
  raise(sig);  // delivered as the handler returns: the program ends
}

void interrupt_handle(int sig) {
  struct sigaction old;
  // A signal the program was started to ignore stays ignored (nohup), but
  // SIGPIPE: standard output that went away ends the run, not a report
  // written to nowhere for another 40 s.
  if (sigaction(sig, NULL, &old) != 0 ||
      (old.sa_handler == SIG_IGN && sig != SIGPIPE)) {
    return;
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = interrupt_on_signal;
  sigfillset(&sa.sa_mask);
  sigaction(sig, &sa, NULL);
}

}  // namespace

void interrupt_enter(interrupt_section *section) {
  // An interrupt on this thread in the middle of the change would wait for
  // this very section: it goes to another thread, or waits for the end.
  sigset_t block;
  sigemptyset(&block);
  for (int sig : interrupt_signals) {
    // A fault of this very thread cannot wait (blocked, it ends the
    // program at once, ports or not): only the others are held back.
    bool fault = sig == SIGILL || sig == SIGTRAP || sig == SIGBUS ||
                 sig == SIGFPE || sig == SIGSEGV || sig == SIGSYS;
    if (!fault) {
      sigaddset(&block, sig);
    }
  }
  pthread_sigmask(SIG_BLOCK, &block, &section->mask);
  interrupt_busy.fetch_add(1);
  if (interrupt_stopping.load() != 0) {
    // Putting the ports back has begun: change nothing, the program ends.
    interrupt_busy.fetch_sub(1);
    for (;;) {
      pause();
    }
  }
}

void interrupt_leave(interrupt_section *section) {
  interrupt_busy.fetch_sub(1);
  pthread_sigmask(SIG_SETMASK, &section->mask, NULL);
}

void interrupt_watch(interrupt_port port, const unsigned char *saved,
                     size_t size, interrupt_restore restore) {
  int expected = 0;
  if (interrupt_handler_set.compare_exchange_strong(expected, 1)) {
    for (int sig : interrupt_signals) {
      interrupt_handle(sig);
    }
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
