#include "check_port.h"

#include "../avr910/avr910.h"
#include "../diagnose/diagnose.h"
#include "../ports/ports_every.h"
#include "../report/report.h"
#include "../serial/serial.h"
#include "../stk500/stk500.h"

void check_port(const char *name, int attempts, int timeout) {
  report_out("\nChecking %s:\n", name);
  report_flush();
  serial_port port;
  if (!serial_open(&port, name)) {
    report_out("Unable to open COM port %s\n", name);
    report_flush();
    report_err("portvet: %s\n", port.why);
    return;
  }
  if (stk500_main(&port, attempts, timeout) == 0) {
    report_out("\n");
    avr910_main(&port, attempts, timeout);
  }
  serial_close(&port);
  report_out("\n\n");
  // What the report's bytes likely mean, on standard error after it.
  char verdict[DIAGNOSE_SIZE];
  diagnose_check(&port.record, name, verdict, sizeof verdict);
  report_err("%s", verdict);
  // A port that failed the check, opened where the user named nothing:
  // which device it was (COM1 is a PC's first UART unless set otherwise).
  char path[SERIAL_NAME_SIZE];
  if (verdict[0] != '\0' && serial_implicit_path(name, path, sizeof path)) {
    ports_entry entry;
    ports_entry_of(path, &entry);
    char label[PORTS_TEXT_SIZE + 32];
    ports_entry_label(&entry, label, sizeof label);
    report_err(
        "portvet: %s was %s%s%s, as PORTVET_%s is not set: a USB adapter or "
        "a board is another device (portvet -id lists them)\n",
        name, path, label[0] != '\0' ? " " : "", label, name);
  }
}

void check_port_each(const char *name, const void *how) {
  const check_how *h = (const check_how *)how;
  check_port(name, h->attempts, h->timeout);
}
