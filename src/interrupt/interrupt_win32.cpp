// Windows: the console's control events (Ctrl-C, Ctrl-Break, the window
// closed) put the watched ports back, then the default handler ends the
// program. The handler runs on a thread of its own, so it is never in a
// section itself, and the handle it restores cannot be closed under it: a
// close is a section.
#include <string.h>
#include <windows.h>

#include <atomic>

#include "interrupt.h"

namespace {

enum { INTERRUPT_SLOTS = 8 };  // ports open at once: four, and room to spare

// How long an event waits for the sections under way (see
// interrupt_posix.cpp).
const int INTERRUPT_WAIT_MS = 2000;

// A free slot, and one being filled, never put back from. (A HANDLE is
// never 0 or -2 for an open port: INVALID_HANDLE_VALUE is -1.)
const intptr_t interrupt_free = 0;
const intptr_t interrupt_claimed = -2;

struct interrupt_slot {
  std::atomic<intptr_t> port;
  unsigned char saved[INTERRUPT_SAVED_SIZE];
  interrupt_restore restore;
};

// The table (see interrupt.h), whether the handler is in place, whether an
// event is putting the ports back, and the sections under way.
interrupt_slot interrupt_table[INTERRUPT_SLOTS];
std::atomic<int> interrupt_handler_set;
std::atomic<int> interrupt_stopping;
std::atomic<int> interrupt_busy;

BOOL WINAPI interrupt_on_control(DWORD) {
  if (interrupt_stopping.exchange(1) != 0) {
    // A second event while the first is at work: end now.
    ExitProcess(STATUS_CONTROL_C_EXIT);
  }
  for (int i = 0; i < INTERRUPT_WAIT_MS && interrupt_busy.load() > 0; i++) {
    Sleep(1);
  }
  for (interrupt_slot &s : interrupt_table) {
    intptr_t port = s.port.load();
    if (port != interrupt_free && port != interrupt_claimed) {
      s.restore(port, s.saved);
    }
  }
  return FALSE;  // the next handler (the default one) ends the program
}

}  // namespace

void interrupt_enter(interrupt_section *section) {
  section->entered = 1;
  interrupt_busy.fetch_add(1);
  if (interrupt_stopping.load() != 0) {
    // Putting the ports back has begun: change nothing, the program ends.
    interrupt_busy.fetch_sub(1);
    for (;;) {
      Sleep(INFINITE);
    }
  }
}

void interrupt_leave(interrupt_section *section) {
  section->entered = 0;
  interrupt_busy.fetch_sub(1);
}

void interrupt_watch(interrupt_port port, const unsigned char *saved,
                     size_t size, interrupt_restore restore) {
  int expected = 0;
  if (interrupt_handler_set.compare_exchange_strong(expected, 1)) {
    SetConsoleCtrlHandler(interrupt_on_control, TRUE);
  }
  for (interrupt_slot &s : interrupt_table) {
    intptr_t free = interrupt_free;
    if (s.port.compare_exchange_strong(free, interrupt_claimed)) {
      memcpy(s.saved, saved, size < sizeof s.saved ? size : sizeof s.saved);
      s.restore = restore;
      s.port.store(port);
      return;
    }
  }
}

void interrupt_forget(interrupt_port port) {
  for (interrupt_slot &s : interrupt_table) {
    intptr_t taken = port;
    if (s.port.compare_exchange_strong(taken, interrupt_free)) {
      return;
    }
  }
}
