#include "check_port.h"

#include <stdio.h>

#include "../avr910/avr910.h"
#include "../diagnose/diagnose.h"
#include "../serial/serial.h"
#include "../stk500/stk500.h"

void main_CheckPort(const char *name, int attempts, int timeout) {
  printf("\nChecking %s:\n", name);
  fflush(stdout);
  serial_port port;
  if (!serial_open(&port, name)) {
    printf("Unable to open COM port %s\n", name);
    fflush(stdout);
    fprintf(stderr, "portvet: %s\n", port.why);
    return;
  }
  if (stk500_main(&port, attempts, timeout) == 0) {
    printf("\n");
    avr910_main(&port, attempts, timeout);
  }
  serial_close(&port);
  printf("\n\n");
  // What the report's bytes likely mean, on standard error after it.
  fflush(stdout);
  char verdict[DIAGNOSE_SIZE];
  diagnose_check(&port.record, name, verdict, sizeof verdict);
  fputs(verdict, stderr);
}
