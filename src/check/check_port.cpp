#include "check_port.h"

#include "../avr910/avr910.h"
#include "../diagnose/diagnose.h"
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
}

void check_port_each(const char *name, const void *how) {
  const check_how *h = (const check_how *)how;
  check_port(name, h->attempts, h->timeout);
}
