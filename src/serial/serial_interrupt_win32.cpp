// Windows: the console's control events (Ctrl-C, Ctrl-Break, the window
// closed) put the watched ports back, then the default handler ends the
// program. The handler runs on a thread of its own.
#include <string.h>
#include <windows.h>

#include <atomic>

#include "serial_interrupt.h"

namespace {

enum { SERIAL_WATCHED = 8 };  // ports open at once: four, and room to spare

struct serial_watched {
  std::atomic<void *> handle;  // NULL: a free slot
  DCB dcb;
  COMMTIMEOUTS timeouts;
};

// The table (see serial_interrupt.h), and whether the handler is in place.
serial_watched serial_watch_table[SERIAL_WATCHED];
std::atomic<int> serial_handler_set;

// A slot being filled, never put back from.
void *const serial_claimed = (void *)(intptr_t)-2;

BOOL WINAPI serial_on_control(DWORD) {
  for (serial_watched &w : serial_watch_table) {
    void *handle = w.handle.load();
    if (handle != NULL && handle != serial_claimed) {
      PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
      SetCommState(handle, &w.dcb);
      SetCommTimeouts(handle, &w.timeouts);
    }
  }
  return FALSE;  // the next handler (the default one) ends the program
}

}  // namespace

void serial_interrupt_watch(const serial_port *port) {
  int expected = 0;
  if (serial_handler_set.compare_exchange_strong(expected, 1)) {
    SetConsoleCtrlHandler(serial_on_control, TRUE);
  }
  for (serial_watched &w : serial_watch_table) {
    void *free = NULL;
    if (w.handle.compare_exchange_strong(free, serial_claimed)) {
      memcpy(&w.dcb, port->saved, sizeof w.dcb);
      memcpy(&w.timeouts, port->saved + sizeof w.dcb, sizeof w.timeouts);
      w.handle.store(port->handle);
      return;
    }
  }
}

void serial_interrupt_forget(const serial_port *port) {
  for (serial_watched &w : serial_watch_table) {
    void *handle = port->handle;
    if (w.handle.compare_exchange_strong(handle, NULL)) {
      return;
    }
  }
}
