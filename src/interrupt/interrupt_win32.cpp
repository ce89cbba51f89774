// Windows: the console's control events (Ctrl-C, Ctrl-Break, the window
// closed) put the watched ports back, then the default handler ends the
// program. The handler runs on a thread of its own.
#include <string.h>
#include <windows.h>

#include <atomic>

#include "interrupt.h"

namespace {

enum { INTERRUPT_SLOTS = 8 };  // ports open at once: four, and room to spare

// A free slot, and one being filled, never put back from. (A HANDLE is
// never 0 or -2 for an open port: INVALID_HANDLE_VALUE is -1.)
const intptr_t interrupt_free = 0;
const intptr_t interrupt_claimed = -2;

struct interrupt_slot {
  std::atomic<intptr_t> port;
  unsigned char saved[INTERRUPT_SAVED_SIZE];
  interrupt_restore restore;
};

// The table (see interrupt.h), and whether the handler is in place.
interrupt_slot interrupt_table[INTERRUPT_SLOTS];
std::atomic<int> interrupt_handler_set;

BOOL WINAPI interrupt_on_control(DWORD) {
  for (interrupt_slot &s : interrupt_table) {
    intptr_t port = s.port.load();
    if (port != interrupt_free && port != interrupt_claimed) {
      s.restore(port, s.saved);
    }
  }
  return FALSE;  // the next handler (the default one) ends the program
}

}  // namespace

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
