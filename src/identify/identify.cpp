#include "identify.h"

#include <stdio.h>
#include <string.h>

#include "../common/option_arg.h"
#include "../diagnose/diagnose.h"
#include "../diagnose/diagnose_text.h"
#include "../report/report.h"
#include "../sweep/sweep.h"
#include "../thread/thread.h"
#include "identify_query.h"

namespace {

// The families at their rates, cheapest and most likely first: at 115200
// an STK500, an Uno's optiboot, a Mega 2560's bootloader, STK500 v2
// programmers; at 57600 the older boards' bootloader; at 19200 ArduinoISP;
// then AVR910 programmers at their rates.
const struct {
  int32_t baud;
  void (*query)(serial_port *port, id_found *found);
} id_plan[] = {
    {115200, id_stk500v1}, {115200, id_stk500v2}, {115200, id_avr910},
    {57600, id_stk500v1},  {19200, id_stk500v1},  {38400, id_avr910},
    {19200, id_avr910},    {9600, id_avr910},
};

// How long a board's bootloader keeps the port after a reset: optiboot's
// watchdog runs out a second after the last command, the older bootloader's
// wait about as long; then the board runs its program.
const unsigned ID_BOARD_MS = 1500;

// What a run of the plan saw.
struct id_run_result {
  id_found found;  // the first certain answer, echo or failure
  int32_t baud;    // where
  id_found other;  // the first bytes that fit no family
  int32_t other_baud;
};

// Runs the plan on an open port.
void id_run(serial_port *port, id_run_result *run) {
  memset(run, 0, sizeof *run);
  run->found.outcome = ID_SILENT;
  int32_t set = 0;
  for (const auto &step : id_plan) {
    if (step.baud != set) {
      serial_setup(port, ID_TIMEOUT_MS, step.baud);
      set = step.baud;
    }
    id_found found;
    memset(&found, 0, sizeof found);
    step.query(port, &found);
    if (found.outcome == ID_OTHER && run->other.n_other == 0) {
      run->other = found;
      run->other_baud = step.baud;
    }
    if (found.outcome == ID_FOUND || found.outcome == ID_ECHO ||
        found.outcome == ID_FAILED) {
      run->found = found;
      run->baud = step.baud;
      return;
    }
  }
}

// Bytes that come without a query, twice over: noise, or a device that
// streams. Returns the count that came in the second look (0: quiet), with
// the bytes in out. The first look waits for one byte only: on a quiet
// port it costs two timeouts, not one for each byte of out.
int id_listen(serial_port *port, unsigned char *out, uint32_t size) {
  serial_setup(port, ID_TIMEOUT_MS, 115200);
  uint32_t got = 0;
  if (!serial_read(port, out, 1, &got) || got == 0) {
    return 0;
  }
  if (!serial_read(port, out, size, &got)) {
    return 0;
  }
  return (int)got;
}

// "optiboot, a board's bootloader: STK500 v1, version 4.4, at 115200 baud"
void id_describe(const id_found *f, int32_t baud, char *out, size_t size) {
  out[0] = '\0';
  diag_append(out, size, "%s: %s", f->what, f->family);
  if (f->name[0] != '\0') {
    diag_append(out, size, " \"%s\"", f->name);
  }
  diag_append(out, size, "%s, at %ld baud", f->version, (long)baud);
}

// The line for a port the plan found nothing certain on.
void id_uncertain(const char *name, const id_run_result *run,
                  const unsigned char *noise, int n_noise) {
  char hex[64];
  if (n_noise > 0) {
    diag_hex(noise, (size_t)n_noise, 8, hex, sizeof hex);
    report_out(
        "%s: noise: bytes come without a query (%s): noise on the line, or a "
        "device that streams; not a programmer\n",
        name, hex);
  } else if (run->found.outcome == ID_ECHO) {
    report_out(
        "%s: a loopback: what the tool sends comes back as it was sent at "
        "%ld baud (TXD joined to RXD, or an adapter that echoes), not a "
        "programmer\n",
        name, (long)run->baud);
  } else if (run->found.outcome == ID_FAILED) {
    report_out(
        "%s: the port failed during %s at %ld baud: unplugged, or a driver "
        "failure\n",
        name, run->found.query, (long)run->baud);
  } else if (run->other.n_other > 0) {
    diag_hex(run->other.other, run->other.n_other, 8, hex, sizeof hex);
    report_out(
        "%s: something unknown: bytes that fit no family came at %ld baud "
        "(%s): a device at a rate no family uses, or in another protocol\n",
        name, (long)run->other_baud, hex);
  } else {
    report_out(
        "%s: nothing answers: no byte came back at 115200, 57600, 38400, "
        "19200, 9600 baud to any family's query: not connected, the wrong "
        "port, no power, or a device that keeps silent at these rates\n",
        name);
  }
}

void id_port(const char *name) {
  serial_port port;
  if (!serial_open(&port, name)) {
    report_out("%s: cannot be opened\n", name);
    report_err("portvet: %s\n", port.why);
    return;
  }
  unsigned char noise[16];
  int n_noise = id_listen(&port, noise, sizeof noise);
  id_run_result run;
  if (n_noise == 0) {
    id_run(&port, &run);
  } else {
    memset(&run, 0, sizeof run);
  }
  if (n_noise > 0 || run.found.outcome != ID_FOUND) {
    id_uncertain(name, &run, noise, n_noise);
    serial_close(&port);
    return;
  }
  char line[512];
  id_describe(&run.found, run.baud, line, sizeof line);
  const char *decided = run.found.decided;
  if (run.found.role == ID_BOOTLOADER) {
    // A bootloader runs after a reset (opening the port resets a board),
    // for a second or so: wait it out, and ask again for the program the
    // board runs after it.
    thread_sleep_ms(ID_BOARD_MS);
    id_run_result after;
    id_run(&port, &after);
    if (after.found.outcome == ID_FOUND &&
        (strcmp(after.found.what, run.found.what) != 0 ||
         after.baud != run.baud)) {
      char app[512];
      id_describe(&after.found, after.baud, app, sizeof app);
      diag_append(app, sizeof app,
                  ", on a board whose bootloader answers for a second after "
                  "the port opens (%s: %s%s, at %ld baud)",
                  run.found.what, run.found.family, run.found.version,
                  (long)run.baud);
      report_out("%s: %s; decided by %s\n", name, app, after.found.decided);
      serial_close(&port);
      return;
    }
    diag_append(line, sizeof line, "%s",
                after.found.outcome == ID_FOUND
                    ? ", and still after a wait: the board runs no other "
                      "program that answers"
                    : ", for a second after the port opens; what the board "
                      "runs after it answers none of these queries");
  }
  report_out("%s: %s; decided by %s\n", name, line, decided);
  serial_close(&port);
}

}  // namespace

void id_port_each(const char *name, const void *) { id_port(name); }

int id_main(int argc, char **argv, int *usage) {
  static const char *const names[4] = {"COM1", "COM2", "COM3", "COM4"};
  *usage = argc <= 2;
  if (*usage) {
    return 0;
  }
  int port = -1;
  const char *refused = NULL;
  for (int i = 2; i < argc && refused == NULL; i++) {
    int value = 0;
    if (option_split(argv[i], &value) == 'c' && value >= 0 && value <= 4) {
      port = value;
    } else {
      refused = argv[i];
    }
  }
  // Past "-id" stands at least one argument: a port, or one refused.
  if (refused != NULL) {
    printf("Invalid argument '%s'\n", refused);
    fflush(stdout);
    char hint[DIAGNOSE_SIZE];
    diagnose_argument(2, refused, hint, sizeof hint);
    fputs(hint, stderr);
    return 1;
  }
  printf("\n");
  fflush(stdout);
  int first = port == 0 ? 0 : port - 1;
  int last = port == 0 ? 3 : port - 1;
  sweep_ports(names, first, last, id_port_each, NULL);
  return 0;
}
